// SPDX-License-Identifier: GPL-3.0-or-later
// The menu bar above the client area, the connection light in its corner,
// the free commands' history and the recording of a session. User-interface
// thread only, like every handler of TFKAVRO.
#include "UVORTA_Display.h"

#include "ReadingPublisher.h"

#include "Application.h"
#include "FileAccess.h"
#include "ProgramSettings.h"
#include "SensorExchange.h"
#include "SysUtils.h"
#include "TrafficWindow.h"
#include "VaPorts.h"
#include "VortaVersion.h"

#include <QAction>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QVBoxLayout>

#include <zlib.h>

#include <algorithm>

namespace {

// The sensor's bytes are 8-bit text of the system's code page; the
// recording is UTF-8.
std::string Utf8(const std::string& Local) {
    return QString::fromLocal8Bit(Local.data(), static_cast<qsizetype>(Local.size()))
        .toUtf8()
        .toStdString();
}

// "9600 8N1", from the component's settings.
QString LineSettingsText(const TVaComm& C) {
    static const int Rates[] = {0,     110,   300,   600,   1200,  2400,   4800,   9600,
                                14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000};
    const int Rate = C.Baudrate() == brUser ? C.UserBaudrate() : Rates[C.Baudrate()];
    static const char Parity[] = "NOEMS";
    static const char* const Stop[] = {"1", "1.5", "2"};
    return QString("%1 %2%3%4")
        .arg(Rate)
        .arg(static_cast<int>(C.Databits()) + 4)
        .arg(QChar(Parity[C.Parity()]))
        .arg(Stop[C.Stopbits()]);
}

void SetLight(QLabel* Light, const QString& Text, const char* Colour) {
    Light->setText(Text);
    Light->setStyleSheet(QString("QLabel { background: %1; color: white; border-radius: 3px; "
                                 "padding: 1px 6px; margin: 2px; }")
                             .arg(Colour));
}

} // namespace

void TFKAVRO::OnTriggered(QAction* Action, const std::function<void()>& Handler) {
    QObject::connect(Action, &QAction::triggered, this,
                     [this, Handler] { RunHandler(this, Handler); });
}

void TFKAVRO::CreateMenu() {
    // The menu bar sits above the client area, which keeps its size and every
    // control its place; the window grows by the bar's height.
    MainMenu = new QMenuBar(this);
    auto* Layout = new QVBoxLayout(this);
    Layout->setContentsMargins(0, 0, 0, 0);
    Layout->setSpacing(0);
    Layout->setMenuBar(MainMenu);
    Layout->addWidget(ClientArea);
    Layout->setSizeConstraint(QLayout::SetFixedSize);

    const auto Add = [this](QMenu* Menu, const char* Text, const QKeySequence& Key,
                            const std::function<void()>& Handler) {
        QAction* A = Menu->addAction(QString::fromUtf8(Text));
        A->setShortcut(Key);
        OnTriggered(A, Handler);
        return A;
    };
    QMenu* File = MainMenu->addMenu("&File");
    actRecord =
        Add(File, "&Record readings…", QKeySequence("Ctrl+R"), [this] { RecordFromDialog(); });
    actStopRecording = Add(File, "&Stop recording", {}, [this] { StopRecording(); });
    File->addSeparator();
    actSaveLog = Add(File, "Save &log as…", {}, [this] { SaveLogFromDialog(); });
    actPublish = Add(File, "&Publish to broker…", {}, [this] { PublishFromDialog(); });
    actStopPublishing = Add(File, "Stop p&ublishing", {}, [this] { StopPublishing(); });
    File->addSeparator();
    // The Close button's handler runs its own guard and closes the window.
    actQuit = File->addAction("&Quit");
    actQuit->setShortcut(QKeySequence("Ctrl+Q"));
    QObject::connect(actQuit, &QAction::triggered, this, [this] { btCloseClick(); });

    QMenu* Port = MainMenu->addMenu("&Port");
    actRefresh =
        Add(Port, "&Refresh list", QKeySequence(Qt::Key_F5), [this] { RefreshPortList(); });
    actDisconnect = Add(Port, "&Disconnect", {}, [this] { Disconnect(); });
    actAutoReconnect = Port->addAction("Reconnect &automatically");
    actAutoReconnect->setCheckable(true);
    QObject::connect(actAutoReconnect, &QAction::toggled, this,
                     [this](bool On) { SetAutoReconnect(On); });
    // Kept when the user changes it, not when the kept value is loaded.
    QObject::connect(actAutoReconnect, &QAction::triggered, this, [this] { SaveKeptNow(); });
    Port->addSeparator();
    actScan = Add(Port, "&Scan for sensors…", {}, [this] { ScanForSensors(); });

    QMenu* View = MainMenu->addMenu("&View");
    actPlot = Add(View, "&Plot", QKeySequence("Ctrl+P"), [this] { ShowPlot(); });
    actTraffic = Add(View, "&Traffic", QKeySequence("Ctrl+T"), [this] { ShowTraffic(); });

    QMenu* Help = MainMenu->addMenu("&Help");
    actHelp = Add(Help, "&Help", QKeySequence(Qt::Key_F1), [this] { btHelpClick(); });
    actAbout = Add(Help, "&About", {}, [this] {
        QMessageBox::about(this, "About VORTA-IN-S Display Software", AboutText());
    });

    auto* Corner = new QWidget(MainMenu);
    auto* Lights = new QHBoxLayout(Corner);
    Lights->setContentsMargins(0, 0, 4, 0);
    Lights->setSpacing(0);
    RecordingLight = new QLabel(Corner);
    BrokerLight = new QLabel(Corner);
    ConnectionLight = new QLabel(Corner);
    Lights->addWidget(RecordingLight);
    Lights->addWidget(BrokerLight);
    Lights->addWidget(ConnectionLight);
    MainMenu->setCornerWidget(Corner, Qt::TopRightCorner);
    UpdateConnectionLight();

    // Enter in a free command edit sends it as its button does; Up and Down
    // walk through the commands sent before.
    const std::pair<QLineEdit*, QPushButton*> Free[] = {
        {ed360Send1, bt360Send1}, {ed360Send2, bt360Send2}, {ed360Send3, bt360Send3}};
    for (const auto& [Edit, Button] : Free) {
        QObject::connect(Edit, &QLineEdit::returnPressed, Button, &QPushButton::click);
        QObject::connect(Edit, &QLineEdit::textEdited, this,
                         [this, E = Edit] { FRecall.erase(E); });
        Edit->installEventFilter(this);
    }
    Layout->activate();
}

// What the programs and the plot module link or load, each with its licence.
// Qt Charts' GPL-3.0 is why the whole is under the GPL.
QString TFKAVRO::AboutText() {
    static const char* const Libraries[][2] = {
        {"Qt %2: Core, Gui, Widgets, Serial Port", "LGPL-3.0, GPL-2.0 or GPL-3.0"},
        {"Qt Charts (the plot window)", "GPL-3.0"},
        {"zlib %3", "zlib licence"},
        {"libdeflate", "MIT licence"},
        {"libudev", "LGPL-2.1-or-later"},
        {"libmosquitto (when publishing)", "EPL-2.0 or EDL-1.0"},
        {"OpenSSL (through libmosquitto)", "Apache-2.0"},
        {"GNU C library", "LGPL-2.1-or-later"},
        {"GNU C++ library", "GPL-3.0-or-later with the GCC Runtime Library Exception"},
    };
    QString Rows;
    for (const auto& [Name, Licence] : Libraries)
        Rows += QString("<tr><td>%1</td><td>%2</td></tr>").arg(Name, Licence);
    return QString("<p><b>VORTA-IN-S Display Software</b><br>Version %1</p>"
                   "<p>Console for VORTA-IN-S inclination sensors.<br>"
                   "\u00A9 VORTA Display Team. Free software under the GNU General Public "
                   "License, version 3 or any later version (GPL-3.0-or-later), without any "
                   "warranty.</p>"
                   "<p>Uses these libraries, each under its own licence:</p>"
                   "<table cellspacing=\"0\" cellpadding=\"2\">" +
                   Rows + "</table>")
        .arg(VORTA_VERSION, qVersion(), zlibVersion());
}

void TFKAVRO::ShowPlot() {
    QWidget& W = PlotView();
    W.show();
    W.raise();
    W.activateWindow();
}

void TFKAVRO::ShowTraffic() {
    if (!Traffic) Traffic = new TTrafficWindow(this, *FSession);
    Traffic->ShowTraffic();
}

std::string TFKAVRO::SensorMode() const {
    const TSensorIdentity& I = FSession->Identity();
    return I.Known ? std::to_string(I.Mode) : std::string();
}

void TFKAVRO::ReadingAccepted(const TReading& R) {
    // Recorded first: a reading that cannot be drawn is still on disk.
    RecordRow("reading", TRecorder::Number(R.Value), Utf8(LastAnswer), &R);
    // A scan's answers are other sensors' readings: its list shows them.
    if (R.Source == TReadingSource::Scan) return;
    FPlotFeed.Add(R);
    ShowReading(R.Value);
    DrawNeedle(NeedleAngle(R.Value, SensorMode()));
}

void TFKAVRO::MalformedFrame(const std::string& Text) {
    RecordRow("answer", "", Utf8(Text));
    ++FMalformedFrames;
    StatusBar1->SetNote(QString("malformed frames: %1").arg(FMalformedFrames));
    ShowReading(0);
    DrawNeedle(NeedleAngle(0, SensorMode()));
}

void TFKAVRO::UpdateConnectionLight() {
    if (!ConnectionLight) return;
    if (Connected == 1 && VaComm1->Active())
        SetLight(ConnectionLight,
                 QString::fromLocal8Bit(FSession->Connection().Opened.c_str()) +
                     QString::fromUtf8(" · ") + LineSettingsText(*VaComm1),
                 "#2e7d32");
    else if (FLost)
        SetLight(ConnectionLight, "Lost", "#c62828");
    else
        SetLight(ConnectionLight, "Not connected", "#808080");
    RecordingLight->setVisible(FRecorder.Active());
    if (FRecorder.Active())
        SetLight(RecordingLight, QString::fromUtf8("● REC %1").arg(FRecorder.Rows()), "#c62828");
    actStopRecording->setEnabled(FRecorder.Active());
    // The broker's state beside the port's, while publishing.
    const TMqttState Broker = FPublisher ? FPublisher->State() : TMqttState::Stopped;
    BrokerLight->setVisible(Broker != TMqttState::Stopped);
    if (Broker == TMqttState::Online)
        SetLight(BrokerLight, "Broker", "#2e7d32");
    else if (Broker == TMqttState::Connecting)
        SetLight(BrokerLight, QString::fromUtf8("Broker…"), "#b26a00");
    else if (Broker == TMqttState::Failed)
        SetLight(BrokerLight, "Broker failed", "#c62828");
    // The prefix, and while it is away why and when it is tried again.
    QString Tip = QString::fromStdString(FPublisher ? FPublisher->Prefix() : "");
    if (Broker != TMqttState::Online && FPublisher && !FPublisher->Why().empty())
        Tip += "\n" + QString::fromLocal8Bit(FPublisher->Why().c_str());
    if (Broker == TMqttState::Connecting && FPublisher->RetryInS() > 0)
        Tip += QString("\nbroker not reachable, retrying in %1 s").arg(FPublisher->RetryInS());
    BrokerLight->setToolTip(Tip);
    actStopPublishing->setEnabled(Broker != TMqttState::Stopped);
    // The menu bar sizes its corner only when the corner is set: a longer
    // text would be cut.
    QWidget* Corner = MainMenu->cornerWidget(Qt::TopRightCorner);
    if (Corner && Corner->sizeHint() != Corner->size())
        MainMenu->setCornerWidget(Corner, Qt::TopRightCorner);
}

// ---- Port menu

void TFKAVRO::Disconnect() {
    // A polling command running in a wait ends at its next look at StopFlag.
    StopFlag = true;
    FLost = false;
    // Nothing to come back to: a reconnect that was awaited is off.
    FLostPath.clear();
    if (FPortWatcher) FPortWatcher->WatchPath("");
    if (VaComm1->Active()) CloseSerialPort();
    Connected = 0;
    UpdateConnectionLight();
}

void TFKAVRO::RefreshPortList() {
    QStringList Ports;
    ListSerialPorts(&Ports, true);
    for (const QString& P : FRecentPorts)
        if (!Ports.contains(P) && CanOpenPort(P.toLocal8Bit().toStdString())) Ports.append(P);
    QStringList Now;
    for (int i = 0; i < ePortNo->count(); ++i)
        Now.append(ePortNo->itemText(i));
    if (Ports == Now) return;
    // Rebuilding the items would replace what the operator typed or chose.
    const QString Text = ePortNo->currentText();
    const QSignalBlocker Quiet(ePortNo);
    ePortNo->clear();
    ePortNo->addItems(Ports);
    ePortNo->setEditText(Text);
}

void TFKAVRO::RememberPort(const QString& Port) {
    if (Port.isEmpty()) return;
    FRecentPorts.removeAll(Port);
    FRecentPorts.prepend(Port);
    while (FRecentPorts.size() > RecentPortLimit)
        FRecentPorts.removeLast();
    SaveKeptNow();
}

// ---- Free commands

void TFKAVRO::FreeCommand(QLineEdit* Edit) {
    const QString Command = Edit->text();
    if (!CommandStart()) return;
    Send(Command.toLocal8Bit().toStdString() + SensorCommands::CRLF,
         Command.toLocal8Bit().toStdString() + SensorCommands::CRLF);
    RememberCommand(Command);
}

void TFKAVRO::RememberCommand(const QString& Command) {
    if (Command.isEmpty()) return;
    FHistory.removeAll(Command);
    FHistory.append(Command);
    while (FHistory.size() > HistoryLimit)
        FHistory.removeFirst();
    FRecall.clear();
    SaveKeptNow();
}

bool TFKAVRO::RecallCommand(QLineEdit* Edit, int Step) {
    if (FHistory.isEmpty()) return false;
    // Leaving the edit's own text for the history keeps it as a draft that
    // Down past the newest command brings back.
    auto [It, Fresh] = FRecall.try_emplace(Edit, FHistory.size());
    if (Fresh) Edit->setProperty("Draft", Edit->text());
    const qsizetype Pos = std::clamp<qsizetype>(It->second + Step, 0, FHistory.size());
    It->second = Pos;
    Edit->setText(Pos == FHistory.size() ? Edit->property("Draft").toString() : FHistory[Pos]);
    return true;
}

// ---- Recording

void TFKAVRO::StartRecording(const std::string& Path) {
    StopRecording();
    FRecorder.Open(Path);
    RecordEvent("recording started");
    UpdateConnectionLight();
    // Last: a settings file that cannot be written costs no row.
    FRecordFolder = QFileInfo(QString::fromLocal8Bit(Path.c_str())).absolutePath();
    SaveKeptNow();
}

void TFKAVRO::StopRecording() {
    if (!FRecorder.Active()) return;
    RecordEvent("recording stopped");
    try {
        FRecorder.Close();
    } catch (...) {
        UpdateConnectionLight();
        throw;
    }
    UpdateConnectionLight();
}

void TFKAVRO::RecordRow(const std::string& Kind, const std::string& Value, const std::string& Text,
                        const TReading* R) {
    if (!FRecorder.Active()) return;
    const bool Open = Connected == 1 && VaComm1 && VaComm1->Active();
    const TSensorIdentity& I = FSession->Identity();
    auto Known = [](int V) { return V < 0 ? std::string() : std::to_string(V); };
    const TRecordRow Row{Kind,
                         Value,
                         Text,
                         Open ? FSession->Connection().Opened : std::string(),
                         Known(R ? R->Mode : I.Mode),
                         Known(R ? R->Id : I.Id)};
    try {
        FRecorder.Write(Row);
    } catch (const std::exception& E) {
        // The readings go on on screen; the recording ends with the reason
        // in panel 0 and the log.
        UpdateConnectionLight();
        FRecordFailure = std::string("Recording stopped. ") + E.what();
        HandleAppException(this, EInOutError(FRecordFailure));
        return;
    }
    UpdateConnectionLight();
}

void TFKAVRO::RecordFromDialog() {
    const QString Folder = FRecordFolder.isEmpty() ? QDir::homePath() : FRecordFolder;
    const QString Name =
        Folder + "/vorta-" + QDateTime::currentDateTime().toString("yyyyMMdd-hhmmss") + ".csv";
    // An existing file is appended to, so there is nothing to confirm.
    const QString Path = QFileDialog::getSaveFileName(this, "Record readings", Name,
                                                      "CSV files (*.csv);;All files (*)", nullptr,
                                                      QFileDialog::DontConfirmOverwrite);
    if (!Path.isEmpty()) StartRecording(Path.toLocal8Bit().toStdString());
}

// ---- Log

void TFKAVRO::SaveLogAs(const std::string& Path) {
    QString Text = Memo1->Text();
    if (!Text.isEmpty()) Text += '\n';
    ReplaceFile(Path, Text.toUtf8().toStdString());
}

void TFKAVRO::SaveLogFromDialog() {
    const QString Folder = FRecordFolder.isEmpty() ? QDir::homePath() : FRecordFolder;
    const QString Path = QFileDialog::getSaveFileName(
        this, "Save log as", Folder + "/vorta-log.txt", "Text files (*.txt);;All files (*)");
    if (!Path.isEmpty()) SaveLogAs(Path.toLocal8Bit().toStdString());
}

// ---- Kept choices

void TFKAVRO::LoadKept(const TProgramSettings& Kept) {
    FHistory = Kept.Value("Commands/History").toStringList();
    while (FHistory.size() > HistoryLimit)
        FHistory.removeFirst();
    FRecentPorts = Kept.Value("Ports/Recent").toStringList();
    while (FRecentPorts.size() > RecentPortLimit)
        FRecentPorts.removeLast();
    actAutoReconnect->setChecked(Kept.Value("Ports/AutoReconnect", false).toBool());
    FRecordFolder = Kept.Value("Recording/Folder").toString();
}

// A history or a port list kept only until Close would be lost with a killed
// or crashed program; the file is small, so each change is written at once.
void TFKAVRO::SaveKeptNow() {
    TProgramSettings Kept;
    SaveKept(Kept);
    WriteKept(Kept);
}

void TFKAVRO::WriteKept(TProgramSettings& Kept) {
    // The file was written all the same: no failure, but what it lost.
    if (const int Dropped = Kept.Save())
        ReportError("Rewrote \"" + Kept.Path() +
                    "\": unreadable entries dropped: " + std::to_string(Dropped));
}

void TFKAVRO::SaveKept(TProgramSettings& Kept) const {
    Kept.SetValue("Commands/History", FHistory);
    Kept.SetValue("Ports/Recent", FRecentPorts);
    Kept.SetValue("Ports/AutoReconnect", AutoReconnect());
    Kept.SetValue("Recording/Folder", FRecordFolder);
}
