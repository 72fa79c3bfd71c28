// SPDX-License-Identifier: GPL-3.0-or-later
#include "PlotFeed.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <utility>

bool TPlotSeries::Broken(size_t A, size_t B) const {
    const uint64_t Base = Model.Added() - Model.Count();
    const auto Next = std::upper_bound(FBreaks.begin(), FBreaks.end(), Base + A);
    return Next != FBreaks.end() && *Next <= Base + B;
}

TPlotFeed::TPlotFeed(size_t Capacity)
    : FCapacity(Capacity), FStart(std::chrono::steady_clock::now()),
      FStartWallMs(std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::system_clock::now().time_since_epoch())
                       .count()) {}

void TPlotFeed::Add(const TReading& R) {
    Add(R, std::chrono::duration<double>(std::chrono::steady_clock::now() - FStart).count());
}

void TPlotFeed::Add(const TReading& R, double Time) {
    if (R.Source == TReadingSource::Scan || !std::isfinite(R.Value)) return;
    auto At = std::find_if(FSeries.begin(), FSeries.end(),
                           [&](const auto& S) { return S->Port == R.Port && S->Id == R.Id; });
    if (At == FSeries.end())
        At = FSeries.insert(FSeries.end(), std::make_unique<TPlotSeries>(R.Port, R.Id, FCapacity));
    TPlotSeries& S = **At;
    TPlotModel& M = S.Model;
    if (M.Count() > 0) {
        const double Gap = std::max(0.0, Time - M.At(M.Count() - 1).Time);
        if (S.FRecent.size() >= MinIntervals) {
            std::vector<double> Sorted = S.FRecent;
            std::nth_element(Sorted.begin(), Sorted.begin() + Sorted.size() / 2, Sorted.end());
            if (Gap > PauseFactor * Sorted[Sorted.size() / 2]) S.FBreaks.push_back(M.Added());
        }
        if (S.FRecent.size() < RecentIntervals)
            S.FRecent.push_back(Gap);
        else
            S.FRecent[S.FRecentAt] = Gap;
        S.FRecentAt = (S.FRecentAt + 1) % RecentIntervals;
    }
    M.Add(Time, float(R.Value));
    S.Info.push_back({R.Text, R.Mode});
    if (S.Info.size() > M.Count()) S.Info.pop_front();
    // A break before the oldest point kept breaks nothing.
    while (!S.FBreaks.empty() && S.FBreaks.front() <= M.Added() - M.Count())
        S.FBreaks.pop_front();
    while (!S.Crossings.empty() && S.Crossings.front().Time < M.At(0).Time)
        S.Crossings.pop_front();
    const bool Watched = R.Source == TReadingSource::Watch &&
                         std::find(FWatchIds.begin(), FWatchIds.end(), R.Id) != FWatchIds.end();
    const bool Started = Watched && !(FInWatch && FCurrent && FCurrent->Port == R.Port);
    if (!Watched || Started || R.Id == FWatchLead) FCurrent = &S;
    FInWatch = Watched;
    if (OnAdded) OnAdded();
}

void TPlotFeed::BeginWatch(std::vector<int> Ids, int Lead) {
    FWatchIds = std::move(Ids);
    FWatchLead = Lead;
    FInWatch = false;
}

std::vector<const TPlotSeries*> TPlotFeed::Group() const {
    std::vector<const TPlotSeries*> Out;
    if (!FInWatch) return Out;
    for (const int Id : FWatchIds) {
        const auto At = std::find_if(FSeries.begin(), FSeries.end(), [&](const auto& S) {
            return S->Port == FCurrent->Port && S->Id == Id;
        });
        Out.push_back(At == FSeries.end() ? nullptr : At->get());
    }
    return Out;
}

void TPlotFeed::SetSensorRange(int MinusTenths, int PlusTenths) {
    if (PlusTenths == 0) PlusTenths = 3600;
    FRangeMin = -std::abs(MinusTenths) / 10.0;
    FRangeMax = PlusTenths / 10.0;
    FHasRange = FRangeMax > FRangeMin;
    if (OnRange) OnRange();
}

void TPlotFeed::SetBand(const std::string& Port, int Id, const TBand& Band) {
    if (Band.Low || Band.High)
        FBands[{Port, Id}] = Band;
    else
        FBands.erase({Port, Id});
    if (OnRange) OnRange();
}

TPlotFeed::TBand TPlotFeed::Band(const std::string& Port, int Id) const {
    const auto I = FBands.find({Port, Id});
    return I == FBands.end() ? TBand() : I->second;
}

void TPlotFeed::AddCrossing(const std::string& Port, int Id, bool Raised) {
    for (const auto& S : FSeries) {
        if (S->Port != Port || S->Id != Id || S->Model.Count() == 0) continue;
        const TPlotPoint P = S->Model.At(S->Model.Count() - 1);
        S->Crossings.push_back({P.Time, P.Value, Raised});
        if (OnAdded) OnAdded();
        return;
    }
}
