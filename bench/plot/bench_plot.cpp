// SPDX-License-Identifier: GPL-3.0-or-later
// The plot at 1000 readings a second with the 10-minute span shown. One
// iteration is one second of readings: 1000 readings and the 10 refreshes the
// window's timer allows, each followed by the paint it causes.
//   Closed: the window hidden, the readings only stored (the model's cost).
//   Open:   shown, min/max columns per pixel, then painted.
//   Peer:   Qt Charts decimated as a user would feed it: the span's readings
//           kept as points, and on each refresh a QLineSeries replaced by the
//           minimum and maximum of every pixel column of the plot area, then
//           painted; the same data in a window of the same size.
// Processor time counts this process and the X server it draws on.
// Memory: bytes a point of a model holding 10^6 readings, against a chart
// series holding them (QPointF, 16 bytes, before the chart's own copies).
#include "Application.h"
#include "PlotWindow.h"

#include <benchmark/benchmark.h>

#include <QChart>
#include <QChartView>
#include <QCoreApplication>
#include <QLineSeries>
#include <QValueAxis>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <time.h>

#include "QtBenchMain.h"

namespace {

constexpr int Rate = 1000;
constexpr int SpanSeconds = 600;

std::map<std::string, double> GFigures; // µs of processor time a reading

double CpuSeconds() {
    timespec T{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &T);
    return double(T.tv_sec) + double(T.tv_nsec) / 1e9 + XServerCpuSeconds();
}

void CountCpu(benchmark::State& State, double Cpu0, const char* Name) {
    const double Us = (CpuSeconds() - Cpu0) * 1e6 / (double(State.iterations()) * Rate);
    State.counters["cpu_x_us_per_reading"] = Us;
    GFigures[Name] = Us;
}

float Reading(long I) {
    return float(30 * std::sin(I * 0.001) + 0.1 * (I % 7));
}

// A window already holding the 10 minutes it shows.
std::unique_ptr<TPlotWindow> FilledWindow(bool Shown) {
    auto W = std::make_unique<TPlotWindow>();
    for (long i = 0; i < long(SpanSeconds) * Rate; ++i)
        W->AddReading(Reading(i), double(i) / Rate);
    W->SetSpan(SpanSeconds);
    if (Shown) {
        W->resize(1000, 500);
        W->show();
        QCoreApplication::processEvents();
    }
    return W;
}

void SecondOfReadings(benchmark::State& State, bool Shown) {
    auto W = FilledWindow(Shown);
    long I = long(SpanSeconds) * Rate;
    const double Cpu0 = CpuSeconds();
    for (auto _ : State) {
        for (int k = 0; k < Rate; ++k, ++I) {
            W->AddReading(Reading(I), double(I) / Rate);
            if (Shown && k % (Rate / 10) == Rate / 10 - 1) {
                W->Refresh();
                W->repaint();
                QCoreApplication::processEvents();
            }
        }
    }
    CountCpu(State, Cpu0, Shown ? "open" : "closed");
    State.counters["drawn_points"] = W->DrawnPoints();
}

void BM_PlotClosed(benchmark::State& State) {
    SecondOfReadings(State, false);
}
BENCHMARK(BM_PlotClosed)->Unit(benchmark::kMillisecond);

void BM_PlotOpen(benchmark::State& State) {
    SecondOfReadings(State, true);
}
BENCHMARK(BM_PlotOpen)->Unit(benchmark::kMillisecond);

// The peer: the span's points, decimated to each pixel column's minimum and
// maximum on every refresh, handed to the series, painted alike.
void BM_PeerChartMinMax(benchmark::State& State) {
    auto* Series = new QLineSeries;
    auto* Chart = new QChart;
    Chart->addSeries(Series);
    Chart->createDefaultAxes();
    Chart->legend()->hide();
    QChartView View(Chart);
    View.resize(1000, 500);
    View.show();
    QCoreApplication::processEvents();
    std::deque<QPointF> Points;
    long I = 0;
    for (; I < long(SpanSeconds) * Rate; ++I)
        Points.emplace_back(double(I) / Rate, Reading(I));
    QList<QPointF> Shown;
    const double Cpu0 = CpuSeconds();
    for (auto _ : State) {
        for (int k = 0; k < Rate; ++k, ++I) {
            Points.emplace_back(double(I) / Rate, Reading(I));
            while (Points.front().x() < Points.back().x() - SpanSeconds)
                Points.pop_front();
            if (k % (Rate / 10) != Rate / 10 - 1) continue;
            const double X0 = Points.front().x(), X1 = Points.back().x();
            const int Columns = std::max(1, int(Chart->plotArea().width()));
            Shown.clear();
            size_t At = 0;
            for (int c = 0; c < Columns && At < Points.size(); ++c) {
                const double End = X0 + (X1 - X0) * (c + 1) / Columns;
                QPointF Lo = Points[At], Hi = Points[At];
                for (; At < Points.size() && (Points[At].x() <= End || c == Columns - 1); ++At) {
                    if (Points[At].y() < Lo.y()) Lo = Points[At];
                    if (Points[At].y() > Hi.y()) Hi = Points[At];
                }
                // In time order, so that the line runs through both.
                Shown.append(Lo.x() <= Hi.x() ? Lo : Hi);
                Shown.append(Lo.x() <= Hi.x() ? Hi : Lo);
            }
            Series->replace(Shown);
            Chart->axes(Qt::Horizontal).first()->setRange(X0, X1);
            Chart->axes(Qt::Vertical).first()->setRange(-31, 31);
            View.repaint();
            QCoreApplication::processEvents();
        }
    }
    CountCpu(State, Cpu0, "peer");
    State.counters["drawn_points"] = double(Series->count());
}
BENCHMARK(BM_PeerChartMinMax)->Unit(benchmark::kMillisecond);

void BM_MemoryMillionPoints(benchmark::State& State) {
    const long N = 1000000;
    double Bytes = 0;
    for (auto _ : State) {
        TPlotModel M;
        for (long i = 0; i < N; ++i)
            M.Add(double(i) / Rate, Reading(i));
        Bytes = double(M.MemoryBytes());
        benchmark::DoNotOptimize(M.Count());
    }
    State.counters["bytes_per_point"] = Bytes / N;
    State.counters["peer_series_bytes_per_point"] = double(sizeof(QPointF));
}
BENCHMARK(BM_MemoryMillionPoints)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    return RunQtBenchmarks<TApplication>(argc, argv, [] {
        if (!GFigures.count("open") || !GFigures.count("peer")) return;
        std::printf("\nPlot at 1000 readings/s, 10-minute span, 1000 x 500 window, processor "
                    "time + X server a reading:\n  ours open %.1f us, closed %.2f us; peer Qt "
                    "Charts with per-pixel min/max %.1f us; ratio (open) %.3f\n",
                    GFigures["open"], GFigures["closed"], GFigures["peer"],
                    GFigures["open"] / GFigures["peer"]);
    });
}
