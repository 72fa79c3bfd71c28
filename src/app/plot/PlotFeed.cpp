// SPDX-License-Identifier: GPL-3.0-or-later
#include "PlotFeed.h"

#include <cmath>
#include <cstdlib>

TPlotFeed::TPlotFeed(size_t Capacity)
    : FModel(Capacity), FStart(std::chrono::steady_clock::now()),
      FStartWallMs(std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::system_clock::now().time_since_epoch())
                       .count()) {}

void TPlotFeed::Add(double Value) {
    Add(Value, std::chrono::duration<double>(std::chrono::steady_clock::now() - FStart).count());
}

void TPlotFeed::Add(double Value, double Time) {
    if (!std::isfinite(Value)) return;
    FModel.Add(Time, float(Value));
    if (OnAdded) OnAdded();
}

void TPlotFeed::SetSensorRange(int MinusTenths, int PlusTenths) {
    if (PlusTenths == 0) PlusTenths = 3600;
    FRangeMin = -std::abs(MinusTenths) / 10.0;
    FRangeMax = PlusTenths / 10.0;
    FHasRange = FRangeMax > FRangeMin;
    if (OnRange) OnRange();
}
