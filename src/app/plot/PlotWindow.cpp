// SPDX-License-Identifier: GPL-3.0-or-later
#include "PlotWindow.h"

#include "Recorder.h"

#include "FormatFixed.h"
#include "SysUtils.h"

#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDateTimeAxis>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineSeries>
#include <QMouseEvent>
#include <QPushButton>
#include <QSaveFile>
#include <QVBoxLayout>
#include <QValueAxis>

#include <algorithm>
#include <charconv>
#include <cmath>

// The chart with a cross-hair that follows the mouse, snapped to the nearest
// reading of the visible span.
class TPlotChartView : public QChartView {
  public:
    TPlotChartView(QChart* Chart, TPlotWindow* Owner) : QChartView(Chart), FOwner(Owner) {
        setMouseTracking(true);
        setRenderHint(QPainter::Antialiasing, false);
    }

    bool FShowCross = false;
    TPlotPoint FCross{0, 0};

  protected:
    void mouseMoveEvent(QMouseEvent* Event) override {
        FShowCross = Snap(Event->position());
        viewport()->update();
        QChartView::mouseMoveEvent(Event);
    }
    void leaveEvent(QEvent* Event) override {
        FShowCross = false;
        viewport()->update();
        QChartView::leaveEvent(Event);
    }

    void drawForeground(QPainter* Painter, const QRectF& Rect) override {
        QChartView::drawForeground(Painter, Rect);
        const QRectF Area = chart()->plotArea();
        if (!FShowCross) return;
        const QPointF At =
            chart()->mapToPosition(QPointF(double(FOwner->WallMs(FCross.Time)), FCross.Value));
        if (!Area.contains(At)) return;
        Painter->save();
        Painter->setPen(QPen(QColor(128, 128, 128), 0, Qt::DashLine));
        Painter->drawLine(QPointF(At.x(), Area.top()), QPointF(At.x(), Area.bottom()));
        Painter->drawLine(QPointF(Area.left(), At.y()), QPointF(Area.right(), At.y()));
        const QString Text =
            QDateTime::fromMSecsSinceEpoch(FOwner->WallMs(FCross.Time)).toString("hh:mm:ss.zzz") +
            "   " + FOwner->ValueText(FCross.Value) + QChar(0x00B0);
        const QFontMetrics M(Painter->font());
        QRectF Box(Area.left() + 4, Area.top() + 4, M.horizontalAdvance(Text) + 8, M.height() + 4);
        Painter->fillRect(Box, QColor(255, 255, 255, 220));
        Painter->setPen(Qt::black);
        Painter->drawText(Box, Qt::AlignCenter, Text);
        Painter->restore();
    }

  private:
    bool Snap(const QPointF& Pos) {
        const QPointF ChartPos = chart()->mapFromScene(mapToScene(Pos.toPoint()));
        if (!chart()->plotArea().contains(ChartPos)) return false;
        const TPlotModel& Model = FOwner->Model();
        const double T = (chart()->mapToValue(ChartPos).x() - double(FOwner->WallMs(0))) / 1000.0;
        size_t Begin, End;
        Model.Find(FOwner->VisibleFrom(), FOwner->VisibleTo(), Begin, End);
        if (Begin == End) return false;
        size_t Next, Unused;
        Model.Find(T, T, Next, Unused);
        Next = std::clamp(Next, Begin, End - 1);
        if (Next > Begin && T - Model.At(Next - 1).Time < Model.At(Next).Time - T) --Next;
        FCross = Model.At(Next);
        return true;
    }

    TPlotWindow* FOwner;
};

namespace {

const char* const SpanTexts[] = {"10 s", "1 min", "10 min", "All"};

// RFC 4180: a field with a comma, quote or line break goes in quotes, its
// quotes doubled.
// The shortest text that reads back as the same float.
QString FloatText(float Value) {
    char Buf[32];
    const auto R = std::to_chars(Buf, Buf + sizeof Buf, Value);
    return QString::fromLatin1(Buf, int(R.ptr - Buf));
}

} // namespace

TPlotWindow::TPlotWindow(QWidget* Parent, size_t Capacity)
    : QWidget(Parent, Qt::Window), FOwnFeed(std::make_unique<TPlotFeed>(Capacity)),
      FFeed(*FOwnFeed) {
    Build();
}

TPlotWindow::TPlotWindow(QWidget* Parent, TPlotFeed& Feed)
    : QWidget(Parent, Qt::Window), FFeed(Feed) {
    Build();
}

void TPlotWindow::Build() {
    setWindowTitle("Plot");

    FSeries = new QLineSeries;
    FChart = new QChart;
    FChart->addSeries(FSeries);
    FChart->legend()->hide();
    FChart->setMargins(QMargins(4, 4, 4, 4));
    FAxisX = new QDateTimeAxis;
    FAxisX->setFormat("hh:mm:ss");
    FAxisX->setTickCount(6);
    FAxisY = new QValueAxis;
    FAxisY->setTitleText(QString("Angle [") + QChar(0x00B0) + "]");
    FChart->addAxis(FAxisX, Qt::AlignBottom);
    FChart->addAxis(FAxisY, Qt::AlignLeft);
    FSeries->attachAxis(FAxisX);
    FSeries->attachAxis(FAxisY);
    FView = new TPlotChartView(FChart, this);

    cbSpan = new QComboBox;
    for (const char* T : SpanTexts)
        cbSpan->addItem(T);
    cbSpan->setCurrentIndex(1);
    cbScale = new QComboBox;
    cbScale->addItems({"Auto", "Sensor range"});
    btPause = new QPushButton("Pause");
    btPause->setCheckable(true);
    btExportPng = new QPushButton("Export PNG...");
    btExportCsv = new QPushButton("Export CSV...");
    lStatistics = new QLabel;
    lStatistics->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* Bar = new QHBoxLayout;
    Bar->addWidget(new QLabel("Span"));
    Bar->addWidget(cbSpan);
    Bar->addWidget(new QLabel("Scale"));
    Bar->addWidget(cbScale);
    Bar->addWidget(btPause);
    Bar->addStretch();
    Bar->addWidget(btExportPng);
    Bar->addWidget(btExportCsv);
    auto* Layout = new QVBoxLayout(this);
    Layout->addLayout(Bar);
    Layout->addWidget(FView, 1);
    Layout->addWidget(lStatistics);
    resize(720, 420);

    FTimer.setSingleShot(true);
    FTimer.setInterval(RefreshMs);
    QObject::connect(&FTimer, &QTimer::timeout, this, [this] { Refresh(); });
    QObject::connect(cbSpan, qOverload<int>(&QComboBox::currentIndexChanged), this, [this] {
        if (WriteSetting) WriteSetting("Plot/Span", Span());
        Refresh();
    });
    // The columns follow the plot's width in pixels.
    QObject::connect(FChart, &QChart::plotAreaChanged, this, [this] {
        if (isVisible()) FTimer.start();
    });
    QObject::connect(cbScale, qOverload<int>(&QComboBox::currentIndexChanged), this,
                     [this] { Refresh(); });
    QObject::connect(btPause, &QPushButton::toggled, this, [this](bool On) { SetPaused(On); });
    QObject::connect(btExportPng, &QPushButton::clicked, this, [this] {
        const QString Path =
            QFileDialog::getSaveFileName(this, "Export PNG", "plot.png", "PNG pictures (*.png)");
        if (!Path.isEmpty()) ExportPng(Path);
    });
    QObject::connect(btExportCsv, &QPushButton::clicked, this, [this] {
        const QString Path =
            QFileDialog::getSaveFileName(this, "Export CSV", "plot.csv", "CSV files (*.csv)");
        if (!Path.isEmpty()) ExportCsv(Path);
    });
    FFeed.OnAdded = [this] { ScheduleRefresh(); };
    FFeed.OnRange = [this] {
        if (isVisible()) Refresh();
    };
    Refresh();
}

TPlotWindow::~TPlotWindow() {
    FFeed.OnAdded = nullptr;
    FFeed.OnRange = nullptr;
    // A destructor must not throw; a failed save loses only the geometry.
    if (isVisible()) try {
            SaveState();
        } catch (...) {
        }
}

void TPlotWindow::LoadSettings() {
    if (!ReadSetting) return;
    const QVariant S = ReadSetting("Plot/Span");
    if (S.isValid()) {
        const QSignalBlocker Quiet(cbSpan);
        SetSpan(S.toInt());
    }
    const QByteArray G = ReadSetting("Plot/Geometry").toByteArray();
    if (!G.isEmpty()) restoreGeometry(G);
}

void TPlotWindow::SaveState() {
    if (!WriteSetting) return;
    WriteSetting("Plot/Span", Span());
    WriteSetting("Plot/Geometry", saveGeometry());
}

void TPlotWindow::ScheduleRefresh() {
    if (isVisible() && !FPaused && !FTimer.isActive()) FTimer.start();
}

void TPlotWindow::ShowPlot() {
    show();
    raise();
    activateWindow();
}

int TPlotWindow::Span() const {
    return Spans[std::clamp(cbSpan->currentIndex(), 0, 3)];
}

void TPlotWindow::SetSpan(int Seconds) {
    const int* At = std::find(std::begin(Spans), std::end(Spans), Seconds);
    if (At != std::end(Spans)) cbSpan->setCurrentIndex(int(At - Spans));
}

bool TPlotWindow::AutoScale() const {
    return cbScale->currentIndex() == 0;
}
void TPlotWindow::SetAutoScale(bool Value) {
    cbScale->setCurrentIndex(Value ? 0 : 1);
}

void TPlotWindow::SetPaused(bool Value) {
    if (Value == FPaused) return;
    FPaused = Value;
    const QSignalBlocker Quiet(btPause);
    btPause->setChecked(Value);
    btPause->setText(Value ? "Resume" : "Pause");
    if (Value)
        FTimer.stop();
    else
        Refresh();
}

int TPlotWindow::DrawnPoints() const {
    return int(FSeries->count());
}

QString TPlotWindow::ValueText(double Value) const {
    std::string Digits;
    if (!FormatFixed(Value, Precision, Digits)) return QString::number(Value);
    const bool Zero = Digits.find_first_not_of("0.") == std::string::npos;
    return QString::fromStdString((Value < 0 && !Zero ? "-" : "") + Digits);
}

void TPlotWindow::Refresh() {
    FTimer.stop();
    // Paused, the span stays where it was; only a change of span moves its
    // start.
    const TPlotModel& Readings = Model();
    const double Last = Readings.Count() ? Readings.At(Readings.Count() - 1).Time : 0;
    const double End = FPaused ? FTo : Last;
    const int S = Span();
    FTo = End;
    FFrom = S > 0 ? End - S : (Readings.Count() ? Readings.At(0).Time : 0);

    // Min/max per pixel column: at most four points a column, in time order,
    // whatever the number of readings.
    const int Columns = std::max(1, int(FChart->plotArea().width()));
    QList<QPointF> Points;
    for (const TPlotColumn& C : Readings.Decimate(FFrom, FTo, Columns)) {
        if (C.Count == 0) continue;
        size_t Order[4] = {C.First, std::min(C.Min, C.Max), std::max(C.Min, C.Max), C.Last};
        for (int i = 0; i < 4; ++i) {
            if (i > 0 && Order[i] == Order[i - 1]) continue;
            const TPlotPoint P = Readings.At(Order[i]);
            Points.append(QPointF(double(WallMs(P.Time)), P.Value));
        }
    }
    FSeries->replace(Points);

    const double Width = FTo > FFrom ? 0 : 1;
    FAxisX->setRange(QDateTime::fromMSecsSinceEpoch(WallMs(FFrom - Width)),
                     QDateTime::fromMSecsSinceEpoch(WallMs(FTo + Width)));
    FAxisX->setFormat(S > 0 && S <= 10 ? "hh:mm:ss.z" : "hh:mm:ss");

    const TPlotStatistics Stat = Readings.Statistics(FFrom, FTo);
    if (!AutoScale() && FFeed.HasRange()) {
        FAxisY->setRange(FFeed.RangeMin(), FFeed.RangeMax());
    } else if (Stat.Count == 0) {
        FAxisY->setRange(-1, 1);
    } else {
        const double Margin = Stat.PeakToPeak > 0 ? Stat.PeakToPeak * 0.05 : 1;
        FAxisY->setRange(Stat.Min - Margin, Stat.Max + Margin);
        FAxisY->applyNiceNumbers();
    }
    UpdateStatistics(Stat);
}

void TPlotWindow::UpdateStatistics(const TPlotStatistics& S) {
    if (S.Count == 0) {
        lStatistics->setText("Count 0");
        return;
    }
    const int Fine = Precision + 2;
    lStatistics->setText(
        QString("Count %1   Min %2   Max %3   Mean %4   Std dev %5   Peak to peak %6")
            .arg(S.Count)
            .arg(ValueText(S.Min), ValueText(S.Max))
            .arg(S.Mean, 0, 'f', Fine)
            .arg(S.StdDev, 0, 'f', Fine)
            .arg(ValueText(S.PeakToPeak)));
}

void TPlotWindow::showEvent(QShowEvent* Event) {
    QWidget::showEvent(Event);
    Refresh();
}

void TPlotWindow::hideEvent(QHideEvent* Event) {
    QWidget::hideEvent(Event);
    FTimer.stop();
    SaveState();
}

void TPlotWindow::ExportPng(const QString& Path) {
    if (!FView->grab().save(Path, "PNG"))
        throw EInOutError("Cannot write \"" + Path.toStdString() + "\"");
}

void TPlotWindow::ExportCsv(const QString& Path) {
    std::string Text = std::string(TRecorder::Header) + TRecorder::LineEnd;
    size_t Begin, End;
    Model().Find(FFrom, FTo, Begin, End);
    for (size_t i = Begin; i < End; ++i) {
        const TPlotPoint P = Model().At(i);
        const auto Wall =
            std::chrono::system_clock::time_point(std::chrono::milliseconds(WallMs(P.Time)));
        Text += TRecorder::Row(TRecorder::LocalTime(Wall), P.Time,
                               {"reading", FloatText(P.Value).toStdString(), "", "", "", ""}) +
                TRecorder::LineEnd;
    }
    // Written whole or not at all.
    QSaveFile File(Path);
    if (!File.open(QIODevice::WriteOnly) || File.write(Text.data(), qint64(Text.size())) < 0 ||
        !File.commit())
        throw EInOutError("Cannot write \"" + Path.toStdString() + "\"");
}

// The module's entry (PlotModule.h); the only name it exports.
extern "C" Q_DECL_EXPORT QWidget* VortaNewPlotWindow(QWidget* Parent, TPlotFeed& Feed,
                                                     const TPlotSettings& Settings) {
    auto* W = new TPlotWindow(Parent, Feed);
    W->ReadSetting = Settings.Read;
    W->WriteSetting = Settings.Write;
    W->LoadSettings();
    return W;
}
