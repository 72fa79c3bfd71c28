// SPDX-License-Identifier: GPL-3.0-or-later
#include "StopSignals.h"

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {
int GPipe[2] = {-1, -1};
constexpr int Signals[] = {SIGINT, SIGTERM, SIGHUP};

void OnSignal(int) {
    TStopSignals::Raise();
}
} // namespace

void TStopSignals::Raise() {
    const char C = 1;
    [[maybe_unused]] ssize_t N = write(GPipe[1], &C, 1);
}

TStopSignals::TStopSignals(std::function<void()> OnStop) {
    if (GPipe[0] < 0 && pipe2(GPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    for (int Sig : Signals)
        std::signal(Sig, OnSignal);
    FNotifier = std::make_unique<QSocketNotifier>(GPipe[0], QSocketNotifier::Read);
    QObject::connect(FNotifier.get(), &QSocketNotifier::activated, [OnStop] {
        char Buf[16];
        while (read(GPipe[0], Buf, sizeof Buf) > 0) {
        }
        OnStop();
    });
}

TStopSignals::~TStopSignals() {
    for (int Sig : Signals)
        std::signal(Sig, SIG_DFL);
}

void TStopSignals::Disable() {
    if (FNotifier) FNotifier->setEnabled(false);
}
