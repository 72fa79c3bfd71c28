// SPDX-License-Identifier: GPL-3.0-or-later
// Base of the self-drawing display controls: an opaque widget that paints
// itself whole into an off-screen image and copies it to the screen in one
// step, with one repaint gate that can be suspended (BeginUpdate/EndUpdate)
// or limited to a frame rate.
//
// Everything here runs on the user-interface thread only.
#pragma once

#include "Colors.h"

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <string>

class QPainter;

enum TiBevelStyle { ibsNone = 0, ibsRaised = 1, ibsLowered = 2 };

class TiComponent : public QWidget {
  public:
    // Consulted by value properties before they change; clearing Allow
    // refuses the change.
    std::function<void(TiComponent* Sender, const std::string& PropertyName, bool& Allow)>
        BeforeChangeHook;
    // Called by value properties after they changed.
    std::function<void(TiComponent* Sender, const std::string& PropertyName)> AfterChangeHook;

    explicit TiComponent(QWidget* Parent = nullptr);
    ~TiComponent() override;

    TColor BackGroundColor() const { return FBackGroundColor; }
    virtual void SetBackGroundColor(TColor Value);
    TiBevelStyle BorderStyle() const { return FBorderStyle; }
    virtual void SetBorderStyle(TiBevelStyle Value);
    bool AutoFrameRate() const { return FAutoFrameRate; }
    void SetAutoFrameRate(bool Value);
    // Repaints per second while AutoFrameRate is on; 0 or less means no limit.
    int UpdateFrameRate() const { return FUpdateFrameRate; }
    void SetUpdateFrameRate(int Value);

    // Asks for a repaint through the gate: remembered while updates are
    // suspended, limited while AutoFrameRate is on, otherwise at once.
    void InvalidateChange();
    // As InvalidateChange, and marks the background as changed.
    virtual void BackGroundChange();
    // Suspends repaints. A flag, not a count: one EndUpdate ends any number
    // of BeginUpdate calls.
    virtual void BeginUpdate();
    // Resumes repaints; a change asked for meanwhile is passed on once.
    virtual void EndUpdate();
    // A repaint is asked for and not yet handed on (held by an update or
    // the frame-rate gate).
    bool ChangePending() const { return FChangePending || FBackGroundChangePending; }

    // True while the control's stored settings are being applied; size
    // recomputation is then left alone so the stored size survives.
    bool IsLoading() const { return FLoading; }
    void SetLoading(bool Value) { FLoading = Value; }

  protected:
    // Draws the whole control into Canvas, which covers the control's
    // rectangle at (0, 0). Called inside the paint lock.
    virtual void PaintContent(QPainter& Canvas) = 0;
    // Fills the whole control with Color, then draws the border.
    virtual void PaintBackground(QPainter& Canvas, TColor Color);
    // Two-pixel raised or sunken edge along the control's outer rows and
    // columns, or nothing for ibsNone.
    virtual void PaintBorder(QPainter& Canvas);
    virtual void LockPaint() = 0;
    virtual void UnlockPaint() = 0;
    // Hands one repaint request to the window system; requests that arrive
    // before the next paint are merged there.
    virtual void InvalidateWindow();

    QColor ResolveColor(TColor Color) const { return ColorToQColor(Color, palette()); }
    // Stores Value into Field and asks for a repaint when they differ.
    template <class T> void SetAndInvalidate(T& Field, T Value) {
        if (Field == Value) return;
        Field = Value;
        InvalidateChange();
    }

    void paintEvent(QPaintEvent* Event) override;
    void resizeEvent(QResizeEvent* Event) override;
    void moveEvent(QMoveEvent* Event) override;
    void changeEvent(QEvent* Event) override;

  private:
    void FrameRateGate();
    void RepaintNow();

    TColor FBackGroundColor;
    TiBevelStyle FBorderStyle = ibsNone;
    bool FAutoFrameRate = false;
    int FUpdateFrameRate = 60;
    bool FUpdating = false;
    bool FChangePending = false;
    bool FBackGroundChangePending = false;
    bool FBackGroundChanged = true;
    bool FLoading = false;
    // A monotonic clock, so that setting the wall clock back cannot hold
    // repaints for the length of the jump.
    QElapsedTimer FClock;
    qint64 FLastRepaintNs = 0;
    // Shows a change held back by the frame-rate gate once its interval has
    // passed, so the last value is never left unshown.
    QTimer FFrameTimer;
};
