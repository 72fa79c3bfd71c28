// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// When a drawn picture counts as the same as a committed one.
//
// The pictures are drawn through QPainter (antialiased edges, gradients, text) and the C
// library's trigonometry. Neither is bit-identical across processors: the same build on
// another x86-64 machine was seen to move a handful of edge pixels by one step in one
// channel. So two pictures match when they have the same size and, after conversion to
// ARGB32, no channel of any pixel differs by more than kChannelTolerance and at most
// kMaxDifferingPixels pixels differ at all. A real change of the artwork (a moved tick,
// another colour, a new label) changes far more pixels or far more than one step.

#include <QFileInfo>
#include <QImage>

#include <cstdlib>

namespace artgen {

constexpr int kChannelTolerance = 1;
constexpr int kMaxDifferingPixels = 16;

struct PictureDifference {
    bool sameSize = false;
    int differingPixels = 0; // pixels with any channel different
    int largestStep = 0;     // largest difference of one channel, 0..255
};

inline PictureDifference comparePictures(const QImage& a, const QImage& b) {
    PictureDifference d;
    if (a.size() != b.size()) return d;
    d.sameSize = true;
    const QImage x = a.convertToFormat(QImage::Format_ARGB32);
    const QImage y = b.convertToFormat(QImage::Format_ARGB32);
    for (int row = 0; row < x.height(); ++row) {
        const auto* p = reinterpret_cast<const QRgb*>(x.constScanLine(row));
        const auto* q = reinterpret_cast<const QRgb*>(y.constScanLine(row));
        for (int col = 0; col < x.width(); ++col) {
            if (p[col] == q[col]) continue;
            ++d.differingPixels;
            for (int shift = 0; shift < 32; shift += 8) {
                const int step =
                    std::abs(int((p[col] >> shift) & 0xFF) - int((q[col] >> shift) & 0xFF));
                if (step > d.largestStep) d.largestStep = step;
            }
        }
    }
    return d;
}

inline bool picturesMatch(const PictureDifference& d) {
    return d.sameSize && d.largestStep <= kChannelTolerance &&
           d.differingPixels <= kMaxDifferingPixels;
}

inline bool picturesMatch(const QImage& a, const QImage& b) {
    return picturesMatch(comparePictures(a, b));
}

enum class SaveResult { Kept, Written, Failed };

// Writes picture as a PNG file at path unless a picture already there matches it: then the
// file is left as it is, so that drawing the pictures again on another machine does not
// change the committed files for differences that are only rounding.
inline SaveResult savePictureUnlessSame(const QImage& picture, const QString& path) {
    if (QFileInfo(path).isFile() && picturesMatch(QImage(path), picture)) return SaveResult::Kept;
    return picture.save(path, "PNG") ? SaveResult::Written : SaveResult::Failed;
}

} // namespace artgen
