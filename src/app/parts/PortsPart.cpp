// SPDX-License-Identifier: GPL-3.0-or-later
#include "PortsPart.h"

#include "Application.h"
#include "SessionState.h"
#include "VaNet.h"
#include "VaPorts.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QSignalBlocker>
#include <QWidget>

TPortsPart::TPortsPart(QWidget& Window, TSensorSession& Session, QComboBox* PortBox)
    : FWindow(Window), FSession(Session), FPortBox(PortBox) {}

void TPortsPart::ListSerialPorts(QStringList* List, bool TestOpen) {
    if (!List) return;
    const std::vector<std::string> Names = ListSerialPortNames();
    List->clear();
    for (const std::string& Name : Names)
        if (!TestOpen || CanOpenPort(Name))
            List->append(QString::fromLocal8Bit(Name.data(), static_cast<qsizetype>(Name.size())));
}

bool TPortsPart::CanOpenPort(const std::string& Name) {
    return CanOpenDevice(PortDevicePath(Name));
}

void TPortsPart::Refresh() {
    QStringList Ports;
    ListSerialPorts(&Ports, true);
    for (const QString& P : FRecentPorts)
        if (!Ports.contains(P) && CanOpenPort(P.toLocal8Bit().toStdString())) Ports.append(P);
    QStringList Now;
    for (int i = 0; i < FPortBox->count(); ++i)
        Now.append(FPortBox->itemText(i));
    if (Ports == Now) return;
    // Rebuilding the items would replace what the operator typed or chose.
    const QString Text = FPortBox->currentText();
    const QSignalBlocker Quiet(FPortBox);
    FPortBox->clear();
    FPortBox->addItems(Ports);
    FPortBox->setEditText(Text);
}

void TPortsPart::Remember(const QString& Port) {
    if (Port.isEmpty()) return;
    FRecentPorts.removeAll(Port);
    FRecentPorts.prepend(Port);
    while (FRecentPorts.size() > RecentPortLimit)
        FRecentPorts.removeLast();
    if (OnKeptChanged) OnKeptChanged();
}

void TPortsPart::SetRecentPorts(const QStringList& Ports) {
    FRecentPorts = Ports;
    while (FRecentPorts.size() > RecentPortLimit)
        FRecentPorts.removeLast();
}

void TPortsPart::CreateWatcher() {
    FPortWatcher = std::make_unique<TPortWatcher>();
    FPortWatcher->OnPortsChanged = [this] {
        RunHandler(&FWindow, [this] {
            Refresh();
            // A device that came back under its name (udev tells of real ports).
            if (!FLostPath.empty() && FAutoReconnect && TPortWatcher::PathPresent(FLostPath))
                Reconnect();
        });
    };
    FPortWatcher->OnPresence = [this](bool Present) {
        RunHandler(&FWindow, [this, Present] { PortPresence(Present); });
    };
    SetAutoReconnect(FAutoReconnect);
}

// ---- Reconnecting

void TPortsPart::SetAutoReconnect(bool On) {
    FAutoReconnect = On;
    if (FPortWatcher)
        FPortWatcher->WatchPath(On && !FLostPath.empty() && !PortOpen(FSession) ? FLostPath : "");
}

bool TPortsPart::NoteOpened(const std::string& Path) {
    const bool Back = FLost && Path == FLostPath;
    FLost = false;
    return Back;
}

void TPortsPart::PortLost() {
    FLostPath = FSession.Connection().Path;
    FLostSeenGone = false;
    if (FAutoReconnect && FPortWatcher) FPortWatcher->WatchPath(FLostPath);
}

void TPortsPart::Forget() {
    FLost = false;
    FLostPath.clear();
    if (FPortWatcher) FPortWatcher->WatchPath("");
}

void TPortsPart::PortPresence(bool Present) {
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
        if (!PortOpen(FSession) && Try.elapsed() >= VaNet::ConnectMs / 2) FNetTriesSkipped = 9;
        return;
    }
    // A path still there after the hang-up is the dead device itself: only
    // one that went and came again is a new one.
    if (!Present)
        FLostSeenGone = true;
    else if (FLostSeenGone)
        Reconnect();
}

void TPortsPart::Reconnect() {
    if (FReconnecting || (Closing && Closing())) return;
    TVaComm& Port = FSession.Port();
    if (Port.Active()) {
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
        Port.Open();
    } catch (const Exception&) {
        // Back but not yet usable (permissions still being set): the next
        // event or check tries again.
        FLostSeenGone = true;
        return;
    }
    FLostPath.clear();
    if (FPortWatcher) FPortWatcher->WatchPath("");
    Port.SetRTS(true);
    Port.SetDTR(true);
    if (OnReopened) OnReopened();
}
