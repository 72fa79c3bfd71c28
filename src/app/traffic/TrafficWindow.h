// SPDX-License-Identifier: GPL-3.0-or-later
// The traffic window (View > Traffic): every line received, every command
// sent and the session's events, each with its time, direction and port, as
// text or as hex beside ASCII of the bytes as they went over the wire. A
// window of its own beside the console, resizable.
//
// It costs nothing while closed: it observes the session only while shown,
// so nothing is kept or formatted while it is hidden (an event line tells
// the gap when it is shown again). Entries go into a TTrafficLog as they
// happen and reach the view once per display frame. Paused, the view stands
// still while what arrives is still kept (within the log's bounds) and shown
// on resume; the window says how many lines wait. The filter and the search
// choose the entries shown; both saves write the entries shown.
//
// User-interface thread only. Session must outlive the window.
#pragma once

#include "SensorSession.h"
#include "TrafficLog.h"

#include <QTimer>
#include <QWidget>

#include <memory>
#include <string>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class TMemoView;

class TTrafficWindow : public QWidget {
  public:
    // Hidden; a window of its own that goes with Parent.
    TTrafficWindow(QWidget* Parent, TSensorSession& Session);
    ~TTrafficWindow() override;

    // Shows the window (beside its parent the first time), raises and
    // activates it.
    void ShowTraffic();

    void SetPaused(bool Value);
    bool Paused() const { return FPaused; }
    // Empties the log and the view.
    void ClearTraffic();
    // The entries shown, as the view shows them (text) or as rows of the
    // recording under its header (CSV). EInOutError when the file cannot be
    // written; an old file at Path stays as it was then.
    void SaveText(const std::string& Path);
    void SaveCsv(const std::string& Path);

    const TTrafficLog& Log() const { return FLog; }
    static constexpr int FrameMs = 16;
    // How long a received line ended by CR waits for its LF.
    static constexpr int LfWaitMs = 50;

  protected:
    void showEvent(QShowEvent* Event) override;
    void hideEvent(QHideEvent* Event) override;

  private:
    class TObserver;
    friend class TObserver;

    // The entry of a line or command being told; complete once its events
    // were told (they come together), so it goes to the log with the next
    // entry or the next frame.
    void Begin(TTrafficEntry E);
    void Commit();
    void AddEvent(const std::string& Text);
    void Frame();
    void Rebuild();
    void AppendShown(uint64_t From, uint64_t To);
    bool Wanted(const TTrafficEntry& E, std::vector<std::string>& Rows) const;
    void UpdateStatus();
    void Save(bool Csv);

    TSensorSession& FSession;
    std::unique_ptr<TObserver> FObserver;
    TTrafficLog FLog;
    TTrafficEntry FMaking;
    bool FHaveMaking = false;
    uint64_t FShownEnd = 0; // entries before this have been offered to the view
    bool FPaused = false;
    bool FPlaced = false;
    bool FWatching = false;
    std::chrono::system_clock::time_point FHiddenSince;
    bool FWasHidden = false;
    QTimer FFrame;

    QCheckBox* cbReadings;
    QCheckBox* cbAnswers;
    QCheckBox* cbSent;
    QCheckBox* cbEvents;
    QCheckBox* cbHex;
    QLineEdit* eFind;
    QPushButton* btPause;
    QPushButton* btClear;
    QPushButton* btSaveText;
    QPushButton* btSaveCsv;
    QLabel* lStatus;
    TMemoView* mTraffic;
};
