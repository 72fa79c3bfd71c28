// The live plot: a separate, non-modal window showing the angle against time
// as the readout shows it, from every accepted reading. It owns the readings
// (TPlotModel), so the main window creates it hidden at start-up and hands
// it each reading; a hidden or paused window does no work beyond storing.
//
// Use from the main window (user-interface thread only):
//   Plot = new TPlotWindow(this);                  // at start-up, hidden
//   Plot->ReadSetting = ...; Plot->WriteSetting = ...; Plot->LoadSettings();
//   Plot->AddReading(Value);                       // each accepted reading
//   Plot->ShowPlot();                              // View > Plot
//   Plot->SetSensorRange(Minus, Plus);             // after Information
#pragma once

#include "PlotModel.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QString>
#include <QTimer>
#include <QVariant>
#include <QWidget>

#include <functional>

class QChart;
class QComboBox;
class QDateTimeAxis;
class QLabel;
class QLineSeries;
class QPushButton;
class QValueAxis;
class TPlotChartView;

class TPlotWindow : public QWidget {
  public:
    // The spans offered, in seconds; 0 is everything kept.
    static constexpr int Spans[] = {10, 60, 600, 0};
    // At most this many refreshes a second while new readings arrive.
    static constexpr int RefreshMs = 100;

    // With a Parent the window is still a window of its own (and goes with
    // the parent).
    explicit TPlotWindow(QWidget* Parent = nullptr, size_t Capacity = TPlotModel::DefaultCapacity);
    ~TPlotWindow() override;

    // Where the geometry and the span are kept between runs (keys "Plot/..."):
    // the program's settings file (TProgramSettings). WriteSetting should
    // store at once. Unset, nothing is kept.
    std::function<QVariant(const QString& Key)> ReadSetting;
    std::function<void(const QString& Key, const QVariant& Value)> WriteSetting;
    // Takes the kept span and geometry; call once after setting the above.
    void LoadSettings();

    // One accepted reading, stamped now: the readout's value (not the
    // needle's angle). Not-a-number and infinities are left out.
    void AddReading(double Value);
    // The same with a time of the model's clock (seconds since the window
    // was created), for tests and replays.
    void AddReading(double Value, double Time);

    // Shows the window, raises and activates it.
    void ShowPlot();

    // The sensor's range from Information, tenths of a degree: the "Sensor
    // range" scale then runs from -|MinusTenths| to PlusTenths degrees. A
    // plus range of 0 stands for 3600, as the sensor reports it.
    void SetSensorRange(int MinusTenths, int PlusTenths);

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
    TPlotStatistics VisibleStatistics() const { return FModel.Statistics(FFrom, FTo); }
    // The points the chart draws after decimation.
    int DrawnPoints() const;

    // The chart as a picture / the visible readings as rows of the
    // recording's columns. EInOutError when the file cannot be written.
    void ExportPng(const QString& Path);
    void ExportCsv(const QString& Path);

    const TPlotModel& Model() const { return FModel; }
    // Wall-clock time of a model time, milliseconds since the epoch.
    qint64 WallMs(double Time) const { return FStartWallMs + qint64(Time * 1000.0 + 0.5); }
    // The text of a value with Precision decimals, rounded as the readout does.
    QString ValueText(double Value) const;

  protected:
    void showEvent(QShowEvent* Event) override;
    void hideEvent(QHideEvent* Event) override;

  private:
    void ScheduleRefresh();
    void SaveState();
    void UpdateStatistics(const TPlotStatistics& S);

    TPlotModel FModel;
    QElapsedTimer FClock;
    qint64 FStartWallMs;
    QTimer FTimer;
    double FFrom = 0, FTo = 0;
    bool FPaused = false;
    bool FHasRange = false;
    double FRangeMin = 0, FRangeMax = 0;

    QComboBox* cbSpan;
    QComboBox* cbScale;
    QPushButton* btPause;
    QPushButton* btExportPng;
    QPushButton* btExportCsv;
    TPlotChartView* FView;
    QChart* FChart;
    QLineSeries* FSeries;
    QDateTimeAxis* FAxisX;
    QValueAxis* FAxisY;
    QLabel* lStatistics;
};
