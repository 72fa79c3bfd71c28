// SPDX-License-Identifier: GPL-3.0-or-later
// Command exchange, answer reception, the command set, port discovery and
// connection: the console's handlers of TFKAVRO. All run on the user-interface
// thread; the waits pump messages, so receive events and other clicks run
// inside a command's wait.
#include "UVORTA_Display.h"

#include "Application.h"
#include "Dialogs.h"
#include "PumpWait.h"
#include "SensorProtocol.h"
#include "SysUtils.h"
#include "VaPorts.h"

#include <QLocale>
#include <QTimer>

namespace {

std::string Text(const QLineEdit* Edit) {
    return Edit->text().toLocal8Bit().toStdString();
}

QString Q(const std::string& S) {
    return QString::fromLocal8Bit(S.data(), static_cast<qsizetype>(S.size()));
}

// The value texts come from the sensor with the decimal separator of the
// system's number format, as the operator's other programs read them.
char LocaleDecimalSeparator() {
    const QString Point = QLocale::system().decimalPoint();
    return Point.size() == 1 && Point[0].unicode() < 128 ? static_cast<char>(Point[0].unicode())
                                                         : '.';
}

} // namespace

// What of the session's events the window's own controls show: the log,
// the last command in panel 1, the plot feed and the count of malformed
// frames. The recording, gauge and publisher observe the session themselves.
class TFKAVRO::TSessionView : public TSessionObserver {
  public:
    explicit TSessionView(TFKAVRO& W) : FW(W) {}
    void Answer(const std::string& Line, bool IsFrame) override {
        const int Id = FW.FSession->AnswerId();
        if (!IsFrame || Id < 1 || !FW.FScan || !FW.FScan->Watching()) return FW.ShowAnswer(Line);
        // A watch's values come from several sensors: each line names its
        // own. The answer the commands look at stays the frame's text.
        LastAnswer = Line;
        FW.Memo1->Append("ID " + std::to_string(Id) + ": " + Line);
    }
    void Reading(const TReading& R) override {
        // A scan's answers are other sensors' readings: its list shows them.
        if (R.Source != TReadingSource::Scan) FW.FPlotFeed.Add(R);
    }
    void Malformed(const std::string&) override {
        // Noise, never a reading: counted where the status bar is hovered.
        ++FW.FMalformedFrames;
        Note();
    }
    void Foreign(int, const std::string&) override {
        // Another device of a shared line: the traffic window shows its
        // bytes; here it is only counted.
        ++FForeignFrames;
        Note();
    }
    void Sent(const std::string& T) override { FW.StatusBar1->SetPanelText(1, Q(T)); }

  private:
    void Note() {
        QString Text;
        if (FW.FMalformedFrames > 0)
            Text = QString("malformed frames: %1").arg(FW.FMalformedFrames);
        if (FForeignFrames > 0)
            Text += QString(Text.isEmpty() ? "" : "\n") +
                    QString("frames of other sensors: %1").arg(FForeignFrames);
        FW.StatusBar1->SetNote(Text);
    }
    TFKAVRO& FW;
    long FForeignFrames = 0;
};

void TFKAVRO::ConnectConsoleSignals() {
    VaComm1 = &FSession->Port();
    FReceiver = &FSession->Receiver();
    FExchange = &FSession->Exchange();
    FReceiver->DecimalSeparator = LocaleDecimalSeparator();
    FExchange->OnProgress = [this](const std::string& T) { StatusBar1->SetPanelText(0, Q(T)); };
    FExchange->OnCycle = [this](int Cycle) { lCount->setText(QString::number(Cycle)); };
    // Observes the session from CreateParts, after the recording.
    FSessionView = std::make_unique<TSessionView>(*this);

    VaComm1->SetBaudrate(br9600);
    VaComm1->SetDeviceName("/dev/ttyS%d");
    TVaFlowControl& Flow = VaComm1->FlowControl();
    Flow.SetOutCtsFlow(false);
    Flow.SetOutDsrFlow(false);
    Flow.SetControlDtr(dtrDisabled);
    Flow.SetControlRts(rtsDisabled);
    Flow.SetXonXoffOut(false);
    Flow.SetXonXoffIn(false);
    Flow.SetDsrSensitivity(false);
    Flow.SetTxContinueOnXoff(false);
    // The session learns of the port's events first, so the handlers see
    // its state as it is now.
    auto SessionOpen = VaComm1->OnOpen;
    VaComm1->OnOpen = [this, SessionOpen](TVaObject* Sender) {
        SessionOpen(Sender);
        VaComm1Open(Sender);
    };
    auto SessionClose = VaComm1->OnClose;
    VaComm1->OnClose = [this, SessionClose](TVaObject* Sender) {
        SessionClose(Sender);
        VaComm1Close(Sender);
    };
    auto SessionError = VaComm1->OnError;
    VaComm1->OnError = [this, SessionError](TVaObject* Sender, int Errors) {
        SessionError(Sender, Errors);
        VaComm1Error(Sender, Errors);
    };
    VaComm1->OnRxChar = [this](TVaObject* Sender, int Count) { VaComm1RxChar(Sender, Count); };

    OnClick(Button3, &TFKAVRO::Button3Click);
    OnClick(btn10, &TFKAVRO::btn10Click);
    OnClick(btREAD, &TFKAVRO::btREADClick);
    OnClick(btStop, &TFKAVRO::btStopClick);
    OnClick(btDATA, &TFKAVRO::btDATAClick);
    OnClick(btn25, &TFKAVRO::btn25Click);
    OnClick(btIDchange, &TFKAVRO::btIDchangeClick);
    OnClick(btB105, &TFKAVRO::btB105Click);
    OnClick(Button21, &TFKAVRO::Button21Click);
    OnClick(Button22, &TFKAVRO::Button22Click);
    OnClick(Button23, &TFKAVRO::Button23Click);
    OnClick(Button24, &TFKAVRO::Button24Click);
    OnClick(Button25, &TFKAVRO::Button25Click);
    OnClick(Button26, &TFKAVRO::Button26Click);
    OnClick(bt360Send1, &TFKAVRO::bt360Send1Click);
    OnClick(bt360Send2, &TFKAVRO::bt360Send2Click);
    OnClick(bt360Send3, &TFKAVRO::bt360Send3Click);
    OnClick(btClear, &TFKAVRO::btClearClick);
}

void TFKAVRO::ConsoleFormCreate() {
    // Listing the ports asks the system about every terminal device it has,
    // which takes longer than drawing the window: the list is filled (and
    // the watcher of ports coming and going started) after
    // the first frame (paintEvent), or at the first turn of the event loop
    // for a window that is not shown. The port box's text is set meanwhile
    // and the list keeps it.
    QTimer::singleShot(0, this, [this] {
        if (!isVisible() || FPainted) FillPortList();
    });
}

void TFKAVRO::FillPortList() {
    if (FPortListFilled) return;
    FPortListFilled = true;
    RunHandler(this, [this] {
        // Where udev is missing the watcher lists the ports as well.
        FPorts->CreateWatcher();
        FPorts->Refresh();
    });
}

void TFKAVRO::CloseSerialPort() {
    FSession->Close();
}

void TFKAVRO::RecordEvent(const std::string& Text, int Id) {
    if (Id < 1) return RecordRow("event", "", Text);
    // Only its mode and ID go into the row.
    TReading Whose;
    Whose.Id = Id;
    const TSensorIdentity& I = FSession->Identity();
    Whose.Mode = I.Known && I.Id == Id ? I.Mode : -1;
    RecordRow("event", "", Text, &Whose);
}

// ---- Command exchange

void TFKAVRO::ClearRx() {
    FReceiver->Reset();
}

void TFKAVRO::Send(const std::string& Bytes, const std::string& Shown) {
    FExchange->Send(Bytes, Shown);
}

bool TFKAVRO::CommandStart(bool Stop, int* Count) {
    if (FScan->RefusedWhileWatching()) return false;
    FExchange->Start(Stop);
    if (Count) {
        *Count = StrToInt(Text(eCount));
        lCount->setText("1");
    }
    if (Connected == 0) {
        ShowMessage("Open Com port.");
        return false;
    }
    return true;
}

bool TFKAVRO::RetryExchange(const std::function<std::string()>& Command,
                            const std::string& Marker) {
    return FExchange->Retry(Command, Marker);
}

void TFKAVRO::StopLoop() {
    FExchange->StopLoop();
}

void TFKAVRO::PollingExchange(const std::function<std::string()>& Request,
                              const std::function<std::string(const std::string&)>& Shown,
                              int Limit) {
    int Count = 0;
    if (!CommandStart(false, &Count)) return;
    FExchange->Poll(Count, Request, Shown, Limit, [this] { return StrToInt(Text(eInterval)); });
}

void TFKAVRO::SingleSend(const std::string& Command) {
    if (!CommandStart()) return;
    Send(Command, Command);
}

// ---- Answer reception

void TFKAVRO::VaComm1RxChar(TVaObject*, int) {
    FSession->ReadPort();
}

// ---- The command set

void TFKAVRO::btn10Click() {
    if (!CommandStart()) return;
    FExchange->Information();

    // Parsed whether or not the answer came: without one the fields empty and
    // the ID shows -176.
    const TInformation I = ParseInformation(FExchange->InfoAnswer());
    lbeVersion->setText(Q(I.Version));
    lbeID->setText(Q(I.ID));
    lbeMode->setText(Q(I.Mode));
    lbeCalDone->setText(Q(I.CalDone));
    lbeOffset->setText(Q(I.Offset));
    lbeNRange->setText(Q(I.NRange));
    lbePRange->setText(Q(I.PRange));
    int Minus = 0, Plus = 0;
    if (TryStrToInt(I.NRange, Minus) && TryStrToInt(I.PRange, Plus))
        FPlotFeed.SetSensorRange(Minus, Plus);
    const std::string Dial = ChooseDial(I.PRange, I.Mode);
    if (!Dial.empty()) LoadDial(Dial);
    lbeMVGain->setText(Q(I.MVGain));
    lbeMVOffset->setText(Q(I.MVOffset));
    for (int k = 0; k < 12; ++k)
        lbeCal[k]->setText(Q(I.Cal[k]));
}

void TFKAVRO::btREADClick() {
    if (!CommandStart()) return;
    // Running from the first #READ on: a close during the exchange stops it.
    FPorts->NoteStream(true);
    FPorts->NoteStream(RetryExchange(SensorCommands::Read, "."));
}

void TFKAVRO::btStopClick() {
    FPorts->NoteStream(false);
    if (!CommandStart(true)) return;
    StopLoop();
}

void TFKAVRO::btDATAClick() {
    PollingExchange(
        SensorCommands::Data, [](const std::string& R) { return R; }, 5);
}

void TFKAVRO::btn25Click() {
    SingleSend(SensorCommands::Save());
}

void TFKAVRO::btIDchangeClick() {
    if (FScan->RefusedWhileWatching()) return;
    const int N = StrToInt(Text(eID));
    if (Connected == 0) {
        ShowMessage("Open Comport");
        return;
    }
    if (N > 77) {
        ShowMessage("\"MAX ID = 77!!!. Please Insert again.\"");
        return;
    }
    if (!AskYesNo("Do you want ID Change(" + Text(eID) + ")?")) return;
    // LastAnswer is not emptied first: an "OK" still standing ends the loop
    // after the first send.
    const std::string C = SensorCommands::Id(N);
    if (RetryExchange([&C] { return C; }, "OK")) btn10Click();
}

void TFKAVRO::btB105Click() {
    PollingExchange([this] { return AngleDataRequest(StrToInt(Text(Edit1))); },
                    [](const std::string& R) { return AngleDataText(R); }, 1);
}

void TFKAVRO::ModeCommand(int Mode) {
    if (!CommandStart()) return;
    const std::string C = SensorCommands::Mode(Mode);
    if (RetryExchange([&C] { return C; }, "OK")) btn10Click();
    if (Mode == 1) LoadDial("img\\mode1.png");
}

void TFKAVRO::Button21Click() {
    ModeCommand(0);
}
void TFKAVRO::Button22Click() {
    ModeCommand(1);
}
void TFKAVRO::Button23Click() {
    ModeCommand(2);
}
void TFKAVRO::Button24Click() {
    ModeCommand(3);
}

void TFKAVRO::Button25Click() {
    if (!CommandStart()) return;
    if (RetryExchange([this] { return SensorCommands::MinusRange(Text(leRangeN)); }, "OK"))
        btn10Click();
}

void TFKAVRO::Button26Click() {
    if (!CommandStart()) return;
    // The sensor takes a plus range of 0 for the full circle.
    if (RetryExchange([this] { return SensorCommands::PlusRange(Text(leRangeP)); }, "OK"))
        btn10Click();
}

void TFKAVRO::bt360Send1Click() {
    FreeCommand(ed360Send1);
}
void TFKAVRO::bt360Send2Click() {
    FreeCommand(ed360Send2);
}
void TFKAVRO::bt360Send3Click() {
    FreeCommand(ed360Send3);
}

void TFKAVRO::btClearClick() {
    Memo1->Clear();
    DrawNeedle(0);
    ShowReading(0);
    lCount->setText("1");
}

// ---- Port discovery and connection

void TFKAVRO::Button3Click() {
    // The device the box names: "COM<n>" picks port n of the default device
    // pattern; anything else names a device by a port name or a path. A bad
    // name fails here, before the open port is touched.
    const TPortTarget Target = ResolvePortName(ePortNo->currentText().toLocal8Bit().toStdString());

    // The open port is kept only when it is the one named and still there;
    // a port left behind by an unplugged adapter or a changed box is closed
    // and the named device opened anew.
    const bool Keep = Connected == 1 && VaComm1->Active() &&
                      VaComm1->DeviceFileName() == Target.Path && !VaComm1->Vanished();
    if (!Keep) {
        FSession->Open(ePortNo->currentText().toLocal8Bit().toStdString());
        FPorts->Remember(ePortNo->currentText());
        StopFlag = true;
    }
    btn10Click();
    if (FExchange->InfoAnswer().empty())
        ShowMessage("Can not connect to Sensor. Check the sensor or your PC!! ");
}

void TFKAVRO::VaComm1Open(TVaObject*) {
    Connected = 1;
    StatusBar1->SetPanelText(0, "Open Com");
    const bool Back = FPorts->NoteOpened(VaComm1->DeviceFileName());
    RecordEvent(Back ? "reconnected" : "connected");
    UpdateConnectionLight();
}

void TFKAVRO::VaComm1Close(TVaObject*) {
    Connected = 0;
    StatusBar1->SetPanelText(0, "Close Com");
    // After a hang-up the row "lost" has said it already.
    if (!FPorts->Lost()) RecordEvent("disconnected");
    UpdateConnectionLight();
}

void TFKAVRO::VaComm1Error(TVaObject*, int Errors) {
    // The device has gone (an adapter pulled): nothing more can pass through
    // it, so the port is closed and the next Connect opens the device anew by
    // its name. Closed first, so the error text stays in the panel.
    if (static_cast<unsigned>(Errors) & CE_IOE) {
        RecordEvent("lost");
        FPorts->MarkLost();
        VaComm1->Close();
        FPorts->PortLost();
    }
    // Each set flag replaces the text of the one before, in this order.
    for (const TCommErrorText& E : CommErrorTexts)
        if (static_cast<unsigned>(Errors) & E.Flag) StatusBar1->SetPanelText(0, E.Text);
}
