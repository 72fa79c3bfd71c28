// SPDX-License-Identifier: GPL-3.0-or-later
#include "GaugePart.h"

#include "AnswerReceiver.h"
#include "Application.h"
#include "DesignNeedle.h"
#include "GR32_Image.h"
#include "GR32_Layers.h"
#include "GR32_LowLevel.h"
#include "GR32_Transforms.h"
#include "GaugeGeometry.h"
#include "MemoView.h"
#include "PictureNames.h"
#include "ScopeGuards.h"
#include "iSevenSegmentAnalog.h"
#include "pngimage.h"

#include <QScreen>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <chrono>
#include <cmath>

namespace {

// The needle turns about its pivot; the shift then puts the pivot on the
// dial's centre of the view's bitmap.
constexpr float PivotX = Gauge::PivotX, PivotY = Gauge::PivotY;
constexpr float ShiftX = Gauge::NeedleShiftX, ShiftY = Gauge::NeedleShiftY;
constexpr TColor32 NeedleBackground = 0xFFFFFFFF;
// The gauge's pictures are about 403 x 404. A far larger one, valid or not,
// would hold gigabytes for the whole session (the dial is kept twice) and
// take seconds to decode, so it is refused as soon as its header is read.
constexpr uint32_t MaxPictureSide = 4096;

// The least rectangle holding both; an empty one adds nothing.
TRect Union(const TRect& A, const TRect& B) {
    if (IsRectEmpty(A)) return B;
    if (IsRectEmpty(B)) return A;
    return TRect{std::min(A.Left, B.Left), std::min(A.Top, B.Top), std::max(A.Right, B.Right),
                 std::max(A.Bottom, B.Bottom)};
}

qint64 SteadyMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

TGaugePart::TGaugePart(QWidget& Window, QWidget* ClientArea, QWidget* Panel, TMemoView* Memo,
                       TSensorSession& Session)
    : FWindow(Window), FMemo(Memo), FSession(Session) {
    Src = new TImage32(ClientArea);
    Src->SetBounds(792, 384, Gauge::NeedleWidth, Gauge::NeedleHeight);
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

    Dst = new TImage32(Panel);
    Dst->SetBounds(200, 272, Gauge::DialWidth, Gauge::DialHeight);
    Dst->SetAutoSize(true);
    Dst->SetBitmapAlign(baCenter);
    Dst->SetColor(cl3DDkShadow);
    Dst->Bitmap()->SetResamplerClassName("TNearestResampler");
    Dst->OnPaintError = [](TCustomPaintBox32* Sender, const std::exception& E) {
        if (TApplication* App = TApplication::Instance()) App->HandleException(Sender, E);
    };
    Dst->OnBitmapRead = [this](const TCustomImage32*) { PaintNeedle(); };

    ssaValue = new TiSevenSegmentAnalog(Dst);
    ssaValue->SetAutoSize(false);
    ssaValue->setGeometry(144, 221, 113, 36);
    ssaValue->SetSegmentColor(ReadoutColor);
    ssaValue->SetShowOffSegments(false);
    ssaValue->SetSegmentOffColor(clBlack);
    ssaValue->SetPrecision(1);
    ssaValue->SetDigitCount(5);
    // The readout still paints every pixel of its rectangle, but it must not
    // tell Qt so: an opaque child is cut out of the view's paint area, and the
    // view's picture then reaches the screen through a clip of several
    // rectangles, span by span on Qt's thread pool, instead of as one block
    // copy. Not opaque, it is painted over the view after it, in the same frame.
    ssaValue->setAttribute(Qt::WA_OpaquePaintEvent, false);

    FFrameTimer = new QTimer(&Window);
    FFrameTimer->setSingleShot(true);
    FFrameTimer->setTimerType(Qt::PreciseTimer);
    QObject::connect(FFrameTimer, &QTimer::timeout, &Window, [this] { FlushFrame(); });
    // The log's lines come with the readings: on a clock of its own it would
    // cost a second paint of the window per frame.
    FMemo->SetFrameRequest([this] { ScheduleFrame(); });
}

TGaugePart::~TGaugePart() {
    // The widgets outlive the part (the window's children go after it).
    FMemo->SetFrameRequest(nullptr);
    Dst->OnBitmapRead = nullptr;
    FFrameTimer->stop();
    QObject::disconnect(FFrameTimer, nullptr, &FWindow, nullptr);
}

std::string TGaugePart::SensorMode() const {
    const TSensorIdentity& I = FSession.Identity();
    return I.Known ? std::to_string(I.Mode) : std::string();
}

void TGaugePart::Reading(const TReading& R) {
    // A scan's answers are other sensors' readings: its list shows them.
    if (R.Source == TReadingSource::Scan) return;
    if (R.Source == TReadingSource::Watch && R.Id != WatchShownId) return;
    ShowReading(R.Value);
    ssaValue->SetSegmentColor(ReadoutColor);
    DrawNeedle(NeedleAngle(R.Value, SensorMode()));
}

void TGaugePart::SensorStale(int Id) {
    if (Id != WatchShownId) return;
    ssaValue->BeginUpdate();
    ssaValue->SetSegmentColor(StaleColor);
    FReadoutPending = true;
    ScheduleFrame();
}

void TGaugePart::WatchEnded() {
    WatchShownId = -1;
    if (ssaValue->SegmentColor() == ReadoutColor) return;
    ssaValue->BeginUpdate();
    ssaValue->SetSegmentColor(ReadoutColor);
    FReadoutPending = true;
    ScheduleFrame();
}

void TGaugePart::Malformed(const std::string&) {
    // During a watch, noise may be any sensor's: not the shown one's to show.
    if (WatchShownId >= 0) return;
    ShowReading(0);
    DrawNeedle(NeedleAngle(0, SensorMode()));
}
// Streaming, readings come far faster than any screen shows them (1000 a
// second against 60 frames); a paint for each would spend nearly all the time
// on pictures nobody sees. So the readout takes every value at once (its
// OnValueChange and Value stay per reading) but holds its repaint, and the
// screen is asked for at most one frame per refresh interval.
void TGaugePart::ShowReading(double Value) {
    ssaValue->BeginUpdate();
    ssaValue->SetValue(Value);
    FReadoutPending = true;
    ScheduleFrame();
}

int TGaugePart::FrameIntervalMs() const {
    if (FFrameIntervalMs > 0) return FFrameIntervalMs;
    const QScreen* S = FWindow.screen();
    const double Hz = S && S->refreshRate() > 0 ? S->refreshRate() : 60.0;
    return static_cast<int>(std::floor(1000.0 / std::clamp(Hz, 24.0, 240.0)));
}

// A change after the frame's interval is over shows with the next turn of
// the event loop, not at once: whatever the same handler changes after this
// (a reading's log line comes before its value) goes into the same paint.
// One that comes sooner waits for the next change past the interval, or for
// half an interval more when none comes. A stream (100 readings a second
// against 60 frames) then shows each frame as a reading comes, and the event
// loop is not woken again for a frame between two readings.
void TGaugePart::ScheduleFrame() {
    const qint64 Now = SteadyMs();
    const int Interval = FrameIntervalMs();
    const qint64 Due = FLastFrameMs + Interval;
    if (FLastFrameMs == 0 || Now >= Due) {
        if (!FFrameTimer->isActive() || FFrameTimer->remainingTime() > 0) FFrameTimer->start(0);
    } else if (!FFrameTimer->isActive()) {
        FFrameTimer->start(static_cast<int>(Due - Now) + Interval / 2);
    }
}

void TGaugePart::FlushFrame() {
    FFrameTimer->stop();
    FLastFrameMs = SteadyMs();
    // All repaints are requested in the same turn of the event loop, so the
    // view, the readout over it and the log reach the screen in one paint. The
    // readout goes first: asked after its parent, Qt paints the two twice.
    // A readout showing the same cells as before paints nothing.
    const bool Readout = FReadoutPending && ssaValue->ChangePending();
    if (FReadoutPending) {
        FReadoutPending = false;
        ssaValue->EndUpdate();
    }
    if (FNeedlePending) {
        FNeedlePending = false;
        PaintNeedle();
        if (!Dst->BufferValid()) {
            Dst->Invalidate();
        } else {
            // Only the needles' area is new; with the readout's rectangle in
            // it (the readout repaints over it this frame), one rectangle.
            QRect Area(FScreenArea.Left, FScreenArea.Top, FScreenArea.Width(),
                       FScreenArea.Height());
            if (Readout) Area |= ssaValue->geometry();
            Dst->update(Area);
        }
        FScreenArea = TRect{0, 0, 0, 0};
    }
    FMemo->ShowPending();
}

namespace {

const char* const NeedleFile = "img\\arrow2.PNG";

std::future<std::unique_ptr<TBitmap32>> Decode(const std::string& Path) {
    return std::async(std::launch::async, [Path] {
        auto B = std::make_unique<TBitmap32>();
        LoadPictureFile(*B, Path, MaxPictureSide);
        return B;
    });
}

// As LoadPictureFile leaves a bitmap; To keeps its own settings (draw mode,
// resampler), which an Assign would take from From.
void TakePixels(TBitmap32& To, std::future<std::unique_ptr<TBitmap32>>& From) {
    const std::unique_ptr<TBitmap32> B = From.get();
    {
        TUpdateGuard<TBitmap32> Update(To);
        To.TakePixels(*B);
    }
    To.Changed();
}

} // namespace

TDialPreload TGaugePart::Preload(const std::string& DialFile) {
    TDialPreload P;
    P.DialFile = DialFile;
    P.Needle = Decode(ResolvePictureName(NeedleFile));
    P.Dial = Decode(ResolvePictureName(DialFile));
    return P;
}

void TGaugePart::LoadDial(const std::string& DialFile, TDialPreload* Ready) {
    // A load that fails leaves the gauge as it was, the latest needle drawn.
    PaintNeedle();
    FNeedleAreaKnown = false;
    if (Ready && Ready->DialFile == DialFile && Ready->Needle.valid() && Ready->Dial.valid()) {
        TakePixels(*Src->Bitmap(), Ready->Needle);
        TakePixels(*ivBGR->Bitmap(), Ready->Dial);
    } else {
        LoadPictureFile(*Src->Bitmap(), ResolvePictureName(NeedleFile), MaxPictureSide);
        LoadPictureFile(*ivBGR->Bitmap(), ResolvePictureName(DialFile), MaxPictureSide);
    }
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

// Streaming, a needle is drawn every frame, and clearing the whole bitmap
// (some 650 KB) cost as much as drawing the needle itself; the needle covers
// a small part of it. What is left is the same bitmap, pixel for
// pixel, with the same change notice as a full clear.
bool TGaugePart::ClearNeedle() {
    TBitmap32* B = Dst->Bitmap();
    const bool Known = FNeedleAreaKnown && FNeedleAreaBits == B->Bits() &&
                       FNeedleAreaBounds == B->BoundsRect() && !B->Clipping() &&
                       !B->MeasuringMode();
    FNeedleAreaKnown = false;
    if (!Known || B->Empty()) {
        B->Clear(NeedleBackground);
        return false;
    }
    for (int Y = FNeedleArea.Top; Y < FNeedleArea.Bottom; ++Y)
        FillLongword(B->PixelPtr(FNeedleArea.Left, Y), size_t(FNeedleArea.Width()),
                     NeedleBackground);
    B->Changed();
    return true;
}

// Streaming, readings come many to a frame (1000 a second against 60
// frames), and each needle drawn between two frames but the last would be
// thrown away unseen: the angle waits for the frame, or for whatever reads
// the bitmap before it.
void TGaugePart::DrawNeedle(float Angle) {
    FNeedleAngle = Angle;
    FNeedleDue = true;
    FNeedlePending = true;
    ScheduleFrame();
}

void TGaugePart::PaintNeedle() {
    if (!FNeedleDue) return;
    FNeedleDue = false; // before the bitmap is asked for: that would come back here
    TBitmap32* B = Dst->Bitmap();
    // A sensor at rest sends the same angle reading after reading.
    if (FNeedleAreaKnown && FNeedleAngle == FDrawnAngle && FNeedleAreaBits == B->Bits() &&
        FNeedleAreaBounds == B->BoundsRect())
        return;
    TAffineTransformation T;
    T.SetSrcRect(FloatRect(0, 0, static_cast<float>(Src->Bitmap()->Width()),
                           static_cast<float>(Src->Bitmap()->Height())));
    T.Clear();
    T.Rotate(PivotX, PivotY, FNeedleAngle);
    T.Translate(ShiftX, ShiftY);
    const TRect Old = FNeedleArea;
    bool Partial = false;
    TRect Area;
    Dst->BeginUpdate();
    try {
        Partial = ClearNeedle();
        Area = TransformBitmapArea(B, Src->Bitmap(), &T);
        TransformBitmap(B, Src->Bitmap(), &T);
        FNeedleArea = Area;
        FDrawnAngle = FNeedleAngle;
        FNeedleAreaBits = B->Bits();
        FNeedleAreaBounds = B->BoundsRect();
        FNeedleAreaKnown = !B->Clipping() && !B->MeasuringMode();
    } catch (...) {
        Dst->EndUpdate();
        throw;
    }
    Dst->EndUpdate();
    // The view's picture is out of date from now on (a grab or an exposure
    // rebuilds it with this needle); the screen gets it with the next frame.
    // After a partial clear only the last needle's and this one's area
    // changed, and only that part of the picture is built again.
    if (!Partial) {
        Dst->SetBufferValid(false);
        FScreenArea = Dst->ViewRect();
        return;
    }
    const TRect Changed = Union(Area, Old);
    if (IsRectEmpty(Changed)) return;
    const TPoint TopLeft = Dst->BitmapToView(TPoint{Changed.Left, Changed.Top});
    const TPoint BottomRight = Dst->BitmapToView(TPoint{Changed.Right, Changed.Bottom});
    // A pixel more each way for the view's rounding of a scaled bitmap.
    const TRect View{TopLeft.X - 1, TopLeft.Y - 1, BottomRight.X + 1, BottomRight.Y + 1};
    Dst->InvalidateBufferArea(View);
    FScreenArea = Union(FScreenArea, View);
}
