// SPDX-License-Identifier: GPL-3.0-or-later
// Port > Scan for sensors...: the Angle Data request of every ID on a shared
// line, under a cancelable progress dialog, and the choice among the IDs
// that answered; then, when asked, the watch of them all: each polled in
// turn (TSensorSession::Watch) until stopped. User-interface thread only.
#pragma once

#include "SensorExchange.h"
#include "SensorSession.h"

#include <QDialog>
#include <QString>

#include <functional>
#include <utility>
#include <vector>

class QLabel;
class QLineEdit;
class QListWidget;
class QSpinBox;

// What the operator chose among the sensors found: the one the window shows
// (0: none), and whether to watch them all, a round every IntervalMs.
struct TScanChoice {
    int Id = 0;
    bool Watch = false;
    int IntervalMs = 200;
};

// Why IntervalMs is too short for Count sensors on the line (see
// TWatchPlan::LineMs), with the shortest that fits; "" when it is not.
QString WatchIntervalProblem(int IntervalMs, size_t Count);

// The IDs a scan found, each with its reading; the operator picks one, and
// may watch them all ("Watch these sensors") at an interval of their own.
class TScanResultDialog : public QDialog {
  public:
    TScanResultDialog(QWidget* Parent, const std::vector<std::pair<int, double>>& Found,
                      int IntervalMs = 200);
    TScanChoice Choice() const;

  private:
    void WatchClicked();
    QListWidget* FList;
    QSpinBox* FInterval;
    QLabel* FProblem;
    std::vector<std::pair<int, double>> FFound;
    bool FWatch = false;
};

// What a command, or a scan, gets while sensors are being watched.
constexpr const char* StopWatchingFirst =
    "Sensors are being watched: stop watching first (Port > Stop watching).";

class TScanPart : private TSessionObserver {
  public:
    // Window parents the dialogs; the chosen ID goes into IdEdit (the
    // window's Angle Data ID).
    TScanPart(QWidget& Window, TSensorSession& Session, QLineEdit* IdEdit);
    // Asks IDs 1 to 77 with ScanWait ms for each answer, while the port is
    // open and the operator does not cancel; a watch chosen then runs until
    // it is stopped. The owner has checked the port.
    void Run();
    // Port > Watch sensors...: the choice over the last scan's sensors, and
    // the watch when chosen; says so when no scan found any.
    void WatchFound();
    // Polls Ids in turn, a round every IntervalMs, until StopWatching, the
    // #STOP button (the session's stop flag), the port closing or the window
    // closing; only Lead's readings are the window's to show (OnWatch).
    // Returns at once while a watch runs.
    void Watch(const std::vector<int>& Ids, int Lead, int IntervalMs);
    void StopWatching();
    bool Watching() const { return FWatching; }
    // While watching: tells the operator to stop watching first and returns
    // true. A command sent meanwhile would go to every sensor of the line
    // (#READ sets the first one streaming) and its answer be taken for a
    // watched reading; a scan would interleave with the watch's requests.
    bool RefusedWhileWatching() const;
    const std::vector<std::pair<int, double>>& LastFound() const { return FFound; }

    int ScanWait = TSensorExchange::ScanWait;
    // Shows the found IDs and returns the choice. Tests replace it; the
    // default runs a TScanResultDialog.
    std::function<TScanChoice(const std::vector<std::pair<int, double>>& Found)>
        ChooseScannedSensor;
    // A watch of Ids begins, Lead the sensor the window shows; told again
    // with no Ids and Lead -1 when it ends.
    std::function<void(const std::vector<int>& Ids, int Lead)> OnWatch;
    // What the watch has to say: to the status bar, and to the recording,
    // with the ID of the sensor it is about (-1: the watch as a whole).
    std::function<void(const QString& Text)> OnStatus;
    std::function<void(const std::string& Text, int Id)> OnEvent;

  private:
    void Choose();
    void Tell(const QString& Text);
    void SensorStale(int Id) override;
    void SensorBack(int Id) override;

    QWidget& FWindow;
    TSensorSession& FSession;
    QLineEdit* FIdEdit;
    std::vector<std::pair<int, double>> FFound;
    int FIntervalMs = 200;
    bool FWatching = false;
    bool FStopAsked = false; // a stop before the watch's first request
};
