// SPDX-License-Identifier: GPL-3.0-or-later
// The window's tests run under the offscreen platform with the program's
// application object; the model's need none but share the executable.
#include "Application.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    TApplication App(argc, argv);
    return RUN_ALL_TESTS();
}
