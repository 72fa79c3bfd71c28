// SPDX-License-Identifier: GPL-3.0-or-later
#include "VaWriteQueue.h"

#include <algorithm>
#include <chrono>
#include <cstring>

uint32_t VaTickCount() {
    using namespace std::chrono;
    return uint32_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

bool VaTimeoutPassed(uint32_t Start, uint32_t Now, uint32_t Limit) {
    uint32_t Elapsed = Now >= Start ? Now - Start : Now + (0xFFFFFFFFu - Start);
    return Elapsed > Limit;
}

TVaCommBuffer::TVaCommBuffer(int Capacity)
    : FData(new uint8_t[size_t(std::max(Capacity, 1))]), FCapacity(std::max(Capacity, 0)) {}

void TVaCommBuffer::Add(const void* Bytes, int N) {
    if (N <= 0) return;
    std::memcpy(FData.get() + Size, Bytes, size_t(N));
    Size += N;
}

void TVaCommBuffer::Remove(int N) {
    N = std::min(std::max(N, 0), Size);
    std::memmove(FData.get(), FData.get() + N, size_t(Size - N));
    Size -= N;
}
