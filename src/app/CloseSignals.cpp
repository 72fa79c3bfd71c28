// SPDX-License-Identifier: GPL-3.0-or-later
#include "CloseSignals.h"

#include "SysUtils.h"

#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

// What the handler may touch: plain values, set before it is installed.
int GWriteEnd = -1;
volatile std::sig_atomic_t GReceived = 0;

extern "C" void OnCloseSignal(int Signal) {
    if (GReceived) {
        // Closing already: this one ends the program once the handler returns
        // (the signal stays blocked until then).
        struct sigaction Default {};
        Default.sa_handler = SIG_DFL;
        sigaction(Signal, &Default, nullptr);
        raise(Signal);
        return;
    }
    GReceived = 1;
    const int Saved = errno;
    const unsigned char Byte = static_cast<unsigned char>(Signal);
    // A full pipe cannot happen with one byte; nothing else could be done.
    [[maybe_unused]] const ssize_t N = write(GWriteEnd, &Byte, 1);
    errno = Saved;
}

} // namespace

TCloseSignals::TCloseSignals(std::function<void(int Signal)> OnSignal, QObject* Parent)
    : QObject(Parent), FOnSignal(std::move(OnSignal)) {
    if (::pipe2(FPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        throw Exception(std::string("Cannot watch for signals: ") + std::strerror(errno));
    GWriteEnd = FPipe[1];
    GReceived = 0;
    FNotifier = new QSocketNotifier(FPipe[0], QSocketNotifier::Read, this);
    QObject::connect(FNotifier, &QSocketNotifier::activated, this, [this] { Drain(); });

    struct sigaction Action {};
    Action.sa_handler = OnCloseSignal;
    sigemptyset(&Action.sa_mask);
    Action.sa_flags = SA_RESTART;
    for (int i = 0; i < 3; ++i) {
        if (::sigaction(Signals[i], nullptr, &FOld[i]) != 0) continue;
        if (FOld[i].sa_handler == SIG_IGN) continue;
        FHandled[i] = ::sigaction(Signals[i], &Action, nullptr) == 0;
    }
}

TCloseSignals::~TCloseSignals() {
    for (int i = 0; i < 3; ++i)
        if (FHandled[i]) ::sigaction(Signals[i], &FOld[i], nullptr);
    delete FNotifier;
    GWriteEnd = -1;
    ::close(FPipe[0]);
    ::close(FPipe[1]);
}

void TCloseSignals::Drain() {
    unsigned char Byte = 0;
    int First = 0;
    while (::read(FPipe[0], &Byte, 1) == 1)
        if (First == 0) First = Byte;
    if (First != 0 && FOnSignal) FOnSignal(First);
}
