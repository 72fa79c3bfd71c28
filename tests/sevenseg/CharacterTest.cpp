// SPDX-License-Identifier: GPL-3.0-or-later
#include "SevenSegTestUtil.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

namespace {

// Drawing engine set up as the numeric display uses it: no margin.
struct Engine : TiSevenSegmentCharacter {
    Engine() {
        SetAutoSize(false);
        SetSegmentMargin(0);
    }
};

TEST(SevenSegmentCharacter, SegmentsAAndGCoverTheirCornerPolygonsIn10x18Box) {
    Engine c;
    c.SetShowOffSegments(false);
    c.SetUseSegmentBits(true);
    c.SetSegmentBits(0x01); // a: (1,0) (8,0) (6,2) (3,2)
    QImage a = DrawGlyph(c, ssc8, 10, 18);
    EXPECT_EQ(Row(a, 0, kLime), ".########.");
    EXPECT_EQ(Row(a, 1, kLime), "..######..");
    EXPECT_EQ(Row(a, 2, kLime), "...####...");
    EXPECT_EQ(CountPixels(a, kLime), 8 + 6 + 4);

    c.SetSegmentBits(0x40); // g: (1,8) (2,7) (7,7) (8,8) (7,9) (2,9)
    QImage g = DrawGlyph(c, ssc8, 10, 18);
    EXPECT_EQ(Row(g, 7, kLime), "..######..");
    EXPECT_EQ(Row(g, 8, kLime), ".########.");
    EXPECT_EQ(Row(g, 9, kLime), "..######..");
    EXPECT_EQ(CountPixels(g, kLime), 6 + 8 + 6);
}

TEST(SevenSegmentCharacter, Glyph8LightsAllSevenBarsWithoutTouching) {
    Engine c;
    QImage img = DrawGlyph(c, ssc8, 10, 18);
    // Segment ends stay one pixel apart (separation 1): the corners between
    // bars are dark.
    EXPECT_EQ(Pixel(img, 0, 0), kBlack);
    EXPECT_EQ(Pixel(img, 9, 0), kBlack);
    EXPECT_EQ(Pixel(img, 0, 8), kBlack);
    EXPECT_EQ(Pixel(img, 9, 17), kBlack);
    // A pixel inside each of a .. g.
    const QPoint inside[7] = {{4, 1}, {8, 4}, {8, 12}, {4, 16}, {1, 12}, {1, 4}, {4, 8}};
    for (QPoint p : inside)
        EXPECT_EQ(Pixel(img, p.x(), p.y()), kLime) << p.x() << "," << p.y();
}

TEST(SevenSegmentCharacter, UnlitColourIsSegmentColourDividedByThree) {
    struct Case {
        TColor segment;
        TColor dimmed;
        QRgb painted;
    };
    const Case cases[] = {{clLime, 0x005500, 0xFF005500},
                          {clWhite, 0x555555, 0xFF555555},
                          {0x0000FF, 0x000055, 0xFF550000},
                          {0x123456, 0x06111C, 0xFF1C1106}};
    for (const Case& k : cases) {
        EXPECT_EQ(DimColor(k.segment, 3), k.dimmed);
        Engine c;
        c.SetSegmentColor(k.segment);
        QImage img = DrawGlyph(c, ssc1, 10, 18); // a is unlit
        EXPECT_EQ(Pixel(img, 4, 1), k.painted);
    }
    EXPECT_EQ(DimColor(0xFF00FF00, 3), 0x005500u); // the top byte is dropped
}

TEST(SevenSegmentCharacter, ExplicitOffColourIsUsedWhenAutoIsOff) {
    Engine c;
    c.SetAutoSegmentOffColor(false);
    c.SetSegmentOffColor(0x0000FF); // red
    QImage img = DrawGlyph(c, ssc1, 10, 18);
    EXPECT_EQ(Pixel(img, 4, 1), 0xFFFF0000);
    EXPECT_EQ(Pixel(img, 8, 4), kLime);
}

TEST(SevenSegmentCharacter, BlankShowsSevenUnlitBarsOrNothing) {
    Engine c;
    Engine eight;
    eight.SetPowerOff(true);
    EXPECT_EQ(DrawGlyph(c, sscBlank, 10, 18), DrawGlyph(eight, ssc8, 10, 18));
    EXPECT_GT(CountPixels(DrawGlyph(c, sscBlank, 10, 18), kDimLime), 0);
    c.SetShowOffSegments(false);
    EXPECT_EQ(CountPixels(DrawGlyph(c, sscBlank, 10, 18), kBlack), 180);
}

TEST(SevenSegmentCharacter, PowerOffDrawsOnlyTheGlyphsBarsInTheUnlitColour) {
    Engine c;
    c.SetPowerOff(true);
    c.SetShowOffSegments(false);
    QImage img = DrawGlyph(c, ssc1, 10, 18);
    EXPECT_EQ(CountPixels(img, kLime), 0);
    EXPECT_EQ(Pixel(img, 8, 4), kDimLime);  // b
    EXPECT_EQ(Pixel(img, 8, 12), kDimLime); // c
    EXPECT_EQ(Pixel(img, 4, 1), kBlack);    // a left out
}

TEST(SevenSegmentCharacter, SegmentBitsOverrideValueAndSuppressShapes) {
    Engine c;
    c.SetShowOffSegments(false);
    c.SetUseSegmentBits(true);
    c.SetSegmentBits(0x49);
    EXPECT_TRUE(c.SegAOn() && c.SegDOn() && c.SegGOn());
    EXPECT_FALSE(c.SegBOn() || c.SegCOn() || c.SegEOn() || c.SegFOn());
    const QImage adg = DrawGlyph(c, ssc1, 10, 18);
    EXPECT_EQ(Pixel(adg, 4, 1), kLime);
    EXPECT_EQ(Pixel(adg, 4, 16), kLime);
    EXPECT_EQ(Pixel(adg, 4, 8), kLime);
    EXPECT_EQ(Pixel(adg, 8, 4), kBlack);
    for (TSevenSegmentCharacter g : {ssc8, sscPeriod, sscColon, sscPlus, sscUpArrow, sscComma})
        EXPECT_EQ(DrawGlyph(c, g, 10, 18), adg) << int(g);
}

TEST(SevenSegmentCharacter, SegmentBitsPackSevenFlagsAndIgnoreBit7) {
    Engine c;
    c.SetSegmentBits(0xFF);
    EXPECT_EQ(c.SegmentBits(), 0x7F);
    c.SetSegFOn(false);
    EXPECT_EQ(c.SegmentBits(), 0x5F);
    c.SetSegmentBits(0x80);
    EXPECT_EQ(c.SegmentBits(), 0);
}

TEST(SevenSegmentCharacter, CharacterWritesSelectGlyphsAndReadBack) {
    struct Case {
        char written;
        TSevenSegmentCharacter glyph;
        char read;
    };
    const Case cases[] = {
        {'0', ssc0, '0'},         {'7', ssc7, '7'},           {'9', ssc9, '9'},
        {'A', sscA, 'a'},         {'a', sscA, 'a'},           {'B', sscB, 'b'},
        {'f', sscF, 'f'},         {'F', sscF, 'f'},           {'G', sscBlank, ' '},
        {'x', sscBlank, ' '},     {'?', sscBlank, ' '},       {'.', sscPeriod, '.'},
        {':', sscColon, ':'},     {'+', sscPlus, '+'},        {'-', sscMinus, '-'},
        {' ', sscBlank, ' '},     {'_', sscLine, '_'},        {'<', sscUpArrow, '<'},
        {'>', sscDownArrow, '>'}, {';', sscSemiColon, ';'},   {',', sscComma, ','},
        {'\0', sscBlank, ' '},    {char(0xB0), sscBlank, ' '}};
    for (const Case& k : cases) {
        TiSevenSegmentCharacter c;
        c.SetValue(ssc5);
        c.SetCharacter(k.written);
        EXPECT_EQ(c.Value(), k.glyph) << k.written;
        EXPECT_EQ(c.Character(), k.read) << k.written;
    }
}

TEST(SevenSegmentCharacter, SizeWritesClampAsDocumented) {
    struct Case {
        void (TiSevenSegmentCharacter::*write)(int);
        int (TiSevenSegmentCharacter::*read)() const;
        int written, stored;
    };
    using C = TiSevenSegmentCharacter;
    const Case cases[] = {{&C::SetSegmentSize, &C::SegmentSize, 0, 1},
                          {&C::SetSegmentSize, &C::SegmentSize, -5, 1},
                          {&C::SetSegmentSize, &C::SegmentSize, 500, 500},
                          {&C::SetSegmentMargin, &C::SegmentMargin, -1, 0},
                          {&C::SetSegmentMargin, &C::SegmentMargin, 7, 7},
                          {&C::SetSegmentSeperation, &C::SegmentSeperation, -3, 0},
                          {&C::SetSegmentSeperation, &C::SegmentSeperation, 4, 4}};
    for (const Case& k : cases) {
        TiSevenSegmentCharacter c;
        (c.*k.write)(k.written);
        EXPECT_EQ((c.*k.read)(), k.stored) << k.written;
    }
}

TEST(SevenSegmentCharacter, AutoSizeFollowsTheGlyphsNaturalSize) {
    TiSevenSegmentCharacter c;
    EXPECT_EQ(c.size(), QSize(15, 23));
    c.SetValue(sscColon);
    EXPECT_EQ(c.size(), QSize(7, 23));
    c.SetCharacter('8');
    EXPECT_EQ(c.size(), QSize(15, 23));
    c.SetSegmentSize(2);
    EXPECT_EQ(c.size(), QSize(25, 41));
    c.SetAutoSize(false);
    c.SetValue(sscComma);
    EXPECT_EQ(c.size(), QSize(25, 41));
    EXPECT_EQ(c.GlyphWidth(), 8);
}

TEST(SevenSegmentCharacter, RefusedValueChangeLeavesEverythingAsItWas) {
    TiSevenSegmentCharacter c;
    std::vector<std::string> after;
    bool allow = false;
    c.BeforeChangeHook = [&](TiComponent*, const std::string& name, bool& a) {
        EXPECT_EQ(name, "Value");
        a = allow;
    };
    c.AfterChangeHook = [&](TiComponent*, const std::string& name) { after.push_back(name); };
    c.SetValue(sscPeriod);
    EXPECT_EQ(c.Value(), ssc0);
    EXPECT_EQ(c.width(), 15);
    EXPECT_TRUE(after.empty());
    allow = true;
    c.SetCharacter('.');
    EXPECT_EQ(c.Value(), sscPeriod);
    EXPECT_EQ(c.width(), 7);
    EXPECT_EQ(after, std::vector<std::string>{"Value"});
}

TEST(SevenSegmentCharacter, ArrowsAreTrianglesWithClampedApex) {
    Engine c;
    // 10 x 18: k = 4, (8,9) (0,9) (4,5).
    QImage up = DrawGlyph(c, sscUpArrow, 10, 18);
    EXPECT_EQ(Row(up, 9, kLime), "#########.");
    EXPECT_EQ(Row(up, 5, kLime), "....#.....");
    EXPECT_EQ(Row(up, 4, kLime), "..........");
    QImage down = DrawGlyph(c, sscDownArrow, 10, 18);
    EXPECT_EQ(Row(down, 9, kLime), "#########.");
    EXPECT_EQ(Row(down, 13, kLime), "....#.....");
    EXPECT_EQ(Row(down, 14, kLime), "..........");
    // 40 x 18: k = 19, apex clamped to the top row: (38,9) (0,9) (19,0).
    QImage wide = DrawGlyph(c, sscUpArrow, 40, 18);
    // The slanted edges may differ by a pixel from one rasteriser to the
    // next; the corners may not.
    EXPECT_EQ(Pixel(wide, 19, 0), kLime);
    EXPECT_EQ(Row(wide, 0, kLime, 0, 15), std::string(16, '.'));
    EXPECT_EQ(Row(wide, 0, kLime, 23, 39), std::string(17, '.'));
    EXPECT_EQ(Row(wide, 9, kLime), std::string(39, '#') + ".");
    EXPECT_EQ(Row(wide, 10, kLime), std::string(40, '.'));
    QImage wideDown = DrawGlyph(c, sscDownArrow, 40, 18);
    EXPECT_EQ(Pixel(wideDown, 19, 17), kLime);
    EXPECT_EQ(Row(wideDown, 17, kLime, 0, 15), std::string(16, '.'));
}

TEST(SevenSegmentCharacter, DotShapesSitWhereTheirRowsSay) {
    Engine c;
    c.SetShowOffSegments(false);
    // 10 x 18, Z = 1: Xc = 5, rows R5 = 5, R7 = 7, R11 = 11, R13 = 13, R16 = 16.
    QImage period = DrawGlyph(c, sscPeriod, 10, 19); // H = 18 + 1 so the lower edge is visible
    EXPECT_EQ(Row(period, 17, kLime), "....###...");
    EXPECT_EQ(Row(period, 18, kLime), "....###...");
    EXPECT_EQ(Row(period, 16, kLime), "..........");
    QImage colon = DrawGlyph(c, sscColon, 10, 18);
    for (int y : {5, 7, 11, 13})
        EXPECT_EQ(Row(colon, y, kLime), "....###...") << y;
    for (int y : {4, 8, 10, 14})
        EXPECT_EQ(Row(colon, y, kLime), "..........") << y;
    QImage comma = DrawGlyph(c, sscComma, 10, 18);
    EXPECT_EQ(Row(comma, 5, kLime), "..........");
    EXPECT_EQ(Row(comma, 11, kLime), "....###...");
    EXPECT_EQ(Row(comma, 15, kLime), ".....##...");
    EXPECT_EQ(Row(comma, 16, kLime), ".....##...");
    EXPECT_EQ(Row(comma, 17, kLime), "..........");
    QImage semi = DrawGlyph(c, sscSemiColon, 10, 18);
    EXPECT_EQ(Row(semi, 5, kLime), "....###...");
    EXPECT_EQ(Row(semi, 16, kLime), ".....##...");
    QImage line = DrawGlyph(c, sscLine, 10, 18); // Z div 2 = 0: the middle row only
    EXPECT_EQ(Row(line, 8, kLime), "##########");
    EXPECT_EQ(CountPixels(line, kLime), 10);
}

TEST(SevenSegmentCharacter, StandaloneCharacterPaintsBackgroundThenGlyph) {
    TiSevenSegmentCharacter c; // 15 x 23, margin 2
    c.SetShowOffSegments(false);
    c.SetCharacter('1');
    QImage img = Render(c);
    ASSERT_EQ(img.size(), QSize(15, 23));
    EXPECT_EQ(Pixel(img, 0, 0), kBlack);
    // b: R = 15 - 1 - 2 = 12, rows T + S = 3 to Ym - S = 10.
    EXPECT_EQ(Pixel(img, 12, 3), kLime);
    EXPECT_EQ(Pixel(img, 12, 10), kLime);
    EXPECT_EQ(Pixel(img, 13, 5), kBlack);
    EXPECT_EQ(Pixel(img, 2, 5), kBlack);
}

TEST(SevenSegmentCharacter, AbsurdSizesAndGlyphsPaintWithoutFailing) {
    TiSevenSegmentCharacter c;
    c.SetAutoSize(false);
    c.resize(40, 40);
    c.SetSegmentSize(INT_MAX);
    c.SetSegmentSeperation(INT_MAX);
    for (int g = 0; g < 30; ++g) {
        QImage img(40, 40, QImage::Format_RGB32);
        QPainter p(&img);
        c.DrawCharacter(p, QPoint(INT_MAX, INT_MIN), TSevenSegmentCharacter(g), INT_MAX, INT_MIN);
        c.DrawCharacter(p, QPoint(-5, -5), TSevenSegmentCharacter(g), 3, 2);
    }
    c.SetSegmentMargin(INT_MAX);
    c.SetAutoSize(true);
    EXPECT_LE(c.width(), QWIDGETSIZE_MAX);
    c.SetValue(TSevenSegmentCharacter(200)); // not a glyph: drawn and read as blank
    EXPECT_EQ(c.Character(), ' ');
    c.SetAutoSize(false);
    c.resize(20, 20);
    EXPECT_EQ(Render(c).size(), QSize(20, 20));
}

} // namespace
