// SPDX-License-Identifier: GPL-3.0-or-later
// A real pseudo-terminal pair for the tests, and a wait that keeps the
// user-interface thread's event loop running.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <string>
#include <termios.h>
#include <time.h>
#include <unistd.h>

struct TPtyPair {
    int Master = -1;
    std::string SlavePath;
    TPtyPair() {
        Master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (Master >= 0 && grantpt(Master) == 0 && unlockpt(Master) == 0)
            SlavePath = ptsname(Master);
    }
    ~TPtyPair() { CloseMaster(); }
    void CloseMaster() {
        if (Master >= 0) close(Master);
        Master = -1;
    }
    void Send(const std::string& S) {
        size_t Off = 0;
        while (Off < S.size()) {
            ssize_t N = write(Master, S.data() + Off, S.size() - Off);
            if (N > 0)
                Off += size_t(N);
            else if (N < 0 && errno != EAGAIN)
                return;
            else
                poll(nullptr, 0, 1);
        }
    }
    // Reads what the slave side sent, until Want bytes or Ms milliseconds.
    std::string Receive(size_t Want, int Ms) {
        std::string R;
        QElapsedTimer T;
        T.start();
        char Buf[4096];
        while (R.size() < Want && T.elapsed() < Ms) {
            pollfd P{Master, POLLIN, 0};
            poll(&P, 1, 10);
            ssize_t N = read(Master, Buf, sizeof Buf);
            if (N > 0) R.append(Buf, size_t(N));
        }
        return R;
    }
    // The slave's termios, read through the master.
    termios Settings() const {
        termios T{};
        tcgetattr(Master, &T);
        return T;
    }
};

// Waits without running the event loop until Pred holds or Ms milliseconds
// have passed; true when it holds.
inline bool WaitUntil(const std::function<bool()>& Pred, int Ms) {
    QElapsedTimer T;
    T.start();
    while (!Pred()) {
        if (T.elapsed() >= Ms) return false;
        poll(nullptr, 0, 1);
    }
    return true;
}

// Runs the event loop until Pred holds or Ms milliseconds have passed.
inline bool PumpUntil(const std::function<bool()>& Pred, int Ms) {
    QElapsedTimer T;
    T.start();
    while (!Pred()) {
        if (T.elapsed() >= Ms) return false;
        QEventLoop L;
        QTimer::singleShot(5, &L, &QEventLoop::quit);
        L.exec();
    }
    return true;
}

inline void Pump(int Ms) {
    PumpUntil([] { return false; }, Ms);
}

inline double ProcessCpuSeconds() {
    timespec Ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &Ts);
    return double(Ts.tv_sec) + double(Ts.tv_nsec) / 1e9;
}
