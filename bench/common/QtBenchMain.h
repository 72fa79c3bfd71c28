// SPDX-License-Identifier: GPL-3.0-or-later
// The entry of a benchmark program that needs a Qt application object: the
// offscreen platform unless another is chosen, then every benchmark. Cleanup
// runs while the application object still exists (widgets go first).
#pragma once

#include <QtGlobal>
#include <benchmark/benchmark.h>

#include <functional>

template <class TApp>
int RunQtBenchmarks(int argc, char** argv, const std::function<void()>& Cleanup = {}) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    TApp App(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (Cleanup) Cleanup();
    return 0;
}
