// SPDX-License-Identifier: GPL-3.0-or-later
#include "UVORTA_Display.h"

#include "Application.h"
#include "Dialogs.h"
#include "FileAccess.h"
#include "GR32_Image.h"
#include "PlotModule.h"
#include "ProgramSettings.h"
#include "PumpWait.h"
#include "SysUtils.h"
#include "TrafficWindow.h"
#include "VaClasses.h"
#include "WindowFont.h"
#include "iSevenSegmentAnalog.h"
#include "uHelp.h"

#include <QAction>
#include <QCloseEvent>
#include <QFileInfo>
#include <QFrame>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenuBar>
#include <QMouseEvent>
#include <QScopeGuard>
#include <QScreen>
#include <QTimer>

#include <dlfcn.h>

std::string LastAnswer;
bool StopFlag = false;
std::string ErrorLine;
TUserSettings UserSettings;

namespace {

std::function<QDateTime()> GNow = [] { return QDateTime::currentDateTime(); };

QPushButton* MakeButton(QWidget* Parent, int L, int T, int W, int H, const char* Caption) {
    auto* B = new QPushButton(QString::fromUtf8(Caption), Parent);
    B->setGeometry(L, T, W, H);
    return B;
}

QLabel* MakeLabel(QWidget* Parent, int L, int T, const char* Caption) {
    auto* Lb = new QLabel(QString::fromUtf8(Caption), Parent);
    Lb->move(L, T);
    Lb->adjustSize();
    return Lb;
}

QLineEdit* MakeEdit(QWidget* Parent, int L, int T, int W, int H, const char* Text,
                    bool Bold = false) {
    auto* E = new QLineEdit(QString::fromUtf8(Text), Parent);
    E->setGeometry(L, T, W, H);
    if (Bold) E->setFont(WindowFont(11, true));
    return E;
}

// Hints are kept with the controls as in the stored design; the window does
// not show them.
void SetHint(QWidget* W, const char* Hint) {
    W->setProperty("Hint", QString::fromUtf8(Hint));
}

} // namespace

void SetClock(std::function<QDateTime()> Now) {
    GNow = std::move(Now);
}

TLabeledEdit::TLabeledEdit(QWidget* Parent, int Left, int Top, int Width, int Height,
                           const QString& Caption)
    : QLineEdit(Parent) {
    setGeometry(Left, Top, Width, Height);
    EditLabel = new QLabel(Caption, Parent);
    // Measuring a caption costs more than making the field (one in a script
    // the window's font lacks goes through the whole fallback search), and
    // the window has fields that are never shown. So the label takes its
    // size and place above the edit when it is first shown.
    EditLabel->installEventFilter(this);
}

bool TLabeledEdit::eventFilter(QObject* Watched, QEvent* Event) {
    if (Watched == EditLabel && Event->type() == QEvent::Show && !FLabelPlaced) {
        FLabelPlaced = true;
        EditLabel->adjustSize();
        EditLabel->move(x(), y() - EditLabel->height() - 3);
    }
    return QLineEdit::eventFilter(Watched, Event);
}

TStatusBar::TStatusBar(QWidget* Parent, int Width0, int Width1) : QWidget(Parent) {
    const int Widths[2] = {Width0, Width1};
    int X = 0;
    for (int i = 0; i < 2; ++i) {
        FPanels[i] = new QLabel(this);
        FPanels[i]->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        FPanels[i]->setGeometry(X, 2, Widths[i] - 2, 17);
        FPanels[i]->setIndent(2);
        X += Widths[i];
    }
}

QString TStatusBar::PanelText(int Index) const {
    return FTexts[Index];
}
void TStatusBar::SetPanelText(int Index, const QString& Text) {
    // The panel keeps the text exactly (a command with its CR LF) but shows
    // it on one line, as plain text: a sensor's answer may hold anything.
    FTexts[Index] = Text;
    QString Shown = Text;
    Shown.remove('\r').replace('\n', ' ');
    FPanels[Index]->setTextFormat(Qt::PlainText);
    FPanels[Index]->setText(Shown.trimmed());
    UpdateToolTip(Index);
}

void TStatusBar::SetNote(const QString& Note) {
    FNote = Note;
    setToolTip(Note.isEmpty() ? QString() : "<p>" + Note.toHtmlEscaped() + "</p>");
    UpdateToolTip(0);
    UpdateToolTip(1);
}

void TStatusBar::UpdateToolTip(int Index) {
    // A tooltip that looks like markup would be rendered as such; this one
    // is always plain text, escaped into paragraphs.
    QString Shown = FTexts[Index];
    Shown = Shown.remove('\r').replace('\n', ' ').trimmed();
    QString Tip;
    if (!Shown.isEmpty()) Tip = "<p style='white-space:pre-wrap'>" + Shown.toHtmlEscaped() + "</p>";
    if (!FNote.isEmpty()) Tip += "<p>" + FNote.toHtmlEscaped() + "</p>";
    FPanels[Index]->setToolTip(Tip);
}

TFKAVRO::TFKAVRO(const TFKAVROOptions& Options) : QWidget(nullptr), FOptions(Options) {
    ResetWaits();
    Connected = 0;
    StopFlag = false;
    LastAnswer.clear();
    ErrorLine.clear();
    FSession = std::make_unique<TSensorSession>(&LastAnswer, &StopFlag);
    // The first dial is decoded while the controls are built.
    FDialPreload = TGaugePart::Preload(FirstDial);
    CreateControls();
    FGauge = std::make_unique<TGaugePart>(*this, ClientArea, Panel1, Memo1, *FSession);
    ConnectConsoleSignals();
    CreateMenu();
    NameControls();
    FitScreen();
    if (QScreen* S = QGuiApplication::primaryScreen())
        move(S->availableGeometry().center() - rect().center());
    // The exception handler comes first, so a failure in the rest of
    // start-up is already stamped and logged.
    if (TApplication* App = TApplication::Instance()) {
        App->OnException = [this](QObject* Sender, const std::exception& E) {
            HandleAppException(Sender, E);
        };
        // Failures inside the serial component's own event handlers too.
        SetApplicationExceptionHandler(
            [App](TVaObject*, const std::exception& E) { App->HandleException(nullptr, E); });
    }
    RunHandler(this, [this] { FormCreate(); });
    // The command line's port holds even when start-up stopped early.
    if (!FOptions.PortOverride.empty())
        ePortNo->setEditText(QString::fromStdString(FOptions.PortOverride));
    if (!FOptions.RecordFile.empty()) RunHandler(this, [this] { RecordFromCommandLine(); });
    if (!FOptions.MqttUrl.empty())
        RunHandler(this, [this] {
            TPublishOptions O;
            O.Url = FOptions.MqttUrl;
            LoadMqttCredentials(O, "");
            StartPublishing(O);
        });
}

void TFKAVRO::RecordFromCommandLine() {
    try {
        StartRecording(FOptions.RecordFile);
    } catch (const std::exception& E) {
        if (Recorder().Active()) throw; // recording, but something after it failed
        FRecording->Failure = std::string("Recording not started. ") + E.what();
        ReportError(FRecording->Failure);
        UpdateConnectionLight();
    }
    // The operator asked for a recording and expects one: a line in the log
    // and a panel that the next state replaces would go unseen. (A file that
    // opened but took no row has stopped the recording already.)
    if (!Recorder().Active())
        ShowMessage(FRecording->Failure + "\n\nChoose a file in a folder you may write to, with "
                                          "--record or File > Record readings.");
}

TFKAVRO::~TFKAVRO() {
    // The port closes first (without its close event, as a component being
    // destroyed does); the publisher lets go of the session before it goes.
    // The recording's file closes after the port's last row.
    FBroker.reset();
    // The traffic window observes the session.
    delete Traffic;
    FSession.reset();
    FRecording.reset();
    SetApplicationExceptionHandler(nullptr);
    if (TApplication* App = TApplication::Instance()) App->OnException = nullptr;
    // Before the feed it shows goes.
    delete Plot;
}

void TFKAVRO::OnClick(QPushButton* Button, void (TFKAVRO::*Handler)()) {
    QObject::connect(Button, &QPushButton::clicked, this, [this, Button, Handler] {
        RunHandler(Button, [this, Handler] { (this->*Handler)(); });
    });
}

// Each control's object name is its design name: style sheets, accessibility
// tools and tests address it by that name, not through the window's fields.
void TFKAVRO::NameControls() {
    const std::pair<QObject*, const char*> Named[] = {
        {ClientArea, "ClientArea"},
        {MainMenu, "MainMenu"},
        {ConnectionLight, "ConnectionLight"},
        {RecordingLight, "RecordingLight"},
        {BrokerLight, "BrokerLight"},
        {actPublish, "actPublish"},
        {actStopPublishing, "actStopPublishing"},
        {actProfiles, "actProfiles"},
        {actRecord, "actRecord"},
        {actStopRecording, "actStopRecording"},
        {actSaveLog, "actSaveLog"},
        {actQuit, "actQuit"},
        {actRefresh, "actRefresh"},
        {actDisconnect, "actDisconnect"},
        {actAutoReconnect, "actAutoReconnect"},
        {actScan, "actScan"},
        {actWatch, "actWatch"},
        {actStopWatching, "actStopWatching"},
        {actPlot, "actPlot"},
        {actTraffic, "actTraffic"},
        {actLimits, "actLimits"},
        {actHelp, "actHelp"},
        {actAbout, "actAbout"},
        {FGauge->Dst, "Dst"},
        {FGauge->Src, "Src"},
        {FGauge->ivBGR, "ivBGR"},
        {FGauge->ssaValue, "ssaValue"},
        {Panel1, "Panel1"},
        {Panel2, "Panel2"},
        {Label1, "Label1"},
        {ePortNo, "ePortNo"},
        {Button3, "Button3"},
        {Button21, "Button21"},
        {Button22, "Button22"},
        {Button23, "Button23"},
        {Button24, "Button24"},
        {btHelp, "btHelp"},
        {btClose, "btClose"},
        {GroupBox1, "GroupBox1"},
        {btn10, "btn10"},
        {Label2, "Label2"},
        {eID, "eID"},
        {btIDchange, "btIDchange"},
        {btDATA, "btDATA"},
        {btREAD, "btREAD"},
        {btStop, "btStop"},
        {btn25, "btn25"},
        {leRangeN, "leRangeN"},
        {Button25, "Button25"},
        {leRangeP, "leRangeP"},
        {Button26, "Button26"},
        {ed360Send1, "ed360Send1"},
        {ed360Send2, "ed360Send2"},
        {ed360Send3, "ed360Send3"},
        {bt360Send1, "bt360Send1"},
        {bt360Send2, "bt360Send2"},
        {bt360Send3, "bt360Send3"},
        {GroupBox2, "GroupBox2"},
        {Label5, "Label5"},
        {Edit1, "Edit1"},
        {Label3, "Label3"},
        {lCount, "lCount"},
        {Label6, "Label6"},
        {eCount, "eCount"},
        {btB105, "btB105"},
        {Label4, "Label4"},
        {eInterval, "eInterval"},
        {Label7, "Label7"},
        {lbeVersion, "lbeVersion"},
        {lbeID, "lbeID"},
        {lbeNRange, "lbeNRange"},
        {lbePRange, "lbePRange"},
        {lbeMode, "lbeMode"},
        {lbeOffset, "lbeOffset"},
        {Label8, "Label8"},
        {btClear, "btClear"},
        {Memo1, "Memo1"},
        {GroupBox4, "GroupBox4"},
        {lbeCalDone, "lbeCalDone"},
        {lbeMVGain, "lbeMVGain"},
        {lbeMVOffset, "lbeMVOffset"},
        {StatusBar1, "StatusBar1"},
    };
    for (const auto& [Object, Name] : Named)
        Object->setObjectName(QLatin1String(Name));
    for (int i = 0; i < 12; ++i)
        lbeCal[i]->setObjectName(QString("lbeCal%1").arg(i));
}

void TFKAVRO::CreateControls() {
    setWindowTitle("VORTA-IN-S Display Software  Ver4.1");
    setFont(WindowFont(11));
    // A line edit lays its first text out in the application's font before
    // it takes its parent's, which would load that font only to drop it (two
    // font look-ups, a millisecond of start-up). While the controls are made, the
    // application's font is the window's.
    const QFont AppFont = QGuiApplication::font();
    QGuiApplication::setFont(font());
    const auto RestoreFont = qScopeGuard([&] { QGuiApplication::setFont(AppFont); });
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowCloseButtonHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowTitleHint);
    // The stored design's client area, as one widget: the menu bar goes above
    // it (CreateMenu) and every control keeps its place within it.
    ClientArea = new QWidget(this);
    ClientArea->setFixedSize(618, 721);

    Panel1 = new QWidget(ClientArea);
    Panel1->setGeometry(0, 0, 617, 705);
    Panel1->installEventFilter(this);

    Panel2 = new QFrame(ClientArea);
    Panel2->setGeometry(16, 4, 233, 41);
    static_cast<QFrame*>(Panel2)->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Panel2->setAutoFillBackground(true);
    QPalette P2 = Panel2->palette();
    P2.setColor(QPalette::Window, QColor(0xC0, 0xC0, 0xC0));
    Panel2->setPalette(P2);
    Label1 = MakeLabel(Panel2, 10, 15, "PortNo");
    Label1->setFont(WindowFont(13));
    Label1->adjustSize();
    ePortNo = new QComboBox(Panel2);
    ePortNo->setEditable(true);
    ePortNo->setGeometry(58, 12, 55, 21);
    ePortNo->setEditText("COM1");
    Button3 = MakeButton(Panel2, 123, 7, 102, 30, "Connect");

    const int ModeLeft[4] = {39, 111, 183, 254};
    QPushButton** Modes[4] = {&Button21, &Button22, &Button23, &Button24};
    const char* ModeCaption[4] = {"#MODE0", "#MODE1", "#MODE2", "#MODE3"};
    for (int i = 0; i < 4; ++i) {
        *Modes[i] = MakeButton(Panel1, ModeLeft[i], 16, 65, 25, ModeCaption[i]);
        (*Modes[i])->setVisible(false);
    }
    btHelp = MakeButton(Panel1, 448, 16, 75, 25, "Help");
    btHelp->setFont(WindowFont(13));
    btClose = MakeButton(Panel1, 534, 16, 75, 25, "Close");

    GroupBox1 = new QGroupBox("Send Command", Panel1);
    GroupBox1->setGeometry(16, 48, 593, 195);
    btn10 = MakeButton(GroupBox1, 15, 31, 63, 25, "Infomation");
    Label2 = MakeLabel(GroupBox1, 155, 38, "ID No");
    eID = MakeEdit(GroupBox1, 189, 35, 31, 19, "1", true);
    btIDchange = MakeButton(GroupBox1, 230, 31, 59, 25, "ID Change");
    SetHint(btIDchange, "ID 변경");
    btDATA = MakeButton(GroupBox1, 15, 85, 63, 25, "#DATA");
    SetHint(btDATA, "ID와 관계없이 1회 측정");
    btREAD = MakeButton(GroupBox1, 87, 85, 63, 25, "#READ");
    SetHint(btREAD, "연속으로 데이터 읽기");
    btStop = MakeButton(GroupBox1, 158, 85, 63, 25, "#STOP");
    SetHint(btStop, "데이터 읽기 엄춤");
    btn25 = MakeButton(GroupBox1, 231, 85, 63, 25, "#SAVE");
    leRangeN = new TLabeledEdit(GroupBox1, 8, 149, 65, 21, "-  Range(*10) ");
    Button25 = MakeButton(GroupBox1, 79, 145, 50, 25, "Send");
    leRangeP = new TLabeledEdit(GroupBox1, 153, 149, 65, 21, "+ Range(*10) ");
    Button26 = MakeButton(GroupBox1, 223, 145, 50, 25, "Send");
    ed360Send1 = MakeEdit(GroupBox1, 311, 105, 202, 19, "#INFO");
    ed360Send2 = MakeEdit(GroupBox1, 311, 135, 202, 19, "");
    ed360Send3 = MakeEdit(GroupBox1, 311, 166, 202, 19, "");
    bt360Send1 = MakeButton(GroupBox1, 519, 101, 57, 25, "Send");
    bt360Send2 = MakeButton(GroupBox1, 519, 132, 57, 25, "Send");
    bt360Send3 = MakeButton(GroupBox1, 519, 162, 57, 25, "Send");

    GroupBox2 = new QGroupBox("Value Read for ID", GroupBox1);
    GroupBox2->setGeometry(304, 16, 281, 75);
    Label5 = MakeLabel(GroupBox2, 10, 19, "ID No");
    Edit1 = MakeEdit(GroupBox2, 45, 16, 31, 19, "0", true);
    Label3 = MakeLabel(GroupBox2, 86, 19, "Sender Counter");
    lCount = MakeLabel(GroupBox2, 172, 17, "1");
    lCount->setFont(WindowFont(13));
    lCount->setMinimumWidth(30);
    lCount->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    lCount->resize(30, 17);
    Label6 = MakeLabel(GroupBox2, 208, 19, "/");
    eCount = MakeEdit(GroupBox2, 218, 17, 47, 19, "1", true);
    SetHint(eCount, "1회 측정 명령어 보낼 횟수");
    btB105 = MakeButton(GroupBox2, 8, 45, 67, 26, "Angle Data");
    SetHint(btB105, "ID에 해당하는 센서 1회 측정");
    Label4 = MakeLabel(GroupBox2, 86, 50, "Interval ( >= 200 )");
    eInterval = MakeEdit(GroupBox2, 186, 47, 57, 19, "500", true);
    SetHint(eInterval, "명령어 보내는 간격");
    Label7 = MakeLabel(GroupBox2, 247, 50, "msec");

    lbeVersion = new TLabeledEdit(Panel1, 24, 292, 65, 19, "Version");
    lbeID = new TLabeledEdit(Panel1, 96, 292, 65, 19, "ID");
    lbeNRange = new TLabeledEdit(Panel1, 24, 333, 65, 19, "- Range(*10) ");
    lbePRange = new TLabeledEdit(Panel1, 96, 333, 65, 19, "+ Range(*10) ");
    lbeMode = new TLabeledEdit(Panel1, 24, 373, 65, 19, "Mode");
    lbeOffset = new TLabeledEdit(Panel1, 96, 373, 65, 19, "0 Offset");
    for (TLabeledEdit* E : {lbeMode, lbeOffset}) {
        E->setVisible(false);
        E->EditLabel->setVisible(false);
    }
    Label8 = MakeLabel(Panel1, 24, 404, "Recive Value");
    btClear = MakeButton(Panel1, 112, 400, 73, 25, "Clear");
    // A day of streaming must not exhaust memory: beyond its bounds on lines
    // and characters the oldest lines go.
    Memo1 = new TMemoView(Panel1);
    Memo1->setGeometry(16, 424, 169, 249);
    Memo1->setFont(WindowFont(16));

    // Hidden fields that Information fills and nothing reads.
    GroupBox4 = new QGroupBox(ClientArea);
    GroupBox4->setGeometry(640, 24, 300, 400);
    GroupBox4->setVisible(false);
    lbeCalDone = new TLabeledEdit(GroupBox4, 8, 24, 65, 19, "교정상태");
    lbeMVGain = new TLabeledEdit(GroupBox4, 80, 24, 65, 19, "mV Gain 값");
    lbeMVOffset = new TLabeledEdit(GroupBox4, 152, 24, 65, 19, "mV 옵셋");
    for (int i = 0; i < 12; ++i) {
        QString Caption =
            i < 10 ? QString("보상계수%1").arg(i) : QString("보상계수%1").arg(QChar('A' + i - 10));
        lbeCal[i] =
            new TLabeledEdit(GroupBox4, 8 + (i % 4) * 72, 70 + (i / 4) * 40, 65, 19, Caption);
    }

    StatusBar1 = new TStatusBar(ClientArea, 300, 360);
    StatusBar1->setGeometry(0, 721 - 19, 618, 19);
    Panel2->raise();

    OnClick(btClose, &TFKAVRO::btCloseClick);
    OnClick(btHelp, &TFKAVRO::btHelpClick);
}

bool TFKAVRO::eventFilter(QObject* Watched, QEvent* Event) {
    // A click on the free background of the main panel sends the first free
    // command, as its own Send button does. Clicks on labels, group boxes or
    // the dial, which take no mouse input, come up to the panel as well; only
    // one whose point has no child under it is the panel's own.
    if (Watched == Panel1 && Event->type() == QEvent::MouseButtonRelease) {
        const auto* Mouse = static_cast<QMouseEvent*>(Event);
        if (Mouse->button() == Qt::LeftButton && !Panel1->childAt(Mouse->position().toPoint())) {
            bt360Send1->click();
            return true;
        }
    }
    if (Event->type() == QEvent::KeyPress &&
        (Watched == ed360Send1 || Watched == ed360Send2 || Watched == ed360Send3)) {
        const int Key = static_cast<QKeyEvent*>(Event)->key();
        if ((Key == Qt::Key_Up || Key == Qt::Key_Down) &&
            RecallCommand(static_cast<QLineEdit*>(Watched), Key == Qt::Key_Up ? -1 : 1))
            return true;
    }
    return QWidget::eventFilter(Watched, Event);
}

void TFKAVRO::FormCreate() {
    LoadKept(TProgramSettings());
    LoadSettings();
    FSettingsLoaded = true;
    ePortNo->setEditText(FPortName);
    eCount->setText(RecordText(UserSettings.Get(TUserSettings::SendCount)));
    eInterval->setText(RecordText(UserSettings.Get(TUserSettings::SendInterval)));
    eID->setText(RecordText(UserSettings.Get(TUserSettings::SensorId)));
    ConsoleFormCreate();
    // The combo keeps the saved port as its text, listed or not.
    ePortNo->setEditText(FPortName);
    // Over the saved settings, which stay where the profile has no value.
    FProfiles->LoadLast(TProgramSettings().Value(TProfilesPart::LastKey).toString(),
                        [this](const std::string& Why) { ReportError(Why); });
}

void TFKAVRO::showEvent(QShowEvent* Event) {
    QWidget::showEvent(Event);
    if (FShown) return;
    FShown = true;
    RunHandler(this, [this] { FormShow(); });
}

void TFKAVRO::paintEvent(QPaintEvent* Event) {
    QWidget::paintEvent(Event);
    if (FPainted) return;
    FPainted = true;
    // After this frame has reached the screen.
    QTimer::singleShot(0, this, [this] {
        FillPortList();
        // Ready before it is asked for; a module that cannot be loaded is
        // reported when the plot is asked for.
        try {
            PlotView();
        } catch (const std::exception&) {
        }
    });
}

namespace {

// The plot module's entry. The module stays loaded for the rest of the run:
// its code is behind the window and its widgets.
TNewPlotWindow LoadPlotModule() {
    std::string Tried;
    for (const std::string& Folder : ModuleFolders()) {
        const std::string Path = Folder + "/" + PlotModuleFile;
        if (!QFileInfo::exists(QString::fromStdString(Path))) {
            Tried += (Tried.empty() ? "" : ", ") + Folder;
            continue;
        }
        void* Module = dlopen(Path.c_str(), RTLD_NOW | RTLD_LOCAL);
        void* Entry = Module ? dlsym(Module, NewPlotWindowEntry) : nullptr;
        if (!Entry) throw Exception(std::string("Cannot load the plot window: ") + dlerror());
        return reinterpret_cast<TNewPlotWindow>(Entry);
    }
    throw Exception(std::string("Cannot load the plot window: no ") + PlotModuleFile + " in " +
                    Tried);
}

} // namespace

// The plot keeps every reading from the first one on, shown or not
// (FPlotFeed). Its window is in a module that loads Qt Charts, and its chart
// costs about as much to build as the rest of the window, so it is built
// after the first frame, or earlier when something needs it first.
QWidget& TFKAVRO::PlotView() {
    if (Plot) return *Plot;
    TPlotSettings Settings;
    Settings.Read = [](const QString& Key) { return TProgramSettings().Value(Key); };
    Settings.Write = [this](const QString& Key, const QVariant& Value) {
        TProgramSettings Kept;
        Kept.SetValue(Key, Value);
        WriteKept(Kept);
    };
    Plot = LoadPlotModule()(this, FPlotFeed, Settings);
    return *Plot;
}

void TFKAVRO::FormShow() {
    FGauge->LoadDial(FirstDial, &FDialPreload);
    FDialPreload = {};
}

void TFKAVRO::closeEvent(QCloseEvent* Event) {
    RunHandler(this, [this] {
        StopStreamOnClose();
        FormClose();
    });
    FClosing = true;
    // A command waiting inside this close is abandoned when its wait returns.
    AbortWaits();
    Event->accept();
}

void TFKAVRO::CopyControlsToSettings() {
    FPortName = ePortNo->currentText();
    UserSettings.Set(TUserSettings::PortName, RecordBytes(FPortName));
    UserSettings.Set(TUserSettings::SendCount, RecordBytes(eCount->text()));
    UserSettings.Set(TUserSettings::SendInterval, RecordBytes(eInterval->text()));
    UserSettings.Set(TUserSettings::SensorId, RecordBytes(eID->text()));
}

void TFKAVRO::FormClose() {
    CopyControlsToSettings();
    SaveSettings();
    // After the save: a recording that fails to close must not cost the
    // settings (the window's destruction closes its file all the same).
    StopRecording();
    StopPublishing();
}

void TFKAVRO::btCloseClick() {
    // Whatever fails on the way (a save, closing the port) is reported, and
    // the window closes all the same: the operator asked to quit.
    RunHandler(btClose, [this] {
        if (Connected == 1) {
            StopStreamOnClose();
            StopFlag = true;
            PumpWait(50);
            CloseSerialPort();
            PumpWait(50);
        } else {
            CopyControlsToSettings();
            SaveSettings();
        }
    });
    if (!FClosing) close();
}

void TFKAVRO::StopStreamOnClose() {
    // The next program to open the port would start in the middle of a
    // stream, as vorta-cli's stream ends with "#STOP" too. Once: the stream
    // is over for a reconnection as well.
    if (Connected != 1 || !VaComm1->Active() || !FPorts->StreamRunning()) return;
    FPorts->NoteStream(false);
    Send(SensorCommands::Stop(), SensorCommands::Stop());
    // The write thread hands the command to the port before it is closed.
    PumpWait(50);
}

void TFKAVRO::btHelpClick() {
    new TfHelp(this);
}

void TFKAVRO::ShowAnswer(const std::string& Line) {
    LastAnswer = Line;
    Memo1->Append(Line);
}

void TFKAVRO::HandleAppException(QObject*, const std::exception& E) {
    ReportError(E.what());
}

void TFKAVRO::ReportError(const std::string& Text) {
    ErrorLine = Text + " - " + GNow().toString("yyyy-MM-dd hh:mm:ss").toStdString();
    StatusBar1->SetPanelText(0, QString::fromLocal8Bit(ErrorLine.c_str()));
    try {
        LogError();
    } catch (const std::exception&) {
        // The log cannot take the line (no rights, full disk): the panel
        // still shows it, and reporting this failure would only recurse.
    }
}

void TFKAVRO::LoadSettings() {
    const std::string Path = SettingsFile("UserSet.dat");
    // A record beside a read-only executable (shipped with it, or saved
    // before the folder became read-only) still gives the starting values
    // until the first save puts one in the settings folder.
    const std::string Beside = AppFile("UserSet.dat");
    const auto Exists = [](const std::string& P) {
        return QFileInfo::exists(QString::fromStdString(P));
    };
    if (Exists(Path) || (Path != Beside && Exists(Beside))) {
        UserSettings = ReadSettingsFile(Exists(Path) ? Path : Beside);
        FPortName = WholePortName(UserSettings, TProgramSettings().Value("Ports/Last").toString());
    } else {
        UserSettings = TUserSettings::Defaults();
        FPortName = RecordText(UserSettings.Get(TUserSettings::PortName));
        SaveSettings();
    }
}

void TFKAVRO::SaveSettings() {
    WriteSettingsFile(SettingsFile("UserSet.dat"), UserSettings);
    TProgramSettings Kept;
    Kept.SetValue("Ports/Last", FPortName);
    SaveKept(Kept);
    WriteKept(Kept);
    LoadSettings();
}

void TFKAVRO::LogError() {
    AppendToFile(LogFile(), ErrorLine + "\r\n");
}
