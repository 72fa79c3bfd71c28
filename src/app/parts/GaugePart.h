// SPDX-License-Identifier: GPL-3.0-or-later
// The gauge of the console's window: the dial, the needle drawn on it and the
// seven-segment readout over it, and the frames that bring them to the
// screen. It observes the session for the readings it shows.
//
// User-interface thread only. The widgets are children of the window's
// panels and go with them; the part holds no ownership of them.
#pragma once

#include "Colors.h"
#include "GR32.h"
#include "SensorSession.h"

#include <QtGlobal>

#include <future>
#include <memory>
#include <string>

class QTimer;
class QWidget;
class TBitmapLayer;
class TImage32;
class TMemoView;
class TiSevenSegmentAnalog;

// The gauge's pictures being decoded on worker threads (TGaugePart::Preload).
struct TDialPreload {
    std::string DialFile;
    std::future<std::unique_ptr<TBitmap32>> Needle, Dial;
};

class TGaugePart : public TSessionObserver {
  public:
    // Makes the needle and dial pictures (hidden, in ClientArea) and the
    // visible view (in Panel) with the readout on it, at the design's places.
    // Window tells the screen's refresh rate; Memo's new lines are shown with
    // the frames. Session gives the sensor's mode the needle turns by; the
    // owner adds the part to the session's observers.
    TGaugePart(QWidget& Window, QWidget* ClientArea, QWidget* Panel, TMemoView* Memo,
               TSensorSession& Session);
    ~TGaugePart() override;
    TGaugePart(const TGaugePart&) = delete;
    TGaugePart& operator=(const TGaugePart&) = delete;

    void ShowReading(double Value); // the readout's Value
    // Degrees, counter-clockwise positive. The needle is drawn into Dst's
    // bitmap once per display frame, at the latest angle only; whatever reads
    // the bitmap earlier (Dst->Bitmap(), a paint, a grab) has it drawn first,
    // so every reader sees the bitmap exactly as drawing each angle at once
    // would have left it.
    void DrawNeedle(float Angle);
    // The needle picture from img/ and the dial DialFile; raises the picture
    // reader's exceptions.
    // Ready, when it holds DialFile's pictures (see Preload), gives them
    // instead of the files: what a decoding raised is raised here as before.
    void LoadDial(const std::string& DialFile, TDialPreload* Ready = nullptr);
    // Starts decoding the needle picture and DialFile on worker threads, so
    // that the window builds its controls meanwhile and its first showing
    // only copies them. Any thread; the result is for the user-interface one.
    static TDialPreload Preload(const std::string& DialFile);
    // Readings change the readout's Value, the needle and the log at
    // once; the screen shows them at most once per display frame, all in one
    // paint, the first change after a quiet frame with the next turn of the
    // event loop, later ones with the frame that follows. FlushFrame shows a
    // pending change now.
    void FlushFrame();
    void ScheduleFrame();

    // A reading of the sensor on the port (not a scan's, and of a watch
    // WatchShownId's only) and a malformed frame (shown as 0; not during a
    // watch) turn the needle and set the readout.
    void Reading(const TReading& R) override;
    void Malformed(const std::string& Text) override;
    // The watched sensor the readout shows went stale: its last value stays,
    // in StaleColor, until its next reading brings back ReadoutColor. The
    // design's readout has no room for another control.
    void SensorStale(int Id) override;
    // No sensor is stale once the watch is over: what the readout shows
    // stands as the port's last reading.
    void WatchEnded();
    static constexpr TColor ReadoutColor = clLime;
    static constexpr TColor StaleColor = clGray;

    TImage32* Dst = nullptr;   // the visible dial: needle on white, dial layer above
    TImage32* Src = nullptr;   // the needle picture
    TImage32* ivBGR = nullptr; // the dial picture as loaded
    TiSevenSegmentAnalog* ssaValue = nullptr;
    int FFrameIntervalMs = 0; // when above 0, used instead of the screen's
    int WatchShownId = -1; // the watched sensor the window shows; 0 none chosen, -1 no watch runs
    bool FNeedlePending = false; // the next frame repaints the view's needle area

  private:
    bool ClearNeedle(); // Dst's bitmap to the background; true: only the last needle's area
    void PaintNeedle(); // draws the needle at FNeedleAngle into Dst's bitmap, if due
    int FrameIntervalMs() const;
    std::string SensorMode() const; // "" while unknown

    QWidget& FWindow;
    TMemoView* FMemo;
    TSensorSession& FSession;
    TBitmapLayer* FDialLayer = nullptr;
    QTimer* FFrameTimer = nullptr;
    qint64 FLastFrameMs = 0; // steady clock; 0: none yet
    bool FReadoutPending = false;
    float FNeedleAngle = 0;  // the latest DrawNeedle's
    bool FNeedleDue = false; // FNeedleAngle is not drawn yet
    // The view's area (view pixels) the needles drawn since the last frame
    // changed, for the frame's repaint; a paint in between (an exposure, a
    // grab) brings the view's buffer up to date but not the screen.
    TRect FScreenArea{0, 0, 0, 0};
    // Outside FNeedleArea, Dst's bitmap is all background as the last
    // drawing left it, so the next one clears only that area; inside it lies
    // the needle at FDrawnAngle. Kept for the bitmap's storage and size it was
    // taken on; anything else that changes the bitmap (a dial load) drops it,
    // and the next drawing clears it whole.
    float FDrawnAngle = 0;
    TRect FNeedleArea, FNeedleAreaBounds;
    const void* FNeedleAreaBits = nullptr;
    bool FNeedleAreaKnown = false;
};
