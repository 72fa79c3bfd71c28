// SPDX-License-Identifier: GPL-3.0-or-later
// SIGINT, SIGTERM and SIGHUP reach the event loop through a pipe, so a
// command that runs until stopped ends by its ordinary path (a stream still
// quiets the sensor, a watcher still disconnects cleanly).
#pragma once

#include <QSocketNotifier>

#include <functional>
#include <memory>

class TStopSignals {
  public:
    // Calls OnStop on the event loop's thread once per signal; the handlers
    // are in place until this object goes.
    explicit TStopSignals(std::function<void()> OnStop);
    ~TStopSignals();
    TStopSignals(const TStopSignals&) = delete;
    TStopSignals& operator=(const TStopSignals&) = delete;

    // Ends like a signal (from anywhere, e.g. a closed output pipe).
    static void Raise();
    // No more OnStop calls; the handlers stay until destruction.
    void Disable();

  private:
    std::unique_ptr<QSocketNotifier> FNotifier;
};
