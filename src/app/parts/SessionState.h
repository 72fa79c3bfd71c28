// SPDX-License-Identifier: GPL-3.0-or-later
// What the window's parts ask of the session's connection alike.
#pragma once

#include "SensorSession.h"

// True from the port's open event to its close event: connected, or hung up
// and not yet closed.
inline bool PortOpen(TSensorSession& S) {
    const TConnectionState State = S.Connection().State;
    return S.Port().Active() &&
           (State == TConnectionState::Connected || State == TConnectionState::Lost);
}
