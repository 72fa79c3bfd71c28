// SPDX-License-Identifier: GPL-3.0-or-later
// The console's only way of waiting: the full time passes while the event
// loop keeps running, so answers, clicks and repaints are handled meanwhile.
// The wait sleeps in the event loop; it never spins a core.
#pragma once

#include "SysUtils.h"

#include <functional>

// Raised by PumpWait when the window began to close during the wait: the
// running command is abandoned quietly (the application's exception handler
// ignores it), so no handler goes on touching a window that is going away.
class EAbort : public Exception {
  public:
    EAbort() : Exception("Operation aborted") {}
};

// Waits Milliseconds (at least one pass of message processing), then returns.
// Raises EAbort when the application is quitting or the window closed.
void PumpWait(int Milliseconds);

// Waits at most Milliseconds, returning as soon as Done holds; Done is asked
// after each batch of events the loop handled (a port's data, a timer, a
// signal's notifier), so the thread sleeps in between. Returns Done().
// Raises EAbort as PumpWait does.
bool PumpWaitFor(int Milliseconds, const std::function<bool()>& Done);

// Makes every running and future PumpWait raise EAbort (window closing).
void AbortWaits();
// Lets waits run again (a new window).
void ResetWaits();
