// The console's main window. All console logic runs on the user-interface
// thread as handlers and methods of TFKAVRO; the window owns every control,
// the serial port component and the gauge views for the whole run.
//
// The methods are spread over three sources by concern:
//   UVORTA_Display.cpp  window, start-up, closing, answers, exception handler,
//                       settings file, error log, help
//   UVORTA_Console.cpp  command exchange, answer reception, command set,
//                       port discovery and connection
//   UVORTA_Gauge.cpp    dial and needle
#pragma once

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QWidget>

#include <QDateTime>

#include <exception>
#include <functional>
#include <memory>
#include <string>

#include "AppPaths.h"
#include "UserSettings.h"
#include "AnswerReceiver.h"
#include "SensorExchange.h"
#include "VaComm.h"

class QCloseEvent;
class QShowEvent;
class TFKAVRO;
class TImage32;
class TBitmapLayer;
class TiSevenSegmentAnalog;

// An edit with its caption label above it, as one control.
class TLabeledEdit : public QLineEdit {
public:
    TLabeledEdit(QWidget* Parent, int Left, int Top, int Width, int Height, const QString& Caption);
    QLabel* EditLabel;
};

// Two fixed-width text panels along the bottom of the window. A text longer
// than its panel is cut in the panel; the whole text is the panel's tooltip.
class TStatusBar : public QWidget {
public:
    TStatusBar(QWidget* Parent, int Width0, int Width1);
    QString PanelText(int Index) const;
    void SetPanelText(int Index, const QString& Text);

private:
    QLabel* FPanels[2];
    QString FTexts[2]; // as set; the labels show them without line breaks
};

// Settings and behaviour that tests and the command line adjust.
struct TFKAVROOptions {
    std::string PortOverride; // --port: replaces the saved port after start-up
};

// Module-level state: there is only one window.
extern std::string LastAnswer;
extern bool StopFlag;
extern std::string ErrorLine;
extern TUserSettings UserSettings;

class TFKAVRO : public QWidget {
public:
    explicit TFKAVRO(const TFKAVROOptions& Options = {});
    ~TFKAVRO() override;

    // ---- window life (UVORTA_Display.cpp)
    void FormCreate();
    void FormShow();
    void FormClose();
    void btCloseClick();
    void btHelpClick();
    void ShowAnswer(const std::string& Line);
    // Memo1 keeps at most this many characters (and 100 000 lines).
    qsizetype MemoMaxChars = 16 * 1024 * 1024;
    static constexpr int MemoLineMark = 1; // user state of a memo block that holds a line
    void HandleAppException(QObject* Sender, const std::exception& E);

    // Settings file, error log (see AppPaths.h for where they are).
    // LoadSettings also reads the whole port name kept beside the record;
    // SaveSettings writes both, then loads them back.
    void LoadSettings();
    void SaveSettings();
    void LogError();
    void CopyControlsToSettings();
    // The port name as saved: whole, where the record holds its first 6
    // characters only.
    const QString& SavedPortName() const { return FPortName; }

    // True once the window has begun to close; waits end early and the running
    // command is abandoned (see PumpWait).
    bool Closing() const { return FClosing; }

    // Connects a button's click to a handler run through RunHandler, so an
    // exception in the handler reaches HandleAppException.
    void OnClick(QPushButton* Button, void (TFKAVRO::*Handler)());

    // ---- console (UVORTA_Console.cpp)
    // BEGIN console declarations
    void ConnectConsoleSignals(); // wires the buttons and the serial component
    void ConsoleFormCreate();     // start-up steps after the settings are loaded
    void CloseSerialPort();       // closes VaComm1 (the Close button while connected)

    // Command exchange. Each waits with PumpWait, so answers arrive meanwhile;
    // an EAbort from a wait (window closing) ends the command.
    // Start of a command: false (after the message) when not connected. With
    // Count, reads eCount first (polling commands).
    bool CommandStart(bool Stop = false, int* Count = nullptr);
    // Sends Command (built anew for each attempt) until Marker is in LastAnswer,
    // at most six times.
    void RetryExchange(const std::function<std::string()>& Command, const std::string& Marker);
    void StopLoop();
    // eCount cycles of up to Limit + 1 requests each, until a reading.
    void PollingExchange(const std::function<std::string()>& Request,
                         const std::function<std::string(const std::string&)>& Shown, int Limit);
    void SingleSend(const std::string& Command);
    void Send(const std::string& Bytes, const std::string& Shown);
    // Empties RxBuffer and forgets the frame being received.
    void ClearRx();

    // Answer reception.
    void VaComm1RxChar(TVaObject* Sender, int Count);

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
    void ModeCommand(int Mode);
    void Button25Click();
    void Button26Click();
    void bt360Send1Click();
    void bt360Send2Click();
    void bt360Send3Click();
    void btClearClick();

    // Port discovery and connection.
    void ListSerialPorts(QStringList* List, bool TestOpen);
    bool CanOpenPort(const std::string& Name);
    void Button3Click();
    void VaComm1Open(TVaObject* Sender);
    void VaComm1Close(TVaObject* Sender);
    void VaComm1Error(TVaObject* Sender, int Errors);

    std::unique_ptr<TVaComm> VaComm1;
    std::unique_ptr<TAnswerReceiver> FReceiver; // assembles RxBuffer
    // The exchange patterns, over VaComm1, PumpWait and the status bar.
    std::unique_ptr<TSensorExchange> FExchange;
    // END console declarations

    // ---- gauge (UVORTA_Gauge.cpp)
    // BEGIN gauge declarations
    void CreateGauge();               // the three views and the readout
    void ShowReading(double Value);   // the readout's Value
    void DrawNeedle(float Angle);     // degrees, counter-clockwise positive
    void LoadDial(const std::string& DialFile);
    TImage32* Dst = nullptr;   // the visible dial: needle on white, dial layer above
    TImage32* Src = nullptr;   // the needle picture
    TImage32* ivBGR = nullptr; // the dial picture as loaded
    TiSevenSegmentAnalog* ssaValue = nullptr;
    TBitmapLayer* FDialLayer = nullptr;
    // Readings change the readout's Value and the needle's bitmap at once; the
    // screen shows them at most once per display frame, the first change after
    // a quiet frame at once, later ones with the frame that follows.
    // FlushGaugeFrame shows a pending change now.
    void FlushGaugeFrame();
    void ScheduleGaugeFrame();
    int GaugeFrameIntervalMs() const; // from the screen's refresh rate
    int FGaugeFrameIntervalMs = 0;    // when above 0, used instead
    class QTimer* FGaugeFrameTimer = nullptr;
    qint64 FLastGaugeFrameMs = 0;     // steady clock; 0: none yet
    bool FNeedlePending = false, FReadoutPending = false;
    // END gauge declarations

    // Shared state of the handlers.
    int Connected = 0;
    int RetryCount = 0;
    std::string RxBuffer;

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
    QPlainTextEdit* Memo1;
    QGroupBox* GroupBox4;
    TLabeledEdit* lbeCalDone;
    TLabeledEdit* lbeMVGain;
    TLabeledEdit* lbeMVOffset;
    TLabeledEdit* lbeCal[12]; // lbeCal0..lbeCal9, lbeCal10, lbeCal11
    TStatusBar* StatusBar1;

protected:
    void showEvent(QShowEvent* Event) override;
    void closeEvent(QCloseEvent* Event) override;
    bool eventFilter(QObject* Watched, QEvent* Event) override;

private:
    void CreateControls();
    TFKAVROOptions FOptions;
    bool FShown = false;
    bool FClosing = false;
    bool FSettingsLoaded = false;
    QString FPortName; // goes with UserSettings; the record's port field cut from it
};

// The clock of the exception handler's time stamps; tests fix it.
void SetClock(std::function<QDateTime()> Now);
