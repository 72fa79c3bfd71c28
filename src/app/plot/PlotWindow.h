// SPDX-License-Identifier: GPL-3.0-or-later
// The live plot: a separate, non-modal window showing one sensor's angle
// against time as the readout shows it, from every accepted reading; the
// current sensor's unless another is chosen, and during a watch of several
// sensors all of them, each in its colour, named in a legend. The readings are in a
// TPlotFeed: the program's own, which it fills from the start and the window
// attaches to when it is built (through the plot module, PlotModule.h), or
// one the window owns. A hidden or paused window does no work; the feed only
// stores. User-interface thread only:
//   Plot = new TPlotWindow(this, Feed);            // hidden
//   Plot->ReadSetting = ...; Plot->WriteSetting = ...; Plot->LoadSettings();
//   Feed.Add(Reading);                             // each reading of the session
//   Plot->ShowPlot();                              // View > Plot
//   Feed.SetSensorRange(Minus, Plus);              // after Information
#pragma once

#include "PlotFeed.h"
#include "PlotModule.h"

#include <QDateTime>
#include <QPen>
#include <QString>
#include <QTimer>
#include <QVariant>
#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

class QChart;
class QComboBox;
class QDateTimeAxis;
class QLabel;
class QLineSeries;
class QPushButton;
class QScatterSeries;
class QValueAxis;
class TPlotChartView;

class TPlotWindow : public QWidget {
  public:
    // The spans offered, in seconds; 0 is everything kept.
    static constexpr int Spans[] = {10, 60, 600, 0};
    // At most this many refreshes a second while new readings arrive.
    static constexpr int RefreshMs = 100;

    // With a Parent the window is still a window of its own (and goes with
    // the parent). The first form owns its feed; the second shows Feed, which
    // must outlive the window.
    explicit TPlotWindow(QWidget* Parent = nullptr, size_t Capacity = TPlotModel::DefaultCapacity);
    TPlotWindow(QWidget* Parent, TPlotFeed& Feed);
    ~TPlotWindow() override;

    // Where the geometry and the span are kept between runs (keys "Plot/..."):
    // the program's settings file (TProgramSettings). WriteSetting should
    // store at once. Unset, nothing is kept.
    std::function<QVariant(const QString& Key)> ReadSetting;
    std::function<void(const QString& Key, const QVariant& Value)> WriteSetting;
    // Takes the kept span and geometry; call once after setting the above.
    void LoadSettings();

    // A reading into the feed (TPlotFeed::Add); a bare value is one of an
    // unknown sensor on no port.
    void AddReading(const TReading& R, double Time) { FFeed.Add(R, Time); }
    void AddReading(double Value, double Time) {
        TReading R;
        R.Value = Value;
        FFeed.Add(R, Time);
    }

    // A watch of several sensors began (TPlotFeed::BeginWatch).
    void BeginWatch(std::vector<int> Ids, int Lead) { FFeed.BeginWatch(std::move(Ids), Lead); }

    // Shows the window, raises and activates it.
    void ShowPlot();

    // The sensor's range into the feed (TPlotFeed::SetSensorRange).
    void SetSensorRange(int MinusTenths, int PlusTenths) {
        FFeed.SetSensorRange(MinusTenths, PlusTenths);
    }

    // The series shown: 0 the current sensor's, else 1 + its index in the
    // feed's Series(). Out of range is taken as 0.
    int Sensor() const;
    void SetSensor(int Index);
    // The shown series; nullptr before the first reading.
    const TPlotSeries* Shown() const;

    // Span in seconds (one of Spans); 0 for all.
    int Span() const;
    void SetSpan(int Seconds);
    bool AutoScale() const;
    void SetAutoScale(bool Value);
    bool Paused() const { return FPaused; }
    void SetPaused(bool Value);
    // Decimals of the values shown: the readout's.
    int Precision = 1;

    // Redraws from the model now (the timer does this while visible).
    void Refresh();

    // The visible span as of the last refresh, in the model's clock.
    double VisibleFrom() const { return FFrom; }
    double VisibleTo() const { return FTo; }
    TPlotStatistics VisibleStatistics() const { return Model().Statistics(FFrom, FTo); }
    // The points the chart draws after decimation, and in how many lines.
    int DrawnPoints() const;
    int DrawnLines() const { return FLines; }
    // The shown sensor's alarm limits drawn (as dashed lines) and its
    // crossings marked in the visible span: raised and cleared.
    bool DrawnLow() const;
    bool DrawnHigh() const;
    int DrawnCrossings(bool Raised) const;

    // The chart as a picture, with the statistics, the sensor and the date
    // under it / the visible readings as rows of the recording's columns,
    // elapsed_s from the first row. EInOutError when the file cannot be
    // written.
    void ExportPng(const QString& Path);
    void ExportCsv(const QString& Path);

    // The shown series' readings (empty before the first).
    const TPlotModel& Model() const;
    // Wall-clock time of a model time, milliseconds since the epoch.
    qint64 WallMs(double Time) const { return FFeed.WallMs(Time); }
    // The text of a value with Precision decimals, rounded as the readout does.
    QString ValueText(double Value) const;

  protected:
    void showEvent(QShowEvent* Event) override;
    void hideEvent(QHideEvent* Event) override;

  private:
    void Build();
    void ScheduleRefresh();
    void SaveState();
    void UpdateStatistics(const TPlotStatistics& S);
    void UpdateSensors();
    QLineSeries* Line(int Index);
    QString SensorText() const;

    std::unique_ptr<TPlotFeed> FOwnFeed;
    TPlotFeed& FFeed;
    QTimer FTimer;
    double FFrom = 0, FTo = 0;
    bool FPaused = false;

    QComboBox* cbSpan;
    QComboBox* cbScale;
    QComboBox* cbSensor;
    QPushButton* btPause;
    QPushButton* btExportPng;
    QPushButton* btExportCsv;
    TPlotChartView* FView;
    QChart* FChart;
    // The lines drawn, one for each run of readings between pauses; kept for
    // the next refresh, the ones past FLines empty.
    std::vector<QLineSeries*> FLine;
    int FLines = 0;
    QPen FLinePen; // the chart's pen for the first line, one sensor's colour
    void DrawAlarms(const TPlotSeries* Series, double Width);
    QLineSeries* FLow;
    QLineSeries* FHigh;
    QScatterSeries* FRaised;
    QScatterSeries* FCleared;
    QDateTimeAxis* FAxisX;
    QValueAxis* FAxisY;
    QLabel* lStatistics;
};
