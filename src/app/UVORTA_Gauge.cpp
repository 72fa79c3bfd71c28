#include "UVORTA_Display.h"

#include "Application.h"
#include "GR32.h"
#include "DesignNeedle.h"
#include "GR32_Image.h"
#include "GR32_Layers.h"
#include "GR32_Transforms.h"
#include "PictureNames.h"
#include "iSevenSegmentAnalog.h"
#include "pngimage.h"

namespace {

// The needle turns about this point of its picture; the shift then puts the
// point on the dial's centre (202, 200) of the view's bitmap.
constexpr float PivotX = 12, PivotY = 134;
constexpr float ShiftX = 190, ShiftY = 66;
constexpr TColor32 NeedleBackground = 0xFFFFFFFF;
// The gauge's pictures are about 403 x 404. A far larger one, valid or not,
// would hold gigabytes for the whole session (the dial is kept twice) and
// take seconds to decode, so it is refused as soon as its header is read.
constexpr uint32_t MaxPictureSide = 4096;

} // namespace

void TFKAVRO::CreateGauge() {
    Src = new TImage32(ClientArea);
    Src->SetBounds(792, 384, 25, 147);
    Src->SetAutoSize(true);
    Src->Bitmap()->SetDrawMode(dmBlend);
    Src->Bitmap()->SetResamplerClassName("TLinearResampler");
    Src->hide();
    // The needle of the stored design, there before any file is loaded.
    LoadDesignNeedle(Src->Bitmap());

    ivBGR = new TImage32(ClientArea);
    ivBGR->SetBounds(720, 112, 513, 521);
    ivBGR->Bitmap()->SetResamplerClassName("TNearestResampler");
    ivBGR->hide();

    Dst = new TImage32(Panel1);
    Dst->SetBounds(200, 272, 403, 404);
    Dst->SetAutoSize(true);
    Dst->SetBitmapAlign(baCenter);
    Dst->SetColor(cl3DDkShadow);
    Dst->Bitmap()->SetResamplerClassName("TNearestResampler");
    Dst->OnPaintError = [](TCustomPaintBox32* Sender, const std::exception& E) {
        if (TApplication* App = TApplication::Instance()) App->HandleException(Sender, E);
    };

    ssaValue = new TiSevenSegmentAnalog(Dst);
    ssaValue->SetAutoSize(false);
    ssaValue->setGeometry(144, 221, 113, 36);
    ssaValue->SetSegmentColor(clLime);
    ssaValue->SetShowOffSegments(false);
    ssaValue->SetSegmentOffColor(clBlack);
    ssaValue->SetPrecision(1);
    ssaValue->SetDigitCount(5);
}

void TFKAVRO::ShowReading(double Value) { ssaValue->SetValue(Value); }

void TFKAVRO::LoadDial(const std::string& DialFile) {
    LoadPictureFile(*Src->Bitmap(), ResolvePictureName("img\\arrow2.PNG"), MaxPictureSide);
    LoadPictureFile(*ivBGR->Bitmap(), ResolvePictureName(DialFile), MaxPictureSide);
    Dst->Bitmap()->SetSize(ivBGR->Bitmap()->Width(), ivBGR->Bitmap()->Height());
    // A transparent outer ring lets the linear resampler fade the needle's edges.
    ClearBorderAlpha(Src->Bitmap(), Src->Bitmap()->BoundsRect());

    // The new dial replaces the one before: kept beneath, each old dial would
    // hold a whole picture in memory and show only through the new one's holes.
    delete FDialLayer;
    FDialLayer = nullptr;
    auto* Layer = new TBitmapLayer(Dst->LayerList());
    try {
        Layer->Bitmap()->Assign(ivBGR->Bitmap());
        Layer->Bitmap()->SetDrawMode(dmBlend);
        const TRect R = Dst->ViewRect();
        const TPoint P = Dst->ViewToBitmap(TPoint{(R.Left + R.Right) / 2, (R.Top + R.Bottom) / 2});
        const float W = static_cast<float>(Layer->Bitmap()->Width());
        const float H = static_cast<float>(Layer->Bitmap()->Height());
        Layer->SetPlacement(FloatRect(P.X - W / 2, P.Y - H / 2, P.X + W / 2, P.Y + H / 2));
        Layer->SetViewScaled(true);
    } catch (...) {
        delete Layer;
        throw;
    }
    FDialLayer = Layer;
    DrawNeedle(0);
}

void TFKAVRO::DrawNeedle(float Angle) {
    TAffineTransformation T;
    T.SetSrcRect(FloatRect(0, 0, static_cast<float>(Src->Bitmap()->Width()),
                           static_cast<float>(Src->Bitmap()->Height())));
    T.Clear();
    T.Rotate(PivotX, PivotY, Angle);
    T.Translate(ShiftX, ShiftY);
    Dst->BeginUpdate();
    try {
        Dst->Bitmap()->Clear(NeedleBackground);
        TransformBitmap(Dst->Bitmap(), Src->Bitmap(), &T);
    } catch (...) {
        Dst->EndUpdate();
        throw;
    }
    Dst->EndUpdate();
    // The screen copy is requested, not forced: it is made as soon as the
    // event loop turns, which is right after this reading's receive event.
    // A synchronous repaint per reading would recomposite the whole dial for
    // frames that a burst of readings overwrites before any screen shows them.
    Dst->Invalidate();
}
