// SPDX-License-Identifier: GPL-3.0-or-later
// The port list that follows the cables, reconnecting after a hang-up and the
// scan of a shared line: handlers of TFKAVRO beyond the seed's controls. All
// run on the user-interface thread.
#include "UVORTA_Display.h"

#include "Application.h"
#include "Dialogs.h"
#include "PumpWait.h"
#include "SensorProtocol.h"
#include "VaNet.h"

#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QFontDatabase>
#include <QListWidget>
#include <QProgressDialog>
#include <QSignalBlocker>
#include <QVBoxLayout>

TScanResultDialog::TScanResultDialog(QWidget* Parent,
                                     const std::vector<std::pair<int, double>>& Found)
    : QDialog(Parent), FList(new QListWidget(this)), FFound(Found) {
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
    auto* Buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    Layout->addWidget(Buttons);
    connect(Buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(Buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(FList, &QListWidget::itemDoubleClicked, this, &QDialog::accept);
}

int TScanResultDialog::ChosenId() const {
    const int Row = FList->currentRow();
    return Row >= 0 && Row < static_cast<int>(FFound.size()) ? FFound[Row].first : 0;
}

void TFKAVRO::CreatePortWatcher() {
    FPortWatcher = std::make_unique<TPortWatcher>();
    FPortWatcher->OnPortsChanged = [this] {
        RunHandler(this, [this] {
            RefreshPortList();
            // A device that came back under its name (udev tells of real ports).
            if (!FLostPath.empty() && FAutoReconnect && TPortWatcher::PathPresent(FLostPath))
                Reconnect();
        });
    };
    FPortWatcher->OnPresence = [this](bool Present) {
        RunHandler(this, [this, Present] { PortPresence(Present); });
    };
    // A hang-up before the watcher existed is waited for now.
    SetAutoReconnect(FAutoReconnect);
}

// ---- Reconnecting

void TFKAVRO::SetAutoReconnect(bool On) {
    FAutoReconnect = On;
    if (FPortWatcher)
        FPortWatcher->WatchPath(On && !FLostPath.empty() && Connected == 0 ? FLostPath : "");
}

void TFKAVRO::NoteStream(bool Running) {
    FStreamRunning = Running;
}

void TFKAVRO::PortLost() {
    FLostPath = FSession->Connection().Path;
    FLostSeenGone = false;
    if (FAutoReconnect && FPortWatcher) FPortWatcher->WatchPath(FLostPath);
}

void TFKAVRO::PortPresence(bool Present) {
    // A network port has no device to appear: the server is tried instead,
    // each time while it refuses at once, and one time in ten while its
    // host does not answer, as each such try holds this thread for up to
    // VaNet::ConnectMs.
    if (VaNet::IsNetworkPort(FLostPath)) {
        if (FNetTriesSkipped > 0) {
            --FNetTriesSkipped;
            return;
        }
        QElapsedTimer Try;
        Try.start();
        Reconnect();
        if (Connected == 0 && Try.elapsed() >= VaNet::ConnectMs / 2) FNetTriesSkipped = 9;
        return;
    }
    // A path still there after the hang-up is the dead device itself: only
    // one that went and came again is a new one.
    if (!Present)
        FLostSeenGone = true;
    else if (FLostSeenGone)
        Reconnect();
}

void TFKAVRO::Reconnect() {
    if (FReconnecting || Closing()) return;
    if (Connected != 0 || VaComm1->Active()) {
        // The operator connected meanwhile: nothing left to wait for.
        FLostPath.clear();
        if (FPortWatcher) FPortWatcher->WatchPath("");
        return;
    }
    FReconnecting = true;
    struct TDone {
        bool& F;
        ~TDone() { F = false; }
    } Done{FReconnecting};
    try {
        VaComm1->Open();
    } catch (const Exception&) {
        // Back but not yet usable (permissions still being set): the next
        // event or check tries again.
        FLostSeenGone = true;
        return;
    }
    FLostPath.clear();
    if (FPortWatcher) FPortWatcher->WatchPath("");
    VaComm1->SetRTS(true);
    VaComm1->SetDTR(true);
    LastAnswer.clear();
    ClearRx();
    StopFlag = true;
    btn10Click();
    if (FStreamRunning && Connected != 0) btREADClick();
    StatusBar1->SetPanelText(0, "Reconnected");
}

// ---- Scan

void TFKAVRO::ScanForSensors() {
    if (!CommandStart()) return;
    QProgressDialog Progress("Scanning for sensors...", "Cancel", 0, 77, this);
    Progress.setWindowTitle("Scan for sensors");
    Progress.setWindowModality(Qt::WindowModal);
    Progress.setMinimumDuration(0);
    const auto Found = FSession->Scan(1, 77, ScanWait, [&](int Id) {
        Progress.setValue(Id - 1);
        Progress.setLabelText(QString("Asking ID %1 of 77...").arg(Id));
        return !Progress.wasCanceled() && Connected != 0;
    });
    Progress.reset();
    if (const int Id = ChooseScannedSensor ? ChooseScannedSensor(Found) : 0; Id > 0)
        Edit1->setText(QString::number(Id));
}
