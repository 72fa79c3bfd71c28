// SPDX-License-Identifier: GPL-3.0-or-later
// How tests and benchmarks reach inside the console's window: its controls by
// their design names, the few internals that are no control through
// TFKAVROTestAccess. Nothing else of the window is open to them.
#pragma once

#include "UVORTA_Display.h"

#include <QObject>

#include <cstdio>
#include <cstdlib>
#include <typeinfo>

// The control named Name ("btREAD", "lbeCal11", "actDisconnect"). A name that
// is missing or of another type stops the program with the name, so that a
// renamed control fails loudly even inside an event handler.
template <class T> T* Control(const QObject& Window, const char* Name) {
    QObject* Found = Window.findChild<QObject*>(QLatin1String(Name));
    T* C = dynamic_cast<T*>(Found);
    if (!C) {
        std::fprintf(stderr, "no control '%s' of type %s in the window\n", Name, typeid(T).name());
        std::abort();
    }
    return C;
}

// The window's state that is no control.
struct TFKAVROTestAccess {
    static TVaComm* VaComm1(TFKAVRO& W) { return W.VaComm1; }
    static TAnswerReceiver* FReceiver(TFKAVRO& W) { return W.FReceiver; }
    static TSensorExchange* FExchange(TFKAVRO& W) { return W.FExchange; }
    static TSensorSession& Session(TFKAVRO& W) { return *W.FSession; }
    static int Connected(const TFKAVRO& W) { return W.Connected; }
    static int& ScanWait(TFKAVRO& W) { return W.FScan->ScanWait; }
    static auto& ChooseScannedSensor(TFKAVRO& W) { return W.FScan->ChooseScannedSensor; }
    static int& FFrameIntervalMs(TFKAVRO& W) { return W.FGauge->FFrameIntervalMs; }
    static bool& FNeedlePending(TFKAVRO& W) { return W.FGauge->FNeedlePending; }
    static TPlotFeed& FPlotFeed(TFKAVRO& W) { return W.FPlotFeed; }
    static auto& AskProfileName(TFKAVRO& W) { return W.FProfiles->AskName; }
};
using Internals = TFKAVROTestAccess;
