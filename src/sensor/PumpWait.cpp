// SPDX-License-Identifier: GPL-3.0-or-later
#include "PumpWait.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <vector>

namespace {
bool GAborted = false;
std::vector<QEventLoop*> GLoops; // running waits, innermost last
} // namespace

void AbortWaits() {
    GAborted = true;
    for (QEventLoop* Loop : GLoops)
        Loop->exit();
}

void ResetWaits() {
    GAborted = false;
}

void PumpWait(int Milliseconds) {
    if (GAborted) throw EAbort();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    QElapsedTimer Clock;
    Clock.start();
    // A nested loop with a single-shot timer: the thread sleeps in the event
    // dispatcher until a message or the deadline arrives. A wait started in a
    // handler run by an outer wait nests; each loop ends at its own deadline.
    while (!GAborted && Clock.elapsed() <= Milliseconds) {
        const qint64 Left = Milliseconds - Clock.elapsed() + 1;
        QEventLoop Loop;
        QTimer Timer;
        Timer.setSingleShot(true);
        Timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&Timer, &QTimer::timeout, &Loop, &QEventLoop::quit);
        Timer.start(static_cast<int>(Left > 0 ? Left : 0));
        GLoops.push_back(&Loop);
        Loop.exec();
        GLoops.pop_back();
    }
    if (GAborted) throw EAbort();
}

bool PumpWaitFor(int Milliseconds, const std::function<bool()>& Done) {
    if (GAborted) throw EAbort();
    QElapsedTimer Clock;
    Clock.start();
    // The timer only wakes the dispatcher at the deadline; every other wake
    // is an event that may have made Done true.
    QTimer Deadline;
    Deadline.setSingleShot(true);
    Deadline.setTimerType(Qt::PreciseTimer);
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    while (!GAborted && !Done() && Clock.elapsed() < Milliseconds) {
        // A timer that fired a little early must not leave the wait without a wake.
        if (!Deadline.isActive()) Deadline.start(int(Milliseconds - Clock.elapsed() + 1));
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    if (GAborted) throw EAbort();
    return Done();
}
