// SPDX-License-Identifier: GPL-3.0-or-later
// The console's main window. All console logic runs on the user-interface
// thread as handlers and methods of TFKAVRO; the window owns every control,
// the sensor session and its parts for the whole run, and its handlers keep
// their design names and forward to the session and the parts.
//
// The window's methods are spread over three sources by concern:
//   UVORTA_Display.cpp  window, controls, start-up, closing, answers, exception
//                       handler, settings file, error log, help
//   UVORTA_Console.cpp  command exchange, answer reception, command set,
//                       connection and the port's events
//   UVORTA_Menu.cpp     menu bar, connection light, command history, kept
//                       choices, the plot, and the commands the parts carry out
// The parts (src/app/parts/), each with its own state, made and wired by the
// constructor; those that show or keep the session's events observe it:
//   TGaugePart      dial, needle and seven-segment readout, and their frames
//   TRecordingPart  the recording, its rows and its light
//   TBrokerPart     publishing to a broker, its light and its dialog
//   TPortsPart      the port list, recent ports, hot-plug, reconnecting
//   TScanPart       the scan of a shared line and its dialogs
//   TProfilesPart   named setups (File > Profiles...), the last one at start
//   TAlarmPart      limits (View > Limits…) and what an alarm shows and tells
#pragma once

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStringList>
#include <QWidget>

#include <QDateTime>

#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "AnswerReceiver.h"
#include "AppPaths.h"
#include "MemoView.h"
#include "PlotFeed.h"
#include "ReadingPublisher.h"
#include "Recorder.h"
#include "SensorExchange.h"
#include "SensorSession.h"
#include "UserSettings.h"
#include "VaComm.h"
#include "parts/AlarmPart.h"
#include "parts/BrokerPart.h"
#include "parts/GaugePart.h"
#include "parts/PortsPart.h"
#include "parts/ProfilesPart.h"
#include "parts/RecordingPart.h"
#include "parts/ScanPart.h"

class QAction;
class QCloseEvent;
class QMenuBar;
class QShowEvent;
class TFKAVRO;
class TProgramSettings;

// An edit with its caption label above it, as one control.
class TLabeledEdit : public QLineEdit {
  public:
    TLabeledEdit(QWidget* Parent, int Left, int Top, int Width, int Height, const QString& Caption);
    QLabel* EditLabel; // sized and placed when first shown

  protected:
    bool eventFilter(QObject* Watched, QEvent* Event) override;

  private:
    bool FLabelPlaced = false;
};

// Two fixed-width text panels along the bottom of the window. A text longer
// than its panel is cut in the panel; the whole text is the panel's tooltip.
class TStatusBar : public QWidget {
  public:
    TStatusBar(QWidget* Parent, int Width0, int Width1);
    QString PanelText(int Index) const;
    void SetPanelText(int Index, const QString& Text);
    // A line that every tooltip of the bar shows, after a panel's own text,
    // whatever the panels show later ("" for none): a count the operator
    // finds wherever the bar is hovered.
    void SetNote(const QString& Note);

  private:
    void UpdateToolTip(int Index);
    QLabel* FPanels[2];
    QString FTexts[2]; // as set; the labels show them without line breaks
    QString FNote;
};

// Settings and behaviour that tests and the command line adjust.
struct TFKAVROOptions {
    std::string PortOverride; // --port: replaces the saved port after start-up
    std::string RecordFile;   // --record: records into this file from start-up
    std::string MqttUrl;      // --mqtt: publishes the readings from start-up
};

// Module-level state: there is only one window.
extern std::string LastAnswer;
extern bool StopFlag;
extern std::string ErrorLine;
extern TUserSettings UserSettings;

// The window's controls carry their design names as object names (lbeCal0
// to lbeCal11 for the array), so tools and tests find them by name.
class TFKAVRO : public QWidget {
  public:
    explicit TFKAVRO(const TFKAVROOptions& Options = {});
    ~TFKAVRO() override;

    // ---- window life (UVORTA_Display.cpp)
    void btCloseClick();
    void btHelpClick();
    // Line becomes LastAnswer and a line of Memo1 (shown with the next frame;
    // Memo1->Lines() has it at once).
    void ShowAnswer(const std::string& Line);
    // The port name as saved: whole, where the record holds its first 6
    // characters only.
    const QString& SavedPortName() const { return FPortName; }

    // True once the window has begun to close; waits end early and the running
    // command is abandoned (see PumpWait).
    bool Closing() const { return FClosing; }
    // True from the port's open event to its close event.
    bool IsConnected() const { return Connected == 1; }

    // ---- console (UVORTA_Console.cpp)
    // The command set.
    void btn10Click();
    void btREADClick();
    void btStopClick();
    void btDATAClick();
    void btn25Click();
    void btIDchangeClick();
    void btB105Click();
    void Button21Click();
    void Button22Click();
    void Button23Click();
    void Button24Click();
    void Button25Click();
    void Button26Click();
    void bt360Send1Click();
    void bt360Send2Click();
    void bt360Send3Click();
    void btClearClick();

    // Port discovery and connection.
    void ListSerialPorts(QStringList* List, bool TestOpen) {
        TPortsPart::ListSerialPorts(List, TestOpen);
    }
    bool CanOpenPort(const std::string& Name) { return TPortsPart::CanOpenPort(Name); }
    void Button3Click();

    // ---- menu bar, light, history, recording, publishing, scan (UVORTA_Menu.cpp)
    // View menu: the plot window (fed always).
    void ShowPlot();
    // View menu: the traffic window, built on first use.
    void ShowTraffic();
    // The plot window, from its module (PlotModule.h): built on first use, or
    // after the first frame. Throws Exception when the module cannot be loaded.
    QWidget& PlotView();
    // Port menu: closes the port (VaComm1Close runs) and ends a running loop.
    void Disconnect();
    // The port list as at start-up, then the recently used ports that can be
    // opened now and are not listed yet (pseudo-terminals, links); the box's
    // text stays. Hot-plug events and the Port menu call it.
    void RefreshPortList() { FPorts->Refresh(); }
    // Recording (see TRecordingPart). StartRecording raises EInOutError when
    // the file cannot be opened; a row that cannot be written stops the
    // recording and reports it through HandleAppException (panel 0 and the log).
    void StartRecording(const std::string& Path);
    void StopRecording() { FRecording->Stop(); }
    // A row of the session's port, and the sensor's mode and ID (those of R
    // for a reading).
    void RecordRow(const std::string& Kind, const std::string& Value, const std::string& Text,
                   const TReading* R = nullptr) {
        FRecording->Row(Kind, Value, Text, R);
    }
    // An event of the port's sensor, or with Id of that sensor of the line
    // (a watched one): its row carries that ID, and a mode only when
    // Information told that sensor's.
    void RecordEvent(const std::string& Text, int Id = -1);
    const TRecorder& Recorder() const { return FRecording->Recorder(); }
    void SaveLogAs(const std::string& Path); // Memo1 as UTF-8 text
    // The free commands sent, oldest first, at most HistoryLimit (kept).
    static constexpr int HistoryLimit = 20;
    static constexpr int RecentPortLimit = TPortsPart::RecentPortLimit;
    const QStringList& CommandHistory() const { return FHistory; }
    const QStringList& RecentPorts() const { return FPorts->RecentPorts(); }
    static QString AboutText();

    // ---- publishing to a broker (see TBrokerPart)
    // Every accepted reading goes to PREFIX/reading, the Information fields
    // to PREFIX/info (see TReadingPublisher). The broker's URL, prefix, QoS
    // and user are kept in the program settings; the password never is.
    // StartPublishing shows bad options (a topic the broker would refuse)
    // in a message box and publishes nothing; a broker that is away or
    // refuses later shows on the light and in panel 0. Before any
    // connection the port is the one the box names.
    void StartPublishing(const TPublishOptions& Options);
    void StopPublishing() { FBroker->Stop(); }
    void PublishFromDialog(); // File > Publish to broker...

    // ---- reconnecting (see TPortsPart), scan (see TScanPart)
    // After a hang-up, opens the same device again by itself once it is back
    // (a udev event, or its path seen gone and present again), then reads
    // Information and restarts a "#READ" stream that was running. Off by default.
    bool AutoReconnect() const { return FPorts->AutoReconnect(); }
    void SetAutoReconnect(bool On) { FPorts->SetAutoReconnect(On); }
    bool StreamRunning() const { return FPorts->StreamRunning(); }
    // The Angle Data request of every ID (1 to 77) with ScanWait ms for each
    // answer, under a cancelable progress dialog; the chosen ID goes to Edit1.
    void ScanForSensors();
    // Port > Watch sensors...: the last scan's sensors polled in turn until
    // Port > Stop watching or #STOP (see TScanPart::Watch).
    void WatchSensors();

    // The limits of every sensor (port and ID) and their alarms; an observer
    // of the session, after the recording and the gauge.
    TAlarmWatcher& Alarms() { return FAlarms; }

    // ---- gauge (see TGaugePart)
    void ShowReading(double Value) { FGauge->ShowReading(Value); }
    void DrawNeedle(float Angle) { FGauge->DrawNeedle(Angle); }
    void LoadDial(const std::string& DialFile) { FGauge->LoadDial(DialFile); }
    void FlushFrame() { FGauge->FlushFrame(); }

  protected:
    void showEvent(QShowEvent* Event) override;
    void paintEvent(QPaintEvent* Event) override;
    void closeEvent(QCloseEvent* Event) override;
    bool eventFilter(QObject* Watched, QEvent* Event) override;

  private:
    // Tests reach the state below through this one struct, defined on their
    // side; the controls they find by name.
    friend struct TFKAVROTestAccess;

    // ---- window life (UVORTA_Display.cpp)
    void FormCreate();
    // --record: a file that cannot be written is said in panel 0, the log
    // and a message box.
    void RecordFromCommandLine();
    void FormShow();
    void FormClose();
    // Closing with a stream running (Close, Quit, the window's frame, a
    // stop signal): "#STOP" once, so that the sensor does not go on
    // streaming to a port nobody reads.
    void StopStreamOnClose();
    void HandleAppException(QObject* Sender, const std::exception& E);
    // Text, stamped with the time, in panel 0 and the error log.
    void ReportError(const std::string& Text);
    // Settings file, error log (see AppPaths.h for where they are).
    // LoadSettings also reads the whole port name kept beside the record;
    // SaveSettings writes both, then loads them back.
    void LoadSettings();
    void SaveSettings();
    void LogError();
    void CopyControlsToSettings();
    void CreateControls();
    void NameControls();
    // Connects a button's click to a handler run through RunHandler, so an
    // exception in the handler reaches HandleAppException.
    void OnClick(QPushButton* Button, void (TFKAVRO::*Handler)());
    void OnTriggered(QAction* Action, const std::function<void()>& Handler);

    // ---- console (UVORTA_Console.cpp)
    void ConnectConsoleSignals(); // wires the buttons and the session's port
    void ConsoleFormCreate();     // start-up steps after the settings are loaded
    void FillPortList();          // the port list at start-up, once
    void CloseSerialPort();       // closes the session's port: its state is closed

    // Command exchange. Each waits with PumpWait, so answers arrive meanwhile;
    // an EAbort from a wait (window closing) ends the command.
    // Start of a command: false (after the message) when not connected. With
    // Count, reads eCount first (polling commands).
    bool CommandStart(bool Stop = false, int* Count = nullptr);
    // Sends Command (built anew for each attempt) until Marker is in LastAnswer,
    // at most six times. True when it came (a malformed frame is no answer).
    bool RetryExchange(const std::function<std::string()>& Command, const std::string& Marker);
    void StopLoop();
    // eCount cycles of up to Limit + 1 requests each, until a reading.
    void PollingExchange(const std::function<std::string()>& Request,
                         const std::function<std::string(const std::string&)>& Shown, int Limit);
    void SingleSend(const std::string& Command);
    void Send(const std::string& Bytes, const std::string& Shown);
    // Empties the received text and forgets the frame being received.
    void ClearRx();
    void ModeCommand(int Mode);

    // Answer reception and the port's events.
    void VaComm1RxChar(TVaObject* Sender, int Count);
    void VaComm1Open(TVaObject* Sender);
    void VaComm1Close(TVaObject* Sender);
    void VaComm1Error(TVaObject* Sender, int Errors);

    // The sensor session: the port, the receiver and the exchange, and what
    // is known of the sensor. The recording, the log, the plot feed and the
    // status bar (FSessionView), the gauge and the publisher observe it, in
    // that order. Made first and destroyed first: the parts below hold it.
    std::unique_ptr<TSensorSession> FSession;
    class TSessionView;
    friend class TSessionView;
    std::unique_ptr<TSessionObserver> FSessionView;
    TVaComm* VaComm1 = nullptr;           // the session's port
    TAnswerReceiver* FReceiver = nullptr; // the session's receiver
    // The exchange patterns, over VaComm1, PumpWait and the status bar.
    TSensorExchange* FExchange = nullptr;

    // The window's parts, made by its constructor, each over its controls.
    std::unique_ptr<TGaugePart> FGauge;
    static constexpr const char* FirstDial = "img/Mode0.png";
    TDialPreload FDialPreload; // decoding from the start until the first showing
    std::unique_ptr<TRecordingPart> FRecording;
    std::unique_ptr<TBrokerPart> FBroker;
    std::unique_ptr<TPortsPart> FPorts;
    std::unique_ptr<TScanPart> FScan;
    std::unique_ptr<TProfilesPart> FProfiles;
    TAlarmWatcher FAlarms;
    std::unique_ptr<TAlarmPart> FAlarmPart; // goes before the watcher it hooks
    void CreateParts(); // after the menu bar: the parts' lights and actions are in it

    // ---- menu bar, light, history, recording (UVORTA_Menu.cpp)
    void CreateMenu(); // the menu bar above ClientArea and the connection light
    // When the window is larger than its screen's available area (a scale
    // factor of 2 on a small screen), ClientArea goes into a scroll area and
    // the window fits the screen; otherwise nothing changes.
    void FitScreen();
    // A frame whose value is not a number is counted in the status bar's
    // tooltips (the recording has it as an answer, the gauge shows 0).
    long FMalformedFrames = 0;
    // The lights: the connection's (VaComm1), and the recording's and the
    // broker's from their parts, all drawn anew together.
    void UpdateConnectionLight();
    // The menu bar sizes its corner only when the corner is set: a light
    // whose text grew would be cut.
    void FitLights();
    void FreeCommand(QLineEdit* Edit);
    void RememberCommand(const QString& Command);
    bool RecallCommand(QLineEdit* Edit, int Step);
    void LoadKept(const class TProgramSettings& Kept);
    void SaveKept(class TProgramSettings& Kept) const;
    void SaveKeptNow();
    // Writes Kept; unreadable entries it dropped from the file are reported.
    void WriteKept(TProgramSettings& Kept);
    void RecordFromDialog();
    void SaveLogFromDialog();
    TPlotFeed FPlotFeed;     // every reading from the start; outlives Plot
    QWidget* Plot = nullptr; // null until PlotView builds it

    // Null until ShowTraffic builds it; goes before the session it observes.
    class TTrafficWindow* Traffic = nullptr;
    QStringList FHistory;
    QString FRecordFolder;
    // Where each free command edit stands in FHistory while Up/Down walk it
    // (FHistory.size(): past the newest, the edit's own text).
    std::map<QLineEdit*, qsizetype> FRecall;

    QWidget* ClientArea = nullptr; // the 618 x 721 client area under the menu bar
    QMenuBar* MainMenu = nullptr;
    QLabel* ConnectionLight = nullptr;
    QLabel* RecordingLight = nullptr;
    QLabel* BrokerLight = nullptr;
    QAction* actPublish = nullptr;
    QAction* actStopPublishing = nullptr;
    QAction* actProfiles = nullptr;
    QAction* actRecord = nullptr;
    QAction* actStopRecording = nullptr;
    QAction* actSaveLog = nullptr;
    QAction* actQuit = nullptr;
    QAction* actRefresh = nullptr;
    QAction* actDisconnect = nullptr;
    QAction* actAutoReconnect = nullptr;
    QAction* actScan = nullptr;
    QAction* actWatch = nullptr;
    QAction* actStopWatching = nullptr;
    QAction* actPlot = nullptr;
    QAction* actTraffic = nullptr;
    QAction* actLimits = nullptr;
    QAction* actHelp = nullptr;
    QAction* actAbout = nullptr;

    // A reconnection opened the port again: Information, and the stream
    // restarted when one was running.
    void Reopened();

    // Shared state of the handlers.
    int Connected = 0;

    TFKAVROOptions FOptions;
    bool FShown = false;
    bool FPainted = false; // the first frame is drawn
    bool FPortListFilled = false;
    bool FClosing = false;
    bool FSettingsLoaded = false;
    QString FPortName; // goes with UserSettings; the record's port field cut from it

    // Controls (positions are those of the stored design).
    QWidget* Panel1;
    QWidget* Panel2;
    QLabel* Label1;
    QComboBox* ePortNo;
    QPushButton* Button3;
    QPushButton* Button21;
    QPushButton* Button22;
    QPushButton* Button23;
    QPushButton* Button24;
    QPushButton* btHelp;
    QPushButton* btClose;
    QGroupBox* GroupBox1;
    QPushButton* btn10;
    QLabel* Label2;
    QLineEdit* eID;
    QPushButton* btIDchange;
    QPushButton* btDATA;
    QPushButton* btREAD;
    QPushButton* btStop;
    QPushButton* btn25;
    TLabeledEdit* leRangeN;
    QPushButton* Button25;
    TLabeledEdit* leRangeP;
    QPushButton* Button26;
    QLineEdit* ed360Send1;
    QLineEdit* ed360Send2;
    QLineEdit* ed360Send3;
    QPushButton* bt360Send1;
    QPushButton* bt360Send2;
    QPushButton* bt360Send3;
    QGroupBox* GroupBox2;
    QLabel* Label5;
    QLineEdit* Edit1;
    QLabel* Label3;
    QLabel* lCount;
    QLabel* Label6;
    QLineEdit* eCount;
    QPushButton* btB105;
    QLabel* Label4;
    QLineEdit* eInterval;
    QLabel* Label7;
    TLabeledEdit* lbeVersion;
    TLabeledEdit* lbeID;
    TLabeledEdit* lbeNRange;
    TLabeledEdit* lbePRange;
    TLabeledEdit* lbeMode;
    TLabeledEdit* lbeOffset;
    QLabel* Label8;
    QPushButton* btClear;
    TMemoView* Memo1; // at most 100 000 lines and MaxChars characters
    QGroupBox* GroupBox4;
    TLabeledEdit* lbeCalDone;
    TLabeledEdit* lbeMVGain;
    TLabeledEdit* lbeMVOffset;
    TLabeledEdit* lbeCal[12]; // lbeCal0..lbeCal9, lbeCal10, lbeCal11
    TStatusBar* StatusBar1;
};

// The clock of the exception handler's time stamps; tests fix it.
void SetClock(std::function<QDateTime()> Now);
