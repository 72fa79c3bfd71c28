// vorta-cli: the console's commands from a shell, for scripts and test rigs.
// Headless (Qt Core only): the serial engine delivers its events on this
// program's event loop, and every exchange is the console's own
// (TSensorExchange), so the bytes on the wire are those of the buttons.
//
// Exit status: 0 done, 1 the sensor did not answer, 2 usage, 3 the port
// could not be opened, or the broker refused or could not be used.
#include "AnswerReceiver.h"
#include "PumpWait.h"
#include "ReadingPublisher.h"
#include "Recorder.h"
#include "SensorExchange.h"
#include "SensorProtocol.h"
#include "StopSignals.h"
#include "SysUtils.h"
#include "VaComm.h"
#include "VaPorts.h"
#include "VortaVersion.h"
#include "Watch.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

enum TExit { exDone = 0, exNoAnswer = 1, exUsage = 2, exPort = 3 };

struct TUsage : Exception {
    using Exception::Exception;
};
struct TNoAnswer : Exception {
    using Exception::Exception;
};

const char* Description =
    "The console's sensor commands from a shell.\n\n"
    "Commands:\n"
    "  ports                         list the serial ports\n"
    "  info                          the sensor's Information fields (--json)\n"
    "  read [--count N] [--interval MS] [--id ID]\n"
    "                                single readings by #DATA, or by Angle Data with --id (--csv)\n"
    "  stream [--duration S]         #READ, readings until the time is up or a signal, then #STOP\n"
    "  send TEXT                     a free command; prints the answer lines\n"
    "  set-id N                      #ID (1 to 77), then Information\n"
    "  set-range MINUS PLUS          the ranges in tenths of a degree, then Information\n"
    "  save                          #SAVE\n"
    "  scan [--wait MS]              the IDs on the line that answer Angle Data\n"
    "  watch --mqtt URL [--topic FILTER] [--csv | --json]\n"
    "                                the readings of every sensor publishing to the broker\n\n"
    "read and stream publish each reading to a broker with --mqtt URL (mqtt://host[:port],\n"
    "mqtts://host[:port]) below --topic PREFIX (default vorta/<hostname>/<port name>):\n"
    "PREFIX/reading, PREFIX/info and PREFIX/status (retained), PREFIX/dropped.\n"
    "The broker's user name and password come from VORTA_MQTT_USER and\n"
    "VORTA_MQTT_PASSWORD, or from --mqtt-credentials FILE (user name, then password, one a "
    "line).\n\n"
    "Exit status: 0 done, 1 no answer, 2 usage, 3 the port could not be opened or the broker\n"
    "refused or could not be used.\n"
    "The port also comes from VORTA_PORT.";

int IntOption(const QCommandLineParser& P, const QString& Name, int Default, int Min, int Max) {
    if (!P.isSet(Name)) return Default;
    int V = 0;
    const std::string Text = P.value(Name).toStdString();
    if (!TryStrToInt(Text, V) || V < Min || V > Max)
        throw TUsage("--" + Name.toStdString() + ": '" + Text + "' is not a number from " +
                     std::to_string(Min) + " to " + std::to_string(Max));
    return V;
}

// The broker refused or cannot be used: whatever the refusal interrupted
// ends with exit status 3, its reason already printed.
bool GBrokerFailed = false;

class TClient {
  public:
    TClient() : FExchange(FLastAnswer, FRetryCount, FStopFlag) {
        FReceiver.OnLine = [this](const std::string& Line) {
            FExchange.Received(Line);
            if (OnLine) OnLine(Line);
        };
        FReceiver.OnValue = [this](double Value) {
            ++FReadings;
            FExchange.Reading(Value);
            if (OnValue) OnValue(Value);
        };
        FExchange.Write = [this](const std::string& Bytes) { FComm.WriteText(Bytes); };
        FExchange.Wait = [](int Ms) { PumpWait(Ms); };
        FExchange.ClearRx = [this] { FReceiver.Reset(); };
        FExchange.OnProgress = [this](const std::string& Text) {
            if (Text == "No answer") FNoAnswer = true;
        };
        FComm.OnRxChar = [this](TVaObject*, int) { FReceiver.Receive(FComm.ReadText()); };
        FComm.OnError = [this](TVaObject*, int Errors) {
            if (Errors & CE_IOE) {
                std::fprintf(stderr, "vorta-cli: the port went away\n");
                FLost = true;
                AbortWaits();
            }
        };
    }

    void Open(const std::string& Port) {
        FPort = Port;
        FComm.SetBaudrate(br9600);
        OpenPortTarget(FComm, ResolvePortName(Port));
        FComm.SetRTS(true);
        FComm.SetDTR(true);
    }

    TInformation Info() {
        FExchange.Start();
        if (!FExchange.Information()) throw TNoAnswer("the sensor did not answer #INFO");
        FInfo = ParseInformation(FExchange.InfoAnswer());
        FHaveInfo = true;
        return FInfo;
    }

    // A retry exchange of a command answered by "OK", then Information.
    TInformation Configure(const std::string& Command) {
        FExchange.Start();
        if (!FExchange.Retry([&] { return Command; }, "OK"))
            throw TNoAnswer("the sensor did not answer " + Command.substr(0, Command.size() - 2));
        return Info();
    }

    TSensorExchange FExchange;
    TAnswerReceiver FReceiver{FRxBuffer};
    TVaComm FComm;
    std::string FPort, FLastAnswer, FRxBuffer;
    int FRetryCount = 0;
    bool FStopFlag = false;
    bool FNoAnswer = false;
    bool FLost = false;
    long FReadings = 0;
    TInformation FInfo;
    bool FHaveInfo = false;
    std::function<void(const std::string&)> OnLine;
    std::function<void(double)> OnValue;
};

std::string Number(double V) {
    return QString::number(V, 'g', 12).toStdString();
}

void PrintInfo(const TInformation& I, bool Json) {
    if (Json) {
        std::printf("%s\n",
                    QJsonDocument(InformationJson(I)).toJson(QJsonDocument::Compact).constData());
        return;
    }
    for (const auto& [Key, Value] : InformationFields(I))
        std::printf("%s: %s\n", Key.c_str(), Value.c_str());
}

// One reading a line, or a row of the recording's columns.
class TReadingPrinter {
  public:
    TReadingPrinter(const TClient& C, bool CsvRows, std::string Id)
        : FClient(C), FCsv(CsvRows), FId(std::move(Id)) {
        FStart.start();
        if (FCsv) std::printf("%s\n", TRecorder::Header);
    }
    void operator()(double V) {
        if (!FCsv) {
            std::printf("%s\n", Number(V).c_str());
        } else {
            const TRecordRow Row{"reading",
                                 TRecorder::Number(V),
                                 "",
                                 FClient.FPort,
                                 FClient.FHaveInfo ? FClient.FInfo.Mode : "",
                                 FId};
            std::printf("%s\n",
                        TRecorder::Row(TRecorder::LocalTime(std::chrono::system_clock::now()),
                                       FStart.elapsed() / 1000.0, Row)
                            .c_str());
        }
        // A reader that went away (a closed pipe) ends a stream like a signal.
        if (std::fflush(stdout) != 0 || std::ferror(stdout)) TStopSignals::Raise();
    }

  private:
    const TClient& FClient;
    bool FCsv;
    std::string FId;
    QElapsedTimer FStart;
};

// The broker connection's options; the credentials never come from the command line.
TMqttOptions MqttOptions(const QCommandLineParser& P) {
    TMqttOptions O;
    O.Url = P.value("mqtt").toStdString();
    O.CaFile = P.value("ca-file").toStdString();
    O.CertFile = P.value("cert").toStdString();
    O.KeyFile = P.value("key").toStdString();
    LoadMqttCredentials(O, P.value("mqtt-credentials").toStdString());
    ParseMqttUrl(O.Url);
    return O;
}

// A reading's sensor id for a message: the Information ID, or -1.
int SensorId(const std::string& Id) {
    int V = -1;
    return TryStrToInt(Id, V) ? V : -1;
}

// The last column of a listed port that cannot be opened: the user cannot
// open it (a group to join) or another program holds it.
const char* PortState(int OpenError) {
    if (OpenError == 0) return "";
    if (OpenError == EACCES || OpenError == EPERM) return "\tno permission";
    if (OpenError == EBUSY) return "\tbusy";
    return "\tcannot open";
}

int Run(const QStringList& Args, QCommandLineParser& P) {
    const QString Command = Args.value(0);
    auto Want = [&](int N) {
        if (Args.size() != N + 1)
            throw TUsage(Command.toStdString() + " takes " + std::to_string(N) +
                         (N == 1 ? " argument" : " arguments"));
    };

    if (Command == "ports") {
        Want(0);
        for (const TSerialPortInfo& I : ListSerialPorts())
            std::printf("%s\t%s\t%s\t%s%s\n", I.Name.c_str(), I.Path.c_str(),
                        I.Description.empty() ? "-" : I.Description.c_str(),
                        I.ById.empty() ? "-" : I.ById.c_str(), PortState(I.OpenError));
        return exDone;
    }

    const int Qos = IntOption(P, "qos", 0, 0, 1);
    const int QueueLimit = IntOption(P, "queue", 10000, 1, 10000000);
    if (Command == "watch") {
        Want(0);
        if (!P.isSet("mqtt")) throw TUsage("watch needs --mqtt URL");
        TWatchOptions W;
        W.Mqtt = MqttOptions(P);
        if (P.isSet("topic")) W.Filter = P.value("topic").toStdString();
        W.Qos = Qos;
        W.Format = P.isSet("json")  ? TWatchOptions::Json
                   : P.isSet("csv") ? TWatchOptions::Csv
                                    : TWatchOptions::Lines;
        W.DurationS = IntOption(P, "duration", 0, 0, 100000000);
        return RunWatch(W);
    }

    static const QStringList Known = {"info",   "read",      "stream", "send",
                                      "set-id", "set-range", "save",   "scan"};
    if (!Known.contains(Command))
        throw TUsage(Command.isEmpty() ? "no command given"
                                       : "unknown command " + Command.toStdString());
    // Check every argument before the port is touched.
    const int Count = IntOption(P, "count", 1, 0, 1000000);
    const int Interval = IntOption(P, "interval", 200, 0, 3600000);
    const int Id = IntOption(P, "id", 0, 1, 77);
    const int Duration = IntOption(P, "duration", 0, 0, 100000000);
    const int ScanWait = IntOption(P, "wait", TSensorExchange::ScanWait, 1, 60000);
    int NewId = 0;
    std::string Minus, Plus;
    if (Command == "send")
        Want(1);
    else if (Command == "set-id") {
        Want(1);
        if (!TryStrToInt(Args[1].toStdString(), NewId) || NewId < 1 || NewId > 77)
            throw TUsage("set-id: the ID must be 1 to 77");
    } else if (Command == "set-range") {
        Want(2);
        Minus = Args[1].toStdString();
        Plus = Args[2].toStdString();
        for (const std::string* R : {&Minus, &Plus}) {
            int V = 0;
            if (R->empty() || R->find_first_not_of("0123456789") != std::string::npos ||
                !TryStrToInt(*R, V) || V > 3600)
                throw TUsage("set-range: a range is 0 to 3600 tenths of a degree, not '" + *R +
                             "'");
        }
    } else
        Want(0);

    std::string Port = P.value("port").toStdString();
    if (Port.empty()) Port = qEnvironmentVariable("VORTA_PORT").toStdString();
    if (Port.empty()) throw TUsage("no port: give --port NAME or set VORTA_PORT");
    const bool Publish = P.isSet("mqtt");
    if (Publish && Command != "read" && Command != "stream")
        throw TUsage("--mqtt publishes the readings of read and stream, or is watched by watch");
    TPublishOptions PublishOptions;
    if (Publish) {
        static_cast<TMqttOptions&>(PublishOptions) = MqttOptions(P);
        PublishOptions.Prefix = P.value("topic").toStdString();
        PublishOptions.Port = Port.compare(0, 1, "/") == 0 ? PortNameFromPath(Port) : Port;
        PublishOptions.Qos = Qos;
        PublishOptions.QueueLimit = size_t(QueueLimit);
    }

    TClient C;
    try {
        C.Open(Port);
    } catch (const Exception& E) {
        std::fprintf(stderr, "vorta-cli: %s\n", E.what());
        return exPort;
    }
    const bool CsvRows = P.isSet("csv");

    // Readings to the broker: connecting goes on beside the sensor's
    // exchanges, and a refusal ends the command.
    TReadingPublisher Publisher;
    bool& BrokerFailed = GBrokerFailed;
    int PublishId = Id ? Id : -1;
    std::function<void(double)> PublishValue;
    if (Publish) {
        Publisher.OnState = [&](TMqttState S, const std::string& Why) {
            if (S == TMqttState::Failed) {
                std::fprintf(stderr, "vorta-cli: %s\n", Why.c_str());
                BrokerFailed = true;
                AbortWaits();
            } else if (S == TMqttState::Connecting && !Why.empty()) {
                std::fprintf(stderr, "vorta-cli: %s; readings wait while connecting again\n",
                             Why.c_str());
            }
        };
        Publisher.OnDropped = [](long Since, long Total) {
            std::fprintf(stderr,
                         "vorta-cli: %ld readings dropped while the broker was away (%ld in all)\n",
                         Since, Total);
        };
        Publisher.Start(PublishOptions);
        if (BrokerFailed) return exPort;
        // Mode and id go with every reading, so Information comes first.
        const TInformation I = C.Info();
        if (PublishId < 0) PublishId = SensorId(I.ID);
        Publisher.PublishInfo(InformationJson(I));
        PublishValue = [&](double V) {
            Publisher.PublishReading(IsoTimeNow(), V, PublishId, C.FInfo.Mode);
        };
    }
    // Every accepted reading: printed, then published.
    auto Readings = [&](TReadingPrinter Printer) {
        return [Printer, &PublishValue](double V) mutable {
            Printer(V);
            if (PublishValue) PublishValue(V);
        };
    };
    // The readings still queued go to the broker before the command ends.
    auto Finish = [&](int Status) {
        if (!Publish) return Status;
        ResetWaits();
        const size_t Left = BrokerFailed ? 0 : Publisher.Stop(5000);
        if (Left > 0)
            std::fprintf(stderr, "vorta-cli: %zu readings were not delivered to the broker\n",
                         Left);
        return BrokerFailed || Left > 0 ? int(exPort) : Status;
    };

    if (Command == "info") {
        PrintInfo(C.Info(), P.isSet("json"));
    } else if (Command == "set-id") {
        PrintInfo(C.Configure(SensorCommands::Id(NewId)), P.isSet("json"));
    } else if (Command == "set-range") {
        C.FExchange.Start();
        if (!C.FExchange.Retry([&] { return SensorCommands::MinusRange(Minus); }, "OK"))
            throw TNoAnswer("the sensor did not answer the minus range");
        PrintInfo(C.Configure(SensorCommands::PlusRange(Plus)), P.isSet("json"));
    } else if (Command == "save") {
        C.FExchange.Start();
        C.FExchange.Send(SensorCommands::Save(), SensorCommands::Save());
        PumpWait(50); // the write thread sends before the port closes
    } else if (Command == "send") {
        size_t Lines = 0;
        C.OnLine = [&Lines](const std::string& Line) {
            std::printf("%s\n", Line.c_str());
            std::fflush(stdout);
            ++Lines;
        };
        C.FExchange.Start();
        C.FExchange.Send(Args[1].toStdString() + SensorCommands::CRLF, "");
        // Answer lines until the line has been quiet for a while.
        size_t Seen = 0;
        QElapsedTimer Quiet;
        Quiet.start();
        while (Quiet.elapsed() < 500 && !C.FLost) {
            if (Lines != Seen) {
                Seen = Lines;
                Quiet.restart();
            }
            PumpWait(50);
        }
    } else if (Command == "read") {
        C.OnValue = Readings(TReadingPrinter(C, CsvRows, Id ? std::to_string(Id) : ""));
        C.FExchange.Start();
        long Before = C.FReadings;
        if (Id)
            C.FExchange.Poll(
                Count, [Id] { return AngleDataRequest(Id); }, AngleDataText,
                TSensorExchange::AngleLimit, [Interval] { return Interval; });
        else
            C.FExchange.Poll(
                Count, [] { return SensorCommands::Data(); },
                [](const std::string& R) { return R; }, TSensorExchange::DataLimit,
                [Interval] { return Interval; });
        if (BrokerFailed) return Finish(exPort);
        if (C.FNoAnswer || (Count > 0 && C.FReadings == Before))
            throw TNoAnswer("the sensor did not answer every request");
        return Finish(C.FLost ? exNoAnswer : exDone);
    } else if (Command == "stream") {
        C.OnValue = Readings(TReadingPrinter(C, CsvRows, ""));
        bool Interrupted = false;
        TStopSignals Signals([&] {
            Interrupted = true;
            AbortWaits();
        });
        bool Answered = false;
        try {
            C.FExchange.Start();
            Answered = C.FExchange.Retry([] { return SensorCommands::Read(); }, ".");
            QElapsedTimer Clock;
            Clock.start();
            while (Answered && (Duration == 0 || Clock.elapsed() < Duration * 1000LL))
                PumpWait(Duration == 0
                             ? 1000
                             : int(std::min<qint64>(1000, Duration * 1000LL - Clock.elapsed())));
        } catch (const EAbort&) {
        }
        // Whatever ended the stream, the sensor is left quiet; readings that
        // come before it is are no longer printed.
        Signals.Disable();
        C.OnValue = nullptr;
        ResetWaits();
        if (!C.FLost) {
            C.FExchange.StopLoop();
            PumpWait(50);
        }
        if (C.FLost) return Finish(exNoAnswer);
        if (BrokerFailed) return Finish(exPort);
        if (!Answered && !Interrupted) throw TNoAnswer("the sensor did not answer #READ");
        return Finish(exDone);
    } else if (Command == "scan") {
        C.FExchange.Start();
        const auto Found = C.FExchange.Scan(
            1, 77, ScanWait, [&C](int) { return !C.FLost; },
            [](int Id, double V) {
                std::printf("%d\t%s\n", Id, Number(V).c_str());
                std::fflush(stdout);
            });
        if (Found.empty() && !C.FLost) throw TNoAnswer("no sensor answered");
    }
    return C.FLost ? exNoAnswer : exDone;
}

} // namespace

int main(int argc, char** argv) {
    // A closed output pipe is an ordinary end (see the stream), not a kill.
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication App(argc, argv);
    QCoreApplication::setApplicationName("vorta-cli");
    QCoreApplication::setApplicationVersion(VORTA_VERSION);
    QCommandLineParser P;
    P.setApplicationDescription(Description);
    P.addHelpOption();
    P.addVersionOption();
    P.addOptions({
        {"port",
         "The serial port: a name below /dev without \"tty\" (USB0, pts/3), COM<n>, or a path.",
         "NAME"},
        {"json", "info, set-id, set-range: one JSON object."},
        {"csv", "read, stream: rows of time,elapsed_s,kind,value,text,port,mode,id."},
        {"count", "read: number of readings (default 1).", "N"},
        {"interval", "read: wait after each request (default 200).", "MS"},
        {"id", "read: ask the sensor with this ID by Angle Data.", "ID"},
        {"duration", "stream: stop after this many seconds (default: until a signal).", "S"},
        {"wait", "scan: wait for each ID's answer (default 150).", "MS"},
        {"mqtt", "read, stream: publish the readings to this broker; watch: the broker.", "URL"},
        {"topic",
         "The topic prefix (default vorta/<hostname>/<port name>); watch: the filter (default "
         "vorta/#).",
         "PREFIX"},
        {"qos", "MQTT QoS 0 (default) or 1.", "N"},
        {"queue", "Readings kept while the broker is away (default 10000); the oldest go first.",
         "N"},
        {"ca-file", "mqtts: the certificate authority to check the broker against.", "FILE"},
        {"cert", "mqtts: a client certificate.", "FILE"},
        {"key", "mqtts: the client certificate's key.", "FILE"},
        {"mqtt-credentials", "The broker's user name and password, one a line.", "FILE"},
    });
    P.addPositionalArgument(
        "command", "ports, info, read, stream, send, set-id, set-range, save, scan, watch");
    if (!P.parse(App.arguments())) {
        std::fprintf(stderr, "vorta-cli: %s\n", P.errorText().toLocal8Bit().constData());
        return exUsage;
    }
    if (P.isSet("help")) P.showHelp(0);
    if (P.isSet("version")) P.showVersion();
    try {
        return Run(P.positionalArguments(), P);
    } catch (const TUsage& E) {
        std::fprintf(stderr, "vorta-cli: %s (see --help)\n", E.what());
        return exUsage;
    } catch (const EMqttError& E) {
        std::fprintf(stderr, "vorta-cli: %s\n", E.what());
        return exUsage;
    } catch (const TNoAnswer& E) {
        if (GBrokerFailed) return exPort;
        std::fprintf(stderr, "vorta-cli: %s\n", E.what());
        return exNoAnswer;
    } catch (const EAbort&) {
        return GBrokerFailed ? exPort : exNoAnswer;
    } catch (const std::exception& E) {
        std::fprintf(stderr, "vorta-cli: %s\n", E.what());
        return exNoAnswer;
    }
}
