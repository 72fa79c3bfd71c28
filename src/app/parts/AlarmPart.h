// SPDX-License-Identifier: GPL-3.0-or-later
// Limits and alarms in the console: View > Limits… (TLimitsDialog), the
// limits kept in the program settings per port and ID, and what an alarm
// of the window's TAlarmWatcher does: the connection light's "ALARM" look,
// the recording's event rows, the publisher's PREFIX/<id>/alarm message,
// the plot's band and crossings, and a desktop notification where a session
// bus is available; and its end when the sensor goes. Values are degrees, as
// the readings'.
//
// User-interface thread only. The watcher, the session, the recording,
// the broker and the plot feed are the window's and outlive the part.
#pragma once

#include "Limits.h"

#include <QDialog>
#include <QString>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class QLabel;
class QLineEdit;
class TBrokerPart;
class TPlotFeed;
class TProgramSettings;
class TRecordingPart;
class TSensorSession;

// A sensor's limits: port and ID (the current sensor's to begin with), low
// and high (empty: none) and the hysteresis. OK sets them on the watcher;
// an entry that is no number or limits CheckLimits refuses are said in the
// dialog, which stays open, and nothing changes.
class TLimitsDialog : public QDialog {
  public:
    TLimitsDialog(QWidget* Parent, TAlarmWatcher& Alarms, const QString& Port, int Id);
    // What OK does: true when the limits were set (the dialog is then
    // accepted); else the reason is shown in lLimitError.
    bool Apply();
    QString Error() const;

  private:
    void ShowLimits(); // of the port and ID entered
    TAlarmWatcher& FAlarms;
    QLineEdit *ePort, *eId, *eLow, *eHigh, *eHysteresis;
    QLabel* lError;
};

class TAlarmPart {
  public:
    // Takes the watcher's OnAlarm and OnLimitsChanged.
    TAlarmPart(QWidget& Window, TSensorSession& Session, TAlarmWatcher& Alarms,
               TRecordingPart& Recording, TBrokerPart& Broker, TPlotFeed& Feed);
    ~TAlarmPart();
    TAlarmPart(const TAlarmPart&) = delete;
    TAlarmPart& operator=(const TAlarmPart&) = delete;

    // The light changed: the owner draws the lights anew (calling Light).
    std::function<void()> OnLightChanged;
    // A line for the status bar: an alarm, or why no desktop notification
    // could be given.
    std::function<void(const QString& Text)> OnStatus;
    // Limits in the settings file that were not taken, or a change that
    // could not be written there, with the reason.
    std::function<void(const std::string& Why)> OnError;

    // The limits kept in Kept ("Alarms/Limits"); from then on every change
    // of the watcher's limits is written to the settings file at once.
    void Load(const TProgramSettings& Kept);
    // View > Limits…, for the sensor Port and Id (-1: unknown).
    void AskLimits(const std::string& Port, int Id);
    // The connection light's look while an alarm of Port is raised: the
    // latest one's "ALARM <value>" and a tooltip naming every raised alarm
    // of the port. False when none is. An alarm whose sensor went has ended
    // (the watcher's Gone event) and shows no more.
    bool Light(const std::string& Port, QString& Text, QString& Tip) const;
    // The alarms standing on Port once more to the publisher (publishing
    // that starts while one is raised).
    void Republish(const std::string& Port);

  private:
    void Alarm(const TAlarmEvent& E);
    void LimitsChanged(const std::string& Port, int Id, const TLimits& L);
    void Notify(const TAlarmEvent& E, const QString& Body);

    QWidget& FWindow;
    TSensorSession& FSession;
    TAlarmWatcher& FAlarms;
    TRecordingPart& FRecording;
    TBrokerPart& FBroker;
    TPlotFeed& FFeed;
    // Every sensor's active limits, as written to the settings file.
    std::map<std::pair<std::string, int>, TLimits> FKept;
    bool FLoaded = false;
    std::vector<TAlarmEvent> FRaised; // the raising events, oldest first
};

// The limits' text in the settings file and back: "low|high|hysteresis|id|port"
// with empty bounds for none (the port last: it may hold any character). FromKeptText throws
// ELimitsError naming what is wrong with a text.
QString KeptLimitsText(const std::string& Port, int Id, const TLimits& L);
void FromKeptText(const QString& Text, std::string& Port, int& Id, TLimits& L);
