// SPDX-License-Identifier: GPL-3.0-or-later
// The needle and dial as the operator sees them: pixels of the view's
// bitmap and of the window, with the real pictures from img/.
#include "../png/PngWriter.h"
#include "Dialogs.h"
#include "GR32.h"
#include "GR32_Image.h"
#include "GR32_Layers.h"
#include "GR32_Transforms.h"
#include "GaugeGeometry.h"
#include "GaugeProbe.h"
#include "PictureNames.h"
#include "TestFiles.h"
#include "UVORTA_Display.h"
#include "WindowProbe.h"
#include "iSevenSegmentAnalog.h"
#include "pngimage.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPaintEvent>
#include <QScrollBar>
#include <QTimer>

#include <algorithm>
#include <memory>

#include <sys/stat.h>

namespace {

class GaugeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        OldDir = QDir::currentPath();
        QDir::setCurrent(VORTA_SOURCE_DIR); // pictures are looked up under img/ here
        SetAppFolder(Dir.path().toStdString());
        Window = std::make_unique<TFKAVRO>();
        Window->show();
    }
    void TearDown() override {
        Window.reset();
        SetAppFolder("");
        QDir::setCurrent(OldDir);
    }
    TImage32* Dst() { return Control<TImage32>(*Window, "Dst"); }
    TiSevenSegmentAnalog* ssaValue() { return Control<TiSevenSegmentAnalog>(*Window, "ssaValue"); }
    int NeedleInkAlong(float DegreesCcw) { return ::NeedleInkAlong(*Dst()->Bitmap(), DegreesCcw); }
    QString OldDir;
    QTemporaryDir Dir;
    std::unique_ptr<TFKAVRO> Window;
};

} // namespace

TEST_F(GaugeTest, FirstShowLoadsTheFullCircleDialAndTheNeedleAtZero) {
    ASSERT_EQ(Dst()->Bitmap()->Width(), 403);
    ASSERT_EQ(Dst()->Bitmap()->Height(), 404);
    EXPECT_EQ(Dst()->LayerList()->Count(), 1);
    EXPECT_GE(NeedleInkAlong(0), 10);
    EXPECT_EQ(NeedleInkAlong(90), 0);
    EXPECT_EQ(Dst()->Bitmap()->Pixel(5, 5), 0xFFFFFFFFu); // white under the needle
}

TEST_F(GaugeTest, PositiveAnglesTurnTheNeedleCounterClockwise) {
    const struct {
        float Angle;
        float InkAt;
    } Cases[] = {{90, 90}, {-90, -90}, {30, 30}, {180, 180}, {-30, -30}};
    for (auto C : Cases) {
        Window->DrawNeedle(C.Angle);
        EXPECT_GE(NeedleInkAlong(C.InkAt), 10) << C.Angle;
        EXPECT_EQ(NeedleInkAlong(C.InkAt + 45), 0) << C.Angle;
    }
}

namespace {
// Paints a widget receives, and the shape of the area each one covers.
struct TPaintLog : QObject {
    int Paints = 0;
    int MostRects = 0;
    QRect Last;
    bool eventFilter(QObject*, QEvent* E) override {
        if (E->type() == QEvent::Paint) {
            ++Paints;
            Last = static_cast<QPaintEvent*>(E)->region().boundingRect();
            MostRects = std::max(MostRects, static_cast<QPaintEvent*>(E)->region().rectCount());
        }
        return false;
    }
    // Asks W for paints until one comes (a window shown offscreen paints
    // only once it is exposed), for at most 5 s.
    void WaitForPaint(QWidget* W) {
        for (int I = 0; I < 500 && Paints == 0; ++I) {
            W->update();
            QEventLoop Pause;
            QTimer::singleShot(10, &Pause, &QEventLoop::quit);
            Pause.exec();
        }
    }
};
} // namespace

TEST_F(GaugeTest, ReadingsBetweenTwoFramesChangeTheStateAndOnePaintShowsTheLatest) {
    QCoreApplication::processEvents();
    TPaintLog View, Readout;
    Dst()->installEventFilter(&View);
    ssaValue()->installEventFilter(&Readout);
    int Changes = 0;
    ssaValue()->OnValueChange = [&](TiSevenSegmentDisplay*) { ++Changes; };
    // A frame longer than the test: after the first reading is shown, the
    // rest all fall into the frame that follows.
    Internals::FFrameIntervalMs(*Window) = 60000;
    Window->FlushFrame();
    // Until the window is on screen and its first paints are done.
    Dst()->update();
    for (int I = 0; I < 500 && View.Paints == 0; ++I) {
        QEventLoop Pause;
        QTimer::singleShot(10, &Pause, &QEventLoop::quit);
        Pause.exec();
    }
    for (int I = 0; I < 5; ++I)
        QCoreApplication::processEvents();
    // The log's lines wait for the same frame.
    TMemoView* Memo = Control<TMemoView>(*Window, "Memo1");
    TPaintLog Log, Bars[2];
    Memo->viewport()->installEventFilter(&Log);
    Memo->verticalScrollBar()->installEventFilter(&Bars[0]);
    Memo->horizontalScrollBar()->installEventFilter(&Bars[1]);
    const int Rows = Memo->RowCount();
    const int ViewBefore = View.Paints, ReadoutBefore = Readout.Paints;
    for (int I = 1; I <= 20; ++I) {
        Window->ShowAnswer("V:" + std::to_string(1000 + I));
        Window->ShowReading(I * 1.5);
        Window->DrawNeedle(I * 4.0f);
        QCoreApplication::processEvents(); // as between two receive events
    }
    EXPECT_EQ(View.Paints, ViewBefore);
    EXPECT_EQ(Readout.Paints, ReadoutBefore);
    EXPECT_EQ(Log.Paints, 0);
    EXPECT_EQ(Memo->RowCount(), Rows);
    EXPECT_EQ(Changes, 20);
    EXPECT_EQ(ssaValue()->Value(), 30.0);
    TBitmap32 Latest;
    Latest.Assign(Dst()->Bitmap());
    Window->DrawNeedle(80.0f);
    const TBitmap32& Now = *Dst()->Bitmap();
    EXPECT_TRUE(
        std::equal(Now.Bits(), Now.Bits() + size_t(Now.Width()) * Now.Height(), Latest.Bits()))
        << "the needle's bitmap is that of the last reading";

    Window->FlushFrame();
    QCoreApplication::processEvents();
    EXPECT_EQ(View.Paints, ViewBefore + 1);
    EXPECT_EQ(Readout.Paints, ReadoutBefore + 1);
    EXPECT_EQ(Log.Paints, 1);
    EXPECT_EQ(Memo->RowCount(), Rows + 20);
    // The readout over the view does not cut the view's paint area apart.
    EXPECT_EQ(View.MostRects, 1);
    ssaValue()->OnValueChange = nullptr;

    // Streaming on, the log's bars repaint only when they look otherwise: the
    // lines keep their width, and once the slider is at its least length at
    // the end, a longer log changes nothing on screen.
    int VerticalLate = 0;
    for (int Frame = 0; Frame < 40; ++Frame) {
        const int Before = Bars[0].Paints;
        for (int I = 0; I < 20; ++I)
            Window->ShowAnswer("V:" + std::to_string(2000 + I));
        Window->FlushFrame();
        QCoreApplication::processEvents();
        QCoreApplication::processEvents(); // the scroll area's queued reactions
        if (Frame >= 20) VerticalLate += Bars[0].Paints - Before;
    }
    EXPECT_EQ(Log.Paints, 41);
    EXPECT_EQ(Bars[1].Paints, 0);
    EXPECT_EQ(VerticalLate, 0);
    EXPECT_EQ(Memo->verticalScrollBar()->value(), Memo->verticalScrollBar()->maximum());
}

// A change inside the frame interval waits for the next change past it, or,
// when none comes, shows by itself half an interval after it was due; a
// change past the interval shows with the next turn of the event loop.
TEST_F(GaugeTest, AChangeInsideTheFrameIntervalShowsByItselfAndOnePastItAtOnce) {
    TPaintLog Readout;
    ssaValue()->installEventFilter(&Readout);
    Readout.WaitForPaint(ssaValue());
    constexpr int Interval = 150;
    Internals::FFrameIntervalMs(*Window) = Interval;
    Window->FlushFrame();
    QElapsedTimer SinceFrame;
    SinceFrame.start();
    const int Before = Readout.Paints;
    Window->ShowReading(12.5);
    for (int I = 0; I < 500 && Readout.Paints == Before; ++I) {
        QEventLoop Pause;
        QTimer::singleShot(10, &Pause, &QEventLoop::quit);
        Pause.exec();
    }
    ASSERT_EQ(Readout.Paints, Before + 1) << "the lone change was never shown";
    EXPECT_GE(SinceFrame.elapsed(), Interval);

    QEventLoop Pause;
    QTimer::singleShot(Interval + 20, &Pause, &QEventLoop::quit);
    Pause.exec();
    Window->ShowReading(-3.25);
    for (int I = 0; I < 5; ++I)
        QCoreApplication::processEvents();
    EXPECT_EQ(Readout.Paints, Before + 2);
}

TEST_F(GaugeTest, AGrabBeforeTheFrameShowsTheLatestNeedleAndTheFrameRepaintsOnlyAChange) {
    Internals::FFrameIntervalMs(*Window) = 60000;
    TPaintLog View;
    Dst()->installEventFilter(&View);
    View.WaitForPaint(Dst());
    for (float Angle : {-60.0f, 95.0f})
        Window->DrawNeedle(Angle);
    Dst()->grab();
    TBitmap32 Shown; // the view's picture, without the clip its last rebuild left
    Shown.Assign(Dst()->Buffer());
    Shown.ResetClipRect();
    EXPECT_GE(::NeedleInkAlong(Shown, 95), 8);
    EXPECT_EQ(::NeedleInkAlong(Shown, -60), 0);
    // The frame still shows the grabbed needle; the same again shows nothing new.
    for (int Paint : {1, 0}) {
        const int Paints = View.Paints;
        Window->ShowReading(0.01);
        Window->DrawNeedle(95);
        Window->FlushFrame();
        for (int I = 0; I < 5; ++I)
            QCoreApplication::processEvents();
        EXPECT_EQ(View.Paints, Paints + Paint);
    }
    EXPECT_TRUE(View.Last.contains(QPoint(Gauge::CentreX - 80, Gauge::CentreY)));
}

TEST_F(GaugeTest, AFrameRebuildsOnlyTheNeedlesPartOfTheViewAsAFullRebuildWould) {
    Internals::FFrameIntervalMs(*Window) = 60000;
    Window->FlushFrame();
    TPaintLog View;
    Dst()->installEventFilter(&View);
    View.WaitForPaint(Dst());
    const TRect ViewArea = Dst()->ViewRect();
    const auto Picture = [&] {
        std::vector<TColor32> Out;
        for (int Y = 0; Y < ViewArea.Bottom; ++Y)
            Out.insert(Out.end(), Dst()->Buffer()->PixelPtr(0, Y),
                       Dst()->Buffer()->PixelPtr(ViewArea.Right, Y));
        return Out;
    };
    for (float Angle : {10.0f, 95.0f, -60.0f, 170.0f, 171.0f}) {
        Window->ShowReading(Angle / 2);
        Window->DrawNeedle(Angle);
        Window->FlushFrame();
        const int Paints = View.Paints;
        for (int I = 0; I < 5 && View.Paints == Paints; ++I)
            QCoreApplication::processEvents();
        ASSERT_EQ(View.Paints, Paints + 1) << Angle;
        EXPECT_LT(View.Last.width() * View.Last.height(), ViewArea.Width() * ViewArea.Height() / 2)
            << Angle;
        const std::vector<TColor32> Partial = Picture();
        Dst()->SetBufferValid(false);
        Dst()->repaint();
        EXPECT_TRUE(Picture() == Partial) << Angle;
    }
}

TEST_F(GaugeTest, EachNeedleLeavesTheBitmapAsAFullClearAndRedrawWould) {
    // The needle is drawn over what is left of the last one; the result must
    // be the whole bitmap cleared and drawn again, also across dial loads of
    // another size (a small dial cuts the needle at the bitmap's edge).
    QTemporaryDir Work;
    ASSERT_TRUE(QDir(Work.path()).mkdir("img"));
    const std::string Img = Work.path().toStdString() + "/img/";
    for (const char* Name : {"Mode0.png", "arrow2.PNG"})
        ASSERT_TRUE(QFile::copy(QString(VORTA_SOURCE_DIR "/img/") + Name,
                                QString::fromStdString(Img + Name)));
    const int SmallW = 230, SmallH = 150;
    std::string Raw;
    for (int Y = 0; Y < SmallH; ++Y)
        Raw += '\0' + std::string(size_t(SmallW) * 4, '\x40');
    WriteAll(Img + "Small.png", pngtest::MakePng(pngtest::IhdrData(SmallW, SmallH, 8, 6), Raw));
    QDir::setCurrent(Work.path());

    TBitmap32 Expected;
    const auto Check = [&](float Angle, const char* Step) {
        TBitmap32& Needle = *Control<TImage32>(*Window, "Src")->Bitmap();
        const TBitmap32& Got = *Dst()->Bitmap();
        TAffineTransformation T;
        T.SetSrcRect(FloatRect(0, 0, float(Needle.Width()), float(Needle.Height())));
        T.Rotate(Gauge::PivotX, Gauge::PivotY, Angle);
        T.Translate(Gauge::NeedleShiftX, Gauge::NeedleShiftY);
        Expected.SetSize(Got.Width(), Got.Height());
        Expected.Clear(0xFFFFFFFF);
        TransformBitmap(&Expected, &Needle, &T);
        ASSERT_TRUE(std::equal(Got.Bits(), Got.Bits() + size_t(Got.Width()) * Got.Height(),
                               Expected.Bits()))
            << Step << " at " << Angle;
    };
    const float Angles[] = {0, 37.5f, 90, -90, 180, -179.9f, 45, 44.99f, 135, -45.3f, 0, 270, 3};
    for (const char* Dial : {"img/Mode0.png", "img/Small.png", "img/Mode0.png"}) {
        Window->LoadDial(Dial);
        Check(0, Dial);
        for (float A : Angles) {
            Window->DrawNeedle(A);
            Check(A, Dial);
        }
    }
    EXPECT_EQ(Dst()->Bitmap()->Width(), Gauge::DialWidth);
}

TEST_F(GaugeTest, ReplacingTheDialKeepsOneLayer) {
    for (const char* Dial : {"img/Mode1.png", "img/Mode2.png", "img\\mode1.png", "img/Mode3.png"})
        Window->LoadDial(Dial);
    EXPECT_EQ(Dst()->LayerList()->Count(), 1);
    Window->DrawNeedle(45);
    Window->LoadDial("img/Mode0.png");
    EXPECT_GE(NeedleInkAlong(0), 10); // a dial load puts the needle back to 0
}

TEST_F(GaugeTest, AnOddWidthDialLosesItsLastColumnThroughTheStretch) {
    auto* Layer = dynamic_cast<TPositionedLayer*>(Dst()->LayerList()->Items(0));
    ASSERT_NE(Layer, nullptr);
    const TFloatRect P = Layer->Placement();
    EXPECT_FLOAT_EQ(P.Left, -0.5f);
    EXPECT_FLOAT_EQ(P.Right, 402.5f);
    EXPECT_FLOAT_EQ(P.Top, 0.0f); // even height: nothing lost
    EXPECT_FLOAT_EQ(P.Bottom, 404.0f);
}

TEST_F(GaugeTest, AMissingDialIsAnErrorAndLeavesTheGaugeAsItWas) {
    Window->DrawNeedle(60);
    EXPECT_THROW(Window->LoadDial("img/NoSuchDial.png"), std::exception);
    EXPECT_EQ(Dst()->LayerList()->Count(), 1);
    EXPECT_GE(NeedleInkAlong(60), 10);
}

TEST_F(GaugeTest, PicturesThatAreNotWhatTheySeemAreRefusedPromptly) {
    // A FIFO named as the needle would block an ordinary open for ever; a
    // valid header of 4097 x 1 is past the console's size limit and is
    // refused before any image memory is taken. Either way the load fails
    // with its message and the gauge stays as it was.
    Window->DrawNeedle(60);
    QTemporaryDir Work;
    ASSERT_TRUE(QDir(Work.path()).mkdir("img"));
    const std::string Img = Work.path().toStdString() + "/img/";
    ASSERT_TRUE(
        QFile::copy(VORTA_SOURCE_DIR "/img/Mode0.png", QString::fromStdString(Img + "Mode0.png")));
    ASSERT_TRUE(QFile::copy(VORTA_SOURCE_DIR "/img/arrow2.PNG",
                            QString::fromStdString(Img + "arrow2.PNG")));
    WriteAll(Img + "Wide.png",
             pngtest::Signature + pngtest::Chunk("IHDR", pngtest::IhdrData(4097, 1, 8, 6)));
    QDir::setCurrent(Work.path());

    std::string Message;
    try {
        Window->LoadDial("img/Wide.png");
    } catch (const EPNGOutMemory& E) {
        Message = E.Message();
    }
    EXPECT_EQ(Message, pnglang::EPNGOutMemoryText);

    ASSERT_TRUE(QFile::remove(QString::fromStdString(Img + "arrow2.PNG")));
    ASSERT_EQ(mkfifo((Img + "arrow2.PNG").c_str(), 0600), 0);
    Message.clear();
    try {
        Window->LoadDial("img/Mode0.png");
    } catch (const EInOutError& E) {
        Message = E.Message();
    }
    EXPECT_EQ(Message, "Cannot open file \"img/arrow2.PNG\". Not a regular file");

    EXPECT_EQ(Dst()->LayerList()->Count(), 1);
    EXPECT_EQ(Dst()->Bitmap()->Width(), 403);
    EXPECT_GE(NeedleInkAlong(60), 10);
}

TEST(PictureNames, SeparatorAndCaseDoNotMatter) {
    const QString OldDir = QDir::currentPath();
    QDir::setCurrent(VORTA_SOURCE_DIR);
    EXPECT_EQ(ResolvePictureName("img\\mode1.png"), "img/Mode1.png");
    EXPECT_EQ(ResolvePictureName("IMG/ARROW2.png"), "img/arrow2.PNG");
    EXPECT_EQ(ResolvePictureName("img\\missing.png"), "img/missing.png");
    QDir::setCurrent(OldDir);
}
