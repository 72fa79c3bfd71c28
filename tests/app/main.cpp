// SPDX-License-Identifier: GPL-3.0-or-later
// Tests of the window run under the offscreen platform with the real
// application object, so exceptions take the same road as in the program.
#include "Application.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    UseOffscreenScreen();
    ::testing::InitGoogleTest(&argc, argv);
    TApplication App(argc, argv);
    return RUN_ALL_TESTS();
}
