// SPDX-License-Identifier: GPL-3.0-or-later
// vorta-cli: the console's commands from a shell, for scripts and test rigs.
// Headless (Qt Core only): the serial engine delivers its events on this
// program's event loop, and every exchange is the console's own
// (TSensorExchange), so the bytes on the wire are those of the buttons.
//
// Exit status: 0 done, 1 the sensor did not answer (or not as asked), 2 usage,
// 3 the port could not be opened, or the broker refused or could not be used,
// 4 a reading outside --min/--max (when nothing else failed).
#include "Limits.h"
#include "Output.h"
#include "Profile.h"
#include "PumpWait.h"
#include "ReadingPublisher.h"
#include "Recorder.h"
#include "Redact.h"
#include "SensorExchange.h"
#include "SensorProtocol.h"
#include "SensorSession.h"
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
#include <QLocale>
#include <QMap>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <map>
#include <optional>
#include <unistd.h>

namespace {

enum TExit { exDone = 0, exNoAnswer = 1, exUsage = 2, exPort = 3, exOutside = 4 };

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
    "  read [--count N] [--interval MS] [--id ID] [--min V] [--max V]\n"
    "                                N readings by #DATA, or by Angle Data with --id (--csv)\n"
    "  stream [--duration S] [--min V] [--max V]\n"
    "                                #READ, readings until the time is up (S 0: until a\n"
    "                                signal), then #STOP (--csv)\n"
    "  send TEXT [--no-answer-ok]    a free command; prints the sensor's answer line\n"
    "  set-id N                      #ID (1 to 77), then Information (--json)\n"
    "  set-range MINUS PLUS          the ranges in tenths of a degree (0 to 3600; MINUS may be\n"
    "                                written negative, -900), then Information (--json)\n"
    "  save                          #SAVE, answered by OK\n"
    "  scan [--wait MS]              the IDs on the line that answer Angle Data\n"
    "  poll --ids ID,ID,... [--interval MS] [--count N] [--duration S] [--wait MS] [--min V]\n"
    "       [--max V]\n"
    "                                the sensors of a shared line by Angle Data in turn, each\n"
    "                                once every MS (default 200) for N rounds or S seconds\n"
    "                                (default: until a signal); \"ID<tab>value\" lines, or --csv,\n"
    "                                --json; exits 1 when a sensor never answered\n"
    "  watch --mqtt URL [--topic FILTER] [--csv | --json]\n"
    "                                the readings of every sensor publishing to the broker\n\n"
    "read and stream print one value a line, the recording's rows (--csv), or InfluxDB line\n"
    "protocol (--format influx, for Telegraf's execd input).\n\n"
    "read, stream and poll publish each reading to a broker with --mqtt URL (mqtt://host[:port],\n"
    "mqtts://host[:port]) below --topic PREFIX (default vorta/<hostname>/<port name>, the port\n"
    "name one topic level: pts/3 gives pts_3): PREFIX/reading (JSON, or --payload influx),\n"
    "PREFIX/info and PREFIX/status, retained like the latest reading, PREFIX/dropped; and\n"
    "poll each sensor's reading to PREFIX/<id>/reading;\n"
    "each sensor's Home Assistant discovery config (--no-discovery leaves it out).\n"
    "The broker's user name and password come from VORTA_MQTT_USER and\n"
    "VORTA_MQTT_PASSWORD, or from --mqtt-credentials FILE (user name, then password, one a "
    "line).\n\n"
    "A frame is a reading only when its two ID characters name a sensor (1 to 77) and its\n"
    "value is a number; other frames are counted, and the count is printed at the end\n"
    "(\"malformed frames: n\"). Frames of a sensor nobody asked for (neither the port's\n"
    "sensor nor an ID asked) are counted as well (\"frames of other sensors: n\").\n\n"
    "--min and --max mark each reading below or above them (\"  below min\", \"  above max\";\n"
    "the CSV's last column limit: low or high), count them at the end (\"readings outside the\n"
    "limits: n\") and end the run with exit status 4; poll judges every sensor by them. With\n"
    "--mqtt each crossing is published retained on PREFIX/<id>/alarm (read and stream also on\n"
    "PREFIX/alarm), and an alarm still standing at the end is published cleared.\n\n"
    "--profile NAME takes the port, the ID, the interval, the count, --min and --max (Low,\n"
    "High), the broker and the topic from the profile ~/.config/vorta-display/profiles/NAME.ini\n"
    "($XDG_CONFIG_HOME) where the command uses them; options given win. For poll the\n"
    "profile's limits are its ID's only when it names one.\n\n"
    "Exit status: 0 done, 1 the sensor did not answer, or not as asked, 2 usage, 3 the port\n"
    "could not be opened or the broker refused or could not be used, 4 a reading was outside\n"
    "--min/--max (and nothing else failed).\n"
    "The port also comes from VORTA_PORT.";

// The command line, over the profile's values for the options the command
// uses: what the command line gives wins.
class TOptions {
  public:
    explicit TOptions(const QCommandLineParser& P) : FP(P) {}
    bool isSet(const QString& Name) const { return FP.isSet(Name) || FDefaults.contains(Name); }
    QString value(const QString& Name) const {
        return FP.isSet(Name) ? FP.value(Name) : FDefaults.value(Name);
    }
    void Default(const QString& Name, const std::string& Value) {
        if (!Value.empty()) FDefaults.insert(Name, QString::fromStdString(Value));
    }
    double Hysteresis = 0; // the profile's; no option sets it
    // poll: the profile's limits, for its ID only (unless --min or --max is given).
    std::optional<int> LimitsId;
    TLimits IdLimits;

  private:
    const QCommandLineParser& FP;
    QMap<QString, QString> FDefaults;
};

int IntOption(const TOptions& P, const QString& Name, int Default, int Min, int Max) {
    if (!P.isSet(Name)) return Default;
    int V = 0;
    const std::string Text = P.value(Name).toStdString();
    if (!TryStrToInt(Text, V) || V < Min || V > Max)
        throw TUsage("--" + Name.toStdString() + ": '" + Text + "' is not a number from " +
                     std::to_string(Min) + " to " + std::to_string(Max));
    return V;
}

std::optional<double> RealOption(const TOptions& P, const QString& Name) {
    if (!P.isSet(Name)) return std::nullopt;
    bool Ok = false;
    const double V = P.value(Name).toDouble(&Ok);
    if (!Ok || !std::isfinite(V))
        throw TUsage("--" + Name.toStdString() + ": '" + P.value(Name).toStdString() +
                     "' is not a number (write 12.5, not 12,5)");
    return V;
}

// The broker refused or cannot be used: whatever the refusal interrupted
// ends with exit status 3, its reason already printed.
bool GBrokerFailed = false;
// Frames whose value text is not a number, reported once at the end of the run.
long GMalformed = 0;
long GForeign = 0; // whole frames of sensors nobody asked for
// A network port's Telnet protocol errors (bytes spoilt, never a reading)
// and its replies dropped for want of room, as last reported.
TVaCustomComm::TNetCounters GNet;
// Readings printed outside --min/--max, reported likewise.
long GOutside = 0;

// The sensor answers in printable ASCII; a line with any other byte is line
// noise that happened to end in a CR.
bool IsText(const std::string& Line) {
    for (const char C : Line)
        if (C < 0x20 || C > 0x7E) return false;
    return !Line.empty();
}

// A command's text as messages name it, without CR LF.
std::string Named(const std::string& Command) {
    return Command.substr(0, Command.find(SensorCommands::CRLF));
}

// The session as the commands use it: the answer lines it counts (text, not
// frames nor noise), the port going away, and the readings handed on.
class TClient : public TSessionObserver {
  public:
    TClient() {
        FSession.AddObserver(this);
        FSession.Exchange().OnProgress = [this](const std::string& Text) {
            if (Text == "No answer") FNoAnswer = true;
        };
    }
    ~TClient() override { FSession.RemoveObserver(this); }

    void Open(const std::string& Port) { FSession.Open(Port); }
    TSensorExchange& Exchange() { return FSession.Exchange(); }

    // "#INFO" until a line of the Information answer's whole form came.
    const TSensorIdentity& Info() {
        Exchange().Start();
        FInfoLine.clear();
        const long Before = FAnswers;
        if (!Exchange().Retry(SensorCommands::Info, [this] { return !FInfoLine.empty(); })) {
            if (FAnswers == Before) throw TNoAnswer("the sensor did not answer #INFO");
            throw TNoAnswer("the sensor's answer to #INFO is no Information answer: " +
                            QuotedExcerpt(FAnswer));
        }
        return FSession.Identity();
    }

    // A retry exchange of a command until the sensor answers; any answer
    // but "OK" is its refusal.
    void Expect(const std::string& Command) {
        const long Before = FAnswers;
        if (!Exchange().Retry([&] { return Command; }, [&] { return FAnswers != Before; }))
            throw TNoAnswer("the sensor did not answer " + Named(Command));
        ExpectOk(Command);
    }

    // The sensor's "OK" is the whole line: "NOK" or "not OK" hold it too.
    // Blanks around it are the line's framing, not the answer.
    void ExpectOk(const std::string& Command) const {
        const size_t Begin = FAnswer.find_first_not_of(' ');
        const size_t End = FAnswer.find_last_not_of(' ');
        if (Begin == std::string::npos || FAnswer.substr(Begin, End - Begin + 1) != "OK")
            throw TNoAnswer("the sensor answered " + Named(Command) + " with " +
                            QuotedExcerpt(FAnswer));
    }

    // Sends Command once and waits for an answer line, at most as long as
    // the console waits for one; true when one came.
    bool SendAndAwait(const std::string& Command) {
        const long Before = FAnswers;
        Exchange().Send(Command, Command);
        QElapsedTimer Clock;
        Clock.start();
        while (FAnswers == Before && !FLost && Clock.elapsed() < TSensorExchange::RetryWait)
            PumpWait(10);
        return FAnswers != Before;
    }

    // A command answered by "OK", then Information.
    const TSensorIdentity& Configure(const std::string& Command) {
        Exchange().Start();
        Expect(Command);
        return Info();
    }

    TSensorSession FSession;
    bool FNoAnswer = false;
    bool FLost = false;
    long FReadings = 0;
    long FAnswers = 0;     // answer lines: text, not frames
    std::string FAnswer;   // the last of them
    std::string FInfoLine; // the last Information answer of the whole form
    std::function<void(const std::string&)> OnLine;
    std::function<void(const TReading&)> OnReading;

  private:
    void Answer(const std::string& Line, bool IsFrame) override {
        // The text of a frame (reading or noise) is no answer, nor is the
        // empty line of a CR after a frame, nor noise.
        if (IsFrame || !IsText(Line)) return;
        ++FAnswers;
        FAnswer = Line;
        if (IsInformationForm(Line)) FInfoLine = Line;
        if (OnLine) OnLine(Line);
    }
    void Reading(const TReading& R) override {
        ++FReadings;
        if (OnReading) OnReading(R);
    }
    void Malformed(const std::string&) override { ++GMalformed; }
    void Foreign(int, const std::string&) override { ++GForeign; }
    void LineError(unsigned Errors) override {
        // The counters are 0 once the port has closed: taken as they rise.
        const TVaCustomComm::TNetCounters N = FSession.Port().NetCounters();
        GNet.ProtocolErrors = std::max(GNet.ProtocolErrors, N.ProtocolErrors);
        GNet.DroppedReplies = std::max(GNet.DroppedReplies, N.DroppedReplies);
        if (Errors & CE_IOE) {
            std::fprintf(stderr, "vorta-cli: the port went away\n");
            FLost = true;
            AbortWaits();
        }
    }
};

// A reader that went away (a closed pipe) ends a stream like a signal.
void Printed(bool Ok) {
    if (!Ok) TStopSignals::Raise();
}

// A command's arguments, checked before the port is touched.
struct TCommand {
    int Count = 1, Interval = 200, Id = 0, Duration = 0, ScanWait = TSensorExchange::ScanWait;
    int NewId = 0;
    std::string Minus, Plus, Text;
    bool NoAnswerOk = false;
    std::vector<int> Ids; // poll
    bool Marked = false;  // readings are marked against limits
};

// The readings of read and stream to a broker: connecting goes on beside
// the sensor's exchanges, and a refusal ends the command. Exactly the
// readings printed are published.
class TPublishing {
  public:
    explicit TPublishing(TClient& C) : FClient(C) {}

    bool Active() const { return FActive; }

    // False when the broker refused at once (its reason printed). Identify:
    // ask the sensor's Information first.
    bool Start(const TPublishOptions& Options, bool Identify = true) {
        bool& BrokerFailed = GBrokerFailed;
        // The broker going away is told once; the attempts after it are not.
        FPublisher.OnState = [&, Told = false](TMqttState S, const std::string& Why) mutable {
            if (S == TMqttState::Failed) {
                std::fprintf(stderr, "vorta-cli: %s\n", RedactUrl(Why).c_str());
                BrokerFailed = true;
                AbortWaits();
            } else if (S == TMqttState::Connecting && !Why.empty() && !Told) {
                std::fprintf(stderr,
                             "vorta-cli: %s; broker not reachable, retrying in %d s; readings "
                             "wait in the queue\n",
                             Why.c_str(), FPublisher.RetryInS());
                Told = true;
            } else if (S == TMqttState::Online) {
                Told = false;
            }
        };
        FPublisher.OnDropped = [](long Since, long Total) {
            std::fprintf(stderr,
                         "vorta-cli: %ld readings dropped while the broker was away (%ld in all)\n",
                         Since, Total);
        };
        FPublisher.Start(Options);
        if (BrokerFailed) return false;
        FActive = true;
        FPublisher.Attach(FClient.FSession, false);
        // Mode and id go with every reading, so Information comes first; the
        // identity it brings is published as info.
        if (Identify) FClient.Info();
        return true;
    }

    // The limits whose crossings go to PREFIX/<id>/alarm (and PREFIX/alarm):
    // ById's for those IDs, All's for the others.
    void WatchLimits(const TLimits& All, const std::map<int, TLimits>& ById) {
        FLimits = All;
        FById = ById;
        FAlarms.OnAlarm = [this](const TAlarmEvent& E) { FPublisher.PublishAlarm(E); };
    }
    const TLimits& LimitsOf(int Id) const {
        const auto I = FById.find(Id);
        return I == FById.end() ? FLimits : I->second;
    }

    void Publish(const TReading& R) {
        if (!FActive) return;
        FPublisher.Publish(R);
        FAlarms.SetLimits(R.Port, R.Id, LimitsOf(R.Id));
        FAlarms.Reading(R);
    }

    // The readings still queued go to the broker before the command ends,
    // waiting for it 9 s at most (TReadingPublisher::Stop).
    int Finish(int Status) {
        if (!FActive) return Status;
        ResetWaits();
        const size_t Left = GBrokerFailed ? 0 : FPublisher.Stop(5000);
        if (Left > 0)
            std::fprintf(stderr, "vorta-cli: %zu readings were not delivered to the broker\n",
                         Left);
        return GBrokerFailed || Left > 0 ? int(exPort) : Status;
    }

  private:
    TClient& FClient;
    TReadingPublisher FPublisher;
    bool FActive = false;
    TLimits FLimits;
    std::map<int, TLimits> FById;
    TAlarmWatcher FAlarms;
};

int Done(const TClient& C) {
    return C.FLost ? exNoAnswer : exDone;
}

int RunInfo(TClient& C, const TCommand&, TOutput& Out, TPublishing&) {
    Out.Info(C.Info());
    return Done(C);
}

int RunSetId(TClient& C, const TCommand& A, TOutput& Out, TPublishing&) {
    Out.Info(C.Configure(SensorCommands::Id(A.NewId)));
    return Done(C);
}

int RunSetRange(TClient& C, const TCommand& A, TOutput& Out, TPublishing&) {
    C.Exchange().Start();
    C.Expect(SensorCommands::MinusRange(A.Minus));
    Out.Info(C.Configure(SensorCommands::PlusRange(A.Plus)));
    return Done(C);
}

int RunSave(TClient& C, const TCommand&, TOutput&, TPublishing&) {
    // Sent once: a save is no request to repeat.
    C.Exchange().Start();
    if (!C.SendAndAwait(SensorCommands::Save()) && !C.FLost)
        throw TNoAnswer("the sensor did not answer #SAVE");
    if (!C.FLost) C.ExpectOk(SensorCommands::Save());
    return Done(C);
}

int RunSend(TClient& C, const TCommand& A, TOutput& Out, TPublishing&) {
    // The first answer line; readings of a streaming sensor are none.
    std::string First;
    C.OnLine = [&First](const std::string& Line) {
        if (First.empty()) First = Line;
    };
    C.Exchange().Start();
    const bool Answered = C.SendAndAwait(A.Text + SensorCommands::CRLF);
    C.OnLine = nullptr;
    if (Answered)
        Out.Line(First);
    else if (!C.FLost && !A.NoAnswerOk)
        throw TNoAnswer("the sensor did not answer " + A.Text +
                        " (--no-answer-ok for a command without answer)");
    return Done(C);
}

// The mode the CSV, JSON and line protocol give with each reading is the
// sensor's, told by Information: it is asked once, and says nothing of
// itself when it does not answer. The ID is the one each frame names.
void KnowSensor(TClient& C, const TOutput& Out) {
    if (Out.Format() == TOutput::Plain || C.FSession.Identity().Known) return;
    try {
        C.Info();
    } catch (const TNoAnswer&) {
    }
}

int RunRead(TClient& C, const TCommand& A, TOutput& Out, TPublishing& Publishing) {
    // Angle Data asks a sensor of the line that need not be the one that
    // answers #INFO.
    if (!A.Id) KnowSensor(C, Out);
    Out.Header();
    // One reading a request: a sensor left streaming sends more, and
    // those are not printed.
    bool Wanted = false;
    int Taken = 0;
    C.OnReading = [&](const TReading& R) {
        if (!Wanted) return;
        Wanted = false;
        ++Taken;
        Printed(Out.Reading(R));
        Publishing.Publish(R);
    };
    auto Request = [&Wanted](std::function<std::string()> R) {
        return [&Wanted, R] {
            Wanted = true;
            return R();
        };
    };
    auto Answered = [&Wanted] { return !Wanted; };
    const int Interval = A.Interval, Id = A.Id;
    C.Exchange().Start();
    if (Id)
        C.Exchange().Poll(
            A.Count, Request([Id] { return AngleDataRequest(Id); }), AngleDataText,
            TSensorExchange::AngleLimit, [Interval] { return Interval; }, Answered);
    else
        C.Exchange().Poll(
            A.Count, Request(SensorCommands::Data), [](const std::string& R) { return R; },
            TSensorExchange::DataLimit, [Interval] { return Interval; }, Answered);
    C.OnReading = nullptr;
    if (GBrokerFailed) return Publishing.Finish(exPort);
    if (Taken < A.Count && !C.FLost) throw TNoAnswer("the sensor did not answer every request");
    return Publishing.Finish(Done(C));
}

int RunStream(TClient& C, const TCommand& A, TOutput& Out, TPublishing& Publishing) {
    KnowSensor(C, Out);
    Out.Header();
    // The duration counts from the #READ; a reading handled after its end
    // is not printed, however late the wait notices the end.
    QElapsedTimer Clock;
    const qint64 End = A.Duration * 1000LL;
    C.OnReading = [&](const TReading& R) {
        if (!Clock.isValid() || (A.Duration != 0 && Clock.elapsed() >= End)) return;
        Printed(Out.Reading(R));
        Publishing.Publish(R);
    };
    bool Interrupted = false;
    TStopSignals Signals([&] {
        Interrupted = true;
        AbortWaits();
    });
    const long Before = C.FReadings;
    try {
        C.Exchange().Start();
        Clock.start();
        // Answered by readings; answer lines between them are no reason to ask again.
        if (C.Exchange().Retry(SensorCommands::Read, [&] { return C.FReadings > Before; }))
            while (A.Duration == 0 || Clock.elapsed() < End)
                PumpWait(A.Duration == 0 ? 1000
                                         : int(std::min<qint64>(1000, End - Clock.elapsed())));
    } catch (const EAbort&) {
    }
    const bool Streamed = C.FReadings > Before;
    // Whatever ended the stream, the sensor is left quiet; readings that
    // come before it is are no longer printed.
    Signals.Disable();
    C.OnReading = nullptr;
    ResetWaits();
    if (!C.FLost) {
        C.Exchange().StopLoop();
        PumpWait(50);
    }
    if (C.FLost) return Publishing.Finish(exNoAnswer);
    if (GBrokerFailed) return Publishing.Finish(exPort);
    if (!Streamed && !Interrupted) throw TNoAnswer("the sensor did not answer #READ");
    return Publishing.Finish(exDone);
}

int RunScan(TClient& C, const TCommand& A, TOutput& Out, TPublishing&) {
    C.Exchange().Start();
    const auto Found = C.FSession.Scan(
        1, 77, A.ScanWait, [&C](int) { return !C.FLost; },
        [&Out](int Id, double V) { Out.Found(Id, V); });
    if (Found.empty() && !C.FLost) throw TNoAnswer("no sensor answered");
    return Done(C);
}

// The sensors of a shared line, by Angle Data only: every sensor of a real
// shared line would answer a text command such as #INFO at once, so none is
// sent, and the readings' mode stays unknown. Count is rounds (each sensor
// asked once a round; 0 no limit) and Duration seconds (0 no limit).
int RunPoll(TClient& C, const TCommand& A, TOutput& Out, TPublishing& Publishing) {
    struct TReport : TSessionObserver {
        explicit TReport(TSensorSession& S) : Session(S) { S.AddObserver(this); }
        ~TReport() override { Session.RemoveObserver(this); }
        void SensorStale(int Id) override {
            std::fprintf(stderr,
                         "vorta-cli: sensor %d: no answer to %d polls in a row; asked every %d "
                         "rounds until it answers\n",
                         Id, TWatchPlan::StaleAfter, TWatchPlan::StaleEvery);
        }
        void SensorBack(int Id) override {
            std::fprintf(stderr, "vorta-cli: sensor %d answers again\n", Id);
        }
        TSensorSession& Session;
    } Report(C.FSession);
    Out.Header();
    // A sensor left streaming is not one of those asked.
    C.OnReading = [&](const TReading& R) {
        if (R.Source != TReadingSource::Watch) return;
        if (A.Marked) Out.MarkLimits(Publishing.LimitsOf(R.Id));
        Printed(Out.Polled(R));
        Publishing.Publish(R);
    };
    TStopSignals Signals([&C] { C.FSession.StopFlag() = true; });
    TWatchPlan Plan;
    Plan.Ids = A.Ids;
    Plan.IntervalMs = A.Interval;
    Plan.AnswerMs = A.ScanWait;
    Plan.Rounds = A.Count;
    Plan.DurationMs = A.Duration * 1000L;
    std::vector<std::pair<int, long>> Readings;
    try {
        C.Exchange().Start();
        Readings = C.FSession.Watch(Plan);
    } catch (const EAbort&) {
    }
    Signals.Disable();
    C.OnReading = nullptr;
    if (C.FLost) return Publishing.Finish(exNoAnswer);
    if (GBrokerFailed) return Publishing.Finish(exPort);
    int Status = exDone;
    for (const auto& [Id, N] : Readings)
        if (N == 0) {
            std::fprintf(stderr, "vorta-cli: sensor %d never answered\n", Id);
            Status = exNoAnswer;
        }
    return Publishing.Finish(Status);
}

// --ids 1,5,12: decimal IDs 1 to 77, each once.
std::vector<int> PollIds(const TOptions& P) {
    if (!P.isSet("ids")) throw TUsage("poll needs the sensors' IDs: --ids 1,5,12");
    std::vector<int> Ids;
    for (const QString& Item : P.value("ids").split(',')) {
        const std::string T = Item.trimmed().toStdString();
        int V = 0;
        if (T.empty() || T.find_first_not_of("0123456789") != std::string::npos ||
            !TryStrToInt(T, V))
            throw TUsage("--ids: '" + Item.toStdString() +
                         "' is no sensor ID; give IDs 1 to 77 separated by commas (1,5,12)");
        Ids.push_back(V);
    }
    try {
        CheckWatchIds(Ids);
    } catch (const Exception& E) {
        throw TUsage(std::string("--ids: ") + E.what());
    }
    return Ids;
}

// The broker connection's options; the credentials never come from the command line.
TMqttOptions MqttOptions(const TOptions& P) {
    TMqttOptions O;
    O.Url = P.value("mqtt").toStdString();
    O.CaFile = P.value("ca-file").toStdString();
    O.CertFile = P.value("cert").toStdString();
    O.KeyFile = P.value("key").toStdString();
    LoadMqttCredentials(O, P.value("mqtt-credentials").toStdString());
    ParseMqttUrl(O.Url);
    return O;
}

// The last column of a listed port that cannot be opened: the user cannot
// open it (a group to join) or another program holds it.
const char* PortState(int OpenError) {
    if (OpenError == 0) return "";
    if (OpenError == EACCES || OpenError == EPERM) return "\tno permission";
    if (OpenError == EBUSY) return "\tbusy";
    return "\tcannot open";
}

// The profile's values become the defaults of the options Command uses.
void TakeProfile(const QString& Command, const std::string& Name, TOptions& P) {
    std::vector<std::string> Warnings;
    TProfile Profile;
    try {
        Profile = LoadProfile(ProfileDir(), Name, &Warnings);
    } catch (const EProfileError& E) {
        throw TUsage(E.what());
    }
    for (const std::string& W : Warnings)
        std::fprintf(stderr, "vorta-cli: %s\n", W.c_str());
    auto Int = [](const std::optional<int>& V) { return V ? std::to_string(*V) : std::string(); };
    auto Real = [](const std::optional<double>& V) {
        return V ? QString::number(*V, 'g', QLocale::FloatingPointShortest).toStdString()
                 : std::string();
    };
    const bool Readings = Command == "read" || Command == "stream" || Command == "poll";
    if (Command != "ports" && Command != "watch") P.Default("port", Profile.Port);
    if (Command == "read") {
        P.Default("id", Int(Profile.Id));
        P.Default("interval", Int(Profile.Interval));
        P.Default("count", Int(Profile.Count));
    }
    if (Command == "poll" && Profile.Id) {
        P.LimitsId = Profile.Id;
        P.IdLimits = Profile.Limits;
    } else if (Readings) {
        P.Default("min", Real(Profile.Limits.Low));
        P.Default("max", Real(Profile.Limits.High));
        P.Hysteresis = Profile.Limits.Hysteresis;
    }
    if (Readings) P.Default("topic", Profile.Topic);
    if (Readings || Command == "watch") P.Default("mqtt", Profile.Broker);
}

int Run(const QStringList& Args, const QCommandLineParser& Parser) {
    const QString Command = Args.value(0);
    TOptions P(Parser);
    if (Parser.isSet("profile")) TakeProfile(Command, Parser.value("profile").toStdString(), P);
    auto Want = [&](int N) {
        if (Args.size() != N + 1)
            throw TUsage(Command.toStdString() + " takes " + std::to_string(N) +
                         (N == 1 ? " argument" : " arguments"));
    };

    if (Command == "ports") {
        Want(0);
        for (const TSerialPortInfo& I : ListSerialPorts())
            // A description is the adapter's own text: shown escaped.
            std::printf("%s\t%s\t%s\t%s%s\n", PlainText(I.Name).c_str(), PlainText(I.Path).c_str(),
                        I.Description.empty() ? "-" : PlainText(I.Description).c_str(),
                        I.ById.empty() ? "-" : PlainText(I.ById).c_str(), PortState(I.OpenError));
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

    static const QStringList Known = {"info",      "read", "stream", "send", "set-id",
                                      "set-range", "save", "scan",   "poll"};
    if (!Known.contains(Command))
        throw TUsage(Command.isEmpty() ? "no command given"
                                       : "unknown command " + Command.toStdString());
    // Check every argument before the port is touched.
    // poll runs until stopped unless given a count.
    const int Count = IntOption(P, "count", Command == "poll" ? 0 : 1, 1, 1000000);
    const int Interval = IntOption(P, "interval", 200, 0, 3600000);
    const int Id = IntOption(P, "id", 0, 1, 77);
    const int Duration = IntOption(P, "duration", 0, 0, 100000000);
    const int ScanWait = IntOption(P, "wait", TSensorExchange::ScanWait, 1, 60000);
    int NewId = 0;
    std::string Minus, Plus;
    const std::vector<int> Ids = Command == "poll" ? PollIds(P) : std::vector<int>{};
    if (Command == "send")
        Want(1);
    else if (Command == "set-id") {
        Want(1);
        if (!TryStrToInt(Args[1].toStdString(), NewId) || NewId < 1 || NewId > 77)
            throw TUsage("set-id: the ID must be 1 to 77");
    } else if (Command == "set-range") {
        Want(2);
        auto Range = [](const std::string& Digits, const std::string& Given) {
            int V = 0;
            if (Digits.empty() || Digits.find_first_not_of("0123456789") != std::string::npos ||
                !TryStrToInt(Digits, V) || V > 3600)
                throw TUsage("set-range: a range is 0 to 3600 tenths of a degree, not '" + Given +
                             "'");
            return Digits;
        };
        // The minus range may be written as the negative bound it is.
        const std::string MinusText = Args[1].toStdString();
        Minus =
            Range(MinusText.compare(0, 1, "-") == 0 ? MinusText.substr(1) : MinusText, MinusText);
        Plus = Range(Args[2].toStdString(), Args[2].toStdString());
    } else
        Want(0);

    std::string Port = P.value("port").toStdString();
    if (Port.empty()) Port = qEnvironmentVariable("VORTA_PORT").toStdString();
    if (Port.empty()) throw TUsage("no port: give --port NAME or set VORTA_PORT");
    const bool Publish = P.isSet("mqtt");
    if (Publish && Command != "read" && Command != "stream" && Command != "poll")
        throw TUsage(
            "--mqtt publishes the readings of read, stream and poll, or is watched by watch");
    if (!Publish && (P.isSet("payload") || P.isSet("no-discovery")))
        throw TUsage("--payload and --no-discovery are for publishing with --mqtt");
    const QString Format = P.value("format");
    if (P.isSet("format") && Format != "plain" && Format != "csv" && Format != "influx")
        throw TUsage("--format: '" + Format.toStdString() + "' is none of plain, csv, influx");
    if (P.isSet("csv") && P.isSet("format") && Format != "csv")
        throw TUsage("--csv and --format " + Format.toStdString() + " ask for two formats");
    const QString Payload = P.value("payload");
    if (P.isSet("payload") && Payload != "json" && Payload != "influx")
        throw TUsage("--payload: '" + Payload.toStdString() + "' is neither json nor influx");
    TPublishOptions PublishOptions;
    if (Publish) {
        static_cast<TMqttOptions&>(PublishOptions) = MqttOptions(P);
        PublishOptions.Prefix = P.value("topic").toStdString();
        PublishOptions.Port = Port.compare(0, 1, "/") == 0 ? PortNameFromPath(Port) : Port;
        PublishOptions.Qos = Qos;
        PublishOptions.QueueLimit = size_t(QueueLimit);
        PublishOptions.Payload = Payload == "influx" ? pfInflux : pfJson;
        PublishOptions.Discovery = !P.isSet("no-discovery");
        // A topic the broker would refuse ends here, before the port is touched.
        TReadingPublisher::Checked(PublishOptions);
    }
    TLimits Limits;
    Limits.Low = RealOption(P, "min");
    Limits.High = RealOption(P, "max");
    Limits.Hysteresis = P.Hysteresis;
    if (Limits.Low && Limits.High && *Limits.Low > *Limits.High)
        throw TUsage(
            "--min " + TOutput::Number(*Limits.Low) + " is above --max " +
            TOutput::Number(*Limits.High) +
            (Parser.isSet("profile") ? " (the profile's Low and High count as those)" : ""));
    try {
        CheckLimits(Limits);
    } catch (const ELimitsError& E) {
        throw TUsage(std::string("the profile's Hysteresis: ") + E.what());
    }

    std::map<int, TLimits> LimitsById;
    if (P.LimitsId && !Limits.Active() && P.IdLimits.Active()) LimitsById[*P.LimitsId] = P.IdLimits;
    TCommand A;
    A.Count = Count;
    A.Interval = Interval;
    A.Id = Id;
    A.Duration = Duration;
    A.ScanWait = ScanWait;
    A.NewId = NewId;
    A.Minus = Minus;
    A.Plus = Plus;
    A.Text = Command == "send" ? Args[1].toStdString() : "";
    A.NoAnswerOk = P.isSet("no-answer-ok");
    A.Ids = Ids;
    A.Marked = Limits.Active() || !LimitsById.empty();
    TOutput Out(P.isSet("json")                     ? TOutput::Json
                : P.isSet("csv") || Format == "csv" ? TOutput::Csv
                : Format == "influx"                ? TOutput::Influx
                                                    : TOutput::Plain);
    if (Limits.Active() || !LimitsById.empty()) Out.MarkLimits(Limits);
    // Counted however the command ends: a reader of the run's end wants to
    // know of every reading outside that was printed.
    struct TNoteOutside {
        const TOutput& O;
        ~TNoteOutside() { GOutside = O.Outside(); }
    } NoteOutside{Out};

    TClient C;
    try {
        C.Open(Port);
    } catch (const Exception& E) {
        std::fprintf(stderr, "vorta-cli: %s\n", RedactUrl(E.what()).c_str());
        return exPort;
    }
    TPublishing Publishing(C);
    if (Publish && !Publishing.Start(PublishOptions, Command != "poll")) return exPort;
    Publishing.WatchLimits(Limits, LimitsById);

    using TRun = int (*)(TClient&, const TCommand&, TOutput&, TPublishing&);
    static const std::pair<const char*, TRun> Commands[] = {
        {"info", RunInfo},     {"set-id", RunSetId}, {"set-range", RunSetRange},
        {"save", RunSave},     {"send", RunSend},    {"read", RunRead},
        {"stream", RunStream}, {"scan", RunScan},    {"poll", RunPoll}};
    for (const auto& [Name, Fn] : Commands)
        if (Command == Name) {
            const int Status = Fn(C, A, Out, Publishing);
            return Status == exDone && Out.Outside() > 0 ? int(exOutside) : Status;
        }
    return exUsage;
}

// QCommandLineParser takes "-5" for an option. A negative number that is no
// option's value is hidden behind a mark for the parse and restored in the
// positional arguments.
const QString NumberMark = QStringLiteral("\x1fvorta-number:");

QStringList HideNegativeNumbers(const QStringList& Args, const QList<QCommandLineOption>& Options) {
    static const QRegularExpression Negative(QStringLiteral("^-[0-9]+([.,][0-9]+)?$"));
    QStringList Out;
    bool Value = false, Rest = false;
    for (const QString& A : Args) {
        const bool Hide = !Value && !Rest && Negative.match(A).hasMatch();
        Out << (Hide ? NumberMark + A : A);
        Rest = Rest || A == "--";
        Value = false;
        for (const QCommandLineOption& O : Options)
            for (const QString& Name : O.names())
                if (!O.valueName().isEmpty() && (A == "--" + Name || A == "-" + Name)) Value = true;
    }
    return Out;
}

QStringList Positional(const QCommandLineParser& P) {
    QStringList Args = P.positionalArguments();
    for (QString& A : Args)
        if (A.startsWith(NumberMark)) A.remove(0, NumberMark.size());
    return Args;
}

// An option that the command has no use for is refused rather than ignored.
void CheckOptionsFit(const QString& Command, const QCommandLineParser& P) {
    static const QStringList Commands = {"ports",     "info", "read", "stream", "send", "set-id",
                                         "set-range", "save", "scan", "watch",  "poll"};
    static const struct {
        const char* Option;
        QStringList For;
        const char* Text;
    } Fits[] = {
        {"json",
         {"info", "set-id", "set-range", "read", "stream", "scan", "watch", "poll"},
         "info, set-id, set-range, read, stream, scan, watch and poll"},
        {"csv", {"read", "stream", "watch", "poll"}, "read, stream, watch and poll"},
        {"format", {"read", "stream", "poll"}, "read, stream and poll"},
        {"payload", {"read", "stream", "poll"}, "read, stream and poll"},
        {"no-discovery", {"read", "stream", "poll"}, "read, stream and poll"},
        {"no-answer-ok", {"send"}, "send"},
        {"min", {"read", "stream", "poll"}, "read, stream and poll"},
        {"max", {"read", "stream", "poll"}, "read, stream and poll"},
        {"ids", {"poll"}, "poll"},
    };
    if (!Commands.contains(Command)) return;
    for (const auto& F : Fits)
        if (P.isSet(F.Option) && !F.For.contains(Command))
            throw TUsage("--" + std::string(F.Option) + " is for " + F.Text + ", not " +
                         Command.toStdString());
}

int RunCommand(QCommandLineParser& P) {
    try {
        const QStringList Args = Positional(P);
        CheckOptionsFit(Args.value(0), P);
        return Run(Args, P);
    } catch (const TUsage& E) {
        std::fprintf(stderr, "vorta-cli: %s (see --help)\n", RedactUrl(E.what()).c_str());
        return exUsage;
    } catch (const EMqttError& E) {
        std::fprintf(stderr, "vorta-cli: %s\n", RedactUrl(E.what()).c_str());
        return exUsage;
    } catch (const TNoAnswer& E) {
        if (GBrokerFailed) return exPort;
        std::fprintf(stderr, "vorta-cli: %s\n", RedactUrl(E.what()).c_str());
        return exNoAnswer;
    } catch (const EAbort&) {
        return GBrokerFailed ? exPort : exNoAnswer;
    } catch (const std::exception& E) {
        std::fprintf(stderr, "vorta-cli: %s\n", RedactUrl(E.what()).c_str());
        return exNoAnswer;
    }
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
    const QList<QCommandLineOption> Options = {
        {"port",
         "The serial port: a name below /dev without \"tty\" (USB0, pts/3), COM<n>, a path, "
         "or a network serial server's port: rfc2217://HOST:PORT or tcp://HOST:PORT (raw).",
         "NAME"},
        {"json", "info, set-id, set-range: one JSON object; read, stream, poll: one object a "
                 "reading; scan: one object a sensor found."},
        {"csv", "read, stream, poll: rows of time,elapsed_s,kind,value,text,port,mode,id (then "
                "limit, with --min or --max)."},
        {"format",
         "read, stream, poll: plain (one value a line, the default), csv (as --csv) or influx "
         "(InfluxDB "
         "line protocol).",
         "FORMAT"},
        {"no-answer-ok", "send: a command that has no answer; no answer is no failure."},
        {"count",
         "read: number of readings, 1 or more (default 1); poll: rounds (default: until "
         "stopped).",
         "N"},
        {"interval",
         "read: wait after each request (default 200); poll: from one round to the next, each "
         "sensor read once (default 200).",
         "MS"},
        {"id", "read: ask the sensor with this ID by Angle Data.", "ID"},
        {"ids", "poll: the sensors to poll in turn, IDs 1 to 77 separated by commas.", "ID,..."},
        {"duration",
         "stream, poll: stop after this many seconds; 0 (the default): until stopped by a "
         "signal.",
         "S"},
        {"wait", "scan, poll: wait for each ID's answer (default 150).", "MS"},
        {"mqtt", "read, stream, poll: publish the readings to this broker; watch: the broker.",
         "URL"},
        {"topic",
         "The topic prefix (default vorta/<hostname>/<port name>); watch: the filter (default "
         "vorta/#).",
         "PREFIX"},
        {"qos", "MQTT QoS 0 (default) or 1.", "N"},
        {"payload", "The reading messages: json (the default) or influx (line protocol).",
         "FORMAT"},
        {"no-discovery", "Publish no Home Assistant discovery configs."},
        {"queue", "Readings kept while the broker is away (default 10000); the oldest go first.",
         "N"},
        {"ca-file", "mqtts: the certificate authority to check the broker against.", "FILE"},
        {"cert", "mqtts: a client certificate.", "FILE"},
        {"key", "mqtts: the client certificate's key.", "FILE"},
        {"mqtt-credentials", "The broker's user name and password, one a line.", "FILE"},
        {"min", "read, stream, poll: readings below this are outside the limits (exit status 4).",
         "V"},
        {"max", "read, stream, poll: readings above this are outside the limits (exit status 4).",
         "V"},
        {"profile", "Defaults for the options from this profile (see above); options given win.",
         "NAME"},
    };
    P.addOptions(Options);
    P.addPositionalArgument(
        "command", "ports, info, read, stream, send, set-id, set-range, save, scan, poll, watch");
    if (!P.parse(HideNegativeNumbers(App.arguments(), Options))) {
        std::fprintf(stderr, "vorta-cli: %s\n", P.errorText().toLocal8Bit().constData());
        return exUsage;
    }
    if (P.isSet("help")) P.showHelp(0);
    if (P.isSet("version")) P.showVersion();
    const int Status = RunCommand(P);
    if (GMalformed > 0) std::fprintf(stderr, "malformed frames: %ld\n", GMalformed);
    if (GForeign > 0) std::fprintf(stderr, "frames of other sensors: %ld\n", GForeign);
    if (GOutside > 0) std::fprintf(stderr, "readings outside the limits: %ld\n", GOutside);
    if (GNet.ProtocolErrors > 0)
        std::fprintf(stderr, "telnet protocol errors: %llu\n",
                     static_cast<unsigned long long>(GNet.ProtocolErrors));
    if (GNet.DroppedReplies > 0)
        std::fprintf(stderr, "telnet replies dropped: %llu\n",
                     static_cast<unsigned long long>(GNet.DroppedReplies));
    return Status;
}
