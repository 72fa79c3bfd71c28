// SPDX-License-Identifier: GPL-3.0-or-later
#include "TrafficLog.h"

#include <gtest/gtest.h>

TEST(TrafficLog, DropsTheOldestOverEitherBoundButKeepsTheNewest) {
    const struct {
        size_t MaxEntries, MaxBytes;
        std::vector<size_t> Sizes;  // bytes of each entry appended
        uint64_t First, End, Bytes; // after them
    } Cases[] = {
        {3, 100, {10, 10, 10, 10}, 1, 4, 30},
        {10, 25, {10, 10, 10}, 1, 3, 20},
        {10, 25, {10, 40}, 1, 2, 40},
        {10, 25, {}, 0, 0, 0},
    };
    for (const auto& C : Cases) {
        TTrafficLog L;
        L.MaxEntries = C.MaxEntries;
        L.MaxBytes = C.MaxBytes;
        for (size_t N : C.Sizes) {
            TTrafficEntry E;
            E.Bytes.assign(N / 2, 'b');
            E.Text.assign(N - N / 2, 't');
            L.Append(E);
        }
        EXPECT_EQ(L.First(), C.First);
        EXPECT_EQ(L.End(), C.End);
        EXPECT_EQ(L.Bytes(), C.Bytes);
    }
}
