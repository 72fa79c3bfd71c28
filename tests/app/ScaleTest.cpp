// SPDX-License-Identifier: GPL-3.0-or-later
// The window on a screen smaller than itself: a scale factor of 2 on a
// 1600 x 1200 screen leaves 800 x 600. A program of its own, as the scale
// factor and the screen are chosen before the application object is made.
#include "AppPaths.h"
#include "Application.h"
#include "Dialogs.h"
#include "UVORTA_Display.h"

#include "WindowProbe.h"

#include <gtest/gtest.h>

#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTemporaryDir>

TEST(ScaleTest, AtScaleTwoTheWindowFitsAndTheStatusBarScrollsIntoView) {
    QTemporaryDir Dir;
    SetAppFolder(Dir.path().toStdString());
    const TDialogSeam Old =
        SetDialogSeam({[](const std::string&) {}, [](const std::string&) { return false; }});
    {
        TFKAVRO W;
        W.show();
        const QRect Avail = W.screen()->availableGeometry();
        EXPECT_EQ(Avail.size(), QSize(800, 600));
        EXPECT_LE(W.frameGeometry().height(), Avail.height());
        EXPECT_LE(W.frameGeometry().width(), Avail.width());

        auto* Scroll = Control<QScrollArea>(W, "ClientScroll");
        auto* Bar = Control<QWidget>(W, "StatusBar1");
        const auto Seen = [&] {
            const QRect R(Bar->mapTo(Scroll->viewport(), QPoint(0, 0)), Bar->size());
            return Scroll->viewport()->rect().contains(R);
        };
        EXPECT_FALSE(Seen());
        Scroll->ensureWidgetVisible(Bar, 0, 0);
        EXPECT_TRUE(Seen());
        // The width fits: only the height scrolls.
        EXPECT_EQ(Scroll->horizontalScrollBar()->maximum(), 0);
        W.btCloseClick();
    }
    SetDialogSeam(Old);
    SetAppFolder("");
}

int main(int argc, char** argv) {
    UseOffscreenScreen(1600, 1200);
    qputenv("QT_SCALE_FACTOR", "2");
    ::testing::InitGoogleTest(&argc, argv);
    TApplication App(argc, argv);
    return RUN_ALL_TESTS();
}
