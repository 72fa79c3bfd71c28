// SPDX-License-Identifier: GPL-3.0-or-later
// The console's only way of waiting: the full time passes while the event
// loop keeps running, so answers, clicks and repaints are handled meanwhile.
// The wait sleeps in the event loop; it never spins a core.
#pragma once

#include "SysUtils.h"

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

// Makes every running and future PumpWait raise EAbort (window closing).
void AbortWaits();
// Lets waits run again (a new window).
void ResetWaits();
