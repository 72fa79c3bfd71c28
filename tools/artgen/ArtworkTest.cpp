// SPDX-License-Identifier: GPL-3.0-or-later
// Checks the committed gauge pictures against what the console's needle drawing relies on:
// sizes, a real alpha channel, a needle centred on its pivot, dials that are see-through
// wherever the needle can reach and carry their ticks at the needle's true angles.

#include "artwork.h"
#include "dialgeometry.h"
#include "icon.h"
#include "picturematch.h"

#include <QDir>
#include <QFile>
#include <QFontInfo>
#include <QGuiApplication>
#include <QImage>
#include <QXmlStreamReader>
#include <cmath>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace artgen;

namespace {

QImage loadPicture(const QString& name) {
    QImage img(QDir(QStringLiteral(VORTA_IMG_DIR)).filePath(name));
    return img.convertToFormat(QImage::Format_ARGB32);
}

int alphaAt(const QImage& img, int x, int y) {
    return qAlpha(img.pixel(x, y));
}

// Pixel under a point at distance radius along a needle angle.
QPoint pixelAt(double needleAngle, double radius) {
    const QPointF p = pointAtNeedleAngle(needleAngle, radius);
    return {int(std::floor(p.x())), int(std::floor(p.y()))};
}

int brightness(QRgb c) {
    return (qRed(c) + qGreen(c) + qBlue(c)) / 3;
}

} // namespace

TEST(NeedleGeometry, PositiveAnglesTurnCounterClockwise) {
    const QPointF up = pointAtNeedleAngle(0, 100);
    EXPECT_NEAR(up.x(), kCentreX + 0.5, 1e-9);
    EXPECT_NEAR(up.y(), kCentreY + 0.5 - 100, 1e-9);
    const QPointF left = pointAtNeedleAngle(90, 100);
    EXPECT_NEAR(left.x(), kCentreX + 0.5 - 100, 1e-9);
    EXPECT_NEAR(left.y(), kCentreY + 0.5, 1e-9);
    const QPointF right = pointAtNeedleAngle(-90, 100);
    EXPECT_NEAR(right.x(), kCentreX + 0.5 + 100, 1e-9);
}

TEST(NeedleGeometry, ModesZeroAndOneShowPositiveReadingsClockwise) {
    // Mode "0", reading 30: the console turns the needle by -30, i.e. right of the top.
    EXPECT_DOUBLE_EQ(needleAngleForReading(30, true), -30);
    EXPECT_GT(pointAtNeedleAngle(needleAngleForReading(30, true), 100).x(), kCentreX + 1);
    // Modes "2"/"3" keep the sign: reading 30 lies left of the top.
    EXPECT_DOUBLE_EQ(needleAngleForReading(30, false), 30);
    EXPECT_LT(pointAtNeedleAngle(needleAngleForReading(30, false), 100).x(), kCentreX);
}

TEST(ScaleLabels, FullCircleCountsZeroTo330) {
    EXPECT_EQ(scaleLabel(0, true), QStringLiteral("0"));
    EXPECT_EQ(scaleLabel(330, true), QStringLiteral("330"));
    EXPECT_EQ(scaleLabel(-30, true), QStringLiteral("330"));
    EXPECT_EQ(scaleLabel(360, true), QStringLiteral("0"));
    EXPECT_TRUE(scaleLabel(45, true).isEmpty());
}

TEST(ScaleLabels, PartialDialIsSignedAroundZero) {
    EXPECT_EQ(scaleLabel(0, false), QStringLiteral("0"));
    EXPECT_EQ(scaleLabel(30, false), QStringLiteral("+30"));
    EXPECT_EQ(scaleLabel(-90, false), QStringLiteral("\u221290"));
    EXPECT_EQ(scaleLabel(180, false), QStringLiteral("180"));
    EXPECT_EQ(scaleLabel(-180, false), QStringLiteral("180"));
    EXPECT_TRUE(scaleLabel(10, false).isEmpty());
}

TEST(DialChoice, EachModePairHasAFullAndAPartialDial) {
    const auto styles = dialStyles();
    ASSERT_EQ(styles.size(), 4u);
    EXPECT_EQ(styles[0].fileName, QStringLiteral("Mode0.png"));
    EXPECT_TRUE(styles[0].negatedMode && styles[0].fullCircle);
    EXPECT_EQ(styles[1].fileName, QStringLiteral("Mode1.png"));
    EXPECT_TRUE(styles[1].negatedMode && !styles[1].fullCircle);
    EXPECT_EQ(styles[2].fileName, QStringLiteral("Mode2.png"));
    EXPECT_TRUE(!styles[2].negatedMode && styles[2].fullCircle);
    EXPECT_EQ(styles[3].fileName, QStringLiteral("Mode3.png"));
    EXPECT_TRUE(!styles[3].negatedMode && !styles[3].fullCircle);
}

TEST(NeedlePicture, SizeAndAlpha) {
    const QImage n = loadPicture(QStringLiteral("arrow2.PNG"));
    ASSERT_FALSE(n.isNull()) << "img/arrow2.PNG missing";
    EXPECT_EQ(n.width(), kNeedleWidth);
    EXPECT_EQ(n.height(), kNeedleHeight);
    EXPECT_TRUE(n.hasAlphaChannel());
}

TEST(NeedlePicture, OutermostRingIsTransparent) {
    // The console clears this ring anyway so the resampler can fade the edges; nothing
    // visible may be drawn there.
    const QImage n = loadPicture(QStringLiteral("arrow2.PNG"));
    ASSERT_FALSE(n.isNull());
    for (int x = 0; x < n.width(); ++x) {
        EXPECT_EQ(alphaAt(n, x, 0), 0) << x;
        EXPECT_EQ(alphaAt(n, x, n.height() - 1), 0) << x;
    }
    for (int y = 0; y < n.height(); ++y) {
        EXPECT_EQ(alphaAt(n, 0, y), 0) << y;
        EXPECT_EQ(alphaAt(n, n.width() - 1, y), 0) << y;
    }
}

TEST(NeedlePicture, BladeRunsUpFromThePivotToTheTopRows) {
    const QImage n = loadPicture(QStringLiteral("arrow2.PNG"));
    ASSERT_FALSE(n.isNull());
    EXPECT_EQ(alphaAt(n, kPivotX, kPivotY), 255);
    int firstInkedRow = -1;
    for (int y = 0; y < n.height() && firstInkedRow < 0; ++y)
        for (int x = 0; x < n.width(); ++x)
            if (alphaAt(n, x, y) > 0) firstInkedRow = y;
    EXPECT_GE(firstInkedRow, 1);
    EXPECT_LE(firstInkedRow, 3);
    for (int y = kNeedleTipRow + 8; y < kPivotY; ++y)
        EXPECT_GT(alphaAt(n, kPivotX, y), 200) << "gap in the blade at row " << y;
    // Slim tip: only the middle columns are inked near the top.
    for (int x = 0; x < n.width(); ++x) {
        if (std::abs(x - kPivotX) > 1) {
            EXPECT_EQ(alphaAt(n, x, kNeedleTipRow + 4), 0) << x;
        }
    }
}

TEST(NeedlePicture, IsMirrorSymmetricAboutThePivotColumn) {
    // An off-centre needle would wobble around the dial centre as it turns.
    const QImage n = loadPicture(QStringLiteral("arrow2.PNG"));
    ASSERT_FALSE(n.isNull());
    for (int y = 0; y < n.height(); ++y)
        for (int d = 1; d <= kPivotX; ++d)
            EXPECT_NEAR(alphaAt(n, kPivotX - d, y), alphaAt(n, kPivotX + d, y), 8)
                << "row " << y << " offset " << d;
}

class DialPicture : public testing::TestWithParam<int> {
  protected:
    DialStyle style() const { return dialStyles()[GetParam()]; }
    QImage dial() const { return loadPicture(style().fileName); }
};

TEST_P(DialPicture, SizeAndAlpha) {
    const QImage d = dial();
    ASSERT_FALSE(d.isNull()) << "missing " << qPrintable(style().fileName);
    EXPECT_EQ(d.width(), kDialWidth);
    EXPECT_EQ(d.height(), kDialHeight);
    EXPECT_TRUE(d.hasAlphaChannel());
}

TEST_P(DialPicture, TransparentWhereverTheNeedleReaches) {
    const QImage d = dial();
    ASSERT_FALSE(d.isNull());
    const double reach = kPivotY - kNeedleTipRow + 1.5; // tip row plus the resampler's fringe
    for (int y = 0; y < d.height(); ++y)
        for (int x = 0; x < d.width(); ++x) {
            const double dx = x - kCentreX, dy = y - kCentreY;
            if (dx * dx + dy * dy <= reach * reach) {
                ASSERT_EQ(alphaAt(d, x, y), 0) << "at " << x << "," << y;
            }
        }
}

TEST_P(DialPicture, ReadoutBoxIsLeftClear) {
    const QImage d = dial();
    ASSERT_FALSE(d.isNull());
    for (int y = kReadoutTop; y <= kReadoutBottom; ++y)
        for (int x = kReadoutLeft; x <= kReadoutRight; ++x)
            ASSERT_EQ(alphaAt(d, x, y), 0) << "at " << x << "," << y;
}

TEST_P(DialPicture, BezelIsOpaqueAllRound) {
    const QImage d = dial();
    ASSERT_FALSE(d.isNull());
    for (int a = 0; a < 360; a += 3) {
        const QPoint face = pixelAt(a, kScaleRadius + 30);
        const QPoint rim = pixelAt(a, kBezelOuterRadius - 5);
        EXPECT_EQ(alphaAt(d, face.x(), face.y()), 255) << "face at " << a;
        EXPECT_EQ(alphaAt(d, rim.x(), rim.y()), 255) << "bezel at " << a;
    }
}

TEST_P(DialPicture, MajorTicksSitAtTheirTrueAngles) {
    const QImage d = dial();
    ASSERT_FALSE(d.isNull());
    // Past the coloured band, so only tick ink is dark at this radius.
    const double r = kScaleRadius + 9.5;
    for (int a = 0; a < 360; a += 30) {
        const QPoint on = pixelAt(a, r);
        EXPECT_LT(brightness(d.pixel(on)), 90) << "no major tick at needle angle " << a;
        const QPoint between = pixelAt(a + 2.5, r);
        EXPECT_GT(brightness(d.pixel(between)), 200) << "ink between ticks at " << a + 2.5;
    }
}

// The committed pictures against a fresh drawing. QPainter and the C library's maths are
// not bit-identical across processors, so "the same" is the rule of picturematch.h: every
// channel within 1 and at most 16 pixels different. The generator keeps a committed file
// under the same rule, so a rerun elsewhere does not change it.
TEST_P(DialPicture, CommittedPictureIsWhatTheGeneratorDraws) {
    // The fonts decide the label pixels; on a system without the dial font the comparison
    // would only measure font differences.
    for (const QString& family :
         {QStringLiteral("DejaVu Sans"), QStringLiteral("DejaVu Sans Condensed")})
        if (QFontInfo(QFont(family)).family() != family)
            GTEST_SKIP() << family.toStdString() << " not installed (fonts-dejavu-extra)";
    const QImage d = dial();
    ASSERT_FALSE(d.isNull());
    const PictureDifference diff = comparePictures(d, drawDial(style()));
    EXPECT_TRUE(picturesMatch(diff)) << diff.differingPixels << " pixels differ, by up to "
                                     << diff.largestStep << "; rerun vorta-artgen on img/";
}

INSTANTIATE_TEST_SUITE_P(AllDials, DialPicture, testing::Range(0, 4));

TEST(NeedlePicture, CommittedPictureIsWhatTheGeneratorDraws) {
    const QImage n = loadPicture(QStringLiteral("arrow2.PNG"));
    ASSERT_FALSE(n.isNull());
    const PictureDifference diff = comparePictures(n, drawNeedle());
    EXPECT_TRUE(picturesMatch(diff)) << diff.differingPixels << " pixels differ, by up to "
                                     << diff.largestStep << "; rerun vorta-artgen on img/";
}

TEST(PictureMatch, RoundingNoiseMatchesAndRealChangesDoNot) {
    // The rule of picturematch.h: every channel within 1, at most 16 pixels off.
    QImage base(40, 30, QImage::Format_ARGB32);
    base.fill(qRgba(10, 200, 30, 128));
    auto nudged = [&](int pixels, int step, int shift) {
        QImage img = base.copy();
        auto* bits = reinterpret_cast<QRgb*>(img.bits());
        for (int i = 0; i < pixels; ++i)
            bits[i * 7] += QRgb(step) << shift;
        return img;
    };
    EXPECT_TRUE(picturesMatch(base, base));
    EXPECT_TRUE(picturesMatch(base, nudged(16, 1, 0)));
    EXPECT_TRUE(picturesMatch(nudged(16, 1, 24), base));
    EXPECT_FALSE(picturesMatch(base, nudged(17, 1, 8)));
    EXPECT_FALSE(picturesMatch(base, nudged(1, 2, 16)));
    EXPECT_FALSE(picturesMatch(base, base.copy(0, 0, 40, 29)));
    // Another format of the same pixels is the same picture.
    EXPECT_TRUE(picturesMatch(base, base.convertToFormat(QImage::Format_RGBA8888)));
}

TEST(PictureMatch, RedrawingKeepsAMatchingFileAndReplacesAChangedOne) {
    const QString dir = QDir::temp().filePath(QStringLiteral("artgen_keep_%1").arg(getpid()));
    ASSERT_TRUE(QDir().mkpath(dir));
    const QString path = QDir(dir).filePath(QStringLiteral("arrow2.PNG"));
    QImage committed = drawNeedle();
    committed.setPixel(12, 60, committed.pixel(12, 60) ^ 1); // one step in blue
    ASSERT_TRUE(committed.save(path, "PNG"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray before = file.readAll();
    file.close();

    EXPECT_EQ(savePictureUnlessSame(drawNeedle(), path), SaveResult::Kept);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), before);
    file.close();

    committed.setPixel(12, 61, qRgba(0, 0, 255, 255));
    ASSERT_TRUE(committed.save(path, "PNG"));
    EXPECT_EQ(savePictureUnlessSame(drawNeedle(), path), SaveResult::Written);
    EXPECT_TRUE(QImage(path).convertToFormat(QImage::Format_ARGB32) == drawNeedle());
    QDir(dir).removeRecursively();
}

// The icon reads as the console's gauge at the sizes where a needle can be made out: a red
// needle right of the top (as a reading would put it) with the face bare on the mirrored
// side, the green band across the top and red ends on both sides.
TEST(IconPicture, NeedleAndRangeBandSitWhereAGaugeHasThem) {
    for (int size : iconSizes()) {
        const QImage icon = drawIcon(size);
        ASSERT_EQ(icon.size(), QSize(size, size));
        EXPECT_EQ(qAlpha(icon.pixel(0, 0)), 0) << size;
        EXPECT_EQ(qAlpha(icon.pixel(size - 1, size - 1)), 0) << size;
        EXPECT_EQ(qAlpha(icon.pixel(size / 2, size / 2)), 255) << size;
        if (size < 64) continue;
        // Canvas units (256 per side) at a needle angle, to a pixel of this size.
        const auto px = [&](double needleAngle, double radius) {
            const double a = needleAngle * M_PI / 180.0, k = size / double(kIconCanvas);
            return icon.pixel(int((128 - radius * std::sin(a)) * k),
                              int((128 - radius * std::cos(a)) * k));
        };
        const QRgb needle = px(-40, 45), face = px(40, 45);
        EXPECT_TRUE(qRed(needle) > 170 && qGreen(needle) < 90) << size << std::hex << needle;
        EXPECT_GT(brightness(face), 220) << size << std::hex << face;
        const QRgb top = px(0, 92), left = px(115, 92), right = px(-115, 92);
        EXPECT_TRUE(qGreen(top) > 120 && qRed(top) < 90) << size << std::hex << top;
        for (QRgb end : {left, right})
            EXPECT_TRUE(qRed(end) > 160 && qGreen(end) < 90) << size << std::hex << end;
    }
}

TEST(IconPicture, SvgIsAWellFormedSquareDocument) {
    QXmlStreamReader xml(iconSvg());
    ASSERT_TRUE(xml.readNextStartElement());
    EXPECT_EQ(xml.name(), QStringLiteral("svg"));
    EXPECT_EQ(xml.attributes().value(QStringLiteral("viewBox")), QStringLiteral("0 0 256 256"));
    int paths = 0;
    while (xml.readNextStartElement()) {
        EXPECT_EQ(xml.name(), QStringLiteral("path"));
        EXPECT_FALSE(xml.attributes().value(QStringLiteral("d")).isEmpty());
        ++paths;
        xml.skipCurrentElement();
    }
    EXPECT_FALSE(xml.hasError()) << qPrintable(xml.errorString());
    EXPECT_GT(paths, 10);
}

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
