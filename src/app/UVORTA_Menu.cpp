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
#include "parts/Lights.h"

#include <QAction>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QScrollArea>
#include <QStyle>
#include <QVBoxLayout>

#include <zlib.h>

#include <algorithm>

namespace {

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

} // namespace

void TFKAVRO::OnTriggered(QAction* Action, const std::function<void()>& Handler) {
    QObject::connect(Action, &QAction::triggered, this,
                     [this, Handler] { RunHandler(this, Handler); });
}

// A fixed-size window taller than the screen cannot be made smaller, and
// the controls below the screen's edge (the status bar, Close) could not be
// reached at all. Scrolling keeps every control where it is in ClientArea.
void TFKAVRO::FitScreen() {
    const QScreen* S = screen() ? screen() : QGuiApplication::primaryScreen();
    if (!S) return;
    const QRect Avail = S->availableGeometry();
    const QSize Natural = sizeHint();
    // Room for the window manager's title bar and borders, which the window
    // does not know before it is shown.
    const int TitleBar = style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, this);
    const int Border = 2 * style()->pixelMetric(QStyle::PM_MdiSubWindowFrameWidth, nullptr, this);
    if (Natural.width() + Border <= Avail.width() &&
        Natural.height() + TitleBar + Border <= Avail.height())
        return;
    auto* Scroll = new QScrollArea(this);
    Scroll->setObjectName(QStringLiteral("ClientScroll"));
    Scroll->setFrameShape(QFrame::NoFrame);
    layout()->removeWidget(ClientArea);
    Scroll->setWidget(ClientArea);
    layout()->addWidget(Scroll);
    // The fixed size the layout gave the window goes with its constraint.
    layout()->setSizeConstraint(QLayout::SetDefaultConstraint);
    setMinimumSize(0, 0);
    setWindowFlag(Qt::MSWindowsFixedSizeDialogHint, false);
    // Wide enough for the vertical scroll bar beside the whole width, so
    // that only the height scrolls where the width fits.
    const int Bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, Scroll);
    const QSize Most(Natural.width() + Bar, Natural.height());
    setMaximumSize(Most);
    resize(std::min(Most.width(), Avail.width() - Border),
           std::min(Most.height(), Avail.height() - TitleBar - Border));
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
    actProfiles = Add(File, "Pro&files…", {}, [this] { FProfiles->ShowDialog(); });
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
    actWatch = Add(Port, "&Watch sensors…", {}, [this] { WatchSensors(); });
    actStopWatching = Add(Port, "S&top watching", {}, [this] { FScan->StopWatching(); });
    actStopWatching->setEnabled(false);

    QMenu* View = MainMenu->addMenu("&View");
    actPlot = Add(View, "&Plot", QKeySequence("Ctrl+P"), [this] { ShowPlot(); });
    actTraffic = Add(View, "&Traffic", QKeySequence("Ctrl+T"), [this] { ShowTraffic(); });
    // The current sensor: the session's port and ID, else the port box's.
    actLimits = Add(View, "&Limits…", {}, [this] {
        std::string Port = FSession->Connection().Opened;
        if (Port.empty())
            Port = PortNameFromPath(ePortNo->currentText().toLocal8Bit().toStdString());
        FAlarmPart->AskLimits(Port, CurrentSensorId(*FSession));
    });

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
    CreateParts();
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
        {"Qt %2: Core, Gui, Widgets, Serial Port, D-Bus", "LGPL-3.0, GPL-2.0 or GPL-3.0"},
        {"Qt Charts (the plot window)", "GPL-3.0"},
        {"zlib %3", "zlib licence"},
        {"libdeflate", "MIT licence"},
        {"libudev", "LGPL-2.1-or-later"},
        {"fontconfig", "MIT-style licence"},
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

void TFKAVRO::UpdateConnectionLight() {
    if (!ConnectionLight || !FPorts) return;
    // A raw TCP port's line is set at its server, not here: only its
    // address is known. An RFC 2217 port takes the console's settings.
    const std::string& Opened = FSession->Connection().Opened;
    const bool Raw = Opened.rfind("tcp://", 0) == 0;
    if (Connected == 1 && VaComm1->Active())
        SetLight(ConnectionLight,
                 QString::fromLocal8Bit(Opened.c_str()) +
                     (Raw ? QString() : QString::fromUtf8(" · ") + LineSettingsText(*VaComm1)),
                 "#2e7d32");
    else if (FPorts->Lost())
        SetLight(ConnectionLight, "Lost", "#c62828");
    else
        SetLight(ConnectionLight, "Not connected", "#808080");
    // An alarm of the sensors read through this port stands out while it lasts.
    QString Alarm, Tip;
    if (Connected == 1 && VaComm1->Active() && FAlarmPart &&
        FAlarmPart->Light(FSession->Connection().Opened, Alarm, Tip))
        SetLight(ConnectionLight, Alarm, "#c62828");
    ConnectionLight->setToolTip(Tip);
    FRecording->UpdateLight();
    FBroker->UpdateLight();
    FitLights();
}

void TFKAVRO::FitLights() {
    QWidget* Corner = MainMenu->cornerWidget(Qt::TopRightCorner);
    if (Corner && Corner->sizeHint() != Corner->size())
        MainMenu->setCornerWidget(Corner, Qt::TopRightCorner);
}

// ---- Port menu

void TFKAVRO::Disconnect() {
    // A polling command running in a wait ends at its next look at StopFlag.
    StopFlag = true;
    // Nothing to come back to: a reconnect that was awaited is off.
    FPorts->Forget();
    // A port that hung up is closed already; the session, still waiting for
    // its device, is told that nobody waits any more.
    if (VaComm1->Active() || FSession->Connection().State == TConnectionState::Lost)
        CloseSerialPort();
    Connected = 0;
    UpdateConnectionLight();
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
    FRecording->Start(Path);
    // Last: a settings file that cannot be written costs no row.
    FRecordFolder = QFileInfo(QString::fromLocal8Bit(Path.c_str())).absolutePath();
    SaveKeptNow();
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
    FPorts->SetRecentPorts(Kept.Value("Ports/Recent").toStringList());
    actAutoReconnect->setChecked(Kept.Value("Ports/AutoReconnect", false).toBool());
    FRecordFolder = Kept.Value("Recording/Folder").toString();
    FAlarmPart->Load(Kept);
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
    Kept.SetValue("Ports/Recent", FPorts->RecentPorts());
    Kept.SetValue("Ports/AutoReconnect", AutoReconnect());
    Kept.SetValue("Recording/Folder", FRecordFolder);
}

// ---- The parts

void TFKAVRO::CreateParts() {
    FRecording = std::make_unique<TRecordingPart>(*FSession, RecordingLight, actStopRecording);
    FRecording->OnFailure = [this](const std::string& Why) {
        HandleAppException(this, EInOutError(Why));
    };
    FRecording->OnLightChanged = [this] { UpdateConnectionLight(); };
    FBroker = std::make_unique<TBrokerPart>(*this, *FSession, BrokerLight, actStopPublishing);
    FBroker->OnStatus = [this](const QString& Text) { StatusBar1->SetPanelText(0, Text); };
    FBroker->OnLightChanged = [this] { UpdateConnectionLight(); };
    FAlarmPart =
        std::make_unique<TAlarmPart>(*this, *FSession, FAlarms, *FRecording, *FBroker, FPlotFeed);
    FAlarmPart->OnLightChanged = [this] { UpdateConnectionLight(); };
    FAlarmPart->OnStatus = [this](const QString& Text) { StatusBar1->SetPanelText(0, Text); };
    FAlarmPart->OnError = [this](const std::string& Why) { ReportError(Why); };
    FPorts = std::make_unique<TPortsPart>(*this, *FSession, ePortNo);
    FPorts->OnKeptChanged = [this] { SaveKeptNow(); };
    FPorts->OnReopened = [this] { Reopened(); };
    FPorts->Closing = [this] { return Closing(); };
    FScan = std::make_unique<TScanPart>(*this, *FSession, Edit1);
    FScan->OnWatch = [this](const std::vector<int>& Ids, int Lead) {
        FGauge->WatchShownId = Lead;
        if (!Ids.empty()) {
            FPlotFeed.BeginWatch(Ids, Lead);
        } else {
            FGauge->WatchEnded();
            FAlarms.WatchEnded(FSession->Connection().Opened);
        }
        for (QAction* A : {actScan, actWatch})
            A->setEnabled(Ids.empty());
        actStopWatching->setEnabled(!Ids.empty());
    };
    FScan->OnStatus = [this](const QString& Text) { StatusBar1->SetPanelText(0, Text); };
    FScan->OnEvent = [this](const std::string& Text, int Id) { RecordEvent(Text, Id); };
    FProfiles = std::make_unique<TProfilesPart>(
        *this, *FSession, FAlarms,
        TProfileFields{ePortNo, Edit1, eInterval, eCount, &FRecordFolder});
    FProfiles->Keep = [this](const QString& Key, const QVariant& Value) {
        TProgramSettings Kept;
        Kept.SetValue(Key, Value);
        WriteKept(Kept);
    };
    FProfiles->OnRecordFolderChanged = [this] { SaveKeptNow(); };
    FProfiles->OnStatus = [this](const QString& Text) { StatusBar1->SetPanelText(0, Text); };
    // Recorded first: a reading that cannot be drawn is still on disk.
    FSession->AddObserver(FRecording.get());
    FSession->AddObserver(FSessionView.get());
    FSession->AddObserver(FGauge.get());
    FSession->AddObserver(&FAlarms);
}

void TFKAVRO::StartPublishing(const TPublishOptions& Options) {
    TPublishOptions O = Options;
    if (O.Port.empty() && FSession->Connection().Opened.empty())
        O.Port = ePortNo->currentText().toLocal8Bit().toStdString();
    FBroker->Start(O);
    FAlarmPart->Republish(FSession->Connection().Opened);
}

void TFKAVRO::PublishFromDialog() {
    TPublishOptions O;
    if (FBroker->AskOptions(O)) StartPublishing(O);
}

void TFKAVRO::ScanForSensors() {
    if (!CommandStart()) return;
    FScan->Run();
}

void TFKAVRO::WatchSensors() {
    if (!CommandStart()) return;
    FScan->WatchFound();
}

void TFKAVRO::Reopened() {
    LastAnswer.clear();
    ClearRx();
    StopFlag = true;
    btn10Click();
    if (FPorts->StreamRunning() && Connected != 0) btREADClick();
    StatusBar1->SetPanelText(0, "Reconnected");
}
