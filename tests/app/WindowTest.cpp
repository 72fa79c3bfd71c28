// SPDX-License-Identifier: GPL-3.0-or-later
#include "Application.h"
#include "Dialogs.h"
#include "SysUtils.h"
#include "UVORTA_Display.h"
#include "iSevenSegmentAnalog.h"
#include "uHelp.h"

#include "ScopedEnv.h"
#include "TestFiles.h"
#include "WindowProbe.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMenuBar>
#include <QPointer>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTextDocumentFragment>

#include <cstring>
#include <fstream>
#include <memory>
#include <sys/stat.h>

namespace {

std::vector<TfHelp*> HelpWindows(QWidget* Owner) {
    std::vector<TfHelp*> Found;
    for (QObject* Child : Owner->children())
        if (auto* H = dynamic_cast<TfHelp*>(Child)) Found.push_back(H);
    return Found;
}

// Each test gets its own program folder and a quiet message seam.
class WindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(Dir.isValid());
        Folder = Dir.path().toStdString();
        SetAppFolder(Folder);
        SetClock([] { return QDateTime(QDate(2024, 1, 31), QTime(9, 5, 7)); });
        OldSeam = SetDialogSeam({[this](const std::string& T) { Messages.push_back(T); },
                                 [](const std::string&) { return false; }});
    }
    void TearDown() override {
        Window.reset();
        SetDialogSeam(OldSeam);
        SetClock([] { return QDateTime::currentDateTime(); });
        SetAppFolder("");
    }
    TFKAVRO& Create(const TFKAVROOptions& Options = {}) {
        Window = std::make_unique<TFKAVRO>(Options);
        return *Window;
    }
    std::string File(const char* Name) const { return Folder + "/" + Name; }
    std::string Panel(int i) const {
        return Control<TStatusBar>(*Window, "StatusBar1")->PanelText(i).toStdString();
    }

    QTemporaryDir Dir;
    std::string Folder;
    std::unique_ptr<TFKAVRO> Window;
    TDialogSeam OldSeam;
    std::vector<std::string> Messages;
};

} // namespace

TEST_F(WindowTest, StoredDesignOfTheWindow) {
    TFKAVRO& W = Create();
    EXPECT_EQ(W.windowTitle(), "VORTA-IN-S Display Software  Ver4.1");
    // The client area keeps the design's size and places under the menu bar;
    // the window is taller by the bar.
    EXPECT_EQ(Control<QWidget>(W, "ClientArea")->size(), QSize(618, 721));
    const int Bar = Control<QMenuBar>(W, "MainMenu")->sizeHint().height();
    EXPECT_GT(Bar, 0);
    EXPECT_EQ(W.size(), QSize(618, 721 + Bar));
    EXPECT_EQ(Control<QWidget>(W, "ClientArea")->pos(), QPoint(0, Bar));
    EXPECT_EQ(
        Control<QPushButton>(W, "Button3")->mapTo(Control<QWidget>(W, "ClientArea"), QPoint(0, 0)),
        QPoint(16 + 123, 4 + 7));
    EXPECT_EQ(Control<QPushButton>(W, "btClose")->mapTo(&W, QPoint(0, 0)), QPoint(534, 16 + Bar));
    struct {
        QWidget* Control;
        QRect Geometry;
        const char* Text;
    } Table[] = {
        {Control<QComboBox>(W, "ePortNo"), {58, 12, 55, 21}, nullptr},
        {Control<QPushButton>(W, "Button3"), {123, 7, 102, 30}, "Connect"},
        {Control<QPushButton>(W, "btHelp"), {448, 16, 75, 25}, "Help"},
        {Control<QPushButton>(W, "btClose"), {534, 16, 75, 25}, "Close"},
        {Control<QGroupBox>(W, "GroupBox1"), {16, 48, 593, 195}, nullptr},
        {Control<QPushButton>(W, "btn10"), {15, 31, 63, 25}, "Infomation"},
        {Control<QLineEdit>(W, "eID"), {189, 35, 31, 19}, nullptr},
        {Control<QPushButton>(W, "btIDchange"), {230, 31, 59, 25}, "ID Change"},
        {Control<QPushButton>(W, "btB105"), {8, 45, 67, 26}, "Angle Data"},
        {Control<QLineEdit>(W, "eInterval"), {186, 47, 57, 19}, nullptr},
        {Control<QLineEdit>(W, "eCount"), {218, 17, 47, 19}, nullptr},
        {Control<QLineEdit>(W, "ed360Send2"), {311, 135, 202, 19}, nullptr},
        {Control<TLabeledEdit>(W, "lbeVersion"), {24, 292, 65, 19}, nullptr},
        {Control<TLabeledEdit>(W, "lbePRange"), {96, 333, 65, 19}, nullptr},
        {Control<QPushButton>(W, "btClear"), {112, 400, 73, 25}, "Clear"},
        {Control<TMemoView>(W, "Memo1"), {16, 424, 169, 249}, nullptr},
    };
    for (auto& Row : Table) {
        EXPECT_EQ(Row.Control->geometry(), Row.Geometry) << Row.Control->metaObject()->className();
        if (auto* B = qobject_cast<QPushButton*>(Row.Control); B && Row.Text) {
            EXPECT_EQ(B->text().toStdString(), Row.Text);
        }
    }
    EXPECT_EQ(Control<TLabeledEdit>(W, "leRangeN")->EditLabel->text(), "-  Range(*10) ");
    EXPECT_EQ(Control<QPushButton>(W, "btStop")->property("Hint").toString(),
              QString::fromUtf8("데이터 읽기 엄춤"));
    EXPECT_FALSE(Control<QPushButton>(W, "Button22")->isVisibleTo(&W));
    EXPECT_FALSE(Control<TLabeledEdit>(W, "lbeMode")->isVisibleTo(&W));
    EXPECT_EQ(Control<QLineEdit>(W, "ed360Send1")->text(), "#INFO");
    EXPECT_EQ(Control<TStatusBar>(W, "StatusBar1")->geometry(), QRect(0, 702, 618, 19));
}

// A caption is measured when it is first shown, so hidden fields never pay
// for it; shown at once or later, it sits 3 pixels above its edit.
TEST_F(WindowTest, CaptionsSitAboveTheirEditsWhenShown) {
    TFKAVRO& W = Create();
    W.show();
    auto Above = [](TLabeledEdit* E) {
        const QLabel* L = E->EditLabel;
        EXPECT_EQ(L->size(), L->sizeHint()) << L->text().toStdString();
        EXPECT_EQ(L->pos(), QPoint(E->x(), E->y() - L->height() - 3)) << L->text().toStdString();
    };
    Above(Control<TLabeledEdit>(W, "lbeVersion"));
    Above(Control<TLabeledEdit>(W, "leRangeP"));
    auto* Mode = Control<TLabeledEdit>(W, "lbeMode");
    Mode->show();
    Mode->EditLabel->show();
    Above(Mode);
}

TEST_F(WindowTest, FirstStartWritesDefaultsAndShowsThem) {
    TFKAVRO& W = Create();
    EXPECT_EQ(ReadAll(File("UserSet.dat")), DefaultSettingsRecord());
    EXPECT_EQ(Control<QComboBox>(W, "ePortNo")->currentText(), "COM1");
    EXPECT_EQ(Control<QLineEdit>(W, "eCount")->text(), "1");
    EXPECT_EQ(Control<QLineEdit>(W, "eInterval")->text(), "200");
    EXPECT_EQ(Control<QLineEdit>(W, "eID")->text(), "1");
}

TEST_F(WindowTest, ClosingSavesTheFourFieldsCutToCapacity) {
    TFKAVRO& W = Create();
    Control<QComboBox>(W, "ePortNo")->setEditText("COM12");
    W.close();
    EXPECT_EQ(ReadAll(File("UserSet.dat")).substr(0, 7), std::string("\x05"
                                                                     "COM12",
                                                                     6) +
                                                             '\0');

    TFKAVRO& W2 = Create();
    EXPECT_EQ(Control<QComboBox>(W2, "ePortNo")->currentText(), "COM12");
    Control<QComboBox>(W2, "ePortNo")->setEditText("COM3");
    Control<QLineEdit>(W2, "eInterval")->setText("123456789012");
    Control<QLineEdit>(W2, "eCount")->setText("7");
    Control<QLineEdit>(W2, "eID")->setText("77");
    Control<QPushButton>(W2, "btClose")->click(); // disconnected: saves, then the close saves again
    const std::string Saved = ReadAll(File("UserSet.dat"));
    ASSERT_EQ(Saved.size(), 61u);
    EXPECT_EQ(Saved.substr(0, 7), std::string("\x04"
                                              "COM32",
                                              6) +
                                      '\0'); // four count
    EXPECT_EQ(Saved.substr(13, 11), "\x0a"
                                    "1234567890");

    TFKAVRO& W3 = Create();
    EXPECT_EQ(Control<QComboBox>(W3, "ePortNo")->currentText(), "COM3");
    EXPECT_EQ(Control<QLineEdit>(W3, "eInterval")->text(), "1234567890");
    EXPECT_EQ(Control<QLineEdit>(W3, "eCount")->text(), "7");
    EXPECT_EQ(Control<QLineEdit>(W3, "eID")->text(), "77");
}

TEST_F(WindowTest, ShortSettingsFileIsReportedAndTheNextCloseRepairsIt) {
    WriteAll(File("UserSet.dat"), std::string(20, '\x01'));
    TFKAVRO& W = Create();
    EXPECT_NE(Panel(0).find(" - 2024-01-31 09:05:07"), std::string::npos);
    EXPECT_EQ(Control<QLineEdit>(W, "eInterval")->text(),
              "500"); // start-up stopped: design texts stay
    EXPECT_EQ(Control<QComboBox>(W, "ePortNo")->currentText(), "COM1");
    W.close();
    const std::string Saved = ReadAll(File("UserSet.dat"));
    ASSERT_EQ(Saved.size(), 61u);
    EXPECT_EQ(Saved.substr(13, 4), "\x03"
                                   "500");
}

TEST_F(WindowTest, AGarbledIniIsReportedAsRewrittenNotAsUnwritable) {
    WriteAll(File("vorta-display.ini"), "garbage\n[Commands]\nHistory=#SAVE\n\xff\xfe\n");
    TFKAVRO& W = Create(); // the first start writes its settings
    const std::string Line = "Rewrote \"" + File("vorta-display.ini") +
                             "\": unreadable entries dropped: 2 - 2024-01-31 09:05:07";
    EXPECT_EQ(Panel(0), Line);
    EXPECT_EQ(ReadAll(File("LogFile.Log")), Line + "\r\n");
    EXPECT_EQ(W.CommandHistory(), QStringList{"#SAVE"}); // what it could read is kept
}

TEST_F(WindowTest, CorruptLengthBytesAreReadAsCapacity) {
    std::string R(61, 'Z');
    R[0] = char(200);
    R[7] = char(6);
    R[13] = char(11);
    R[24] = char(4);
    WriteAll(File("UserSet.dat"), R);
    TFKAVRO& W = Create();
    EXPECT_EQ(Control<QComboBox>(W, "ePortNo")->currentText(), "ZZZZZZ");
    EXPECT_EQ(Control<QLineEdit>(W, "eCount")->text(), "ZZZZZ");
    EXPECT_EQ(Control<QLineEdit>(W, "eInterval")->text(), "ZZZZZZZZZZ");
    EXPECT_EQ(Control<QLineEdit>(W, "eID")->text(), "ZZZ");
}

TEST_F(WindowTest, EscapedExceptionsAreStampedShownAndLoggedNewestLast) {
    TFKAVRO& W = Create();
    QObject::connect(Control<QPushButton>(W, "btn25"), &QPushButton::clicked, &W, [&] {
        RunHandler(Control<QPushButton>(W, "btn25"),
                   [] { throw EConvertError("'x' is not a valid integer value"); });
    });
    Control<QPushButton>(W, "btn25")->click();
    EXPECT_EQ(Panel(0), "'x' is not a valid integer value - 2024-01-31 09:05:07");
    SetClock([] { return QDateTime(QDate(2024, 2, 1), QTime(23, 59, 59)); });
    RunHandler(&W, [] { throw Exception("second"); });
    EXPECT_EQ(ReadAll(File("LogFile.Log")),
              "'x' is not a valid integer value - 2024-01-31 09:05:07\r\n"
              "second - 2024-02-01 23:59:59\r\n");
    EXPECT_EQ(ErrorLine, "second - 2024-02-01 23:59:59");
}

TEST_F(WindowTest, AnUnwritableLogStillShowsTheLine) {
    TFKAVRO& W = Create();
    QDir(QString::fromStdString(Folder)).mkdir("LogFile.Log"); // a folder where the file should be
    RunHandler(&W, [] { throw Exception("disk trouble"); });
    EXPECT_EQ(Panel(0), "disk trouble - 2024-01-31 09:05:07");
}

TEST_F(WindowTest, EveryAnswerLineIsAppendedAndBecomesTheLastAnswer) {
    TFKAVRO& W = Create();
    W.ShowAnswer("V:4100,I:B1");
    W.ShowAnswer("");
    W.ShowAnswer("12.5");
    EXPECT_EQ(Control<TMemoView>(W, "Memo1")->Text(), "V:4100,I:B1\n\n12.5");
    EXPECT_EQ(LastAnswer, "12.5");
    W.ShowAnswer("");
    EXPECT_EQ(LastAnswer, "");
    EXPECT_EQ(Control<TMemoView>(W, "Memo1")->LineCount(), 4);
}

// A right-to-left override would show "1.05" as another number: the bidi
// controls are shown escaped, every other character as it came.
TEST_F(WindowTest, MemoShowsBidiControlsEscaped) {
    TFKAVRO& W = Create();
    W.ShowAnswer("\xE2\x80\xAE"
                 "1.05 \xE2\x81\xA6x\xE2\x81\xA9 \xC3\xA9");
    EXPECT_EQ(Control<TMemoView>(W, "Memo1")->Text().toStdString(),
              "\\xE2\\x80\\xAE1.05 \\xE2\\x81\\xA6x\\xE2\\x81\\xA9 \xC3\xA9");
}

TEST_F(WindowTest, MemoShowsABurstInOneFrameKeepsItsBoundsAndCopiesTheSelection) {
    TFKAVRO& W = Create();
    W.show();
    TMemoView* M = Control<TMemoView>(W, "Memo1");
    const auto Rows = [M] {
        std::vector<std::string> Out;
        for (int r = 0; r < M->RowCount(); ++r)
            Out.push_back(M->RowText(r).toStdString());
        return Out;
    };
    // The frame timer needs the event loop; nothing else shows the lines.
    const auto NextFrame = [M] {
        QElapsedTimer Clock;
        Clock.start();
        while (M->Pending() && Clock.elapsed() < 10000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, TMemoView::FrameMs);
    };

    // One handler's lines: kept at once, shown together with the next frame.
    std::vector<std::string> Sent = {"", "", std::string(60, 'W')};
    for (int i = 0; i < 200; ++i)
        Sent.push_back(std::to_string(i));
    for (const auto& L : Sent)
        W.ShowAnswer(L);
    EXPECT_EQ(M->Lines(), Sent);
    EXPECT_EQ(M->RowCount(), 0);
    NextFrame();
    EXPECT_EQ(Rows(), Sent);
    EXPECT_GT(M->verticalScrollBar()->maximum(), 0);
    EXPECT_EQ(M->verticalScrollBar()->value(), M->verticalScrollBar()->maximum());
    EXPECT_GT(M->horizontalScrollBar()->maximum(), 0); // the long line can be reached

    // The selected lines in their order, whatever the direction of selecting.
    M->SelectRows(4, 2);
    QKeyEvent Up(QEvent::KeyPress, Qt::Key_Up, Qt::ShiftModifier);
    QApplication::sendEvent(M, &Up);
    QKeyEvent Copy(QEvent::KeyPress, Qt::Key_C, Qt::ControlModifier);
    QApplication::sendEvent(M, &Copy);
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(),
              "\n" + std::string(60, 'W') + "\n0\n1");

    // Over 100 000 lines the oldest go; the rows shown stay until the frame.
    std::vector<std::string> More;
    for (int i = 200; i < 100100; ++i)
        More.push_back(std::to_string(i));
    for (const auto& L : More)
        W.ShowAnswer(L);
    EXPECT_EQ(M->LineCount(), 100000);
    EXPECT_EQ(M->Lines().front(), "100");
    EXPECT_EQ(M->Lines().back(), "100099");
    EXPECT_EQ(M->RowCount(), 203);
    NextFrame();
    EXPECT_EQ(M->RowCount(), 100000);
    EXPECT_EQ(Rows().front(), "100");
    EXPECT_EQ(Rows().back(), "100099");

    // A burst that drops every row shown and lines not shown yet.
    M->SetMaxChars(10);
    for (const char* L : {"abcd", "efgh", "ijkl"})
        W.ShowAnswer(L);
    EXPECT_EQ(M->Lines(), (std::vector<std::string>{"efgh", "ijkl"}));
    NextFrame();
    EXPECT_EQ(Rows(), (std::vector<std::string>{"efgh", "ijkl"}));
}

TEST_F(WindowTest, HelpOpensAnotherModelessWindowAtEveryClick) {
    WriteAll(File("help.txt"), "line one\r\nline two\r\n");
    TFKAVRO& W = Create();
    Control<QPushButton>(W, "btHelp")->click();
    Control<QPushButton>(W, "btHelp")->click();
    auto Helps = HelpWindows(&W);
    ASSERT_EQ(Helps.size(), 2u);
    EXPECT_EQ(Helps[0]->windowTitle(), "Help");
    EXPECT_EQ(Helps[0]->size(), QSize(710, 521));
    EXPECT_EQ(Helps[1]->mHelp->toPlainText(), "line one\nline two\n");
    EXPECT_TRUE(Helps[1]->isVisible());
}

TEST_F(WindowTest, MissingHelpTextIsReportedAndTheWindowOpensEmpty) {
    TFKAVRO& W = Create();
    Control<QPushButton>(W, "btHelp")->click();
    auto Helps = HelpWindows(&W);
    ASSERT_EQ(Helps.size(), 1u);
    EXPECT_TRUE(Helps[0]->mHelp->toPlainText().isEmpty());
    EXPECT_NE(Panel(0).find("help.txt"), std::string::npos);
}

// The plot window comes from its module when first asked for and shows what
// was read before; a module missing or broken is reported in the panel.
TEST_F(WindowTest, PlotWindowComesFromItsModuleWithTheReadingsKeptBefore) {
    TFKAVRO& W = Create();
    TPlotFeed& Feed = Internals::FPlotFeed(W);
    TReading R;
    for (const double V : {1.5, -2.0})
        R.Value = V, Feed.Add(R, V > 0 ? 0.25 : 0.5);
    QAction* Plot = Control<QAction>(W, "actPlot");
    Plot->trigger();
    EXPECT_EQ(
        Panel(0).find("Cannot load the plot window: no vorta-plotwindow.so in " + Folder + ", "),
        0u)
        << Panel(0);
    const QString Module = QString::fromStdString(File("vorta-plotwindow.so"));
    WriteAll(Module.toStdString(), "not a module");
    Plot->trigger();
    EXPECT_EQ(Panel(0).find("Cannot load the plot window: " + Module.toStdString() + ": "), 0u)
        << Panel(0);

    ASSERT_TRUE(QFile::remove(Module) && QFile::link(VORTA_PLOT_MODULE, Module));
    R.Value = 3.0, Feed.Add(R, 0.75);
    Plot->trigger();
    QWidget* Shown = nullptr;
    for (QWidget* C : W.findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (C->isWindow() && C->windowTitle() == "Plot") Shown = C;
    ASSERT_NE(Shown, nullptr);
    EXPECT_TRUE(Shown->isVisible());
    QStringList Statistics;
    for (const QLabel* L : Shown->findChildren<QLabel*>())
        if (L->text().startsWith("Count")) Statistics << L->text();
    ASSERT_EQ(Statistics.size(), 1);
    EXPECT_TRUE(Statistics[0].startsWith("Count 3   Min -2.0   Max 3.0"))
        << Statistics[0].toStdString();
}

TEST_F(WindowTest, AReadOnlyProgramFolderKeepsSettingsAndLogInTheUserFolders) {
    WriteAll(File("file"), "");
    SetAppFolder(File("file") + "/bin"); // cannot be written, not even by root
    TScopedEnv Config("XDG_CONFIG_HOME", File("cfg").c_str());
    TScopedEnv State("XDG_STATE_HOME", File("state").c_str());
    TFKAVRO& W = Create();
    EXPECT_EQ(ReadAll(File("cfg/vorta-display/UserSet.dat")), DefaultSettingsRecord());
    RunHandler(&W, [] { throw Exception("logged"); });
    EXPECT_EQ(ReadAll(File("state/vorta-display/LogFile.Log")), "logged - 2024-01-31 09:05:07\r\n");
    W.show();
    Control<QLineEdit>(W, "eID")->setText("9");
    Control<QPushButton>(W, "btClose")->click();
    EXPECT_FALSE(W.isVisible());
    EXPECT_EQ(ReadAll(File("cfg/vorta-display/UserSet.dat")).substr(24, 2), "\x01"
                                                                            "9");
}

TEST_F(WindowTest, CloseClosesEvenWhenTheSaveFails) {
    TFKAVRO& W = Create();
    W.show();
    ASSERT_TRUE(QFile::remove(QString::fromStdString(File("UserSet.dat"))));
    ASSERT_TRUE(
        QDir(QString::fromStdString(Folder)).mkdir("UserSet.dat")); // no file can replace it
    Control<QPushButton>(W, "btClose")->click();
    EXPECT_FALSE(W.isVisible());
    EXPECT_NE(Panel(0).find("UserSet.dat"), std::string::npos);
    EXPECT_NE(ReadAll(File("LogFile.Log")).find("UserSet.dat"), std::string::npos);
}

TEST_F(WindowTest, PortFromTheCommandLineHoldsWhenLoadingFails) {
    WriteAll(File("UserSet.dat"), std::string(20, '\x01'));
    TFKAVROOptions Options;
    Options.PortOverride = "/tmp/vorta0";
    TFKAVRO& W = Create(Options);
    EXPECT_NE(Panel(0).find("UserSet.dat"), std::string::npos);
    EXPECT_EQ(Control<QComboBox>(W, "ePortNo")->currentText(), "/tmp/vorta0");
}

TEST_F(WindowTest, SavedTextsComeBackByteForByteAndPortNamesWhole) {
    std::string R = DefaultSettingsRecord();
    R.replace(0, 4, "\x03\xff\x80z");
    R.replace(24, 3, "\x02\xc3(");
    WriteAll(File("UserSet.dat"), R);
    Create().close();
    EXPECT_EQ(ReadAll(File("UserSet.dat")), R); // bytes that are not UTF-8 included

    TFKAVRO& W = Create();
    Control<QComboBox>(W, "ePortNo")->setEditText("/dev/ttyACM0");
    W.close();
    EXPECT_EQ(ReadAll(File("UserSet.dat")).substr(0, 7),
              "\x06/dev/t"); // the record keeps its layout
    EXPECT_EQ(Control<QComboBox>(Create(), "ePortNo")->currentText(), "/dev/ttyACM0");

    // A record changed since by something else wins over the kept name.
    Window.reset();
    R = DefaultSettingsRecord();
    R.replace(0, 5,
              "\x04"
              "COM3");
    WriteAll(File("UserSet.dat"), R);
    EXPECT_EQ(Control<QComboBox>(Create(), "ePortNo")->currentText(), "COM3");
}

TEST_F(WindowTest, AStatusPanelShowsItsWholeTextAsTooltip) {
    TFKAVRO& W = Create();
    const QString Long = "Can't open specified device /dev/serial/by-id/usb-FTDI_FT232R-if00 "
                         "(Error 13, Permission denied) <b>";
    Control<TStatusBar>(W, "StatusBar1")->SetPanelText(0, Long);
    const auto Labels = Control<TStatusBar>(W, "StatusBar1")->findChildren<QLabel*>();
    ASSERT_EQ(Labels.size(), 2);
    EXPECT_EQ(QTextDocumentFragment::fromHtml(Labels[0]->toolTip()).toPlainText(), Long);
    EXPECT_LT(Labels[0]->width(),
              Labels[0]->fontMetrics().horizontalAdvance(Long)); // cut in the panel
}

TEST_F(WindowTest, ARecordingFileThatCannotBeWrittenIsSaidAtStartUp) {
    TFKAVROOptions Options;
    Options.RecordFile = File("missing") + "/rec.csv";
    TFKAVRO& W = Create(Options);
    const std::string Text = "Recording not started. Cannot open \"" + Options.RecordFile +
                             "\": " + std::strerror(ENOENT);
    ASSERT_EQ(Messages.size(), 1u);
    EXPECT_EQ(Messages[0].rfind(Text + "\n\nChoose a file", 0), 0u) << Messages[0];
    EXPECT_EQ(Panel(0), Text + " - 2024-01-31 09:05:07");
    EXPECT_EQ(ReadAll(File("LogFile.Log")), Text + " - 2024-01-31 09:05:07\r\n");
    EXPECT_FALSE(W.Recorder().Active());
    EXPECT_TRUE(Control<QLabel>(W, "RecordingLight")->isHidden());
}

TEST_F(WindowTest, AFrameThatIsNoNumberShowsZeroIsRecordedAndCountedButIsNoReading) {
    TFKAVRO& W = Create();
    W.StartRecording(File("rec.csv"));
    const auto Frame = [](const char* Value) { return "\x02" + std::string(Value) + "B1\x17$"; };
    Internals::FReceiver(W)->Receive(Frame("12.50") + Frame("abcd") + Frame("1.2.3"));
    EXPECT_EQ(Control<TiSevenSegmentAnalog>(W, "ssaValue")->Value(), 0.0);
    EXPECT_EQ(Internals::FExchange(W)->Readings(), 1);
    EXPECT_EQ(Internals::FPlotFeed(W).Current()->Model.Count(), 1u);
    W.StopRecording();
    std::vector<std::string> Rows; // kind:value:text
    const QStringList Lines = QString::fromStdString(ReadAll(File("rec.csv"))).split("\r\n");
    for (qsizetype i = 1; i + 1 < Lines.size(); ++i)
        Rows.push_back(Lines[i].section(',', 2, 4).replace(',', ':').toStdString());
    EXPECT_EQ(Rows, (std::vector<std::string>{"event::recording started", "reading:12.5:12.50",
                                              "answer::abcd", "answer::1.2.3",
                                              "event::recording stopped"}));

    // Wherever the bar is hovered, after what a panel says of itself.
    auto* Bar = Control<TStatusBar>(W, "StatusBar1");
    Bar->SetPanelText(0, "Open Com");
    const auto Plain = [](QWidget* W) {
        return QTextDocumentFragment::fromHtml(W->toolTip()).toPlainText().toStdString();
    };
    EXPECT_EQ(Plain(Bar->findChildren<QLabel*>().at(0)), "Open Com\nmalformed frames: 2");
    EXPECT_EQ(Plain(Bar), "malformed frames: 2");
}

TEST_F(WindowTest, HelpIsFixedPitchEscClosesItAndAFifoIsRefused) {
    WriteAll(File("help.txt"), "col1  col2\n");
    TFKAVRO& W = Create();
    Control<QPushButton>(W, "btHelp")->click();
    QPointer<TfHelp> Help = HelpWindows(&W).at(0);
    // What the reader sees: a narrow, a wide letter and a digit take the
    // same room, whatever fonts the machine has.
    const QFontMetrics M(Help->mHelp->font());
    EXPECT_EQ(M.horizontalAdvance("i"), M.horizontalAdvance("W"));
    EXPECT_EQ(M.horizontalAdvance("0"), M.horizontalAdvance("W"));
    QKeyEvent Esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(Help->mHelp, &Esc);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(Help.isNull() || !Help->isVisible());

    ASSERT_TRUE(QFile::remove(QString::fromStdString(File("help.txt"))));
    ASSERT_EQ(::mkfifo(File("help.txt").c_str(), 0600), 0); // opened plainly, it would block
    Control<QPushButton>(W, "btHelp")->click();
    auto Helps = HelpWindows(&W);
    ASSERT_FALSE(Helps.empty());
    EXPECT_TRUE(Helps.back()->mHelp->toPlainText().isEmpty());
    EXPECT_NE(Panel(0).find("help.txt"), std::string::npos);
}
