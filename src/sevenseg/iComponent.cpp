// SPDX-License-Identifier: GPL-3.0-or-later
#include "iComponent.h"

#include <QEvent>
#include <QImage>
#include <QPainter>
#include <QPalette>

#include <exception>

TiComponent::TiComponent(QWidget* Parent) : QWidget(Parent), FBackGroundColor(clBtnFace) {
    // Every pixel is painted by PaintContent: nothing needs erasing first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    FClock.start();
    FLastRepaintNs = FClock.nsecsElapsed();
    FFrameTimer.setSingleShot(true);
    FFrameTimer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&FFrameTimer, &QTimer::timeout, this, [this] {
        if (!FUpdating && (FChangePending || FBackGroundChangePending)) FrameRateGate();
    });
}

TiComponent::~TiComponent() = default;

void TiComponent::SetBackGroundColor(TColor Value) {
    if (FBackGroundColor == Value) return;
    FBackGroundColor = Value;
    BackGroundChange();
}

void TiComponent::SetBorderStyle(TiBevelStyle Value) {
    if (FBorderStyle == Value) return;
    FBorderStyle = Value;
    BackGroundChange();
}

void TiComponent::SetAutoFrameRate(bool Value) {
    if (FAutoFrameRate == Value) return;
    FAutoFrameRate = Value;
    if (!FUpdating && (FChangePending || FBackGroundChangePending)) FrameRateGate();
}

void TiComponent::SetUpdateFrameRate(int Value) {
    if (FUpdateFrameRate == Value) return;
    FUpdateFrameRate = Value;
    if (!FUpdating && (FChangePending || FBackGroundChangePending)) FrameRateGate();
}

void TiComponent::InvalidateChange() {
    FChangePending = true;
    if (FUpdating) return;
    FrameRateGate();
}

void TiComponent::BackGroundChange() {
    FBackGroundChanged = true;
    FBackGroundChangePending = true;
    if (FUpdating) return;
    FrameRateGate();
}

void TiComponent::BeginUpdate() {
    FUpdating = true;
}

void TiComponent::EndUpdate() {
    FUpdating = false;
    if (FChangePending || FBackGroundChangePending) FrameRateGate();
}

void TiComponent::FrameRateGate() {
    if (!FAutoFrameRate || FUpdateFrameRate <= 0) {
        RepaintNow();
        return;
    }
    // 64-bit arithmetic: a large rate must not overflow into a bogus interval.
    const qint64 interval = 1000000000LL / FUpdateFrameRate;
    const qint64 now = FClock.nsecsElapsed();
    if (FLastRepaintNs + interval < now) {
        RepaintNow();
        return;
    }
    if (!FFrameTimer.isActive()) {
        const qint64 waitNs = FLastRepaintNs + interval - now;
        FFrameTimer.start(int(waitNs / 1000000) + 1);
    }
}

void TiComponent::RepaintNow() {
    FChangePending = false;
    FBackGroundChangePending = false;
    FFrameTimer.stop();
    FLastRepaintNs = FClock.nsecsElapsed();
    InvalidateWindow();
}

void TiComponent::InvalidateWindow() {
    update();
}

void TiComponent::PaintBackground(QPainter& Canvas, TColor Color) {
    FBackGroundChanged = false;
    Canvas.fillRect(0, 0, width(), height(), ResolveColor(Color));
    PaintBorder(Canvas);
}

void TiComponent::PaintBorder(QPainter& Canvas) {
    if (FBorderStyle != ibsRaised && FBorderStyle != ibsLowered) return;
    const QPalette& pal = palette();
    const bool raised = FBorderStyle == ibsRaised;
    // Outer ring first, then inner; each ring draws its top-left sides and
    // then its bottom-right sides over the shared corners.
    const QColor topLeft[2] = {pal.color(raised ? QPalette::Midlight : QPalette::Dark),
                               pal.color(raised ? QPalette::Light : QPalette::Shadow)};
    const QColor bottomRight[2] = {pal.color(raised ? QPalette::Shadow : QPalette::Light),
                                   pal.color(raised ? QPalette::Dark : QPalette::Midlight)};
    const int w = width(), h = height();
    for (int i = 0; i < 2; ++i) {
        const int right = w - 1 - i, bottom = h - 1 - i;
        if (right < i || bottom < i) break;
        Canvas.fillRect(i, i, right - i, 1, topLeft[i]);
        Canvas.fillRect(i, i, 1, bottom - i, topLeft[i]);
        Canvas.fillRect(i, bottom, right - i + 1, 1, bottomRight[i]);
        Canvas.fillRect(right, i, 1, bottom - i + 1, bottomRight[i]);
    }
}

void TiComponent::paintEvent(QPaintEvent*) {
    if (width() <= 0 || height() <= 0) return;
    LockPaint();
    try {
        QImage buffer(width(), height(), QImage::Format_RGB32);
        if (!buffer.isNull()) {
            {
                QPainter canvas(&buffer);
                canvas.setBrush(Qt::SolidPattern);
                PaintContent(canvas);
            }
            QPainter(this).drawImage(0, 0, buffer);
        }
    } catch (const std::exception&) {
        // A failed paint leaves the window as it was; the next request
        // paints everything again from the current properties.
    }
    UnlockPaint();
}

void TiComponent::resizeEvent(QResizeEvent*) {
    BackGroundChange();
}

void TiComponent::moveEvent(QMoveEvent*) {
    BackGroundChange();
}

void TiComponent::changeEvent(QEvent* Event) {
    if (Event->type() == QEvent::PaletteChange) BackGroundChange();
    QWidget::changeEvent(Event);
}
