// SPDX-License-Identifier: GPL-3.0-or-later
// The entry of a benchmark program that needs a Qt application object. The
// windows of a program with a GUI application object go to an Xvfb of its own when Xvfb is
// installed, so that drawing reaches a real X server whose processor time XServerCpuSeconds()
// reports for the benchmarks to count; otherwise (or when QT_QPA_PLATFORM is set) they run
// offscreen and the server's share is missing, which the program says first. Cleanup runs while the
// application object still exists (widgets go first).
#pragma once

#include <QCoreApplication>
#include <QtGlobal>
#include <benchmark/benchmark.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <type_traits>

#include "XServer.h"

inline std::unique_ptr<bench_x::TXServer>& BenchXServer() {
    static std::unique_ptr<bench_x::TXServer> Server;
    return Server;
}

// The X server's processor time so far (seconds); 0 when offscreen.
inline double XServerCpuSeconds() {
    const auto& X = BenchXServer();
    return X && X->Pid() > 0 ? bench_x::CpuSeconds(X->Pid()) : 0;
}

template <class TApp>
int RunQtBenchmarks(int argc, char** argv, const std::function<void()>& Cleanup = {}) {
    if constexpr (std::is_same_v<TApp, QCoreApplication>) {
        // No windows: neither an X server nor a platform plugin is needed.
    } else if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        BenchXServer() = std::make_unique<bench_x::TXServer>();
        for (const auto& Setting : BenchXServer()->QtEnv()) {
            const size_t Eq = Setting.find('=');
            setenv(Setting.substr(0, Eq).c_str(), Setting.substr(Eq + 1).c_str(), 1);
        }
        std::printf("platform: %s\n", BenchXServer()->Platform().c_str());
    } else {
        std::printf("platform: QT_QPA_PLATFORM=%s (the X server's share is not counted)\n",
                    qgetenv("QT_QPA_PLATFORM").constData());
    }
    std::fflush(stdout);
    {
        TApp App(argc, argv);
        benchmark::Initialize(&argc, argv);
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
        if (Cleanup) Cleanup();
    }
    BenchXServer().reset();
    return 0;
}
