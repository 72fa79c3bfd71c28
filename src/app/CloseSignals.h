// SPDX-License-Identifier: GPL-3.0-or-later
// SIGTERM, SIGINT and SIGHUP as a request to close, handed to the
// user-interface thread: a session that ends, a service stop or Ctrl+C in a
// terminal must end the console as its Close button does (settings saved,
// the recording closed with its last rows), not in the middle of a row.
//
// The signal handler only writes the signal's number into a pipe, which is
// async-signal-safe; a socket notifier on the pipe's other end calls
// OnSignal from the event loop. A second signal arriving after the first
// ends the program at once, by the signal's default action: closing that
// hangs must not make the program unkillable by the usual means. A signal
// ignored when the program started (nohup) stays ignored.
//
// One instance at a time, made and destroyed on the user-interface thread;
// destruction puts the previous actions back.
#pragma once

#include <QObject>

#include <csignal>
#include <functional>

class QSocketNotifier;

class TCloseSignals : public QObject {
  public:
    // Raises Exception when the pipe cannot be made or a handler not set.
    explicit TCloseSignals(std::function<void(int Signal)> OnSignal, QObject* Parent = nullptr);
    ~TCloseSignals() override;
    TCloseSignals(const TCloseSignals&) = delete;
    TCloseSignals& operator=(const TCloseSignals&) = delete;

    static constexpr int Signals[] = {SIGTERM, SIGINT, SIGHUP};

  private:
    void Drain();

    std::function<void(int Signal)> FOnSignal;
    QSocketNotifier* FNotifier = nullptr;
    int FPipe[2] = {-1, -1};
    struct sigaction FOld[3] = {};
    bool FHandled[3] = {};
};
