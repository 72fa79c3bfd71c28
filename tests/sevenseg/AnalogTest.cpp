// SPDX-License-Identifier: GPL-3.0-or-later
#include "SevenSegTestUtil.h"

#include <QLocale>

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>
#include <tuple>
#include <vector>

namespace {

using Glyphs = std::vector<TSevenSegmentCharacter>;

Glyphs GlyphsOf(const TiSevenSegmentAnalog& Readout) {
    Glyphs g;
    for (const TSevenSegmentCell& c : Readout.LayoutCells())
        g.push_back(c.Glyph);
    return g;
}

struct Readout : TiSevenSegmentAnalog {
    Readout() { ApplyReadoutSettings(*this); }
};

TEST(FormatFixed, RoundsTo18DigitsThenHalvesAwayFromZero) {
    struct Case {
        double value;
        int precision;
        const char* text;
    };
    const Case cases[] = {
        {12.34, 1, "12.3"},
        {0, 1, "0.0"},
        {0, 0, "0"},
        {1234.56, 1, "1234.6"},
        {12345.6, 1, "12345.6"},
        {0.04, 1, "0.0"},
        {0.25, 1, "0.3"},
        {0.125, 2, "0.13"},
        {0.5, 0, "1"},
        {2.5, 0, "3"},
        {12.4, 0, "12"},
        {999.95, 1, "1000.0"}, // 999.950000000000045...
        {9.96, 1, "10.0"},
        {0.15, 1, "0.1"}, // 0.1499999999999999944...
        {1e-300, 3, "0.000"},
        {5e-324, 13, "0.0000000000000"},
        {0.375, 2, "0.38"},
        {1.5, 0, "2"},
        {0.0000000000005, 12, "0.000000000000"}, // 4.99999999999999990e-13
        {1.0e15, 1, "1000000000000000.0"},
        {123456789012345678.0, 0, "123456789012345680"},
        {3.14159, 13, "3.1415900000000"},
        {-7.25, 1, "7.3"}, // the sign is never written
    };
    for (const Case& k : cases) {
        std::string s;
        ASSERT_TRUE(FormatFixed(k.value, k.precision, s)) << k.value;
        EXPECT_EQ(s, k.text) << k.value << " / " << k.precision;
    }
    const double noFixedForm[] = {1e18,
                                  9.99999999999999999e17,
                                  1e300,
                                  std::numeric_limits<double>::infinity(),
                                  -std::numeric_limits<double>::infinity(),
                                  std::numeric_limits<double>::quiet_NaN()};
    for (double v : noFixedForm) {
        std::string s = "untouched";
        EXPECT_FALSE(FormatFixed(v, 2, s)) << v;
        EXPECT_EQ(s, "untouched");
    }
}

TEST(SevenSegmentAnalog, ReadoutCellsLieWhereTheLayoutSays) {
    Readout r;
    r.SetValue(12.34);
    const std::vector<TSevenSegmentCell> cells = r.LayoutCells();
    ASSERT_EQ(cells.size(), 7u);
    const int xs[] = {5, 23, 41, 59, 77, 91, 95};
    const int ws[] = {12, 12, 12, 12, 12, 2, 12};
    for (size_t i = 0; i < cells.size(); ++i) {
        EXPECT_EQ(cells[i].X, xs[i]) << i;
        EXPECT_EQ(cells[i].Width, ws[i]) << i;
        EXPECT_EQ(cells[i].Y, 5);
        EXPECT_EQ(cells[i].Height, 26);
    }
}

TEST(SevenSegmentAnalog, ValuesShowAsGlyphSequences) {
    const TSevenSegmentCharacter P = sscPlus, M = sscMinus, _ = sscBlank, dot = sscPeriod,
                                 U = sscUpArrow, D = sscDownArrow;
    struct Case {
        double value;
        Glyphs glyphs;
    };
    const Case cases[] = {
        {12.34, {P, _, _, ssc1, ssc2, dot, ssc3}},
        {0, {P, _, _, _, ssc0, dot, ssc0}},
        {-1234.56, {M, ssc1, ssc2, ssc3, ssc4, dot, ssc6}},
        {12345.6, {P, U, U, U, U, U}},
        {-99999, {M, D, D, D, D, D}},
        {-0.04, {M, _, _, _, ssc0, dot, ssc0}},
        {-0.0, {P, _, _, _, ssc0, dot, ssc0}},
        {9999.94, {P, ssc9, ssc9, ssc9, ssc9, dot, ssc9}},
        {9999.95, {P, U, U, U, U, U}}, // rounds up to 10000.0
        {1.0e20, {P, U, U, U, U, U}},
        {-1.0e18, {M, D, D, D, D, D}},
        {-1.0e300, {M, D, D, D, D, D}},
        {-std::numeric_limits<double>::infinity(), {M, D, D, D, D, D}},
    };
    for (const Case& k : cases) {
        Readout r;
        r.SetValue(k.value);
        EXPECT_EQ(GlyphsOf(r), k.glyphs) << k.value;
    }
}

TEST(SevenSegmentAnalog, SettingsChangeSignLeadingFillAndDecimals) {
    const TSevenSegmentCharacter P = sscPlus, _ = sscBlank, dot = sscPeriod;
    struct Case {
        const char* name;
        void (*setup)(TiSevenSegmentAnalog&);
        double value;
        Glyphs glyphs;
    };
    const Case cases[] = {
        {"zeros",
         [](TiSevenSegmentAnalog& r) { r.SetLeadingStyle(ilsZeros); },
         3.5,
         {P, ssc0, ssc0, ssc0, ssc3, dot, ssc5}},
        {"none",
         [](TiSevenSegmentAnalog& r) { r.SetLeadingStyle(ilsNone); },
         3.5,
         {P, ssc3, dot, ssc5}},
        {"spaces", [](TiSevenSegmentAnalog&) {}, 3.5, {P, _, _, _, ssc3, dot, ssc5}},
        {"no sign",
         [](TiSevenSegmentAnalog& r) { r.SetShowSign(false); },
         -3.5,
         {_, _, _, ssc3, dot, ssc5}},
        {"precision 0",
         [](TiSevenSegmentAnalog& r) { r.SetPrecision(0); },
         12.4,
         {P, _, _, _, ssc1, ssc2}},
        {"precision 0 fits 5",
         [](TiSevenSegmentAnalog& r) { r.SetPrecision(0); },
         99999.4,
         {P, ssc9, ssc9, ssc9, ssc9, ssc9}},
        {"one digit", [](TiSevenSegmentAnalog& r) { r.SetDigitCount(1); }, 0, {P, sscUpArrow}},
        {"precision 3 of 3",
         [](TiSevenSegmentAnalog& r) {
             r.SetDigitCount(3);
             r.SetPrecision(2);
         },
         0.5,
         {P, ssc0, dot, ssc5, ssc0}},
    };
    for (const Case& k : cases) {
        Readout r;
        k.setup(r);
        r.SetValue(k.value);
        EXPECT_EQ(GlyphsOf(r), k.glyphs) << k.name;
    }
}

TEST(SevenSegmentAnalog, WithoutSignFiveCellsOf15Pixels) {
    Readout r;
    r.SetShowSign(false);
    r.SetValue(-3.5);
    const std::vector<TSevenSegmentCell> cells = r.LayoutCells();
    ASSERT_EQ(cells.size(), 6u);
    EXPECT_EQ(cells[0].Width, 15);
    EXPECT_EQ(cells[0].X, (113 + 6 - 5 * 21) / 2);
    Readout plus;
    plus.SetShowSign(false);
    plus.SetValue(3.5);
    EXPECT_EQ(Render(r), Render(plus));
}

TEST(SevenSegmentAnalog, CommaLocaleDrawsTheCommaMarkInTheSameBox) {
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    Readout r;
    r.SetValue(12.34);
    const std::vector<TSevenSegmentCell> cells = r.LayoutCells();
    QLocale::setDefault(saved);
    ASSERT_EQ(cells.size(), 7u);
    EXPECT_EQ(cells[5].Glyph, sscComma);
    EXPECT_EQ(cells[5].X, 91);
    EXPECT_EQ(cells[5].Width, 2);
    EXPECT_EQ(cells[6].Glyph, ssc3);
}

TEST(SevenSegmentAnalog, PaintedReadoutMatchesTheCellGeometry) {
    Readout r;
    r.SetValue(-1.5); // minus, blanks, 1, mark, 5
    QImage img = Render(r);
    ASSERT_EQ(img.size(), QSize(113, 36));
    // Minus bar (8,24)-(14,25) lit; the plus bar (8,11)-(14,12) is not drawn
    // since unlit segments are hidden.
    EXPECT_EQ(Row(img, 24, kLime, 5, 16), "...#######..");
    EXPECT_EQ(Row(img, 25, kLime, 5, 16), "...#######..");
    EXPECT_EQ(Row(img, 23, kLime, 5, 16), "............");
    EXPECT_EQ(Row(img, 11, kLime, 5, 16), "............");
    // ssc1 in the cell at x = 77: b is (88,6) (88,16) (86,14) (86,8).
    EXPECT_EQ(Pixel(img, 88, 6), kLime);
    EXPECT_EQ(Pixel(img, 88, 16), kLime);
    EXPECT_EQ(Pixel(img, 86, 8), kLime);
    EXPECT_EQ(Pixel(img, 88, 17), kBlack);
    EXPECT_EQ(Pixel(img, 88, 18), kLime); // c starts at Ym + S
    // Decimal mark box at x = 91: the period covers x 91..93, rows 29..31.
    for (int y = 28; y <= 32; ++y)
        EXPECT_EQ(Row(img, y, kLime, 90, 94), y >= 29 && y <= 31 ? ".###." : ".....") << y;
    // Blank cells draw nothing at all.
    for (int y = 0; y < 36; ++y)
        EXPECT_EQ(Row(img, y, kLime, 18, 75), std::string(58, '.')) << y;

    r.SetValue(1.5);
    img = Render(r);
    EXPECT_EQ(Row(img, 11, kLime, 5, 16), "...#######..");
    EXPECT_EQ(Row(img, 12, kLime, 5, 16), "...#######..");
    EXPECT_EQ(Row(img, 24, kLime, 5, 16), "............");
    for (int y = 8; y <= 15; ++y)
        EXPECT_EQ(Pixel(img, 11, y), kLime) << y; // the one-pixel upright
    EXPECT_EQ(Pixel(img, 10, 9), kBlack);
    EXPECT_EQ(Pixel(img, 12, 9), kBlack);
    EXPECT_EQ(Pixel(img, 11, 7), kBlack);
    EXPECT_EQ(Pixel(img, 11, 16), kBlack);
}

TEST(SevenSegmentAnalog, SegmentsOfOneInTheFourthCell) {
    Readout r;
    r.SetValue(12.34);
    QImage img = Render(r);
    // ssc1 in the cell at x = 59: b (70,6) (70,16) (68,14) (68,8);
    // c (70,18) (70,29) (68,27) (68,20).
    for (QPoint p : {QPoint(70, 6), QPoint(70, 16), QPoint(68, 14), QPoint(68, 8), QPoint(70, 18),
                     QPoint(70, 29), QPoint(68, 27), QPoint(68, 20), QPoint(69, 10)})
        EXPECT_EQ(Pixel(img, p.x(), p.y()), kLime) << p.x() << "," << p.y();
    for (QPoint p : {QPoint(70, 5), QPoint(70, 17), QPoint(70, 30), QPoint(71, 10), QPoint(67, 10),
                     QPoint(68, 7), QPoint(68, 28)})
        EXPECT_EQ(Pixel(img, p.x(), p.y()), kBlack) << p.x() << "," << p.y();
}

TEST(SevenSegmentAnalog, OverflowArrowsInTheSecondCell) {
    Readout up;
    up.SetValue(12345.6);
    QImage img = Render(up);
    // (33,18) (23,18) (28,13) pointing up.
    EXPECT_EQ(Row(img, 18, kLime, 22, 34), ".###########.");
    EXPECT_EQ(Pixel(img, 28, 13), kLime);
    EXPECT_EQ(Row(img, 12, kLime, 22, 34), ".............");
    EXPECT_EQ(Row(img, 19, kLime, 22, 34), ".............");
    Readout down;
    down.SetValue(-99999);
    img = Render(down);
    EXPECT_EQ(Row(img, 18, kLime, 22, 34), ".###########.");
    EXPECT_EQ(Pixel(img, 28, 23), kLime);
    EXPECT_EQ(Row(img, 17, kLime, 22, 34), ".............");
    EXPECT_EQ(Row(img, 24, kLime, 22, 34), ".............");
    // No decimal mark with arrows.
    EXPECT_EQ(Row(img, 30, kLime, 89, 94), "......");
}

TEST(SevenSegmentAnalog, ValueWritesClampAndRaiseOneEventPerChange) {
    Readout r;
    int events = 0;
    r.OnValueChange = [&](TiSevenSegmentDisplay* sender) {
        EXPECT_EQ(sender, &r);
        ++events;
    };
    struct Step {
        double written, stored;
        int eventsAfter;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const Step steps[] = {{0, 0, 0},           {12.5, 12.5, 1},     {12.5, 12.5, 1},
                          {1.0e20, 1.0e15, 2}, {2.0e15, 1.0e15, 2}, {nan, 1.0e15, 2},
                          {inf, 1.0e15, 2},    {-inf, -inf, 3},     {-1e300, -1e300, 4},
                          {nan, 1.0e15, 5},    {-0.0, 0, 6},        {0.0, 0, 6}};
    for (const Step& s : steps) {
        r.SetValue(s.written);
        EXPECT_EQ(r.Value(), s.stored) << s.written;
        EXPECT_EQ(events, s.eventsAfter) << s.written;
    }
}

TEST(SevenSegmentAnalog, RefusedValueChangeRaisesNothing) {
    Readout r;
    int events = 0, after = 0;
    r.OnValueChange = [&](TiSevenSegmentDisplay*) { ++events; };
    r.BeforeChangeHook = [](TiComponent*, const std::string&, bool& allow) { allow = false; };
    r.AfterChangeHook = [&](TiComponent*, const std::string&) { ++after; };
    r.SetValue(5);
    EXPECT_EQ(r.Value(), 0);
    EXPECT_EQ(events + after, 0);
}

TEST(SevenSegmentAnalog, PropertyWritesClampAsDocumented) {
    using A = TiSevenSegmentAnalog;
    struct Case {
        void (A::*write)(int);
        int (A::*read)() const;
        int written, stored;
    };
    const Case cases[] = {{&A::SetPrecision, &A::Precision, 20, 13},
                          {&A::SetPrecision, &A::Precision, -1, 0},
                          {&A::SetPrecision, &A::Precision, 13, 13},
                          {&A::SetDigitCount, &A::DigitCount, 0, 1},
                          {&A::SetDigitCount, &A::DigitCount, 40, 32},
                          {&A::SetDigitCount, &A::DigitCount, -9, 1},
                          {&A::SetSegmentSize, &A::SegmentSize, 500, 100},
                          {&A::SetSegmentSize, &A::SegmentSize, 0, 1},
                          {&A::SetSegmentMargin, &A::SegmentMargin, -1, 0},
                          {&A::SetSegmentSeperation, &A::SegmentSeperation, -1, 0},
                          {&A::SetDigitSpacing, &A::DigitSpacing, -4, -4}};
    for (const Case& k : cases) {
        A r;
        (r.*k.write)(k.written);
        EXPECT_EQ((r.*k.read)(), k.stored) << k.written;
    }
}

TEST(SevenSegmentAnalog, AutoSizeGivesTheNaturalSize) {
    struct Case {
        const char* name;
        void (*setup)(TiSevenSegmentAnalog&);
        QSize size;
    };
    const Case cases[] = {
        {"defaults", [](TiSevenSegmentAnalog&) {}, QSize(84, 28)},
        {"no sign", [](TiSevenSegmentAnalog& r) { r.SetShowSign(false); }, QSize(68, 28)},
        {"size 2", [](TiSevenSegmentAnalog& r) { r.SetSegmentSize(2); }, QSize(134, 46)},
        {"8 digits", [](TiSevenSegmentAnalog& r) { r.SetDigitCount(8); }, QSize(148, 28)},
        {"margin 0", [](TiSevenSegmentAnalog& r) { r.SetSegmentMargin(0); }, QSize(74, 18)},
        {"off keeps size",
         [](TiSevenSegmentAnalog& r) {
             r.SetAutoSize(false);
             r.SetDigitCount(8);
         },
         QSize(84, 28)},
        {"loading keeps size",
         [](TiSevenSegmentAnalog& r) {
             r.SetLoading(true);
             r.SetSegmentSize(3);
             r.SetLoading(false);
         },
         QSize(84, 28)},
    };
    for (const Case& k : cases) {
        TiSevenSegmentAnalog r;
        k.setup(r);
        EXPECT_EQ(r.size(), k.size) << k.name;
    }
}

TEST(SevenSegmentAnalog, UnlitSegmentsShowWhenEnabled) {
    TiSevenSegmentAnalog r; // defaults: white on black, unlit segments shown, 84 x 28
    r.SetValue(1);
    QImage img = Render(r);
    EXPECT_GT(CountPixels(img, 0xFF555555), 0);
    EXPECT_GT(CountPixels(img, 0xFFFFFFFF), 0);
}

struct CountingReadout : Readout {
    int paints = 0;
    void PaintContent(QPainter& Canvas) override {
        ++paints;
        TiSevenSegmentAnalog::PaintContent(Canvas);
    }
};

TEST(SevenSegmentAnalog, TenWritesBeforeAPaintGiveOnePaintOfTheLastValue) {
    CountingReadout r;
    r.show();
    ASSERT_TRUE(ProcessEventsUntil([&] { return r.paints > 0; }));
    ProcessEventsUntil([] { return false; }, 100); // let any late exposure settle
    const int before = r.paints;
    for (int i = 1; i <= 10; ++i)
        r.SetValue(i * 1.5);
    ProcessEventsUntil([&] { return r.paints > before; });
    QCoreApplication::processEvents();
    EXPECT_EQ(r.paints, before + 1);
    Readout last;
    last.SetValue(15);
    EXPECT_EQ(r.grab().toImage(), Render(last));
}

TEST(SevenSegmentAnalog, AValueShowingTheSameCellsAsksForNoRepaint) {
    const std::tuple<double, double, bool> Cases[] = {
        {1.51, 1.54, false}, {1.54, 1.55, true}, {0.01, -0.01, true}, {-0.01, -0.04, false}};
    for (auto [From, To, Repaint] : Cases) {
        Readout r;
        r.SetPrecision(1);
        r.SetValue(From);
        r.BeginUpdate();
        r.SetValue(To);
        EXPECT_EQ(r.ChangePending(), Repaint) << From << " to " << To;
    }
}

TEST(SevenSegmentAnalog, AbsurdSettingsPaintWithoutFailing) {
    using Setup = void (*)(TiSevenSegmentAnalog&);
    const Setup setups[] = {
        [](TiSevenSegmentAnalog& r) { r.SetDigitSpacing(INT_MAX); },
        [](TiSevenSegmentAnalog& r) { r.SetDigitSpacing(INT_MIN); },
        [](TiSevenSegmentAnalog& r) { r.SetSegmentMargin(INT_MAX); },
        [](TiSevenSegmentAnalog& r) {
            r.SetDigitCount(32);
            r.SetPrecision(13);
            r.SetValue(-1.0e17);
        },
        [](TiSevenSegmentAnalog& r) {
            r.SetDigitCount(32);
            r.SetValue(-std::numeric_limits<double>::infinity());
        },
        [](TiSevenSegmentAnalog& r) { r.resize(1, 1); },
        [](TiSevenSegmentAnalog& r) {
            r.SetSegmentSize(100);
            r.SetSegmentSeperation(INT_MAX);
        },
    };
    for (Setup setup : setups) {
        TiSevenSegmentAnalog r;
        r.SetAutoSize(false);
        r.resize(113, 36);
        setup(r);
        r.SetValue(-12.5);
        const QImage img = Render(r);
        EXPECT_FALSE(img.isNull());
        r.SetAutoSize(true);
        EXPECT_LE(r.width(), QWIDGETSIZE_MAX);
        EXPECT_GE(r.width(), 0);
    }
}

TEST(SevenSegmentAnalog, ThirtyTwoDigitsOfMinusOneE17Fit) {
    TiSevenSegmentAnalog r;
    r.SetDigitCount(32);
    r.SetPrecision(13);
    r.SetValue(-1.0e17);
    const Glyphs g = GlyphsOf(r);
    ASSERT_EQ(g.size(), 1u + 19u + 1u + 13u);
    EXPECT_EQ(g[0], sscMinus);
    EXPECT_EQ(g[1], sscBlank);
    EXPECT_EQ(g[2], ssc1);
    EXPECT_EQ(g[19], ssc0);
    EXPECT_EQ(g[20], sscPeriod);
}

} // namespace
