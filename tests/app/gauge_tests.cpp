// The needle and dial as the operator sees them: pixels of the view's
// bitmap and of the window, with the real pictures from img/.
#include "Dialogs.h"
#include "GaugeProbe.h"
#include "GR32.h"
#include "GR32_Image.h"
#include "GR32_Layers.h"
#include "PictureNames.h"
#include "UVORTA_Display.h"
#include "iSevenSegmentAnalog.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include <memory>

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
    int NeedleInkAlong(float DegreesCcw) { return ::NeedleInkAlong(*Window->Dst->Bitmap(), DegreesCcw); }
    QString OldDir;
    QTemporaryDir Dir;
    std::unique_ptr<TFKAVRO> Window;
};

} // namespace

TEST_F(GaugeTest, FirstShowLoadsTheFullCircleDialAndTheNeedleAtZero) {
    ASSERT_EQ(Window->Dst->Bitmap()->Width(), 403);
    ASSERT_EQ(Window->Dst->Bitmap()->Height(), 404);
    EXPECT_EQ(Window->Dst->LayerList()->Count(), 1);
    EXPECT_GE(NeedleInkAlong(0), 10);
    EXPECT_EQ(NeedleInkAlong(90), 0);
    EXPECT_EQ(Window->Dst->Bitmap()->Pixel(5, 5), 0xFFFFFFFFu); // white under the needle
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

TEST_F(GaugeTest, ReplacingTheDialKeepsOneLayer) {
    for (const char* Dial : {"img/Mode1.png", "img/Mode2.png", "img\\mode1.png", "img/Mode3.png"})
        Window->LoadDial(Dial);
    EXPECT_EQ(Window->Dst->LayerList()->Count(), 1);
    Window->DrawNeedle(45);
    Window->LoadDial("img/Mode0.png");
    EXPECT_GE(NeedleInkAlong(0), 10); // a dial load puts the needle back to 0
}

TEST_F(GaugeTest, AnOddWidthDialLosesItsLastColumnThroughTheStretch) {
    auto* Layer = dynamic_cast<TPositionedLayer*>(Window->Dst->LayerList()->Items(0));
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
    EXPECT_EQ(Window->Dst->LayerList()->Count(), 1);
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
