// SPDX-License-Identifier: GPL-3.0-or-later
#include "PlotModel.h"

#include <algorithm>
#include <cmath>

TPlotModel::TPlotModel(size_t Capacity)
    : FCapacity((std::max<size_t>(Capacity, 1) + BlockSize - 1) / BlockSize * BlockSize) {}

void TPlotModel::SumBlock(size_t First) {
    if (FBlocks.size() <= First / BlockSize) FBlocks.resize(First / BlockSize + 1);
    TBlock& B = FBlocks[First / BlockSize];
    const float* V = &FValues[First];
    double Sum = 0;
    B.MinAt = B.MaxAt = 0;
    for (size_t i = 0; i < BlockSize; ++i) {
        Sum += V[i];
        if (V[i] < V[B.MinAt]) B.MinAt = uint16_t(i);
        if (V[i] > V[B.MaxAt]) B.MaxAt = uint16_t(i);
    }
    B.Min = V[B.MinAt];
    B.Max = V[B.MaxAt];
    B.Mean = Sum / double(BlockSize);
    B.M2 = 0;
    for (size_t i = 0; i < BlockSize; ++i)
        B.M2 += (V[i] - B.Mean) * (V[i] - B.Mean);
}

const TPlotModel::TBlock* TPlotModel::WholeBlock(size_t Index, size_t End) const {
    // With the capacity a multiple of the block, a block that starts at
    // Index and ends before End holds Index.. in order; its last point was
    // written after the others, and that summed it up.
    const size_t P = Physical(Index);
    if (P % BlockSize != 0 || End - Index < BlockSize) return nullptr;
    return &FBlocks[P / BlockSize];
}

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
        if (FCount % BlockSize == 0) SumBlock(FCount - BlockSize);
        return;
    }
    FTimes[FHead] = Time;
    FValues[FHead] = Value;
    if ((FHead + 1) % BlockSize == 0) SumBlock(FHead + 1 - BlockSize);
    FHead = FHead + 1 == FCapacity ? 0 : FHead + 1;
}

void TPlotModel::Clear() {
    FTimes.clear();
    FValues.clear();
    FBlocks.clear();
    FHead = 0;
    FCount = 0;
}

TPlotPoint TPlotModel::At(size_t Index) const {
    const size_t P = Physical(Index);
    return {FTimes[P], FValues[P]};
}

size_t TPlotModel::MemoryBytes() const {
    return FTimes.capacity() * sizeof(double) + FValues.capacity() * sizeof(float) +
           FBlocks.capacity() * sizeof(TBlock);
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
    const auto ColumnOf = [&](double T) {
        return std::min(size_t((T - From) * Scale), Out.size() - 1);
    };
    for (size_t i = Begin; i < End;) {
        const size_t P = Physical(i);
        TPlotColumn& Col = Out[ColumnOf(FTimes[P])];
        const TBlock* B = WholeBlock(i, End);
        if (B && ColumnOf(FTimes[P + BlockSize - 1]) == ColumnOf(FTimes[P])) {
            if (Col.Count == 0) {
                Col.First = i;
                Col.Min = i + B->MinAt;
                Col.Max = i + B->MaxAt;
            } else {
                if (B->Min < FValues[Physical(Col.Min)]) Col.Min = i + B->MinAt;
                if (B->Max > FValues[Physical(Col.Max)]) Col.Max = i + B->MaxAt;
            }
            Col.Count += BlockSize;
            Col.Last = i + BlockSize - 1;
            i += BlockSize;
            continue;
        }
        const float V = FValues[P];
        if (Col.Count++ == 0) {
            Col.First = Col.Min = Col.Max = i;
        } else {
            if (V < FValues[Physical(Col.Min)]) Col.Min = i;
            if (V > FValues[Physical(Col.Max)]) Col.Max = i;
        }
        Col.Last = i;
        ++i;
    }
    return Out;
}

TPlotStatistics TPlotModel::Statistics(double From, double To) const {
    TPlotStatistics S;
    size_t Begin, End;
    Find(From, To, Begin, End);
    double Mean = 0, M2 = 0;
    // Merges a part of N points with its own extremes, mean and M2.
    const auto Merge = [&](size_t N, double Lo, double Hi, double PartMean, double PartM2) {
        if (S.Count == 0) {
            S.Min = Lo;
            S.Max = Hi;
        } else {
            S.Min = std::min(S.Min, Lo);
            S.Max = std::max(S.Max, Hi);
        }
        const double Total = double(S.Count + N);
        const double Delta = PartMean - Mean;
        Mean += Delta * double(N) / Total;
        M2 += PartM2 + Delta * Delta * double(S.Count) * double(N) / Total;
        S.Count += N;
    };
    for (size_t i = Begin; i < End;) {
        if (const TBlock* B = WholeBlock(i, End)) {
            Merge(BlockSize, B->Min, B->Max, B->Mean, B->M2);
            i += BlockSize;
        } else {
            const double V = FValues[Physical(i)];
            Merge(1, V, V, V, 0);
            ++i;
        }
    }
    S.Mean = Mean;
    S.StdDev = S.Count > 1 ? std::sqrt(M2 / double(S.Count - 1)) : 0;
    S.PeakToPeak = S.Max - S.Min;
    return S;
}
