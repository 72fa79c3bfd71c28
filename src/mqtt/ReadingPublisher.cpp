// SPDX-License-Identifier: GPL-3.0-or-later
#include "ReadingPublisher.h"

#include "Recorder.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

// Messages handed to libmosquitto and not yet sent (QoS 0) or acknowledged
// (QoS 1); the rest wait in the bounded queue.
constexpr int Window = 100;

std::string JsonString(const std::string& S) {
    const QByteArray A =
        QJsonDocument(QJsonArray{QString::fromStdString(S)}).toJson(QJsonDocument::Compact);
    return A.mid(1, A.size() - 2).toStdString();
}

std::string JsonNumber(double V) {
    if (!std::isfinite(V)) return "null";
    return QString::number(V, 'g', QLocale::FloatingPointShortest).toStdString();
}

std::string Compact(const QJsonObject& O) {
    return QJsonDocument(O).toJson(QJsonDocument::Compact).toStdString();
}

// The topic as a message may show it: bytes that are not printable ASCII as
// \xNN, and a long one cut short.
std::string Shown(const std::string& Topic) {
    std::string S;
    for (size_t i = 0; i < Topic.size() && S.size() < 80; ++i) {
        const auto C = static_cast<unsigned char>(Topic[i]);
        char Hex[8];
        std::snprintf(Hex, sizeof Hex, "\\x%02X", C);
        S += C >= 0x20 && C < 0x7F ? std::string(1, char(C)) : Hex;
    }
    return S.size() < Topic.size() ? S + "..." : S;
}

// The code point starting at Topic[i] (advancing i), or -1 for bytes that
// are not UTF-8: a bad lead or continuation byte, an overlong form, a
// surrogate or a value beyond U+10FFFF.
long NextCodePoint(const std::string& Topic, size_t& i) {
    const auto Lead = static_cast<unsigned char>(Topic[i++]);
    if (Lead < 0x80) return Lead;
    const int More = Lead >= 0xF0 && Lead < 0xF5 ? 3 : Lead >= 0xE0 ? 2 : Lead >= 0xC2 ? 1 : -1;
    if (More < 0 || Lead >= 0xF5) return -1;
    long C = Lead & (0x3F >> More);
    for (int k = 0; k < More; ++k, ++i) {
        if (i >= Topic.size() || (static_cast<unsigned char>(Topic[i]) & 0xC0) != 0x80) return -1;
        C = C << 6 | (static_cast<unsigned char>(Topic[i]) & 0x3F);
    }
    static const long Least[] = {0, 0x80, 0x800, 0x10000};
    if (C < Least[More] || (C >= 0xD800 && C <= 0xDFFF) || C > 0x10FFFF) return -1;
    return C;
}

} // namespace

void CheckPublishTopic(const std::string& Topic) {
    const std::string Fix = ": choose another topic prefix (--topic, or the prefix in Publish to "
                            "broker)";
    auto Refuse = [&](const std::string& Why) {
        throw EMqttError("a broker refuses the topic '" + Shown(Topic) + "': " + Why + Fix);
    };
    if (Topic.empty()) Refuse("it is empty");
    if (Topic.size() > 65535)
        Refuse("it is " + std::to_string(Topic.size()) + " bytes long, more than 65535");
    if (Topic[0] == '$') Refuse("a topic starting with '$' is the broker's own");
    for (size_t i = 0; i < Topic.size();) {
        const long C = NextCodePoint(Topic, i);
        // U+FFFD stands for bytes that were not UTF-8 where the text was read.
        if (C < 0 || C == 0xFFFD) Refuse("it is not valid UTF-8");
        if (C < 0x20 || (C >= 0x7F && C <= 0x9F)) {
            char Code[16];
            std::snprintf(Code, sizeof Code, "U+%04lX", C);
            Refuse(std::string("it holds the control character ") + Code);
        }
        if (C == '+' || C == '#')
            Refuse(std::string("'") + char(C) + "' is a wildcard, for subscribing only");
    }
}

std::string DefaultTopicPrefix(const std::string& PortName) {
    return "vorta/" + TopicLevel(HostName()) + "/" + TopicLevel(PortName);
}

std::string IsoTimeNow() {
    // The offset is always written out, "+00:00" rather than "Z", so that
    // every message has the same form, as the recording's rows have it.
    return TRecorder::LocalTime(std::chrono::system_clock::now());
}

TReadingPublisher::TReadingPublisher() {
    FClient.OnState = [this](TMqttState S, const std::string& Why) {
        if (S == TMqttState::Online) {
            // Messages of QoS 0 handed over before a loss are gone with the
            // connection; those of QoS 1 are sent again by libmosquitto.
            if (FOpt.Qos == 0) {
                FMids.clear();
                FInFlight = 0;
            }
            FClient.Publish(FOpt.Prefix + "/status", "online", 1, true);
            if (FHaveInfo) FClient.Publish(FOpt.Prefix + "/info", Compact(FInfo), 1, true);
            if (!FAlarm.empty()) FClient.Publish(FOpt.Prefix + "/alarm", FAlarm, 1, true);
            for (const auto& [Id, Message] : FAlarms)
                SendAlarm(Id, false, Message);
            PublishAllDiscovery();
            ReportDropped();
            Pump();
        }
        if (OnState) OnState(S, Why);
    };
    FClient.OnPublished = [this](int Mid) {
        if (FMids.erase(Mid) == 0) return;
        --FInFlight;
        ++FSent;
        Pump();
    };
    FClient.OnMessage = [this](const std::string& Topic, const std::string& Payload) {
        if (Topic == HomeAssistantStatusTopic && Payload == "online") PublishAllDiscovery();
    };
    FDroppedTimer.setInterval(1000);
    QObject::connect(&FDroppedTimer, &QTimer::timeout, [this] { ReportDropped(); });
}

TPublishOptions TReadingPublisher::Checked(TPublishOptions O) {
    if (O.Qos < 0 || O.Qos > 1) throw EMqttError("the QoS is 0 or 1");
    if (O.QueueLimit < 1) throw EMqttError("the queue holds at least one reading");
    if (O.Prefix.empty()) O.Prefix = DefaultTopicPrefix(O.Port);
    while (!O.Prefix.empty() && O.Prefix.back() == '/')
        O.Prefix.pop_back();
    if (O.Prefix.empty()) throw EMqttError("the topic prefix is empty");
    for (const char* Leaf : {"/reading", "/info", "/status", "/dropped", "/alarm"})
        CheckPublishTopic(O.Prefix + Leaf);
    O.WillTopic = O.Prefix + "/status";
    O.WillPayload = "offline";
    return O;
}

TReadingPublisher::~TReadingPublisher() {
    Detach();
}

void TReadingPublisher::Attach(TSensorSession& Session, bool Readings) {
    Detach();
    FSession = &Session;
    FFollowReadings = Readings;
    FPath = Session.Connection().Path;
    Session.AddObserver(this);
    if (Session.Identity().Known) IdentityChanged(Session.Identity());
}

void TReadingPublisher::Detach() {
    if (FSession) FSession->RemoveObserver(this);
    FSession = nullptr;
    FFollowReadings = true;
}

void TReadingPublisher::Reading(const TReading& R) {
    if (FFollowReadings) Publish(R);
}

void TReadingPublisher::Publish(const TReading& R) {
    // A scan's answers are other sensors' readings, not this port's sensor's.
    if (R.Source == TReadingSource::Scan) return;
    PublishReading(TRecorder::LocalTime(R.Time), R.Value, R.Id,
                   R.Mode < 0 ? std::string() : std::to_string(R.Mode),
                   R.Source == TReadingSource::Watch);
}

void TReadingPublisher::IdentityChanged(const TSensorIdentity& I) {
    if (!I.Known) {
        // Nothing is published of a sensor not yet known; the retained info
        // of the one before stays until the new one answers.
        FInfo = QJsonObject();
        FHaveInfo = false;
        return;
    }
    if (FClient.State() == TMqttState::Stopped) {
        FInfo = InformationJson(I.Fields);
        FHaveInfo = true;
        return;
    }
    PublishInfo(InformationJson(I.Fields));
}

void TReadingPublisher::StateChanged(const TConnection& C) {
    // Moved while connecting: the old port is closed then, and nothing of
    // the new one has arrived yet.
    if (C.Path.empty() || C.Path == FPath) return;
    const bool First = FPath.empty();
    FPath = C.Path;
    if (!First) MovePort(C.Opened);
}

void TReadingPublisher::MovePort(const std::string& Port) {
    TPublishOptions O = FGiven;
    O.Port = Port;
    if (!FGiven.Prefix.empty() || FClient.State() == TMqttState::Stopped) {
        FGiven = O;
        FOpt.Port = Port;
        return;
    }
    // The sensor on the new port is not known yet, nor are its discovery configs.
    FInfo = QJsonObject();
    FHaveInfo = false;
    FAlarm.clear();
    FAlarms.clear();
    FStanding.clear();
    FSensorIds.clear();
    FWatchIds.clear();
    FAlarmIds.clear();
    // The will names the old prefix, so the connection is made anew.
    Stop(1000);
    try {
        Start(O);
    } catch (const EMqttError& E) {
        // A port name the broker would refuse as a topic ends publishing;
        // the connection to the sensor goes on.
        if (OnState) OnState(TMqttState::Failed, E.what());
    }
}

void TReadingPublisher::Start(const TPublishOptions& O) {
    FGiven = O;
    FOpt = Checked(O);
    FHost = HostName();
    if (FOpt.Discovery) FClient.Subscribe(HomeAssistantStatusTopic, 1);
    FClient.Start(FOpt);
    FDroppedTimer.start();
}

size_t TReadingPublisher::Stop(int DrainMs) {
    QElapsedTimer Clock;
    Clock.start();
    auto WaitFor = [&](const std::function<bool()>& Done) {
        QEventLoop Loop;
        QTimer Tick;
        QObject::connect(&Tick, &QTimer::timeout, &Loop, [&] {
            if (Done() || Clock.elapsed() >= DrainMs || State() == TMqttState::Failed) Loop.quit();
        });
        Tick.start(10);
        if (!Done()) Loop.exec();
    };
    // A broker away gets its last chance now rather than after the back-off;
    // waiting on is pointless once that has failed too.
    const long Failures = FClient.FailedAttempts();
    if (State() == TMqttState::Connecting) FClient.RetryNow();
    WaitFor([&] {
        return (FQueue.empty() && FInFlight == 0) ||
               (State() != TMqttState::Online && FClient.FailedAttempts() > Failures);
    });
    FDroppedTimer.stop();
    if (State() == TMqttState::Online) {
        ReportDropped();
        // Nobody speaks for these sensors once publishing ends.
        const auto Standing = FStanding;
        for (auto [Id, E] : Standing) {
            E.State = TAlarmState::Cleared;
            E.Value = std::nan("");
            E.Time = std::chrono::system_clock::now();
            E.Gone = true;
            PublishAlarm(E);
        }
        const int Mid = FClient.Publish(FOpt.Prefix + "/status", "offline", 1, true);
        bool Acked = Mid < 0;
        auto Before = FClient.OnPublished;
        FClient.OnPublished = [&](int M) {
            if (M == Mid) Acked = true;
            Before(M);
        };
        Clock.restart();
        DrainMs = OfflineWaitMs;
        WaitFor([&] { return Acked; });
        FClient.OnPublished = Before;
    }
    const size_t Left = FQueue.size() + size_t(FInFlight);
    FClient.Stop();
    FMids.clear();
    FQueue.clear();
    FInFlight = 0;
    return Left;
}

void TReadingPublisher::PublishReading(const std::string& Time, double Value, int Id,
                                       const std::string& Mode, bool Watched) {
    Watched = Watched && Id >= 0;
    std::string M = FOpt.Payload == pfInflux
                        ? InfluxLine(FHost, FOpt.Port, Id, Value, Mode, EpochNs(Time))
                        : "{\"time\":" + JsonString(Time) + ",\"value\":" + JsonNumber(Value) +
                              ",\"id\":" + (Id < 0 ? std::string("null") : std::to_string(Id)) +
                              ",\"mode\":" + (Mode.empty() ? std::string("null") : Mode) +
                              ",\"port\":" + JsonString(FOpt.Port) + "}";
    // The config goes before the reading, which Home Assistant then takes too.
    if (Id >= 0 && FOpt.Discovery) {
        std::set<int>& Given = Watched ? FWatchIds : FSensorIds;
        // PREFIX/reading is one sensor's at a time, and its entity takes every
        // value there: an entity of the ID before would show the new one's.
        if (!Watched && !Given.count(Id)) {
            for (const int Before : Given)
                RemoveDiscovery(Before);
            Given.clear();
        }
        if (Given.insert(Id).second) PublishDiscovery(Id, Watched);
    }
    FQueue.push_back({Watched ? Id : -1, std::move(M)});
    if (FQueue.size() > FOpt.QueueLimit) {
        FQueue.pop_front();
        ++FDroppedSince;
        ++FDroppedTotal;
    }
    Pump();
}

void TReadingPublisher::PublishInfo(const QJsonObject& Info) {
    FInfo = Info;
    FHaveInfo = true;
    FClient.Publish(FOpt.Prefix + "/info", Compact(FInfo), 1, true);
    // The device's version may have changed.
    PublishAllDiscovery();
}

void TReadingPublisher::PublishAlarm(const TAlarmEvent& E) {
    auto Bound = [](const std::optional<double>& V) {
        return V ? JsonNumber(*V) : std::string("null");
    };
    const std::string Message =
        "{\"state\":" + JsonString(AlarmStateName(E.State)) + ",\"value\":" + JsonNumber(E.Value) +
        ",\"low\":" + Bound(E.Limits.Low) + ",\"high\":" + Bound(E.Limits.High) +
        ",\"time\":" + JsonString(TRecorder::LocalTime(E.Time)) +
        ",\"id\":" + (E.Id < 0 ? std::string("null") : std::to_string(E.Id)) +
        ",\"port\":" + JsonString(E.Port.empty() ? FOpt.Port : E.Port) +
        (E.Gone ? ",\"gone\":true}" : "}");
    if (E.State == TAlarmState::Raised)
        FStanding[E.Id] = E;
    else
        FStanding.erase(E.Id);
    // A polled sensor's alarm is not the connection's sensor's, as its
    // readings are not on PREFIX/reading.
    const bool Own = E.Source != TReadingSource::Watch || E.Id < 0;
    if (E.Id >= 0) {
        FAlarms[E.Id] = Message;
        if (FOpt.Discovery && FAlarmIds.insert(E.Id).second) PublishAlarmDiscovery(E.Id);
    }
    SendAlarm(E.Id, Own, Message);
}

void TReadingPublisher::SendAlarm(int Id, bool Own, const std::string& Message) {
    if (Id >= 0)
        FClient.Publish(FOpt.Prefix + "/" + std::to_string(Id) + "/alarm", Message, 1, true);
    if (Own) {
        FAlarm = Message;
        FClient.Publish(FOpt.Prefix + "/alarm", Message, 1, true);
    }
}

void TReadingPublisher::PublishAllDiscovery() {
    for (const int Id : FSensorIds)
        PublishDiscovery(Id);
    for (const int Id : FWatchIds)
        PublishDiscovery(Id, true);
    for (const int Id : FAlarmIds)
        PublishAlarmDiscovery(Id);
}

void TReadingPublisher::PublishDiscovery(int Id, bool Watched) {
    const TDiscovery D =
        HomeAssistantDiscovery(FOpt.Prefix, FHost, FOpt.Port, Id, FOpt.Payload, FOpt.Qos,
                               FHaveInfo ? FInfo : QJsonObject(), Watched);
    FClient.Publish(D.Topic, Compact(D.Config), 1, true);
}

void TReadingPublisher::PublishAlarmDiscovery(int Id) {
    const TDiscovery D = HomeAssistantAlarmDiscovery(FOpt.Prefix, FHost, FOpt.Port, Id,
                                                     FHaveInfo ? FInfo : QJsonObject());
    FClient.Publish(D.Topic, Compact(D.Config), 1, true);
}

// An empty retained config: the broker forgets the config, Home Assistant the
// entity. A sensor polled on the line is the same device and stays.
void TReadingPublisher::RemoveDiscovery(int Id) {
    if (FWatchIds.count(Id)) return;
    const QJsonObject None;
    FClient.Publish(
        HomeAssistantDiscovery(FOpt.Prefix, FHost, FOpt.Port, Id, FOpt.Payload, FOpt.Qos, None)
            .Topic,
        "", 1, true);
    if (FAlarmIds.erase(Id))
        FClient.Publish(HomeAssistantAlarmDiscovery(FOpt.Prefix, FHost, FOpt.Port, Id, None).Topic,
                        "", 1, true);
}

void TReadingPublisher::Pump() {
    while (!FQueue.empty() && FInFlight < Window) {
        const TQueued& Q = FQueue.front();
        const std::string Topic =
            FOpt.Prefix + (Q.WatchId < 0 ? "" : "/" + std::to_string(Q.WatchId)) + "/reading";
        const int Mid = FClient.Publish(Topic, Q.Payload, FOpt.Qos, true);
        if (Mid < 0) return;
        FMids.insert(Mid);
        ++FInFlight;
        FQueue.pop_front();
    }
}

void TReadingPublisher::ReportDropped() {
    if (FDroppedSince == 0 || State() != TMqttState::Online) return;
    QJsonObject O{{"time", QString::fromStdString(IsoTimeNow())},
                  {"dropped", double(FDroppedSince)},
                  {"total", double(FDroppedTotal)}};
    if (FClient.Publish(FOpt.Prefix + "/dropped", Compact(O), 1, true) < 0) return;
    const long Since = FDroppedSince;
    FDroppedSince = 0;
    if (OnDropped) OnDropped(Since, FDroppedTotal);
}

QJsonObject InformationJson(const TInformation& I) {
    // A dashboard compares and plots numbers; the version stays text, as
    // "0410" is a name and not the number 410.
    static const QRegularExpression Decimal("^-?[0-9]+(\\.[0-9]+)?$");
    QJsonObject O;
    for (const auto& [Key, Value] : InformationFields(I)) {
        const QString V = QString::fromStdString(Value);
        if (Key != "version" && Decimal.match(V).hasMatch())
            O.insert(QString::fromStdString(Key), V.toDouble());
        else
            O.insert(QString::fromStdString(Key), V);
    }
    return O;
}
