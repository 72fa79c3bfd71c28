#include "PlotModel.h"

#include <algorithm>
#include <cmath>

TPlotModel::TPlotModel(size_t Capacity) : FCapacity(std::max<size_t>(Capacity, 1)) {}

void TPlotModel::Add(double Time, float Value) {
    if (FCount > 0) Time = std::max(Time, At(FCount - 1).Time);
    ++FAdded;
    if (FCount < FCapacity) {
        // Grow by doubling but never past the capacity, so that a full
        // buffer holds no slack.
        if (FTimes.size() == FTimes.capacity()) {
            const size_t Room = std::min(FCapacity, std::max<size_t>(1024, FTimes.size() * 2));
            FTimes.reserve(Room);
            FValues.reserve(Room);
        }
        FTimes.push_back(Time);
        FValues.push_back(Value);
        ++FCount;
        return;
    }
    FTimes[FHead] = Time;
    FValues[FHead] = Value;
    FHead = FHead + 1 == FCapacity ? 0 : FHead + 1;
}

void TPlotModel::Clear() {
    FTimes.clear();
    FValues.clear();
    FHead = 0;
    FCount = 0;
}

TPlotPoint TPlotModel::At(size_t Index) const {
    const size_t P = Physical(Index);
    return {FTimes[P], FValues[P]};
}

size_t TPlotModel::MemoryBytes() const {
    return FTimes.capacity() * sizeof(double) + FValues.capacity() * sizeof(float);
}

void TPlotModel::Find(double From, double To, size_t& Begin, size_t& End) const {
    // First logical index whose time is not below (or, for the end, above) T.
    const auto Bound = [this](double T, bool Upper) {
        size_t Lo = 0, Hi = FCount;
        while (Lo < Hi) {
            const size_t Mid = Lo + (Hi - Lo) / 2;
            const double M = FTimes[Physical(Mid)];
            if (Upper ? M <= T : M < T)
                Lo = Mid + 1;
            else
                Hi = Mid;
        }
        return Lo;
    };
    Begin = Bound(From, false);
    End = std::max(Begin, Bound(To, true));
}

std::vector<TPlotColumn> TPlotModel::Decimate(double From, double To, int Columns) const {
    std::vector<TPlotColumn> Out(size_t(std::max(Columns, 0)));
    if (Out.empty() || !(To >= From)) return Out;
    size_t Begin, End;
    Find(From, To, Begin, End);
    const double Scale = To > From ? double(Columns) / (To - From) : 0;
    for (size_t i = Begin; i < End; ++i) {
        const size_t P = Physical(i);
        const size_t C = std::min(size_t((FTimes[P] - From) * Scale), Out.size() - 1);
        TPlotColumn& Col = Out[C];
        const float V = FValues[P];
        if (Col.Count++ == 0) {
            Col.First = Col.Min = Col.Max = i;
        } else {
            if (V < FValues[Physical(Col.Min)]) Col.Min = i;
            if (V > FValues[Physical(Col.Max)]) Col.Max = i;
        }
        Col.Last = i;
    }
    return Out;
}

TPlotStatistics TPlotModel::Statistics(double From, double To) const {
    TPlotStatistics S;
    size_t Begin, End;
    Find(From, To, Begin, End);
    double Mean = 0, M2 = 0;
    for (size_t i = Begin; i < End; ++i) {
        const double V = FValues[Physical(i)];
        if (S.Count == 0) {
            S.Min = S.Max = V;
        } else {
            S.Min = std::min(S.Min, V);
            S.Max = std::max(S.Max, V);
        }
        ++S.Count;
        const double Delta = V - Mean;
        Mean += Delta / double(S.Count);
        M2 += Delta * (V - Mean);
    }
    S.Mean = Mean;
    S.StdDev = S.Count > 1 ? std::sqrt(M2 / double(S.Count - 1)) : 0;
    S.PeakToPeak = S.Max - S.Min;
    return S;
}
