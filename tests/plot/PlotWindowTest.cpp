// SPDX-License-Identifier: GPL-3.0-or-later
// The plot window as the main window drives it: readings handed in, the
// settings file of the program, shown offscreen.
#include "PlotWindow.h"
#include "ProgramSettings.h"
#include "Recorder.h"

#include <gtest/gtest.h>

#include <QChartView>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QImage>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <cmath>
#include <memory>

namespace {

void Wire(TPlotWindow& W, const std::string& Path) {
    W.ReadSetting = [Path](const QString& Key) { return TProgramSettings(Path).Value(Key); };
    W.WriteSetting = [Path](const QString& Key, const QVariant& Value) {
        TProgramSettings S(Path);
        S.SetValue(Key, Value);
        S.Save();
    };
    W.LoadSettings();
}

// Lets the event loop run until Done holds; the timer refresh is event driven.
template <class F> bool Until(F Done) {
    const QDeadlineTimer Deadline(5000);
    while (!Done() && !Deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return Done();
}

} // namespace

TEST(PlotWindow, ShowsReadingsSwitchesSpansPausesAndExportsTheVisibleSpan) {
    QTemporaryDir Dir;
    const std::string Ini = Dir.filePath("vorta-display.ini").toStdString();
    auto W = std::make_unique<TPlotWindow>();
    Wire(*W, Ini);
    // Kept while hidden: 480 readings, one every 1/8 s (exact in binary).
    for (int i = 0; i < 480; ++i)
        W->AddReading(10 + 5 * std::sin(i / 20.0), i * 0.125);
    W->AddReading(NAN, 60);
    EXPECT_EQ(W->Model().Count(), 480u);
    EXPECT_EQ(W->DrawnPoints(), 0) << "a hidden window draws nothing";

    W->ShowPlot();
    EXPECT_EQ(W->Span(), 60);
    EXPECT_EQ(W->VisibleStatistics().Count, 480u);
    EXPECT_GT(W->DrawnPoints(), 0);

    W->SetSpan(10);
    EXPECT_EQ(W->VisibleFrom(), 59.875 - 10);
    const TPlotStatistics S = W->VisibleStatistics();
    EXPECT_EQ(S.Count, 81u);

    // New readings reach the chart through the refresh timer; paused, the
    // span stands still.
    W->AddReading(42, 60);
    ASSERT_TRUE(Until([&] { return W->VisibleTo() == 60; }));
    EXPECT_EQ(W->VisibleStatistics().Max, 42);
    W->SetPaused(true);
    W->AddReading(43, 61);
    QCoreApplication::processEvents();
    EXPECT_EQ(W->VisibleTo(), 60);
    W->SetPaused(false);
    EXPECT_EQ(W->VisibleTo(), 61);

    // Many points draw as at most four a pixel column.
    for (int i = 0; i < 200000; ++i)
        W->AddReading(i % 7, 61 + i * 0.00004);
    W->Refresh();
    EXPECT_EQ(W->VisibleStatistics().Count, 200000u + 8 + 2); // from 59 s
    EXPECT_LE(W->DrawnPoints(), 4 * W->width());

    // Exports: the chart as a picture, the visible readings as rows.
    W->AddReading(-0.5, 80.5);
    W->AddReading(7.25, 81);
    W->Refresh();
    const QString Png = Dir.filePath("plot.png"), Csv = Dir.filePath("plot.csv");
    W->ExportPng(Png);
    EXPECT_FALSE(QImage(Png).isNull());
    W->ExportCsv(Csv);
    QFile F(Csv);
    ASSERT_TRUE(F.open(QIODevice::ReadOnly));
    const QStringList Lines = QString::fromUtf8(F.readAll()).split("\r\n", Qt::SkipEmptyParts);
    ASSERT_EQ(Lines.size(), 3);
    EXPECT_EQ(Lines[0], "time,elapsed_s,kind,value,text,port,mode,id");
    EXPECT_TRUE(QRegularExpression(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d,)")
                    .match(Lines.last())
                    .hasMatch())
        << Lines.last().toStdString();
    EXPECT_TRUE(Lines[1].endsWith(",0.000,reading,-0.5,,,,")) << Lines[1].toStdString();
    EXPECT_TRUE(Lines[2].endsWith(",0.500,reading,7.25,,,,")) << Lines[2].toStdString();

    // The span and the size come back in the next run.
    W->resize(800, 500);
    W->hide();
    W.reset();
    TPlotWindow Next;
    Wire(Next, Ini);
    EXPECT_EQ(Next.Span(), 10);
    EXPECT_EQ(Next.size(), QSize(800, 500));
}

// The shown sensor's readings only ("All": the current sensor's), exported as
// the recording fills its columns, elapsed from the first row.
TEST(PlotWindow, ExportsTheShownSensorsReadingsAsTheRecordingDoes) {
    TPlotWindow W;
    W.SetSpan(0);
    W.ShowPlot();
    const auto Add = [&](const char* Port, int Id, int Mode, const char* Text, double Time) {
        TReading R;
        R.Value = QString(Text).toDouble(); // whatever the locale
        R.Text = Text, R.Port = Port, R.Id = Id, R.Mode = Mode;
        W.AddReading(R, Time);
    };
    Add("pts/3", 5, 2, "+012.50", 10);
    Add("pts/4", -1, -1, "-1.25", 10.25);
    Add("pts/3", 5, 2, "+012.75", 10.5);
    Add("pts/3", 5, 3, "+013.00", 11);
    Add("pts/3", 5, 3, "+013.25", 11.5);
    Add("pts/3", 5, 3, "+014.00", 20);
    const struct {
        int Sensor, Lines;
        const char* Rows; // after the time column
    } Cases[] = {
        {2, 1, "0.000,reading,-1.25,-1.25,pts/4,,\r\n"},
        {0, 2,
         "0.000,reading,12.5,+012.50,pts/3,2,5\r\n0.500,reading,12.75,+012.75,pts/3,2,5\r\n"
         "1.000,reading,13,+013.00,pts/3,3,5\r\n1.500,reading,13.25,+013.25,pts/3,3,5\r\n"
         "10.000,reading,14,+014.00,pts/3,3,5\r\n"}};
    const QRegularExpression Time("^[-+0-9T:.]{29},", QRegularExpression::MultilineOption);
    QTemporaryDir Dir;
    for (const auto& C : Cases) {
        W.SetSensor(C.Sensor);
        EXPECT_EQ(W.DrawnLines(), C.Lines);
        QFile F(Dir.filePath("plot.csv"));
        W.ExportCsv(F.fileName());
        ASSERT_TRUE(F.open(QIODevice::ReadOnly));
        const QString Rows = QString::fromUtf8(F.readAll()).remove(Time);
        EXPECT_EQ(Rows.toStdString(), std::string(TRecorder::Header) + "\r\n" + C.Rows);
    }
}

TEST(PlotWindow, DrawsTheWatchedSensorsTogetherEachInItsColourWithALegend) {
    TPlotWindow W;
    W.ShowPlot();
    const auto Add = [&](int Id, double Value, double Time, TReadingSource Source) {
        TReading R;
        R.Port = "pts/3", R.Id = Id, R.Value = Value, R.Source = Source;
        W.AddReading(R, Time);
    };
    const auto Legend = [&] {
        std::vector<std::string> Out;
        for (QLegendMarker* M : W.findChild<QChartView*>()->chart()->legend()->markers())
            if (M->isVisible())
                Out.push_back(
                    M->label().toStdString() + " " +
                    static_cast<QLineSeries*>(M->series())->pen().color().name().toStdString());
        return Out;
    };
    Add(1, 4, 0, TReadingSource::Stream);
    W.BeginWatch({1, 5, 12}, 5);
    for (int Round = 0; Round < 3; ++Round)
        for (const int Id : {1, 5, 12})
            Add(Id, Id * 2, 1 + Round + Id / 100.0, TReadingSource::Watch);
    W.Refresh();
    EXPECT_EQ(W.DrawnLines(), 3);
    EXPECT_EQ(W.Shown()->Id, 5);
    EXPECT_EQ(Legend(),
              (std::vector<std::string>{"ID 1 #0072b2", "ID 5 #d55e00", "ID 12 #009e73"}));
    // Another source's reading is its sensor's alone again.
    Add(1, 4, 5, TReadingSource::Stream);
    W.Refresh();
    EXPECT_EQ(W.DrawnLines(), 1);
    EXPECT_EQ(W.Shown()->Id, 1);
    EXPECT_FALSE(W.findChild<QChartView*>()->chart()->legend()->isVisible());
}

// The shown sensor's limits as lines and its crossings in the span as marks;
// crossings go with the readings they were marked at.
TEST(PlotWindow, DrawsTheShownSensorsBandAndTheCrossingsInItsSpan) {
    TPlotFeed Feed(256);
    TPlotWindow W(nullptr, Feed);
    W.ShowPlot();
    W.SetSpan(10);
    auto Add = [&](int Id, double Value, double Time) {
        Feed.Add({{}, Value, "", "USB0", Id}, Time);
    };
    auto Drawn = [&] {
        W.Refresh();
        return std::vector<int>{W.DrawnLow(), W.DrawnHigh(), W.DrawnCrossings(true),
                                W.DrawnCrossings(false)};
    };
    Feed.SetBand("USB0", 3, {{}, 12});
    Add(3, 11, 0);
    Add(3, 13, 1);
    Feed.AddCrossing("USB0", 3, true);
    Add(3, 11, 2);
    Feed.AddCrossing("USB0", 3, false);
    Feed.AddCrossing("USB0", 9, true); // no readings of it: nowhere to mark
    EXPECT_EQ(Drawn(), (std::vector<int>{0, 1, 1, 1}));
    Add(3, 11, 11.5);
    EXPECT_EQ(Drawn(), (std::vector<int>{0, 1, 0, 1})) << "the raise is out of the span";
    Add(4, 11, 12);
    EXPECT_EQ(Drawn(), (std::vector<int>{0, 0, 0, 0})) << "another sensor, another band";
    for (int i = 0; i < 256; ++i)
        Add(3, 11, 13 + i);
    EXPECT_TRUE(Feed.Series()[0]->Crossings.empty());
}
