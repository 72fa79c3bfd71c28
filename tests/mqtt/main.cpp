// SPDX-License-Identifier: GPL-3.0-or-later
// The MQTT tests: vorta-cli and the console as programs, and the publisher
// and the console's window in this process (offscreen).
#include "Application.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    UseOffscreenScreen();
    ::testing::InitGoogleTest(&argc, argv);
    TApplication App(argc, argv);
    App.setQuitOnLastWindowClosed(false);
    return RUN_ALL_TESTS();
}
