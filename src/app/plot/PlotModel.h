// SPDX-License-Identifier: GPL-3.0-or-later
// The readings behind the plot: a ring buffer of (time, value) points kept
// from the program's start, cut into pixel columns for drawing and summed up
// for the statistics of a span. Plain C++; one thread at a time (the
// user-interface thread in the program).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct TPlotPoint {
    double Time; // seconds, the model's clock
    float Value; // the readout's value
};

// Min/max decimation of one pixel column: the logical indices (0 = oldest
// point kept) of its first, lowest, highest and last point. Count 0 marks an
// empty column, whose indices mean nothing.
struct TPlotColumn {
    size_t Count = 0;
    size_t First = 0, Min = 0, Max = 0, Last = 0;
};

struct TPlotStatistics {
    size_t Count = 0;
    double Min = 0, Max = 0, Mean = 0;
    double StdDev = 0; // sample standard deviation (n - 1); 0 for fewer than 2 points
    double PeakToPeak = 0;
};

class TPlotModel {
  public:
    // 2^20 points: more than a million, 12 MiB when full.
    static constexpr size_t DefaultCapacity = size_t(1) << 20;

    // Points summed up together: spans and columns wider than a block cost
    // one step a block instead of one a point.
    static constexpr size_t BlockSize = 256;

    // Memory grows with the points added, up to Capacity (rounded up to
    // whole blocks).
    explicit TPlotModel(size_t Capacity = DefaultCapacity);

    // Appends a point; past Capacity the oldest is dropped. Times must not go
    // backwards: an earlier Time is taken as the last one, so that the points
    // stay in time order for the span searches.
    void Add(double Time, float Value);
    void Clear();

    size_t Count() const { return FCount; }
    size_t Capacity() const { return FCapacity; }
    // Every point ever added, dropped ones included: tells a viewer that
    // something changed.
    uint64_t Added() const { return FAdded; }
    // Logical index: 0 is the oldest point kept, Count() - 1 the newest.
    TPlotPoint At(size_t Index) const;
    // Bytes held for the points (capacity of the storage, not the count).
    size_t MemoryBytes() const;

    // The logical indices [Begin, End) of the points with From <= Time <= To.
    void Find(double From, double To, size_t& Begin, size_t& End) const;

    // Cuts [From, To] into Columns equal columns (column c takes
    // From + c * w <= Time < From + (c + 1) * w, the last one also To) and
    // keeps each one's first, lowest, highest and last point. A column wider
    // than a block takes whole blocks at once, so that the cost follows the
    // columns rather than the points; the result has Columns entries.
    std::vector<TPlotColumn> Decimate(double From, double To, int Columns) const;

    // Count, extremes, mean and standard deviation of the points in
    // [From, To], with Welford's update so that a large offset does not eat
    // the digits of a small spread; whole blocks are merged by Chan's rule.
    TPlotStatistics Statistics(double From, double To) const;

  private:
    size_t Physical(size_t Index) const {
        const size_t P = FHead + Index;
        return P < FCapacity ? P : P - FCapacity;
    }

    // A whole block, written in one pass: extremes (offsets in the block),
    // mean and sum of squared deviations.
    struct TBlock {
        double Mean, M2;
        float Min, Max;
        uint16_t MinAt, MaxAt;
    };
    void SumBlock(size_t Physical);
    // The block starting at logical Index when it lies whole in [Index, End)
    // and was written in one pass, else nullptr.
    const TBlock* WholeBlock(size_t Index, size_t End) const;

    // Two arrays rather than one array of structures: 12 bytes a point
    // instead of 16 with padding, and 32 bytes a block.
    std::vector<double> FTimes;
    std::vector<float> FValues;
    std::vector<TBlock> FBlocks;
    size_t FCapacity;
    size_t FHead = 0; // physical index of the oldest point
    size_t FCount = 0;
    uint64_t FAdded = 0;
};
