// SPDX-License-Identifier: GPL-3.0-or-later
// The port list that follows the cables, the ports used recently, and
// reconnecting by itself after a hang-up: the device that hung up is opened
// again once it is back (a udev event, or its path seen gone and present
// again; a network port's server tried again).
//
// User-interface thread only. The port box is the window's; the part fills
// its list and leaves its text alone.
#pragma once

#include "SensorSession.h"
#include "VaPortWatcher.h"

#include <QStringList>

#include <functional>
#include <memory>
#include <string>

class QComboBox;
class QWidget;

class TPortsPart {
  public:
    static constexpr int RecentPortLimit = 8;

    // Window is the sender of the watcher's handlers (see RunHandler).
    TPortsPart(QWidget& Window, TSensorSession& Session, QComboBox* PortBox);
    TPortsPart(const TPortsPart&) = delete;
    TPortsPart& operator=(const TPortsPart&) = delete;

    // The recent ports or the automatic reconnection changed: to be kept.
    std::function<void()> OnKeptChanged;
    // A reconnection has opened the port: the owner asks the sensor anew.
    std::function<void()> OnReopened;
    // True while the window closes: nothing is reopened then.
    std::function<bool()> Closing;

    // The present ports' names, only those that can be opened with TestOpen.
    static void ListSerialPorts(QStringList* List, bool TestOpen);
    static bool CanOpenPort(const std::string& Name);
    // The ports listed now, then the recent ports that can be opened now and
    // are not listed yet (pseudo-terminals, links); the box's text stays.
    void Refresh();
    // Starts following the ports plugged in and out (after the first frame:
    // listing costs more than drawing the window); a hang-up before it is
    // waited for now.
    void CreateWatcher();
    // The port the operator connected to, first of the recent ones.
    void Remember(const QString& Port);
    const QStringList& RecentPorts() const { return FRecentPorts; }
    void SetRecentPorts(const QStringList& Ports); // as kept

    // Off by default.
    bool AutoReconnect() const { return FAutoReconnect; }
    void SetAutoReconnect(bool On);
    // A "#READ" stream answered, or "#STOP" sent: a reconnection restarts
    // a stream that was running.
    bool StreamRunning() const { return FStreamRunning; }
    void NoteStream(bool Running) { FStreamRunning = Running; }

    // The port hung up and has not been opened again, nor disconnected.
    bool Lost() const { return FLost; }
    // The port's open event: true when it is the device that hung up, back.
    bool NoteOpened(const std::string& Path);
    // A hang-up: MarkLost before the port is closed, PortLost after.
    void MarkLost() { FLost = true; }
    void PortLost();
    // Disconnect: nothing to come back to.
    void Forget();

  private:
    void PortPresence(bool Present);
    void Reconnect();

    QWidget& FWindow;
    TSensorSession& FSession;
    QComboBox* FPortBox;
    QStringList FRecentPorts;
    std::unique_ptr<TPortWatcher> FPortWatcher; // null until CreateWatcher
    bool FLost = false;                         // the port hung up; cleared by the next open
    bool FAutoReconnect = false;
    bool FStreamRunning = false;
    bool FReconnecting = false;
    std::string FLostPath; // the device that hung up, while it is waited for
    bool FLostSeenGone = false;
    int FNetTriesSkipped = 0; // presence ticks left out while a lost server does not answer
};
