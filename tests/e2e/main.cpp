// SPDX-License-Identifier: GPL-3.0-or-later
// End-to-end tests: the real window under the offscreen platform, with the
// real application object, against the simulated sensor.
#include "Application.h"

#include <gtest/gtest.h>

#include <unistd.h>

int main(int argc, char** argv) {
    UseOffscreenScreen();
    ::testing::InitGoogleTest(&argc, argv);
    // Pictures are looked up under "img" relative to the current directory.
    if (chdir(VORTA_SOURCE_DIR) != 0) return 2;
    TApplication App(argc, argv);
    App.setQuitOnLastWindowClosed(false);
    return RUN_ALL_TESTS();
}
