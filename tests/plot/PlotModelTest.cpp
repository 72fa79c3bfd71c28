// SPDX-License-Identifier: GPL-3.0-or-later
#include "PlotModel.h"
#include "PlotFeed.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

namespace {

// Readings at irregular times with runs of equal times, as bursts deliver them.
TPlotModel RandomModel(size_t Capacity, size_t Points, std::vector<TPlotPoint>& Kept) {
    TPlotModel M(Capacity);
    std::mt19937 Rng(7);
    std::uniform_real_distribution<float> Value(-90, 90);
    std::uniform_int_distribution<int> Step(0, 3);
    double T = 0;
    std::vector<TPlotPoint> All;
    for (size_t i = 0; i < Points; ++i) {
        T += Step(Rng) * 0.01;
        const float V = Value(Rng);
        M.Add(T, V);
        All.push_back({T, V});
    }
    Kept.assign(All.end() - std::min(Points, M.Capacity()), All.end());
    return M;
}

} // namespace

TEST(PlotModel, RingKeepsTheNewestPointsInOrderAndDropsTheOldest) {
    std::vector<TPlotPoint> Kept;
    const TPlotModel M = RandomModel(1000, 2500, Kept);
    ASSERT_EQ(M.Capacity(), 1024u); // whole blocks
    ASSERT_EQ(M.Count(), 1024u);
    EXPECT_EQ(M.Added(), 2500u);
    for (size_t i = 0; i < Kept.size(); ++i) {
        ASSERT_EQ(M.At(i).Time, Kept[i].Time) << i;
        ASSERT_EQ(M.At(i).Value, Kept[i].Value) << i;
    }
    // A full buffer holds no slack: 12 bytes a point and the block sums.
    EXPECT_LE(M.MemoryBytes(), 1024u * 12 + 1024 / 8);

    // A time that goes backwards is taken as the last, keeping the order.
    TPlotModel B(4);
    B.Add(5, 1);
    B.Add(3, 2);
    EXPECT_EQ(B.At(1).Time, 5);
    EXPECT_EQ(B.At(1).Value, 2);
}

TEST(PlotModel, DecimationAndExtremesOfAWrappedBufferMatchADirectComputation) {
    // Wrapped in the middle of a block: whole blocks, a part-written one and
    // single points all take part.
    std::vector<TPlotPoint> Kept;
    const TPlotModel M = RandomModel(5000, 12000, Kept);
    const double T0 = Kept.front().Time, T1 = Kept.back().Time;
    struct {
        double From, To;
        int Columns;
    } Cases[] = {
        {T0, T1, 640}, {T0 + 3.3, T1 - 7.1, 97}, {T0 - 50, T0 + 10, 33}, {T1 - 1, T1 + 1, 5000},
        {T0, T1, 1},   {T0 + 0.01, T1, 7}};
    for (const auto& C : Cases) {
        const std::vector<TPlotColumn> Got = M.Decimate(C.From, C.To, C.Columns);
        ASSERT_EQ(Got.size(), size_t(C.Columns));
        // The direct computation: each point of the span into its column.
        std::vector<std::vector<size_t>> Direct(size_t(C.Columns));
        const double Scale = double(C.Columns) / (C.To - C.From);
        for (size_t i = 0; i < Kept.size(); ++i) {
            const double T = Kept[i].Time;
            if (T < C.From || T > C.To) continue;
            const int Col = std::min(int((T - C.From) * Scale), C.Columns - 1);
            Direct[size_t(Col)].push_back(i);
        }
        for (size_t c = 0; c < Direct.size(); ++c) {
            const auto& D = Direct[c];
            ASSERT_EQ(Got[c].Count, D.size()) << c;
            if (D.empty()) continue;
            float Lo = Kept[D[0]].Value, Hi = Lo;
            for (size_t i : D) {
                Lo = std::min(Lo, Kept[i].Value);
                Hi = std::max(Hi, Kept[i].Value);
            }
            EXPECT_EQ(Got[c].First, D.front());
            EXPECT_EQ(Got[c].Last, D.back());
            EXPECT_EQ(M.At(Got[c].Min).Value, Lo);
            EXPECT_EQ(M.At(Got[c].Max).Value, Hi);
        }
        // The same span's statistics, blocks merged.
        size_t N = 0;
        float Lo = 1e9f, Hi = -1e9f;
        double Sum = 0;
        for (const TPlotPoint& P : Kept)
            if (P.Time >= C.From && P.Time <= C.To) {
                ++N;
                Lo = std::min(Lo, P.Value);
                Hi = std::max(Hi, P.Value);
                Sum += P.Value;
            }
        const TPlotStatistics S = M.Statistics(C.From, C.To);
        ASSERT_EQ(S.Count, N);
        EXPECT_EQ(S.Min, Lo);
        EXPECT_EQ(S.Max, Hi);
        EXPECT_NEAR(S.Mean, Sum / double(N), 1e-9);
    }
}

TEST(PlotModel, StatisticsMatchATwoPassComputation) {
    // A large offset under a small spread: a sum of squares loses it.
    TPlotModel M(100000);
    std::mt19937 Rng(3);
    std::normal_distribution<float> Noise(0, 0.05f);
    std::vector<double> V;
    for (int i = 0; i < 100000; ++i) {
        V.push_back(double(float(3000 + Noise(Rng))));
        M.Add(i * 0.001, float(V.back()));
    }
    struct {
        size_t Begin, End;
    } Spans[] = {{0, 100000}, {25000, 25001}, {500, 74321}};
    for (const auto& S : Spans) {
        double Sum = 0, Lo = V[S.Begin], Hi = V[S.Begin];
        for (size_t i = S.Begin; i < S.End; ++i) {
            Sum += V[i];
            Lo = std::min(Lo, V[i]);
            Hi = std::max(Hi, V[i]);
        }
        const double N = double(S.End - S.Begin), Mean = Sum / N;
        double Sq = 0;
        for (size_t i = S.Begin; i < S.End; ++i)
            Sq += (V[i] - Mean) * (V[i] - Mean);
        const double Sd = N > 1 ? std::sqrt(Sq / (N - 1)) : 0;

        const TPlotStatistics Got = M.Statistics(S.Begin * 0.001, (S.End - 1) * 0.001);
        EXPECT_EQ(Got.Count, S.End - S.Begin);
        EXPECT_EQ(Got.Min, Lo);
        EXPECT_EQ(Got.Max, Hi);
        EXPECT_EQ(Got.PeakToPeak, Hi - Lo);
        // Rounding of two summation orders: far below the data's resolution.
        EXPECT_NEAR(Got.Mean, Mean, 1e-9);
        EXPECT_NEAR(Got.StdDev, Sd, 1e-9);
    }
    EXPECT_EQ(M.Statistics(200, 300).Count, 0u);
}

// Each sensor (port, ID) its own series, interleaved or not, its line broken
// by a pause longer than three recent median intervals; scans are no sensor's.
TEST(PlotFeed, KeepsOneSeriesPerSensorAndBreaksItsLineAfterAPause) {
    struct TIn {
        const char* Port;
        int Id;
        double Time;
        bool Scan = false;
    };
    const struct {
        std::vector<TIn> Readings;
        std::vector<std::string> Series; // "port/id: points, indices after a break"
    } Cases[] = {
        {{{"pts/1", 1, 0},
          {"pts/1", 2, .5},
          {"pts/2", 1, .7},
          {"pts/1", 1, 1},
          {"pts/1", 3, 2, true}},
         {"pts/1/1: 2 current", "pts/1/2: 1", "pts/2/1: 1"}},
        {{{"a", 1, 0}, {"a", 1, 1}, {"a", 1, 2}, {"a", 1, 3}, {"a", 1, 6}, {"a", 1, 10}},
         {"a/1: 6, 5 current"}},
    };
    for (const auto& C : Cases) {
        TPlotFeed Feed;
        for (const TIn& In : C.Readings) {
            TReading R;
            R.Port = In.Port, R.Id = In.Id;
            R.Source = In.Scan ? TReadingSource::Scan : TReadingSource::Stream;
            Feed.Add(R, In.Time);
        }
        std::vector<std::string> Got;
        for (const auto& S : Feed.Series()) {
            Got.push_back(S->Port + "/" + std::to_string(S->Id) + ": " +
                          std::to_string(S->Model.Count()));
            for (size_t i = 1; i < S->Model.Count(); ++i)
                if (S->Broken(i - 1, i)) Got.back() += ", " + std::to_string(i);
            if (S.get() == Feed.Current()) Got.back() += " current";
        }
        EXPECT_EQ(Got, C.Series);
    }
}
