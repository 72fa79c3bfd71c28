// SPDX-License-Identifier: GPL-3.0-or-later
// Program entry: the console's one main window and the message loop.
#include "Application.h"
#include "CloseSignals.h"
#include "StartupWarmUp.h"
#include "UVORTA_Display.h"
#include "VortaVersion.h"

#include <QCommandLineParser>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

namespace {

// --help and --version open no window. Asked for on a machine without a
// display, they would otherwise never be answered: the application object
// fails first, for want of a screen.
void AnswerWithoutAScreen(int argc, char** argv) {
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) return;
    for (int i = 1; i < argc; ++i)
        for (const char* Name : {"--help", "-h", "-?", "--help-all", "--version", "-v"})
            if (std::strcmp(argv[i], Name) == 0) {
                qputenv("QT_QPA_PLATFORM", "offscreen");
                return;
            }
}

// A screenshot shows the window as it is designed, not scrolled in the
// offscreen platform's small default screen.
void ScreenForScreenshot(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], "--screenshot", 12) == 0) {
            UseOffscreenScreen();
            return;
        }
}

// A bad command line: one line on stderr, exit status 2.
[[noreturn]] void Refuse(QString Why) {
    if (Why.endsWith('.')) Why.chop(1); // the parser's own texts end in a full stop
    std::fprintf(stderr, "vorta-display: %s (see --help)\n", qPrintable(Why));
    std::exit(2);
}

} // namespace

int main(int argc, char** argv) {
    AnswerWithoutAScreen(argc, argv);
    ScreenForScreenshot(argc, argv);
    TFontConfigWarmUp Fonts;
    // Parsed once the application object exists: it takes its own options
    // (-platform, -display, ...) out of the arguments first.
    TApplication App(argc, argv);
    // Before the command line, whose refusals, --help and --version exit():
    // fontconfig's reading is done by then, not cut off.
    Fonts.Wait();
    QCoreApplication::setApplicationVersion(QStringLiteral(VORTA_VERSION));

    QCommandLineParser Parser;
    Parser.setApplicationDescription(QStringLiteral("Console for VORTA-IN-S inclination sensors."));
    const QCommandLineOption Help = Parser.addHelpOption();
    const QCommandLineOption Version = Parser.addVersionOption();
    const QCommandLineOption Port(
        QStringLiteral("port"),
        QStringLiteral("Port to connect to: a name below /dev without a leading \"tty\" "
                       "(USB0, S0, pts/3), COM<n>, a device path, or a network serial "
                       "server's port: rfc2217://HOST:PORT or tcp://HOST:PORT (raw)."),
        QStringLiteral("name"));
    const QCommandLineOption Connect(QStringLiteral("connect"),
                                     QStringLiteral("Press Connect once the window is shown."));
    const QCommandLineOption Read(QStringLiteral("read"),
                                  QStringLiteral("Then press #READ (with --connect)."));
    const QCommandLineOption Record(
        QStringLiteral("record"),
        QStringLiteral("Record readings, answers, commands and events into this CSV file "
                       "from start-up (appended to when it exists)."),
        QStringLiteral("file"));
    const QCommandLineOption Mqtt(
        QStringLiteral("mqtt"),
        QStringLiteral("Publish every reading to this MQTT broker (mqtt://host[:port] or "
                       "mqtts://host[:port]; user and password from VORTA_MQTT_USER and "
                       "VORTA_MQTT_PASSWORD)."),
        QStringLiteral("url"));
    const QCommandLineOption Screenshot(
        QStringLiteral("screenshot"),
        QStringLiteral("Save the window as a PNG file after --delay ms and exit."),
        QStringLiteral("file"));
    const QCommandLineOption Delay(
        QStringLiteral("delay"),
        QStringLiteral("Time in milliseconds before the screenshot (default 1500)."),
        QStringLiteral("ms"), QStringLiteral("1500"));
    Parser.addOptions({Port, Connect, Read, Record, Mqtt, Screenshot, Delay});

    if (!Parser.parse(QCoreApplication::arguments())) Refuse(Parser.errorText());
    if (!Parser.positionalArguments().isEmpty())
        Refuse(
            QStringLiteral("unexpected argument '%1'").arg(Parser.positionalArguments().first()));
    if (Parser.isSet(Version)) Parser.showVersion();
    if (Parser.isSet(Help)) Parser.showHelp(0);

    bool DelayOk = false;
    const QString DelayText = Parser.value(Delay);
    const int DelayMs = DelayText.toInt(&DelayOk);
    if (!DelayOk || DelayMs < 0)
        Refuse(QStringLiteral("--delay needs a whole number of milliseconds, 0 or more, not '%1'")
                   .arg(DelayText));

    TFKAVROOptions Options;
    if (Parser.isSet(Port)) Options.PortOverride = Parser.value(Port).toLocal8Bit().toStdString();
    if (Parser.isSet(Record)) {
        if (Parser.value(Record).isEmpty()) Refuse(QStringLiteral("--record needs a file name"));
        Options.RecordFile = Parser.value(Record).toLocal8Bit().toStdString();
    }
    if (Parser.isSet(Mqtt)) {
        if (Parser.value(Mqtt).isEmpty()) Refuse(QStringLiteral("--mqtt needs a broker URL"));
        Options.MqttUrl = Parser.value(Mqtt).toStdString();
    }
    const bool DoConnect = Parser.isSet(Connect), DoRead = Parser.isSet(Read);
    const QString ShotFile = Parser.value(Screenshot);
    if (Parser.isSet(Screenshot) && ShotFile.isEmpty())
        Refuse(QStringLiteral("--screenshot needs a file name"));

    // A stop by signal closes the window as its Close button does, then
    // leaves every event loop, a message box's included. Watched from before
    // the window is made: one that comes during start-up (in a message box
    // the window shows) closes it as soon as it is made.
    TFKAVRO* Window = nullptr;
    bool StopAsked = false;
    std::unique_ptr<TCloseSignals> CloseSignals;
    try {
        CloseSignals = std::make_unique<TCloseSignals>([&](int) {
            StopAsked = true;
            if (Window) Window->btCloseClick();
            App.exit(0);
        });
    } catch (const std::exception& E) {
        std::fprintf(stderr, "vorta-display: %s\n", E.what());
    }
    // Past every exit of the command line's: no worker may be loading Qt's
    // plugins while exit() takes Qt's globals down.
    Fonts.HandOver();
    const TImagePluginWarmUp Plugins;
    TFKAVRO FKAVRO(Options);
    Window = &FKAVRO;
    FKAVRO.show();
    if (StopAsked) {
        FKAVRO.btCloseClick();
        return 0;
    }
    if (DoConnect)
        QTimer::singleShot(100, &FKAVRO, [&] {
            // As the buttons' clicks run them: a failure goes to the window's
            // exception handler.
            RunHandler(&FKAVRO, [&] { FKAVRO.Button3Click(); });
            if (DoRead && FKAVRO.IsConnected() && !FKAVRO.Closing())
                RunHandler(&FKAVRO, [&] { FKAVRO.btREADClick(); });
        });
    if (!ShotFile.isEmpty()) {
        QTimer::singleShot(DelayMs, &FKAVRO, [&] {
            const bool Ok = FKAVRO.grab().save(ShotFile, "PNG");
            if (!Ok) std::fprintf(stderr, "vorta-display: cannot write %s\n", qPrintable(ShotFile));
            FKAVRO.close();
            App.exit(Ok ? 0 : 1);
        });
    }
    return App.exec();
}
