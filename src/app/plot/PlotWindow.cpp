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
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QSaveFile>
#include <QScatterSeries>
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

// The shortest text that reads back as the same float.
QString FloatText(float Value) {
    char Buf[32];
    const auto R = std::to_chars(Buf, Buf + sizeof Buf, Value);
    return QString::fromLatin1(Buf, int(R.ptr - Buf));
}

// A number the sensor may not have told: empty when unknown, as recorded.
std::string Known(int V) {
    return V < 0 ? std::string() : std::to_string(V);
}

// The list's name of a series: its port and ID, as far as they are known.
QString SeriesName(const TPlotSeries& S) {
    QString Name = QString::fromLocal8Bit(S.Port.c_str());
    if (S.Id >= 0) Name += (Name.isEmpty() ? "ID " : "  ID ") + QString::number(S.Id);
    return Name.isEmpty() ? QString("Unknown sensor") : Name;
}

const TPlotModel NoReadings(1);

// The colours of watched sensors, in the order of the watch's IDs: told
// apart on white and by most colour-blind eyes.
const QColor WatchColours[] = {QColor(0, 114, 178),   QColor(213, 94, 0),  QColor(0, 158, 115),
                               QColor(204, 121, 167), QColor(230, 159, 0), QColor(86, 180, 233),
                               QColor(0, 0, 0),       QColor(240, 228, 66)};

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

    FChart = new QChart;
    FChart->legend()->hide();
    FChart->legend()->setAlignment(Qt::AlignTop);
    FChart->setMargins(QMargins(4, 4, 4, 4));
    FAxisX = new QDateTimeAxis;
    FAxisX->setFormat("hh:mm:ss");
    FAxisX->setTickCount(6);
    FAxisY = new QValueAxis;
    FAxisY->setTitleText(QString("Angle [") + QChar(0x00B0) + "]");
    FChart->addAxis(FAxisX, Qt::AlignBottom);
    FChart->addAxis(FAxisY, Qt::AlignLeft);
    FView = new TPlotChartView(FChart, this);
    // The readings' line first: it keeps the theme's first colour.
    Line(0);
    const auto Add = [this](QXYSeries* S, const QPen& Pen) {
        FChart->addSeries(S);
        S->attachAxis(FAxisX);
        S->attachAxis(FAxisY);
        S->setPen(Pen);
    };
    FLow = new QLineSeries;
    FHigh = new QLineSeries;
    for (QLineSeries* L : {FLow, FHigh})
        Add(L, QPen(QColor(198, 40, 40), 1.5, Qt::DashLine));
    FRaised = new QScatterSeries;
    FCleared = new QScatterSeries;
    for (QScatterSeries* M : {FRaised, FCleared}) {
        Add(M, QPen(Qt::white, 1));
        M->setMarkerSize(9);
    }
    FRaised->setColor(QColor(198, 40, 40));
    FCleared->setColor(QColor(46, 125, 50));
    // The legend names the watched sensors; the band and the marks are no sensor.
    for (QXYSeries* S : std::initializer_list<QXYSeries*>{FLow, FHigh, FRaised, FCleared})
        for (QLegendMarker* M : FChart->legend()->markers(S))
            M->setVisible(false);

    cbSpan = new QComboBox;
    for (const char* T : SpanTexts)
        cbSpan->addItem(T);
    cbSpan->setCurrentIndex(1);
    cbScale = new QComboBox;
    cbScale->addItems({"Auto", "Sensor range"});
    // Follows the sensor of the last reading; the others are listed as
    // their readings come.
    cbSensor = new QComboBox;
    cbSensor->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    cbSensor->addItem("Current sensor");
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
    Bar->addWidget(new QLabel("Sensor"));
    Bar->addWidget(cbSensor);
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
    QObject::connect(cbSensor, qOverload<int>(&QComboBox::currentIndexChanged), this,
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
    int N = 0;
    for (int i = 0; i < FLines; ++i)
        N += int(FLine[size_t(i)]->count());
    return N;
}

int TPlotWindow::Sensor() const {
    return std::max(cbSensor->currentIndex(), 0);
}

void TPlotWindow::SetSensor(int Index) {
    UpdateSensors();
    cbSensor->setCurrentIndex(Index >= 0 && Index < cbSensor->count() ? Index : 0);
}

const TPlotSeries* TPlotWindow::Shown() const {
    const size_t I = size_t(Sensor());
    return I > 0 && I <= FFeed.Series().size() ? FFeed.Series()[I - 1].get() : FFeed.Current();
}

const TPlotModel& TPlotWindow::Model() const {
    const TPlotSeries* S = Shown();
    return S ? S->Model : NoReadings;
}

void TPlotWindow::UpdateSensors() {
    const QSignalBlocker Quiet(cbSensor);
    const auto& All = FFeed.Series();
    for (size_t i = size_t(cbSensor->count()) - 1; i < All.size(); ++i)
        cbSensor->addItem(SeriesName(*All[i]));
}

QLineSeries* TPlotWindow::Line(int Index) {
    while (FLine.size() <= size_t(Index)) {
        auto* L = new QLineSeries;
        FChart->addSeries(L);
        L->attachAxis(FAxisX);
        L->attachAxis(FAxisY);
        // The chart's colour for one sensor, whatever the number of lines.
        if (FLine.empty()) FLinePen = L->pen();
        FLine.push_back(L);
    }
    return FLine[size_t(Index)];
}

QString TPlotWindow::SensorText() const {
    const TPlotSeries* S = Shown();
    if (!S || S->Info.empty()) return "No readings";
    const int Mode = S->Info.back().Mode;
    return "Port " +
           (S->Port.empty() ? QString("unknown") : QString::fromLocal8Bit(S->Port.c_str())) +
           "   ID " + (S->Id < 0 ? QString("unknown") : QString::number(S->Id)) + "   Mode " +
           (Mode < 0 ? QString("unknown") : QString::number(Mode));
}

QString TPlotWindow::ValueText(double Value) const {
    std::string Digits;
    if (!FormatFixed(Value, Precision, Digits)) return QString::number(Value);
    const bool Zero = Digits.find_first_not_of("0.") == std::string::npos;
    return QString::fromStdString((Value < 0 && !Zero ? "-" : "") + Digits);
}

void TPlotWindow::Refresh() {
    FTimer.stop();
    UpdateSensors();
    // The sensors of a watch are drawn together, each in its colour and
    // named in the legend; any other reading's sensor alone.
    struct TTrack {
        const TPlotSeries* Series;
        int Colour; // index into WatchColours; -1 the chart's own
    };
    std::vector<TTrack> Tracks;
    const std::vector<const TPlotSeries*> Group =
        Sensor() == 0 ? FFeed.Group() : std::vector<const TPlotSeries*>();
    for (size_t k = 0; k < Group.size(); ++k)
        if (Group[k]) Tracks.push_back({Group[k], int(k % std::size(WatchColours))});
    if (Group.empty() && Shown()) Tracks.push_back({Shown(), -1});

    // Paused, the span stays where it was; only a change of span moves its
    // start.
    double Last = 0, First = 0;
    bool Seen = false;
    for (const TTrack& T : Tracks) {
        const TPlotModel& M = T.Series->Model;
        if (M.Count() == 0) continue;
        Last = Seen ? std::max(Last, M.At(M.Count() - 1).Time) : M.At(M.Count() - 1).Time;
        First = Seen ? std::min(First, M.At(0).Time) : M.At(0).Time;
        Seen = true;
    }
    const double End = FPaused ? FTo : Last;
    const int S = Span();
    FTo = End;
    FFrom = S > 0 ? End - S : First;

    // Min/max per pixel column: at most four points a column, in time order,
    // whatever the number of readings; a new line after each pause.
    const int Columns = std::max(1, int(FChart->plotArea().width()));
    std::vector<QList<QPointF>> Lines;
    std::vector<size_t> LineTrack; // the track of each line
    bool HaveRange = false;
    double Low = 0, High = 0;
    for (size_t t = 0; t < Tracks.size(); ++t) {
        const TPlotSeries* Series = Tracks[t].Series;
        const TPlotModel& Readings = Series->Model;
        bool Any = false;
        size_t Previous = 0;
        for (const TPlotColumn& C : Readings.Decimate(FFrom, FTo, Columns)) {
            if (C.Count == 0) continue;
            size_t Order[4] = {C.First, std::min(C.Min, C.Max), std::max(C.Min, C.Max), C.Last};
            for (int i = 0; i < 4; ++i) {
                if (Any && Order[i] == Previous) continue;
                if (!Any || Series->Broken(Previous, Order[i])) {
                    Lines.emplace_back();
                    LineTrack.push_back(t);
                }
                const TPlotPoint P = Readings.At(Order[i]);
                Lines.back().append(QPointF(double(WallMs(P.Time)), P.Value));
                Previous = Order[i];
                Any = true;
            }
        }
        const TPlotStatistics Part = Readings.Statistics(FFrom, FTo);
        if (Part.Count == 0) continue;
        Low = HaveRange ? std::min(Low, Part.Min) : Part.Min;
        High = HaveRange ? std::max(High, Part.Max) : Part.Max;
        HaveRange = true;
    }
    FLines = int(Lines.size());
    FChart->legend()->setVisible(!Group.empty());
    for (size_t i = 0; i < std::max(Lines.size(), FLine.size()); ++i) {
        QLineSeries* L = Line(int(i));
        L->replace(i < Lines.size() ? Lines[i] : QList<QPointF>());
        // A lone reading between pauses is no line: it shows as a dot.
        L->setPointsVisible(L->count() == 1);
        const TTrack* T = i < Lines.size() ? &Tracks[LineTrack[i]] : nullptr;
        QPen Pen = FLinePen;
        if (T && T->Colour >= 0) Pen.setColor(WatchColours[T->Colour]);
        L->setPen(Pen);
        // One legend entry a sensor: its first line's.
        const bool Named = T && (i == 0 || LineTrack[i - 1] != LineTrack[i]);
        if (Named) L->setName(QString("ID %1").arg(T->Series->Id));
        for (QLegendMarker* M : FChart->legend()->markers(L))
            M->setVisible(Named);
    }

    const double Width = FTo > FFrom ? 0 : 1;
    FAxisX->setRange(QDateTime::fromMSecsSinceEpoch(WallMs(FFrom - Width)),
                     QDateTime::fromMSecsSinceEpoch(WallMs(FTo + Width)));
    FAxisX->setFormat(S > 0 && S <= 10 ? "hh:mm:ss.z" : "hh:mm:ss");

    DrawAlarms(Shown(), Width);

    const TPlotStatistics Stat = Model().Statistics(FFrom, FTo);
    if (!AutoScale() && FFeed.HasRange()) {
        FAxisY->setRange(FFeed.RangeMin(), FFeed.RangeMax());
    } else if (!HaveRange) {
        FAxisY->setRange(-1, 1);
    } else {
        // The limits are in view too: how far the readings are from them is
        // what the band is drawn for.
        double Lo = Low, Hi = High;
        for (const QLineSeries* L : {FLow, FHigh})
            if (L->count()) {
                Lo = std::min(Lo, L->at(0).y());
                Hi = std::max(Hi, L->at(0).y());
            }
        const double Margin = Hi > Lo ? (Hi - Lo) * 0.05 : 1;
        FAxisY->setRange(Lo - Margin, Hi + Margin);
        FAxisY->applyNiceNumbers();
    }
    UpdateStatistics(Stat);
    // Beside several sensors, the statistics name theirs.
    if (!Group.empty() && Shown())
        lStatistics->setText(QString("ID %1   ").arg(Shown()->Id) + lStatistics->text());
}

void TPlotWindow::DrawAlarms(const TPlotSeries* Series, double Width) {
    const TPlotFeed::TBand Band =
        Series ? FFeed.Band(Series->Port, Series->Id) : TPlotFeed::TBand();
    const qreal From = qreal(WallMs(FFrom - Width)), To = qreal(WallMs(FTo + Width));
    const auto Level = [&](const std::optional<double>& Bound) {
        QList<QPointF> Points;
        if (Bound) Points = {{From, Bound.value()}, {To, Bound.value()}};
        return Points;
    };
    FLow->replace(Level(Band.Low));
    FHigh->replace(Level(Band.High));
    QList<QPointF> Raised, Cleared;
    if (Series)
        for (const TPlotSeries::TCrossing& C : Series->Crossings)
            if (C.Time >= FFrom && C.Time <= FTo)
                (C.Raised ? Raised : Cleared).append(QPointF(qreal(WallMs(C.Time)), C.Value));
    FRaised->replace(Raised);
    FCleared->replace(Cleared);
}

bool TPlotWindow::DrawnLow() const {
    return FLow->count() > 0;
}

bool TPlotWindow::DrawnHigh() const {
    return FHigh->count() > 0;
}

int TPlotWindow::DrawnCrossings(bool Raised) const {
    return int((Raised ? FRaised : FCleared)->count());
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
    const QPixmap Chart = FView->grab();
    const QStringList Notes = {lStatistics->text(), SensorText(),
                               QDate::currentDate().toString("yyyy-MM-dd")};
    const QFontMetrics M(font());
    QImage Picture(Chart.width(), Chart.height() + int(Notes.size()) * M.height() + 8,
                   QImage::Format_RGB32);
    Picture.fill(Qt::white);
    QPainter Painter(&Picture);
    Painter.drawPixmap(0, 0, Chart);
    Painter.setFont(font());
    Painter.setPen(Qt::black);
    for (int i = 0; i < Notes.size(); ++i)
        Painter.drawText(
            QRect(4, Chart.height() + 4 + i * M.height(), Chart.width() - 8, M.height()),
            Qt::AlignLeft | Qt::AlignVCenter, Notes[i]);
    Painter.end();
    if (!Picture.save(Path, "PNG"))
        throw EInOutError("Cannot write \"" + Path.toStdString() + "\"");
}

void TPlotWindow::ExportCsv(const QString& Path) {
    std::string Text = std::string(TRecorder::Header) + TRecorder::LineEnd;
    size_t Begin, End;
    Model().Find(FFrom, FTo, Begin, End);
    const TPlotSeries* S = Shown();
    for (size_t i = Begin; i < End; ++i) {
        const TPlotPoint P = Model().At(i);
        const auto Wall =
            std::chrono::system_clock::time_point(std::chrono::milliseconds(WallMs(P.Time)));
        const TPlotSeries::TInfo& Info = S->Info[i];
        Text += TRecorder::Row(TRecorder::LocalTime(Wall), P.Time - Model().At(Begin).Time,
                               {"reading", FloatText(P.Value).toStdString(), Info.Text, S->Port,
                                Known(Info.Mode), Known(S->Id)}) +
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
