// SPDX-License-Identifier: GPL-3.0-or-later
// What the plot shows, kept by the program from the first reading on whether
// or not the plot window exists yet: one series of readings per sensor (port
// and ID), the clock they are stamped by, and the sensor's range. The window,
// which lives in a module loaded on first use (PlotModule.h), attaches to a
// feed and is told of changes through OnAdded and OnRange. Plain C++; one
// thread (the user-interface thread in the program).
#pragma once

#include "PlotModel.h"
#include "Reading.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// One sensor's readings: those that came through Port from the sensor Id.
struct TPlotSeries {
    TPlotSeries(std::string P, int I, size_t Capacity)
        : Port(std::move(P)), Id(I), Model(Capacity) {}

    std::string Port;
    int Id; // -1 unknown
    TPlotModel Model;
    // Beside each point kept (same logical index as Model's): the frame's
    // text and the sensor's mode (-1 unknown), for the export. About 40
    // bytes a point more than the model's 12 (a short text stays inline).
    struct TInfo {
        std::string Text;
        int Mode;
    };
    std::deque<TInfo> Info;
    // Where an alarm was raised or cleared, oldest first: the time and value
    // of the reading that did it. None older than the oldest point kept.
    struct TCrossing {
        double Time;
        double Value;
        bool Raised;
    };
    std::deque<TCrossing> Crossings;

    // True when the line breaks between the points of logical indices A < B:
    // some point in (A, B] came after a pause.
    bool Broken(size_t A, size_t B) const;

  private:
    friend class TPlotFeed;
    // Points (numbered as Model.Added() counts them) that follow a pause
    // longer than PauseFactor recent median intervals, oldest first.
    std::deque<uint64_t> FBreaks;
    // The last RecentIntervals intervals between points, a ring.
    std::vector<double> FRecent;
    size_t FRecentAt = 0;
};

class TPlotFeed {
  public:
    // A pause longer than this many times the median of the series' last
    // RecentIntervals intervals breaks its line; a median needs MinIntervals.
    static constexpr double PauseFactor = 3;
    static constexpr size_t RecentIntervals = 15, MinIntervals = 3;

    // Capacity: points kept per series.
    explicit TPlotFeed(size_t Capacity = TPlotModel::DefaultCapacity);

    // One reading of the session, stamped now, into its sensor's series,
    // which becomes the current one (during a watch, see BeginWatch). A
    // scan's readings (other sensors asked in turn) and values that are not
    // finite are left out.
    void Add(const TReading& R);
    // The same with a time of the feed's clock (seconds since the feed was
    // made), for tests and replays.
    void Add(const TReading& R, double Time);

    // The sensor's range from Information, tenths of a degree: the "Sensor
    // range" scale then runs from -|MinusTenths| to PlusTenths degrees. A
    // plus range of 0 stands for 3600, as the sensor reports it.
    void SetSensorRange(int MinusTenths, int PlusTenths);
    bool HasRange() const { return FHasRange; }
    double RangeMin() const { return FRangeMin; }
    double RangeMax() const { return FRangeMax; }

    // A watch of the sensors Ids on one line began (TSensorSession::Watch).
    // While the last reading is a watch's of one of them, they are shown
    // together (Group), and a watch reading makes its series the current one
    // only when it is Lead's (the sensor the window shows) or the first of
    // the watch: the current series does not change with every sensor polled.
    void BeginWatch(std::vector<int> Ids, int Lead);
    // The watched sensors' series in the order of the watch's IDs, a nullptr
    // for one without readings yet, all of the port of the last reading;
    // empty when the last reading is no watch's.
    std::vector<const TPlotSeries*> Group() const;
    // A sensor's alarm limits, drawn over its series (degrees); either may be
    // absent, and neither is the limits off. Kept for sensors not read yet.
    struct TBand {
        std::optional<double> Low, High;
    };
    void SetBand(const std::string& Port, int Id, const TBand& Band);
    TBand Band(const std::string& Port, int Id) const;
    // The sensor's latest reading raised (or cleared) its alarm: marked at
    // that reading. Nothing for a sensor without readings.
    void AddCrossing(const std::string& Port, int Id, bool Raised);

    // The series in the order their first readings came.
    const std::vector<std::unique_ptr<TPlotSeries>>& Series() const { return FSeries; }
    // The series of the last reading; nullptr before the first.
    const TPlotSeries* Current() const { return FCurrent; }
    // Wall-clock time of a feed time, milliseconds since the epoch.
    int64_t WallMs(double Time) const { return FStartWallMs + int64_t(Time * 1000.0 + 0.5); }

    // A reading or a crossing was kept / the range or a band changed.
    // Unset: nobody is told.
    std::function<void()> OnAdded, OnRange;

  private:
    size_t FCapacity;
    std::vector<std::unique_ptr<TPlotSeries>> FSeries;
    TPlotSeries* FCurrent = nullptr;
    std::chrono::steady_clock::time_point FStart;
    int64_t FStartWallMs;
    std::vector<int> FWatchIds;
    int FWatchLead = -1;
    bool FInWatch = false; // the last reading is a watch's of FWatchIds
    std::map<std::pair<std::string, int>, TBand> FBands;
    bool FHasRange = false;
    double FRangeMin = 0, FRangeMax = 0;
};
