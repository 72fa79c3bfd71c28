// SPDX-License-Identifier: GPL-3.0-or-later
// What the plot shows, kept by the program from the first reading on whether
// or not the plot window exists yet: the readings (TPlotModel), the clock
// they are stamped by, and the sensor's range. The window, which lives in a
// module loaded on first use (PlotModule.h), attaches to a feed and is told
// of changes through OnAdded and OnRange. Plain C++; one thread (the
// user-interface thread in the program).
#pragma once

#include "PlotModel.h"

#include <chrono>
#include <cstdint>
#include <functional>

class TPlotFeed {
  public:
    explicit TPlotFeed(size_t Capacity = TPlotModel::DefaultCapacity);

    // One accepted reading, stamped now: the readout's value (not the
    // needle's angle). Not-a-number and infinities are left out.
    void Add(double Value);
    // The same with a time of the feed's clock (seconds since the feed was
    // made), for tests and replays.
    void Add(double Value, double Time);

    // The sensor's range from Information, tenths of a degree: the "Sensor
    // range" scale then runs from -|MinusTenths| to PlusTenths degrees. A
    // plus range of 0 stands for 3600, as the sensor reports it.
    void SetSensorRange(int MinusTenths, int PlusTenths);
    bool HasRange() const { return FHasRange; }
    double RangeMin() const { return FRangeMin; }
    double RangeMax() const { return FRangeMax; }

    const TPlotModel& Model() const { return FModel; }
    // Wall-clock time of a feed time, milliseconds since the epoch.
    int64_t WallMs(double Time) const { return FStartWallMs + int64_t(Time * 1000.0 + 0.5); }

    // A reading was kept / the range changed. Unset: nobody is told.
    std::function<void()> OnAdded, OnRange;

  private:
    TPlotModel FModel;
    std::chrono::steady_clock::time_point FStart;
    int64_t FStartWallMs;
    bool FHasRange = false;
    double FRangeMin = 0, FRangeMax = 0;
};
