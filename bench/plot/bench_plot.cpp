// SPDX-License-Identifier: GPL-3.0-or-later
// The plot at 1000 readings a second with the 10-minute span shown. One
// iteration is one second of readings: 1000 readings and the 10 refreshes the
// window's timer allows, each followed by the paint it causes.
//   Closed: the window hidden, the readings only stored (the model's cost).
//   Open:   shown, min/max columns per pixel, then painted.
//   Peer:   shown, a series of every reading of the span, then painted.
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

#include <cmath>
#include <memory>

#include "QtBenchMain.h"

namespace {

constexpr int Rate = 1000;
constexpr int SpanSeconds = 600;

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
    State.counters["cpu_us_per_reading"] =
        benchmark::Counter(double(State.iterations()) * Rate * 1e-6,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
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

// Every reading of the span in the series, refreshed and painted alike.
void BM_PeerEveryPointSeries(benchmark::State& State) {
    auto* Series = new QLineSeries;
    auto* Chart = new QChart;
    Chart->addSeries(Series);
    Chart->createDefaultAxes();
    Chart->legend()->hide();
    QChartView View(Chart);
    View.resize(1000, 500);
    View.show();
    QList<QPointF> Points;
    long I = 0;
    for (; I < long(SpanSeconds) * Rate; ++I)
        Points.append(QPointF(double(I) / Rate, Reading(I)));
    for (auto _ : State) {
        for (int k = 0; k < Rate; ++k, ++I) {
            Points.removeFirst();
            Points.append(QPointF(double(I) / Rate, Reading(I)));
            if (k % (Rate / 10) == Rate / 10 - 1) {
                Series->replace(Points);
                Chart->axes(Qt::Horizontal)
                    .first()
                    ->setRange(Points.first().x(), Points.last().x());
                Chart->axes(Qt::Vertical).first()->setRange(-31, 31);
                View.repaint();
                QCoreApplication::processEvents();
            }
        }
    }
    State.counters["cpu_us_per_reading"] =
        benchmark::Counter(double(State.iterations()) * Rate * 1e-6,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    State.counters["drawn_points"] = double(Series->count());
}
BENCHMARK(BM_PeerEveryPointSeries)->Unit(benchmark::kMillisecond)->Iterations(3);

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
    return RunQtBenchmarks<TApplication>(argc, argv);
}
