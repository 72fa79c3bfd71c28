// SPDX-License-Identifier: GPL-3.0-or-later
#include "SevenSegTestUtil.h"

#include <QElapsedTimer>
#include <QPalette>

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

// A plain control that counts what the window system is asked for.
struct Probe : TiCustomComponent {
    int invalidations = 0;
    int paints = 0;
    bool fail = false;
    TColor fill = clBlack;

    void InvalidateWindow() override {
        ++invalidations;
        TiCustomComponent::InvalidateWindow();
    }
    void PaintContent(QPainter& Canvas) override {
        ++paints;
        PaintBackground(Canvas, fill);
        if (fail) throw std::runtime_error("paint failed");
    }
    void Change() { InvalidateChange(); }
};

TEST(DisplayComponent, ChangesRepaintAtOnceWithoutFrameRate) {
    Probe p;
    for (int i = 0; i < 10; ++i)
        p.Change();
    EXPECT_EQ(p.invalidations, 10); // the window system merges them
}

TEST(DisplayComponent, BeginEndUpdateGivesOneInvalidationAndIsNotCounted) {
    Probe p;
    p.BeginUpdate();
    p.Change();
    p.BeginUpdate(); // a flag, not a count
    p.SetBackGroundColor(clWhite);
    p.SetBorderStyle(ibsRaised);
    EXPECT_EQ(p.invalidations, 0);
    p.EndUpdate();
    EXPECT_EQ(p.invalidations, 1);
    p.EndUpdate(); // nothing pending any more
    EXPECT_EQ(p.invalidations, 1);
    p.BeginUpdate();
    p.EndUpdate(); // nothing changed meanwhile
    EXPECT_EQ(p.invalidations, 1);
}

TEST(DisplayComponent, ReadoutValueWritesInsideUpdateBracketInvalidateOnce) {
    struct CountingAnalog : TiSevenSegmentAnalog {
        int invalidations = 0;
        void InvalidateWindow() override { ++invalidations; }
    } r;
    r.BeginUpdate();
    for (int i = 0; i < 10; ++i)
        r.SetValue(i + 0.5);
    r.SetPrecision(3);
    EXPECT_EQ(r.invalidations, 0);
    r.EndUpdate();
    EXPECT_EQ(r.invalidations, 1);
    r.SetValue(9.5); // equal: nothing
    r.SetPrecision(3);
    r.SetSegmentColor(clWhite);
    EXPECT_EQ(r.invalidations, 1);
}

TEST(DisplayComponent, FrameRateGateHoldsBackThenShowsTheLastChange) {
    Probe p;
    p.SetAutoFrameRate(true);
    p.SetUpdateFrameRate(1); // a second: roomy enough for a loaded machine
    p.Change();              // within the second since creation: held back
    EXPECT_EQ(p.invalidations, 0);
    EXPECT_TRUE(ProcessEventsUntil([&] { return p.invalidations == 1; }, 10000));
    p.Change(); // within the second of the last repaint request
    p.Change();
    EXPECT_EQ(p.invalidations, 1);
    // The held-back changes are shown once, when their second has passed.
    EXPECT_TRUE(ProcessEventsUntil([&] { return p.invalidations == 2; }, 10000));
    EXPECT_FALSE(ProcessEventsUntil([&] { return p.invalidations > 2; }, 1500));
}

TEST(DisplayComponent, EndUpdatePassesAHeldBackChangeThroughTheGate) {
    Probe p;
    p.SetAutoFrameRate(true);
    p.SetUpdateFrameRate(1); // one per second
    p.BeginUpdate();
    p.Change();
    p.EndUpdate(); // within the second since creation: held back
    EXPECT_EQ(p.invalidations, 0);
    p.SetUpdateFrameRate(0); // no limit: the pending change goes out
    EXPECT_EQ(p.invalidations, 1);
}

TEST(DisplayComponent, FrameRateZeroOrHugeMeansNoPracticalLimit) {
    for (int rate : {0, -5}) {
        Probe p;
        p.SetAutoFrameRate(true);
        p.SetUpdateFrameRate(rate);
        p.Change();
        p.Change();
        EXPECT_EQ(p.invalidations, 2) << rate;
    }
    // An interval of half a nanosecond: a change passes once the clock has
    // moved on at all since the last repaint.
    const auto ClockMoves = [] {
        QElapsedTimer t;
        t.start();
        const qint64 start = t.nsecsElapsed();
        while (t.nsecsElapsed() <= start + 1000) {
        }
    };
    Probe p;
    p.SetAutoFrameRate(true);
    p.SetUpdateFrameRate(2000000000);
    ClockMoves();
    p.Change();
    ClockMoves();
    p.Change();
    EXPECT_EQ(p.invalidations, 2);
}

TEST(DisplayComponent, SunkenAndRaisedBordersAreTwoPixelsOverAFullFill) {
    struct Case {
        TiBevelStyle style;
        QPalette::ColorRole outerTopLeft, innerTopLeft, outerBottomRight, innerBottomRight;
    };
    const Case cases[] = {
        {ibsLowered, QPalette::Dark, QPalette::Shadow, QPalette::Light, QPalette::Midlight},
        {ibsRaised, QPalette::Midlight, QPalette::Light, QPalette::Shadow, QPalette::Dark},
    };
    for (const Case& k : cases) {
        Probe p;
        p.fill = clLime;
        p.resize(113, 36);
        p.SetBorderStyle(k.style);
        const QImage img = Render(p);
        ASSERT_EQ(img.size(), QSize(113, 36));
        auto rgb = [&](QPalette::ColorRole role) { return p.palette().color(role).rgb(); };
        EXPECT_EQ(Pixel(img, 50, 0), rgb(k.outerTopLeft));
        EXPECT_EQ(Pixel(img, 0, 20), rgb(k.outerTopLeft));
        EXPECT_EQ(Pixel(img, 50, 1), rgb(k.innerTopLeft));
        EXPECT_EQ(Pixel(img, 1, 20), rgb(k.innerTopLeft));
        EXPECT_EQ(Pixel(img, 50, 35), rgb(k.outerBottomRight));
        EXPECT_EQ(Pixel(img, 112, 20), rgb(k.outerBottomRight));
        EXPECT_EQ(Pixel(img, 112, 0), rgb(k.outerBottomRight));
        EXPECT_EQ(Pixel(img, 50, 34), rgb(k.innerBottomRight));
        EXPECT_EQ(Pixel(img, 111, 20), rgb(k.innerBottomRight));
        // The fill covers everything inside the edge.
        int inside = 0;
        for (int y = 2; y < 34; ++y)
            for (int x = 2; x < 111; ++x)
                inside += Pixel(img, x, y) == kLime;
        EXPECT_EQ(inside, 109 * 32);
    }
    Probe none;
    none.fill = clLime;
    none.resize(113, 36);
    EXPECT_EQ(CountPixels(Render(none), kLime), 113 * 36);
}

TEST(DisplayComponent, SystemColoursResolveThroughThePalette) {
    QPalette pal;
    pal.setColor(QPalette::Button, QColor(1, 2, 3));
    pal.setColor(QPalette::Shadow, QColor(4, 5, 6));
    EXPECT_EQ(ColorToQColor(clBtnFace, pal), QColor(1, 2, 3));
    EXPECT_EQ(ColorToQColor(cl3DDkShadow, pal), QColor(4, 5, 6));
    EXPECT_EQ(ColorToQColor(0x336699, pal), QColor(0x99, 0x66, 0x33));
    EXPECT_EQ(ColorToRGB(clBtnFace, pal), 0x030201u);
    Probe p;
    EXPECT_EQ(p.BackGroundColor(), clBtnFace);
}

TEST(DisplayComponent, ExceptionInPaintingIsSwallowedAndLockReleased) {
    Probe p;
    p.resize(20, 20);
    p.fail = true;
    EXPECT_NO_THROW(Render(p));
    EXPECT_NO_THROW(Render(p)); // the paint lock was released
    p.fail = false;
    p.fill = clLime;
    EXPECT_EQ(CountPixels(Render(p), kLime), 400);
    EXPECT_EQ(p.paints, 3);
}

TEST(DisplayComponent, ResizeAsksForABackgroundRepaint) {
    Probe p;
    p.resize(10, 10);
    const int before = p.invalidations;
    p.resize(10, 10); // unchanged: nothing
    EXPECT_EQ(p.invalidations, before);
    p.show();
    p.resize(30, 12);
    EXPECT_GT(p.invalidations, before);
}

} // namespace
