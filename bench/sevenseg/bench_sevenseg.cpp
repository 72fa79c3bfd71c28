// SPDX-License-Identifier: GPL-3.0-or-later
// One paint of the main window's angle readout (113 x 36, five digits, one
// decimal, lime on black, unlit segments hidden) against Qt's QLCDNumber
// painting the same text at the same size, in the same run.
#include "iSevenSegmentAnalog.h"

#include <QApplication>
#include <QImage>
#include <QLCDNumber>

#include <benchmark/benchmark.h>

#include "QtBenchMain.h"

namespace {

const double kValues[] = {-123.4, 45.6, 7.8, -1234.5};
const char* const kTexts[] = {"-123.4", " 45.6", "  7.8", "-1234.5"};

void BM_ReadoutPaint(benchmark::State& State) {
    TiSevenSegmentAnalog readout;
    readout.SetAutoSize(false);
    readout.resize(113, 36);
    readout.SetSegmentColor(clLime);
    readout.SetShowOffSegments(false);
    readout.SetSegmentOffColor(clBlack);
    readout.SetPrecision(1);
    readout.SetDigitCount(5);
    QImage target(113, 36, QImage::Format_ARGB32_Premultiplied);
    size_t i = 0;
    for (auto _ : State) {
        readout.SetValue(kValues[i++ % 4]);
        readout.render(&target);
        benchmark::DoNotOptimize(target.constBits());
    }
}
BENCHMARK(BM_ReadoutPaint);

void BM_QLCDNumberPaint(benchmark::State& State) {
    QLCDNumber lcd(6);
    lcd.resize(113, 36);
    lcd.setSegmentStyle(QLCDNumber::Filled);
    lcd.setSmallDecimalPoint(true);
    lcd.setFrameShape(QFrame::NoFrame);
    QPalette pal = lcd.palette();
    pal.setColor(QPalette::WindowText, Qt::green);
    pal.setColor(QPalette::Window, Qt::black);
    lcd.setPalette(pal);
    lcd.setAutoFillBackground(true);
    QImage target(113, 36, QImage::Format_ARGB32_Premultiplied);
    size_t i = 0;
    for (auto _ : State) {
        lcd.display(QString::fromLatin1(kTexts[i++ % 4]));
        lcd.render(&target);
        benchmark::DoNotOptimize(target.constBits());
    }
}
BENCHMARK(BM_QLCDNumberPaint);

} // namespace

int main(int argc, char** argv) {
    return RunQtBenchmarks<QApplication>(argc, argv);
}
