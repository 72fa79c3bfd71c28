#include "ReadingPublisher.h"

#include "Recorder.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

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

} // namespace

std::string DefaultTopicPrefix(const std::string& PortName) {
    char Name[256] = {};
    std::string Host = gethostname(Name, sizeof Name - 1) == 0 && Name[0] ? Name : "localhost";
    // A path given as the port ("/tmp/vorta0") would start an empty level.
    const size_t Start = PortName.find_first_not_of('/');
    std::string Prefix =
        "vorta/" + Host + "/" + (Start == std::string::npos ? "" : PortName.substr(Start));
    for (char& C : Prefix)
        if (C == '+' || C == '#') C = '_';
    return Prefix;
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
    FDroppedTimer.setInterval(1000);
    QObject::connect(&FDroppedTimer, &QTimer::timeout, [this] { ReportDropped(); });
}

void TReadingPublisher::Start(const TPublishOptions& O) {
    FOpt = O;
    if (FOpt.Qos < 0 || FOpt.Qos > 1) throw EMqttError("the QoS is 0 or 1");
    if (FOpt.QueueLimit < 1) throw EMqttError("the queue holds at least one reading");
    if (FOpt.Prefix.empty()) FOpt.Prefix = DefaultTopicPrefix(FOpt.Port);
    while (!FOpt.Prefix.empty() && FOpt.Prefix.back() == '/')
        FOpt.Prefix.pop_back();
    if (FOpt.Prefix.empty() || FOpt.Prefix.find_first_of("+#") != std::string::npos)
        throw EMqttError("the topic prefix must not be empty nor hold '+' or '#'");
    FOpt.WillTopic = FOpt.Prefix + "/status";
    FOpt.WillPayload = "offline";
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
    WaitFor([this] { return FQueue.empty() && FInFlight == 0; });
    FDroppedTimer.stop();
    if (State() == TMqttState::Online) {
        ReportDropped();
        const int Mid = FClient.Publish(FOpt.Prefix + "/status", "offline", 1, true);
        bool Acked = Mid < 0;
        auto Before = FClient.OnPublished;
        FClient.OnPublished = [&](int M) {
            if (M == Mid) Acked = true;
            Before(M);
        };
        Clock.restart();
        DrainMs = 2000;
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
                                       const std::string& Mode) {
    std::string M = "{\"time\":" + JsonString(Time) + ",\"value\":" + JsonNumber(Value) +
                    ",\"id\":" + (Id < 0 ? std::string("null") : std::to_string(Id)) +
                    ",\"mode\":" + JsonString(Mode) + ",\"port\":" + JsonString(FOpt.Port) + "}";
    FQueue.push_back(std::move(M));
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
}

void TReadingPublisher::Pump() {
    const std::string Topic = FOpt.Prefix + "/reading";
    while (!FQueue.empty() && FInFlight < Window) {
        const int Mid = FClient.Publish(Topic, FQueue.front(), FOpt.Qos, false);
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
    QJsonObject O;
    for (const auto& [Key, Value] : InformationFields(I))
        O.insert(QString::fromStdString(Key), QString::fromStdString(Value));
    return O;
}
