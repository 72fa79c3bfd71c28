// SPDX-License-Identifier: GPL-3.0-or-later
// Bitmap view and layers, on real widgets under the offscreen platform.
#include "GR32_Image.h"
#include "GR32_Layers.h"
#include "GR32_Resamplers.h"

#include <QApplication>
#include <QImage>
#include <QPalette>
#include <QPixmap>

#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <string>
#include <vector>

namespace {

// Fills a bitmap with a pattern that tells every column apart.
void FillColumns(TCustomBitmap32* B, int W, int H, uint8_t Alpha = 0xFF) {
    B->SetSize(W, H);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            B->SetPixel(x, y, Color32(x & 0xFF, x >> 8, y, Alpha));
    B->Changed();
}

// Rebuilds the view's buffer through a real paint of the widget.
QImage Paint(TCustomImage32& View) {
    return View.grab().toImage();
}

struct PlacementCase {
    TBitmapAlign Align;
    TScaleMode Mode;
    float Scale;
    int BitmapW, BitmapH, ViewW, ViewH;
    TRect Expected;
};

} // namespace

TEST(ImagePlacement, FollowsAlignAndScaleMode) {
    const PlacementCase cases[] = {
        {baCenter, smNormal, 1, 10, 10, 15, 15, {2, 2, 12, 12}},
        {baCenter, smNormal, 1, 10, 10, 5, 5, {-2, -2, 8, 8}},
        {baTopLeft, smNormal, 1, 10, 10, 15, 15, {0, 0, 10, 10}},
        {baTile, smNormal, 1, 10, 10, 15, 15, {0, 0, 10, 10}},
        {baTopLeft, smStretch, 1, 10, 10, 30, 20, {0, 0, 30, 20}},
        {baTopLeft, smResize, 1, 10, 20, 30, 30, {0, 0, 15, 30}},
        {baTopLeft, smResize, 1, 20, 10, 30, 30, {0, 0, 30, 15}},
        {baCenter, smResize, 1, 20, 10, 30, 30, {0, 7, 30, 22}},
        {baTopLeft, smScale, 2.5f, 10, 4, 5, 5, {0, 0, 25, 10}},
        {baTopLeft, smScale, 0.25f, 10, 2, 50, 50, {0, 0, 2, 0}},
        {baTopLeft, smOptimal, 1, 10, 10, 50, 50, {0, 0, 10, 10}},
        {baTopLeft, smOptimal, 1, 100, 50, 50, 50, {0, 0, 50, 25}},
        {baTopLeft, smOptimalScaled, 2, 10, 10, 50, 50, {0, 0, 20, 20}},
        {baTopLeft, smOptimalScaled, 2, 40, 10, 50, 50, {0, 0, 50, 12}}, // 12.5, half to even
        {baTopLeft, smNormal, 1, 0, 10, 50, 50, {0, 0, 0, 0}},
    };
    for (const PlacementCase& c : cases) {
        TImage32 view;
        view.resize(c.ViewW, c.ViewH);
        view.SetBitmapAlign(c.Align);
        view.SetScaleMode(c.Mode);
        view.SetScale(c.Scale);
        view.Bitmap()->SetSize(c.BitmapW, c.BitmapH);
        const TRect r = view.BitmapPlacement();
        EXPECT_EQ(r, c.Expected) << "mode " << c.Mode << " align " << c.Align << " bitmap "
                                 << c.BitmapW << "x" << c.BitmapH << " view " << c.ViewW << "x"
                                 << c.ViewH << " got " << r.Left << "," << r.Top << "," << r.Right
                                 << "," << r.Bottom;
    }
}

TEST(ImagePlacement, CustomAlignRoundsOffsetsToEven) {
    TImage32 view;
    view.resize(50, 50);
    view.Bitmap()->SetSize(10, 10);
    view.SetBitmapAlign(baCustom);
    view.SetOffsetHorz(2.5f);
    view.SetOffsetVert(-3.5f);
    EXPECT_EQ(view.BitmapPlacement(), MakeRect(2, -4, 12, 6));
}

TEST(ImageConversion, ViewAndBitmapCoordinates) {
    TImage32 view;
    view.resize(15, 15);
    view.SetBitmapAlign(baCenter);
    view.Bitmap()->SetSize(10, 10);
    EXPECT_EQ(view.ViewToBitmap({0, 0}), (TPoint{-2, -2}));
    EXPECT_EQ(view.ViewToBitmap({7, 14}), (TPoint{5, 12}));
    EXPECT_EQ(view.BitmapToView({0, 0}), (TPoint{2, 2}));

    // Twice the size: floor on the way in, truncation on the way out.
    view.SetScaleMode(smScale);
    view.SetScale(2);
    view.resize(40, 40);
    EXPECT_EQ(view.BitmapPlacement(), MakeRect(10, 10, 30, 30));
    EXPECT_EQ(view.ViewToBitmap({9, 11}), (TPoint{-1, 0}));
    EXPECT_EQ(view.BitmapToView({3, -1}), (TPoint{16, 8}));

    // A collapsed bitmap rectangle has no inverse.
    view.SetScaleMode(smStretch);
    view.resize(0, 10);
    EXPECT_EQ(view.ViewToBitmap({0, 0}).X, INT_MAX);
    EXPECT_EQ(view.ViewToBitmap({0, 0}).Y, 0);
}

TEST(ImageConversion, EmptyBitmapIsIdentity) {
    TImage32 view;
    view.SetBitmapAlign(baCenter);
    EXPECT_EQ(view.ViewToBitmap({7, -3}), (TPoint{7, -3}));
    EXPECT_EQ(view.BitmapToView({7, -3}), (TPoint{7, -3}));
}

TEST(ImageScale, ClampsAndStoresBothScales) {
    TImage32 view;
    int changes = 0;
    view.OnChange = [&](TCustomImage32*) { ++changes; };
    view.SetScale(0);
    EXPECT_FLOAT_EQ(view.Scale(), 0.001f);
    EXPECT_FLOAT_EQ(view.ScaleY(), 0.001f);
    EXPECT_EQ(changes, 1);
    view.SetScale(0.001f);
    EXPECT_EQ(changes, 1);
    view.SetScale(-4);
    EXPECT_FLOAT_EQ(view.Scale(), 0.001f);
}

TEST(ImageAutoSize, TakesTheBitmapSizeKeepingThePosition) {
    QWidget parent;
    TImage32 view(&parent);
    view.SetBounds(200, 272, 50, 60);
    view.SetAutoSize(true);
    int resizes = 0;
    view.OnBitmapResize = [&](TCustomImage32*) { ++resizes; };

    view.Bitmap()->SetSize(0, 10);
    EXPECT_EQ(view.size(), QSize(50, 60));
    view.Bitmap()->SetSize(403, 404);
    EXPECT_EQ(view.geometry(), QRect(200, 272, 403, 404));
    EXPECT_EQ(resizes, 2);

    view.SetScaleMode(smScale);
    view.SetScale(1.5f);
    view.Bitmap()->SetSize(11, 4);
    EXPECT_EQ(view.size(), QSize(16, 6)); // 16.5 and 6.0, halves to even

    view.BeginUpdate();
    view.Bitmap()->SetSize(5, 5);
    view.EndUpdate();
    EXPECT_EQ(resizes, 3); // no resize event inside an update bracket
    EXPECT_EQ(view.size(), QSize(8, 8));
}

TEST(ImageAutoSize, OffLeavesTheWidgetAlone) {
    TImage32 view;
    view.resize(30, 30);
    view.Bitmap()->SetSize(100, 100);
    EXPECT_EQ(view.size(), QSize(30, 30));
    view.SetAutoSize(true);
    EXPECT_EQ(view.size(), QSize(100, 100));
}

TEST(ImageUpdate, UnpairedEndUpdateIsAnAssertionAndLeavesTheCountAtZero) {
    TImage32 view;
    try {
        view.EndUpdate();
        FAIL() << "no assertion";
    } catch (const EViewAssertion& e) {
        EXPECT_STREQ(e.what(), "Unpaired EndUpdate call");
    }
    EXPECT_EQ(view.UpdateCount(), 0);
    // The view still repaints on changes afterwards.
    Paint(view);
    EXPECT_TRUE(view.BufferValid());
    view.Bitmap()->SetSize(3, 3);
    EXPECT_FALSE(view.BufferValid());

    TLayerCollection layers;
    try {
        layers.EndUpdate();
        FAIL() << "no assertion";
    } catch (const EViewAssertion& e) {
        EXPECT_STREQ(e.what(), "Unpaired EndUpdate");
    }
}

TEST(ImageUpdate, ChangesInsideBracketWaitForTheRepaintRequest) {
    TImage32 view;
    view.resize(4, 4);
    view.Bitmap()->SetSize(4, 4);
    view.Bitmap()->Clear(0xFF0000FF);
    view.show();
    QCoreApplication::processEvents(); // exposed and painted once
    ASSERT_TRUE(view.BufferValid());
    int changes = 0;
    view.OnChange = [&](TCustomImage32*) { ++changes; };

    view.BeginUpdate();
    view.Bitmap()->Clear(0xFF00FF00);
    EXPECT_TRUE(view.BufferValid());
    view.EndUpdate();
    EXPECT_TRUE(view.BufferValid()); // end-update does not repaint by itself
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(view.Buffer()->Pixel(1, 1), 0xFF0000FFu);

    view.Repaint();
    EXPECT_TRUE(view.BufferValid());
    EXPECT_EQ(view.Buffer()->Pixel(1, 1), 0xFF00FF00u);
}

TEST(PaintBuffer, KeepsFortyPixelsOfSlack) {
    struct Step {
        int ViewW, ViewH, BufW, BufH;
    };
    const Step steps[] = {
        {192, 192, 232, 232}, // first sizing: grows with slack
        {200, 150, 232, 150}, // within slack keeps; more than 40 below shrinks
        {232, 110, 232, 150}, {233, 109, 273, 109}, {0, 0, 1, 1}, {1, 1, 1, 1}, {2, 5, 42, 45},
    };
    QWidget window;
    window.resize(400, 400);
    TImage32 view(&window);
    window.show();
    for (const Step& s : steps) {
        view.resize(s.ViewW, s.ViewH);
        Paint(view);
        EXPECT_EQ(view.Buffer()->Width(), s.BufW) << "view " << s.ViewW << "x" << s.ViewH;
        EXPECT_EQ(view.Buffer()->Height(), s.BufH) << "view " << s.ViewW << "x" << s.ViewH;
    }
}

namespace {

// A view whose stages are: fill the buffer with a marker, then stage 3 only,
// so that what the background stage leaves alone stays visible.
struct BackgroundCase {
    TDrawMode Mode;
    TBitmapAlign Align;
    int BitmapW, BitmapH;
    TRect Untouched; // everything else of the 20 x 20 view has the colour
};

constexpr TColor32 Marker = 0xFF123456;

} // namespace

TEST(PaintStages, BackgroundFillsOnlyTheBandsAroundAnOpaqueBitmap) {
    const BackgroundCase cases[] = {
        {dmOpaque, baCenter, 10, 6, {5, 7, 15, 13}},  {dmOpaque, baTopLeft, 10, 6, {0, 0, 10, 6}},
        {dmOpaque, baCenter, 30, 30, {0, 0, 20, 20}}, // covers the view
        {dmOpaque, baTile, 20, 5, {0, 0, 20, 20}},    // tiled rows cover the rest
        {dmBlend, baCenter, 10, 6, {0, 0, 0, 0}},     {dmOpaque, baCenter, 0, 0, {0, 0, 0, 0}},
    };
    for (const BackgroundCase& c : cases) {
        TImage32 view;
        view.resize(20, 20);
        view.SetColor(0x0000FF); // red
        view.SetBitmapAlign(c.Align);
        view.Bitmap()->SetSize(c.BitmapW, c.BitmapH);
        view.Bitmap()->SetDrawMode(c.Mode);
        TPaintStages& stages = *view.PaintStages();
        stages.Clear();
        stages.Add() = TPaintStage{false, true, PST_CUSTOM, 0};
        stages.Add() = TPaintStage{false, true, PST_CLEAR_BACKGND, 0};
        view.OnPaintStage = [](TCustomImage32*, TBitmap32* Buffer, int StageNum) {
            if (StageNum == 0) Buffer->Clear(Marker);
        };
        Paint(view);
        for (int y = 0; y < 20; ++y)
            for (int x = 0; x < 20; ++x) {
                const TRect& u = c.Untouched;
                const bool inside = x >= u.Left && x < u.Right && y >= u.Top && y < u.Bottom;
                ASSERT_EQ(view.Buffer()->Pixel(x, y), inside ? Marker : 0xFFFF0000u)
                    << "case " << (&c - cases) << " at " << x << "," << y;
            }
    }
}

TEST(PaintStages, DefaultsAreBackgroundBitmapLayers) {
    TImage32 view;
    const TPaintStages& s = *view.PaintStages();
    ASSERT_EQ(s.Count(), 5);
    const uint32_t codes[] = {3, 6, 4, 7, 5};
    const bool runTime[] = {true, false, true, false, true};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(s[i].Stage, codes[i]);
        EXPECT_EQ(s[i].RunTime, runTime[i]);
        EXPECT_TRUE(s[i].DsgnTime);
    }
    EXPECT_EQ(s[4].Parameter, 0x80000000u);
}

TEST(PaintStages, BitmapIsCentredOverTheBackgroundAndScaled) {
    TImage32 view;
    view.resize(8, 6);
    view.SetColor(0x00FF00); // green
    view.SetBitmapAlign(baCenter);
    view.Bitmap()->SetSize(2, 2);
    view.Bitmap()->Clear(0xFF0000FF);
    view.Bitmap()->SetPixel(1, 1, 0xFFFFFFFF);
    view.SetScaleMode(smScale);
    view.SetScale(2);
    Paint(view);
    // 4 x 4 at (2, 1); nearest stretch doubles each pixel.
    const TBitmap32& b = *view.Buffer();
    EXPECT_EQ(b.Pixel(0, 0), 0xFF00FF00u);
    EXPECT_EQ(b.Pixel(2, 1), 0xFF0000FFu);
    EXPECT_EQ(b.Pixel(3, 2), 0xFF0000FFu);
    EXPECT_EQ(b.Pixel(4, 3), 0xFFFFFFFFu);
    EXPECT_EQ(b.Pixel(5, 4), 0xFFFFFFFFu);
    EXPECT_EQ(b.Pixel(6, 4), 0xFF00FF00u);
    EXPECT_EQ(b.Pixel(5, 5), 0xFF00FF00u);
}

TEST(BitmapLayer, HalfPixelPlacementRoundsToEvenAndIsResampled) {
    TImage32 view;
    view.resize(520, 10);
    view.Bitmap()->SetSize(520, 10);
    view.Bitmap()->Clear(0xFF000000);
    auto* layer = view.LayerList()->Add<TBitmapLayer>();
    FillColumns(layer->Bitmap(), 513, 10);
    layer->SetViewScaled(true);
    layer->SetPlacement(FloatRect(-0.5f, 0, 512.5f, 10));
    Paint(view);
    const TBitmap32& b = *view.Buffer();
    // 513 columns into 512: column x shows source column x, the last is dropped.
    for (int x : {0, 1, 255, 256, 257, 510, 511})
        EXPECT_EQ(b.Pixel(x, 3), layer->Bitmap()->Pixel(x, 3)) << x;
    EXPECT_EQ(b.Pixel(512, 3), 0xFF000000u);
    EXPECT_EQ(b.Pixel(512, 9), 0xFF000000u);
}

TEST(BitmapLayer, OddDialIsCentredOnTheViewLikeTheGauge) {
    // The gauge's own steps: view sized by its bitmap, the dial layer centred
    // on ViewToBitmap of the view's centre.
    QWidget window;
    TImage32 dst(&window);
    dst.SetBounds(200, 272, 403, 404);
    dst.SetAutoSize(true);
    dst.SetBitmapAlign(baCenter);
    dst.Bitmap()->SetSize(403, 405);
    dst.Bitmap()->Clear(0xFFFFFFFF);
    EXPECT_EQ(dst.size(), QSize(403, 405));

    auto* dial = new TBitmapLayer(dst.LayerList());
    TBitmap32 picture;
    FillColumns(&picture, 403, 405, 0xFF);
    dial->Bitmap()->Assign(&picture);
    dial->Bitmap()->SetDrawMode(dmBlend);
    const TRect r = dst.ViewRect();
    const TPoint p = dst.ViewToBitmap({(r.Left + r.Right) / 2, (r.Top + r.Bottom) / 2});
    EXPECT_EQ(p, (TPoint{201, 202}));
    const float w = 403, h = 405;
    dial->SetPlacement(FloatRect(p.X - w / 2, p.Y - h / 2, p.X + w / 2, p.Y + h / 2));
    dial->SetViewScaled(true);
    Paint(dst);
    // (-0.5, -0.5, 402.5, 404.5) becomes (0, 0, 402, 404).
    EXPECT_EQ(dst.Buffer()->Pixel(401, 403), picture.Pixel(401, 403));
    EXPECT_EQ(dst.Buffer()->Pixel(402, 100), 0xFFFFFFFFu);
    EXPECT_EQ(dst.Buffer()->Pixel(100, 404), 0xFFFFFFFFu);
}

TEST(BitmapLayer, BlendsOverTheBitmapAndStacksInCreationOrder) {
    TImage32 view;
    view.resize(4, 1);
    view.Bitmap()->SetSize(4, 1);
    view.Bitmap()->Clear(0xFFFFFFFF);
    auto add = [&](TColor32 C, float Left) {
        auto* l = new TBitmapLayer(view.LayerList());
        l->Bitmap()->SetSize(2, 1);
        l->Bitmap()->Clear(C);
        l->Bitmap()->SetDrawMode(dmBlend);
        l->SetPlacement(FloatRect(Left, 0, Left + 2, 1));
        return l;
    };
    add(0xFF0000FF, 0);
    add(0x00FF0000, 1); // transparent: leaves what is below
    auto* top = add(0xFFFF0000, 2);
    Paint(view);
    const TBitmap32& b = *view.Buffer();
    EXPECT_EQ(b.Pixel(0, 0), 0xFF0000FFu);
    EXPECT_EQ(b.Pixel(1, 0), 0xFF0000FFu);
    EXPECT_EQ(b.Pixel(2, 0), 0xFFFF0000u);
    EXPECT_EQ(b.Pixel(3, 0), 0xFFFF0000u);

    top->SetVisible(false);
    EXPECT_FALSE(view.BufferValid());
    Paint(view);
    EXPECT_EQ(b.Pixel(3, 0), 0xFFFFFFFFu);
}

TEST(BitmapLayer, DeletingALayerRemovesItAndRepaints) {
    TImage32 view;
    view.resize(2, 1);
    view.Bitmap()->SetSize(2, 1);
    view.Bitmap()->Clear(0xFFFFFFFF);
    TLayerCollection& layers = *view.LayerList();
    std::vector<TBitmapLayer*> made;
    for (TColor32 c : {0xFF000001u, 0xFF000002u, 0xFF000003u}) {
        auto* l = layers.Add<TBitmapLayer>();
        l->Bitmap()->SetSize(2, 1);
        l->Bitmap()->Clear(c);
        made.push_back(l);
    }
    ASSERT_EQ(layers.Count(), 3);
    EXPECT_EQ(made[1]->Index(), 1);
    Paint(view);
    EXPECT_EQ(view.Buffer()->Pixel(0, 0), 0xFF000003u);

    delete made[2];
    EXPECT_EQ(layers.Count(), 2);
    EXPECT_FALSE(view.BufferValid());
    Paint(view);
    EXPECT_EQ(view.Buffer()->Pixel(0, 0), 0xFF000002u);

    layers.Delete(0);
    layers.Delete(7); // outside the list: nothing
    ASSERT_EQ(layers.Count(), 1);
    EXPECT_EQ(layers.Items(0), made[1]);
    EXPECT_EQ(made[1]->Index(), 0);

    layers.Clear();
    EXPECT_EQ(layers.Count(), 0);
    Paint(view);
    EXPECT_EQ(view.Buffer()->Pixel(0, 0), 0xFFFFFFFFu);

    // A layer left in the view is freed with it (ASan checks the rest).
    auto* kept = layers.Add<TBitmapLayer>();
    kept->Bitmap()->SetSize(1, 1);
}

TEST(BitmapLayer, ChangedAreaIsMappedToTheViewAndWidened) {
    TImage32 view;
    auto* layer = view.LayerList()->Add<TBitmapLayer>();
    layer->Bitmap()->SetSize(10, 20);
    layer->SetPlacement(FloatRect(10, 20, 30, 60)); // twice the size
    std::vector<TRect> areas;
    view.LayerList()->OnAreaUpdated = [&](const TRect& A, uint32_t) { areas.push_back(A); };
    Paint(view);
    layer->Bitmap()->Changed(MakeRect(1, 2, 3, 4));
    ASSERT_EQ(areas.size(), 1u);
    // (12, 24, 16, 28) widened by the nearest kernel's width 1, plus 1.
    EXPECT_EQ(areas[0], MakeRect(10, 22, 18, 30));
    EXPECT_FALSE(view.BufferValid());

    layer->Bitmap()->SetSize(0, 0);
    layer->Bitmap()->Changed(MakeRect(1, 2, 3, 4));
    EXPECT_EQ(areas.size(), 1u); // an empty bitmap reports nothing
}

TEST(PositionedLayer, HitTestAndAdjustedRectangle) {
    TImage32 view;
    view.resize(30, 30);
    view.SetBitmapAlign(baCenter);
    view.Bitmap()->SetSize(10, 10);
    auto* layer = view.LayerList()->Add<TPositionedLayer>();
    EXPECT_EQ(layer->Placement(), FloatRect(0, 0, 64, 64));
    EXPECT_EQ(layer->LayerOptions(), LOB_VISIBLE | LOB_MOUSE_EVENTS);
    layer->SetPlacement(FloatRect(1, 1, 3, 3));
    struct Hit {
        int X, Y;
        bool Plain, Scaled;
    };
    const Hit hits[] = {{1, 1, true, false},   {2, 2, true, false},   {3, 2, false, false},
                        {11, 11, false, true}, {12, 12, false, true}, {13, 12, false, false}};
    for (const Hit& h : hits)
        EXPECT_EQ(layer->HitTest(h.X, h.Y), h.Plain) << h.X << "," << h.Y;
    layer->SetViewScaled(true);
    EXPECT_EQ(layer->GetAdjustedLocation(), FloatRect(11, 11, 13, 13));
    for (const Hit& h : hits)
        EXPECT_EQ(layer->HitTest(h.X, h.Y), h.Scaled) << h.X << "," << h.Y;
    EXPECT_EQ(view.LayerList()->LocalHitTest(12, 11), layer);
    EXPECT_EQ(view.LayerList()->LocalHitTest(0, 0), nullptr);
}

TEST(LayerCollection, FreeStandingCollectionHasUnitViewport) {
    TLayerCollection layers;
    auto* layer = layers.Add<TPositionedLayer>();
    layer->SetViewScaled(true);
    layer->SetPlacement(FloatRect(1, 2, 3, 4));
    EXPECT_EQ(layer->GetAdjustedLocation(), FloatRect(1, 2, 3, 4));
    TCustomLayer* other = new TCustomLayer(nullptr);
    other->SetLayerCollection(&layers);
    EXPECT_EQ(other->Index(), 1);
    other->SendToBack();
    EXPECT_EQ(other->Index(), 0);
    EXPECT_EQ(layer->Index(), 1);
    int told = 0;
    struct Watcher : TCustomLayer {
        using TCustomLayer::TCustomLayer;
        int* Count = nullptr;
        void Notification(TCustomLayer*) override { ++*Count; }
    };
    auto* watcher = new Watcher(&layers);
    watcher->Count = &told;
    watcher->AddNotification(layer);
    delete layer;
    EXPECT_EQ(told, 1);
    EXPECT_EQ(layers.Count(), 2);
}

TEST(LayerCollection, RaisingListHandlerLeavesNoUpdateBracketOpen) {
    TLayerCollection layers;
    int changes = 0;
    layers.OnChange = [&] { ++changes; };
    layers.OnListNotify = [](TCustomLayer*, TLayerListNotification Action, int) {
        if (Action == lnCleared) throw EBitmapException("list handler failed");
    };
    layers.Add<TCustomLayer>();
    EXPECT_THROW(layers.Clear(), EBitmapException);
    EXPECT_EQ(layers.Count(), 0);
    layers.OnListNotify = nullptr;
    const int before = changes;
    layers.Add<TCustomLayer>();
    EXPECT_EQ(changes, before + 1);
}

TEST(ImageWidget, PaintsTheBufferOntoTheScreen) {
    QWidget window;
    window.resize(100, 100);
    TImage32 view(&window);
    view.SetBounds(10, 20, 30, 20);
    view.SetColor(0xFF000015); // three-dimensional dark shadow, from the palette
    view.SetBitmapAlign(baCenter);
    view.Bitmap()->SetSize(10, 10);
    view.Bitmap()->Clear(0xFFFFFFFF);
    auto* layer = view.LayerList()->Add<TBitmapLayer>();
    layer->Bitmap()->SetSize(2, 2);
    layer->Bitmap()->Clear(0x80FF0000); // half red
    layer->Bitmap()->SetDrawMode(dmBlend);
    layer->SetViewScaled(true);
    layer->SetPlacement(FloatRect(0, 0, 2, 2));
    window.show();

    const QImage shot = window.grab().toImage();
    const QColor shadow = view.palette().color(QPalette::Shadow);
    EXPECT_EQ(shot.pixel(11, 21), shadow.rgb());
    EXPECT_EQ(shot.pixel(15 + 10, 10 + 20), 0xFFFFFFFFu);
    EXPECT_EQ(shot.pixel(12 + 10, 5 + 20), 0xFFFFFFFFu);
    // Half red over white: (255 * 256 + 128 + (0 - 255) * 128) >> 8 = 128.
    EXPECT_EQ(shot.pixel(10 + 10, 5 + 20), 0xFFFF8080u);
    EXPECT_EQ(shot.pixel(11 + 10, 6 + 20), 0xFFFF8080u);
    EXPECT_EQ(shot.pixel(5, 5), window.palette().color(QPalette::Window).rgb());

    // A transparent buffer pixel still shows its colour, as a blit would.
    view.Bitmap()->SetPixel(9, 9, 0x0000FF00);
    view.Bitmap()->Changed();
    const QImage again = view.grab().toImage();
    EXPECT_EQ(again.pixel(19, 14), 0xFF00FF00u);
}

TEST(ImageWidget, FailingStageIsReportedAndRetriedOnTheNextPaint) {
    TImage32 view;
    view.resize(4, 4);
    view.SetColor(0x000000);
    bool fail = true;
    view.PaintStages()->Add() = TPaintStage{false, true, PST_CUSTOM, 0};
    view.OnPaintStage = [&](TCustomImage32*, TBitmap32* Buffer, int) {
        if (fail) throw EBitmapException("stage failed");
        Buffer->SetPixel(0, 0, 0xFFABCDEF);
    };
    std::vector<std::string> errors;
    view.OnPaintError = [&](TCustomPaintBox32*, const std::exception& E) {
        errors.push_back(E.what());
    };
    Paint(view);
    EXPECT_EQ(errors, std::vector<std::string>{"stage failed"});
    EXPECT_FALSE(view.BufferValid());
    fail = false;
    const QImage shot = Paint(view);
    EXPECT_TRUE(view.BufferValid());
    EXPECT_EQ(shot.pixel(0, 0), 0xFFABCDEFu);
    EXPECT_EQ(shot.pixel(1, 0), 0xFF000000u);
}

TEST(ImageWidget, DestroyingTheViewFreesBitmapAndLayersQuietly) {
    auto view = std::make_unique<TImage32>();
    int changes = 0;
    view->OnChange = [&](TCustomImage32*) { ++changes; };
    view->Bitmap()->SetSize(3, 3);
    for (int i = 0; i < 3; ++i)
        view->LayerList()->Add<TBitmapLayer>()->Bitmap()->SetSize(2, 2);
    const int before = changes;
    view.reset();
    EXPECT_EQ(changes, before);
}

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
