// SPDX-License-Identifier: GPL-3.0-or-later
// The first-frame watch shared by the start-up benchmark's children.
#pragma once

#include <QEvent>
#include <QObject>
#include <QTimer>

#include <cstdint>
#include <cstdio>
#include <ctime>

#include <unistd.h>

namespace {

int64_t NowNs() {
    timespec T;
    clock_gettime(CLOCK_MONOTONIC, &T);
    return int64_t(T.tv_sec) * 1000000000 + T.tv_nsec;
}

// Once Window's first paint is done (the 0 ms timer runs after the paint's
// flush), prints the clock and ends the process.
class TFirstFrame : public QObject {
  public:
    bool eventFilter(QObject*, QEvent* Event) override {
        if (Event->type() == QEvent::Paint && !FSeen) {
            FSeen = true;
            QTimer::singleShot(0, [] {
                std::printf("%lld\n", static_cast<long long>(NowNs()));
                std::fflush(stdout);
                _exit(0);
            });
        }
        return false;
    }

  private:
    bool FSeen = false;
};

} // namespace
