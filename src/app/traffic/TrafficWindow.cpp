// SPDX-License-Identifier: GPL-3.0-or-later
#include "TrafficWindow.h"

#include "Dialogs.h"
#include "FileAccess.h"
#include "MemoView.h"
#include "Recorder.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include <algorithm>

namespace {

std::string WithoutLineEnd(std::string S) {
    if (S.size() >= 2 && S.compare(S.size() - 2, 2, "\r\n") == 0) S.resize(S.size() - 2);
    return S;
}

} // namespace

// The session's events, made into entries. A line's or command's events come
// together: its wire bytes first, then its text (Answer, Sent) and, for a
// frame, its reading.
class TTrafficWindow::TObserver : public TSessionObserver {
  public:
    explicit TObserver(TTrafficWindow& W) : FW(W) {}
    void Wire(TWireDirection Direction, std::chrono::system_clock::time_point Time,
              const std::string& Port, const std::string& Bytes) override {
        const bool Received = Direction == TWireDirection::Received;
        // The LF after a line's CR comes alone (TAnswerReceiver::OnRaw): it
        // joins that line's bytes while its entry is still being made.
        if (Received && Bytes.size() == 1 && Bytes[0] == TAnswerReceiver::LF && FW.FHaveMaking &&
            FW.FMaking.Kind != TTrafficKind::Sent && !FW.FMaking.Bytes.empty() &&
            FW.FMaking.Bytes.back() == TAnswerReceiver::CR) {
            FW.FMaking.Bytes += TAnswerReceiver::LF;
            return;
        }
        TTrafficEntry E;
        E.Time = Time;
        E.Kind = Received ? TTrafficKind::Answer : TTrafficKind::Sent;
        E.Port = Port;
        E.Bytes = Bytes;
        // Until its Sent or Answer names it: bytes that end no line keep this.
        E.Text = WithoutLineEnd(E.Bytes);
        FW.Begin(std::move(E));
    }
    void Sent(const std::string& Shown) override {
        if (Making(TTrafficKind::Sent)) FW.FMaking.Text = WithoutLineEnd(Shown);
    }
    void Answer(const std::string& Line, bool) override {
        if (Making(TTrafficKind::Answer)) FW.FMaking.Text = Line;
    }
    void Reading(const TReading& R) override {
        if (!Making(TTrafficKind::Answer)) return;
        FW.FMaking.Kind = TTrafficKind::Reading;
        FW.FMaking.Value = R.Value;
        FW.FMaking.Mode = R.Mode;
        FW.FMaking.Id = R.Id;
    }
    void StateChanged(const TConnection& C) override { FW.AddEvent(StateName(C.State)); }
    void LineError(unsigned Errors) override {
        char Bits[16];
        std::snprintf(Bits, sizeof Bits, "0x%04X", Errors);
        std::string Text = std::string("line error ") + Bits + ":";
        for (const TCommErrorText& T : CommErrorTexts)
            if (Errors & T.Flag) Text += std::string(" ") + T.Text;
        FW.AddEvent(Text);
    }

  private:
    bool Making(TTrafficKind K) const { return FW.FHaveMaking && FW.FMaking.Kind == K; }
    TTrafficWindow& FW;
};

TTrafficWindow::TTrafficWindow(QWidget* Parent, TSensorSession& Session)
    : QWidget(Parent, Qt::Window), FSession(Session),
      FObserver(std::make_unique<TObserver>(*this)) {
    setObjectName("Traffic");
    setWindowTitle("Traffic");
    cbReadings = new QCheckBox("Readings");
    cbAnswers = new QCheckBox("Answers");
    cbSent = new QCheckBox("Sent");
    cbEvents = new QCheckBox("Events");
    cbHex = new QCheckBox("Hex");
    cbHex->setToolTip("The bytes as they went over the wire, in hex beside ASCII");
    eFind = new QLineEdit;
    eFind->setPlaceholderText("Find");
    eFind->setClearButtonEnabled(true);
    eFind->setToolTip("Shows only the lines that hold this text (any case)");
    btPause = new QPushButton("Pause");
    btPause->setCheckable(true);
    btPause->setToolTip("Stops the view; what arrives meanwhile is kept and shown on resume");
    btClear = new QPushButton("Clear");
    btSaveText = new QPushButton(QString::fromUtf8("Save text…"));
    btSaveCsv = new QPushButton(QString::fromUtf8("Save CSV…"));
    lStatus = new QLabel;
    mTraffic = new TMemoView;
    mTraffic->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    // Room for every row of what the log keeps, shown in hex.
    mTraffic->SetMaxLines(FLog.MaxEntries + FLog.MaxBytes / HexPerRow + 1);
    mTraffic->SetMaxChars(8 * FLog.MaxBytes + 64 * FLog.MaxEntries);
    // The window's own frame shows the view's lines.
    mTraffic->SetFrameRequest([] {});

    const std::pair<QObject*, const char*> Named[] = {
        {cbReadings, "cbReadings"}, {cbAnswers, "cbAnswers"}, {cbSent, "cbSent"},
        {cbEvents, "cbEvents"},     {cbHex, "cbHex"},         {eFind, "eFind"},
        {btPause, "btPause"},       {btClear, "btClear"},     {btSaveText, "btSaveText"},
        {btSaveCsv, "btSaveCsv"},   {lStatus, "lStatus"},     {mTraffic, "mTraffic"}};
    for (const auto& [Object, Name] : Named)
        Object->setObjectName(Name);

    auto* Bar = new QHBoxLayout;
    for (QCheckBox* C : {cbReadings, cbAnswers, cbSent, cbEvents}) {
        C->setChecked(true);
        Bar->addWidget(C);
        QObject::connect(C, &QCheckBox::toggled, this, [this] { Rebuild(); });
    }
    Bar->addSpacing(12);
    Bar->addWidget(cbHex);
    Bar->addWidget(eFind, 1);
    Bar->addWidget(btPause);
    Bar->addWidget(btClear);
    Bar->addWidget(btSaveText);
    Bar->addWidget(btSaveCsv);
    auto* Layout = new QVBoxLayout(this);
    Layout->addLayout(Bar);
    Layout->addWidget(mTraffic, 1);
    Layout->addWidget(lStatus);
    resize(820, 460);

    QObject::connect(cbHex, &QCheckBox::toggled, this, [this] { Rebuild(); });
    QObject::connect(eFind, &QLineEdit::textChanged, this, [this] { Rebuild(); });
    QObject::connect(btPause, &QPushButton::toggled, this, [this](bool On) { SetPaused(On); });
    QObject::connect(btClear, &QPushButton::clicked, this, [this] { ClearTraffic(); });
    QObject::connect(btSaveText, &QPushButton::clicked, this, [this] { Save(false); });
    QObject::connect(btSaveCsv, &QPushButton::clicked, this, [this] { Save(true); });
    FFrame.setSingleShot(true);
    FFrame.setInterval(FrameMs);
    QObject::connect(&FFrame, &QTimer::timeout, this, [this] { Frame(); });
    UpdateStatus();
}

TTrafficWindow::~TTrafficWindow() {
    FSession.RemoveObserver(FObserver.get());
}

void TTrafficWindow::ShowTraffic() {
    if (!FPlaced && parentWidget()) {
        FPlaced = true;
        // Beside the console, on the side where the screen has room.
        const QRect Main = parentWidget()->frameGeometry();
        const QRect Screen = parentWidget()->screen()->availableGeometry();
        const int Gap = 8;
        int X = Main.right() + 1 + Gap;
        if (X + width() > Screen.right() && Main.left() - Gap - width() >= Screen.left())
            X = Main.left() - Gap - width();
        move(X, Main.top());
    }
    show();
    raise();
    activateWindow();
}

void TTrafficWindow::showEvent(QShowEvent* Event) {
    QWidget::showEvent(Event);
    if (FWatching) return;
    FWatching = true;
    FSession.AddObserver(FObserver.get());
    if (FWasHidden)
        AddEvent("not watched while the window was closed, from " + ClockText(FHiddenSince));
}

void TTrafficWindow::hideEvent(QHideEvent* Event) {
    QWidget::hideEvent(Event);
    // A minimised window is hidden too, but still wanted.
    if (!FWatching || isMinimized()) return;
    FWatching = false;
    FSession.RemoveObserver(FObserver.get());
    // What is left is shown with the event that opens the next showing.
    Commit();
    FFrame.stop();
    FWasHidden = true;
    FHiddenSince = std::chrono::system_clock::now();
}

void TTrafficWindow::Begin(TTrafficEntry E) {
    Commit();
    const TSensorIdentity& I = FSession.Identity();
    E.Mode = I.Mode;
    E.Id = I.Id;
    FMaking = std::move(E);
    FHaveMaking = true;
    if (!FFrame.isActive()) FFrame.start();
}

void TTrafficWindow::Commit() {
    if (!FHaveMaking) return;
    FHaveMaking = false;
    FLog.Append(std::move(FMaking));
    FMaking = TTrafficEntry{};
}

void TTrafficWindow::AddEvent(const std::string& Text) {
    TTrafficEntry E;
    E.Time = std::chrono::system_clock::now();
    E.Port = FSession.Connection().Opened;
    E.Text = Text;
    Begin(std::move(E));
}

bool TTrafficWindow::Wanted(const TTrafficEntry& E, std::vector<std::string>& Rows) const {
    const QCheckBox* Box[] = {cbReadings, cbAnswers, cbSent, cbEvents};
    if (!Box[static_cast<int>(E.Kind)]->isChecked()) return false;
    Rows = TrafficRows(E, cbHex->isChecked());
    const QString Find = eFind->text();
    if (Find.isEmpty()) return true;
    return std::any_of(Rows.begin(), Rows.end(), [&](const std::string& R) {
        return QString::fromUtf8(R.data(), static_cast<qsizetype>(R.size()))
            .contains(Find, Qt::CaseInsensitive);
    });
}

void TTrafficWindow::AppendShown(uint64_t From, uint64_t To) {
    std::vector<std::string> Rows;
    for (uint64_t N = std::max(From, FLog.First()); N < To; ++N)
        if (Wanted(FLog.At(N), Rows))
            for (const std::string& R : Rows)
                mTraffic->Append(R);
    mTraffic->ShowPending();
}

void TTrafficWindow::Frame() {
    // A line's LF may come with the next read: its entry waits a little for
    // it, so that the line's bytes stay together.
    const bool AwaitsLf =
        FHaveMaking && FMaking.Kind != TTrafficKind::Sent && !FMaking.Bytes.empty() &&
        FMaking.Bytes.back() == TAnswerReceiver::CR &&
        std::chrono::system_clock::now() - FMaking.Time < std::chrono::milliseconds(LfWaitMs);
    if (AwaitsLf)
        FFrame.start();
    else
        Commit();
    if (!FPaused) {
        AppendShown(FShownEnd, FLog.End());
        FShownEnd = FLog.End();
    }
    UpdateStatus();
}

void TTrafficWindow::Rebuild() {
    Commit();
    mTraffic->Clear();
    if (!FPaused) FShownEnd = FLog.End();
    AppendShown(FLog.First(), FShownEnd);
    UpdateStatus();
}

void TTrafficWindow::SetPaused(bool Value) {
    if (Value == FPaused) return;
    FPaused = Value;
    const QSignalBlocker Quiet(btPause);
    btPause->setChecked(Value);
    btPause->setText(Value ? "Resume" : "Pause");
    Frame();
}

void TTrafficWindow::ClearTraffic() {
    FHaveMaking = false;
    FLog.Clear();
    FShownEnd = FLog.End();
    mTraffic->Clear();
    UpdateStatus();
}

void TTrafficWindow::UpdateStatus() {
    const uint64_t Waiting = FLog.End() - std::max(FShownEnd, FLog.First());
    if (FPaused) {
        lStatus->setText(QString("paused: %1 new lines").arg(Waiting));
        lStatus->setStyleSheet("QLabel { color: #b26a00; font-weight: bold; }");
    } else {
        lStatus->setText(QString("%1 entries kept").arg(FLog.End() - FLog.First()));
        lStatus->setStyleSheet({});
    }
}

void TTrafficWindow::SaveText(const std::string& Path) {
    Commit();
    Frame();
    QString Text = mTraffic->Text();
    if (!Text.isEmpty()) Text += '\n';
    ReplaceFile(Path, Text.toUtf8().toStdString());
}

void TTrafficWindow::SaveCsv(const std::string& Path) {
    Commit();
    Frame();
    std::string Out = std::string(TRecorder::Header) + TRecorder::LineEnd;
    std::vector<std::string> Rows;
    bool First = true;
    std::chrono::system_clock::time_point Start;
    for (uint64_t N = FLog.First(); N < std::max(FShownEnd, FLog.First()); ++N) {
        const TTrafficEntry& E = FLog.At(N);
        if (!Wanted(E, Rows)) continue;
        if (First) Start = E.Time;
        First = false;
        Out += TrafficCsvRow(E, Start) + TRecorder::LineEnd;
    }
    ReplaceFile(Path, Out);
}

void TTrafficWindow::Save(bool Csv) {
    const QString Path =
        Csv ? QFileDialog::getSaveFileName(this, "Save traffic as CSV", "traffic.csv",
                                           "CSV files (*.csv);;All files (*)")
            : QFileDialog::getSaveFileName(this, "Save traffic as text", "traffic.txt",
                                           "Text files (*.txt);;All files (*)");
    if (Path.isEmpty()) return;
    try {
        if (Csv)
            SaveCsv(Path.toLocal8Bit().toStdString());
        else
            SaveText(Path.toLocal8Bit().toStdString());
    } catch (const std::exception& E) {
        ShowMessage(std::string(E.what()) + "\nChoose a folder you can write to and save again.");
    }
}
