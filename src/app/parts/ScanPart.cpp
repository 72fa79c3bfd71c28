// SPDX-License-Identifier: GPL-3.0-or-later
#include "ScanPart.h"

#include "Dialogs.h"
#include "PumpWait.h"
#include "SessionState.h"

#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressDialog>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>

QString WatchIntervalProblem(int IntervalMs, size_t Count) {
    const int Least = TWatchPlan::LineMs(Count);
    if (IntervalMs >= Least) return QString();
    return QString("An interval of %1 ms is too short for %2 sensors: a round of them takes "
                   "%3 ms on the line. Set %3 ms or more.")
        .arg(IntervalMs)
        .arg(Count)
        .arg(Least);
}

TScanResultDialog::TScanResultDialog(QWidget* Parent,
                                     const std::vector<std::pair<int, double>>& Found,
                                     int IntervalMs)
    : QDialog(Parent), FList(new QListWidget(this)), FInterval(new QSpinBox(this)),
      FProblem(new QLabel(this)), FFound(Found) {
    setWindowTitle("Scan for sensors");
    auto* Layout = new QVBoxLayout(this);
    Layout->addWidget(new QLabel(
        Found.empty() ? "No sensor answered." : "Sensors that answered (ID, reading):", this));
    for (const auto& [Id, Value] : Found)
        FList->addItem(QString("ID %1  %2").arg(Id, 2).arg(Value, 8, 'f', 2));
    // The columns line up in a fixed-width font.
    FList->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    if (!Found.empty()) FList->setCurrentRow(0);
    Layout->addWidget(FList);
    // A round of many sensors needs more than the default.
    FInterval->setRange(1, 3600000);
    FInterval->setSuffix(" ms");
    FInterval->setValue(std::max(IntervalMs, TWatchPlan::LineMs(Found.size())));
    FInterval->setObjectName("seWatchInterval");
    auto* Row = new QHBoxLayout;
    Row->addWidget(new QLabel("Watch interval", this));
    Row->addWidget(FInterval);
    Row->addStretch();
    Layout->addLayout(Row);
    FProblem->setWordWrap(true);
    FProblem->setStyleSheet("color: #c62828");
    FProblem->hide();
    Layout->addWidget(FProblem);
    auto* Buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    QPushButton* Watch = Buttons->addButton("Watch these sensors", QDialogButtonBox::ActionRole);
    Watch->setObjectName("btWatch");
    Watch->setEnabled(!Found.empty());
    Layout->addWidget(Buttons);
    connect(Buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(Buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(Watch, &QPushButton::clicked, this, [this] { WatchClicked(); });
    connect(FList, &QListWidget::itemDoubleClicked, this, &QDialog::accept);
}

void TScanResultDialog::WatchClicked() {
    const QString Problem = WatchIntervalProblem(FInterval->value(), FFound.size());
    FProblem->setText(Problem);
    FProblem->setVisible(!Problem.isEmpty());
    if (!Problem.isEmpty()) return;
    FWatch = true;
    accept();
}

TScanChoice TScanResultDialog::Choice() const {
    const int Row = FList->currentRow();
    TScanChoice C;
    C.Id = Row >= 0 && Row < static_cast<int>(FFound.size()) ? FFound[Row].first : 0;
    C.Watch = FWatch;
    C.IntervalMs = FInterval->value();
    return C;
}

TScanPart::TScanPart(QWidget& Window, TSensorSession& Session, QLineEdit* IdEdit)
    : FWindow(Window), FSession(Session), FIdEdit(IdEdit) {
    ChooseScannedSensor = [this](const std::vector<std::pair<int, double>>& Found) {
        TScanResultDialog D(&FWindow, Found, FIntervalMs);
        return D.exec() == QDialog::Accepted ? D.Choice() : TScanChoice{};
    };
}

bool TScanPart::RefusedWhileWatching() const {
    if (!FWatching) return false;
    ShowMessage(StopWatchingFirst);
    return true;
}

void TScanPart::Run() {
    if (RefusedWhileWatching()) return;
    QProgressDialog Progress("Scanning for sensors...", "Cancel", 0, 77, &FWindow);
    Progress.setWindowTitle("Scan for sensors");
    Progress.setWindowModality(Qt::WindowModal);
    Progress.setMinimumDuration(0);
    FFound = FSession.Scan(1, 77, ScanWait, [&](int Id) {
        Progress.setValue(Id - 1);
        Progress.setLabelText(QString("Asking ID %1 of 77...").arg(Id));
        return !Progress.wasCanceled() && PortOpen(FSession);
    });
    Progress.reset();
    Choose();
}

void TScanPart::WatchFound() {
    if (FWatching) return;
    if (FFound.empty()) {
        ShowMessage("No sensors to watch: scan for sensors first (Port > Scan for sensors...).");
        return;
    }
    Choose();
}

void TScanPart::Choose() {
    const TScanChoice C = ChooseScannedSensor ? ChooseScannedSensor(FFound) : TScanChoice{};
    if (C.Id > 0) FIdEdit->setText(QString::number(C.Id));
    if (!C.Watch || FFound.empty()) return;
    // The operator's interval is offered again next time.
    FIntervalMs = C.IntervalMs;
    std::vector<int> Ids;
    for (const auto& Found : FFound)
        Ids.push_back(Found.first);
    Watch(Ids, C.Id, C.IntervalMs);
}

void TScanPart::Watch(const std::vector<int>& Ids, int Lead, int IntervalMs) {
    if (FWatching) return;
    const QString Problem = WatchIntervalProblem(IntervalMs, Ids.size());
    if (!Problem.isEmpty()) {
        ShowMessage(Problem.toStdString());
        return;
    }
    CheckWatchIds(Ids);
    FWatching = true;
    FStopAsked = false;
    FSession.AddObserver(this);
    const auto Done = [&] {
        FSession.RemoveObserver(this);
        FWatching = false;
        if (OnWatch) OnWatch({}, -1);
    };
    std::string List;
    for (const int Id : Ids)
        List += (List.empty() ? "" : ",") + std::to_string(Id);
    if (OnWatch) OnWatch(Ids, Lead);
    if (OnEvent) OnEvent("watching " + List + " every " + std::to_string(IntervalMs) + " ms", -1);
    Tell(QString("Watching sensors %1 every %2 ms")
             .arg(QString::fromStdString(List))
             .arg(IntervalMs));
    try {
        FSession.Exchange().Start();
        TWatchPlan Plan;
        Plan.Ids = Ids;
        Plan.IntervalMs = IntervalMs;
        Plan.AnswerMs = ScanWait;
        if (!FStopAsked) FSession.Watch(Plan);
    } catch (const EAbort&) {
        // The window is closing: nothing is left to tell.
        Done();
        return;
    } catch (...) {
        Done();
        throw;
    }
    Done();
    if (OnEvent) OnEvent("watching stopped", -1);
    // A port that closed or went has said so in the status bar.
    if (PortOpen(FSession)) Tell("Watching stopped");
}

void TScanPart::StopWatching() {
    if (!FWatching) return;
    FStopAsked = true;
    FSession.StopFlag() = true;
}

void TScanPart::Tell(const QString& Text) {
    if (OnStatus) OnStatus(Text);
}

void TScanPart::SensorStale(int Id) {
    if (OnEvent) OnEvent("sensor " + std::to_string(Id) + ": no answer", Id);
    Tell(QString("sensor %1: no answer").arg(Id));
}

void TScanPart::SensorBack(int Id) {
    if (OnEvent) OnEvent("sensor " + std::to_string(Id) + ": answers again", Id);
    Tell(QString("sensor %1: answers again").arg(Id));
}
