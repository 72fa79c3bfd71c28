// SPDX-License-Identifier: GPL-3.0-or-later
#include "Watch.h"

#include "Formats.h"
#include "Output.h"
#include "StopSignals.h"

#include "ReadingPublisher.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <map>
#include <unistd.h>

namespace {

bool EndsWith(const std::string& S, const std::string& Tail) {
    return S.size() > Tail.size() && S.compare(S.size() - Tail.size(), Tail.size(), Tail) == 0;
}

// A member of a reading as a plain text: a number as its shortest form, a
// string shown escaped, anything else empty.
std::string Text(const QJsonValue& V) {
    if (V.isDouble())
        return QString::number(V.toDouble(), 'g', QLocale::FloatingPointShortest).toStdString();
    return PlainText(V.toString().toStdString());
}

} // namespace

std::string TWatchLines::Header() const {
    return FFormat == TWatchOptions::Csv ? std::string(TRecorder::Header) + ",topic" : "";
}

std::optional<std::string> TWatchLines::Line(const std::string& Topic, const std::string& Payload,
                                             const std::string& Now, double Elapsed) {
    const bool IsReading = EndsWith(Topic, "/reading"), IsStatus = EndsWith(Topic, "/status");
    const std::string Sensor = Topic.substr(0, Topic.rfind('/'));
    if (IsStatus) {
        // A sensor turning offline is reported once, however often the
        // state is repeated (retained on subscribing, a publisher's stop
        // and then its will).
        auto Last = FLastStatus.find(Sensor);
        if (Last == FLastStatus.end() && FLastStatus.size() < StatusesFollowed)
            Last = FLastStatus.emplace(Sensor, "").first;
        if (Last == FLastStatus.end()) {
            ++FUnfollowed;
        } else {
            const bool Repeat = Last->second == Payload;
            Last->second = Payload;
            if (Repeat) return std::nullopt;
        }
        if (Payload != "offline" && FFormat != TWatchOptions::Json) return std::nullopt;
    } else if (!IsReading && FFormat != TWatchOptions::Json) {
        return std::nullopt;
    }
    QJsonParseError Error;
    const QJsonDocument Doc = QJsonDocument::fromJson(QByteArray::fromStdString(Payload), &Error);
    const bool IsObject = Error.error == QJsonParseError::NoError && Doc.isObject();
    if (FFormat == TWatchOptions::Json)
        return TJsonObject()
            .String("topic", Topic)
            .Raw("payload", IsObject ? JsonText(Doc.object()) : JsonString(Payload))
            .Text();
    auto Row = [&](const std::string& Time, const TRecordRow& R) {
        return TRecorder::Row(Time, Elapsed, R) + "," + TRecorder::Quote(PlainText(Topic));
    };
    if (IsStatus) {
        if (FFormat == TWatchOptions::Csv) return Row(Now, {"status", "", "offline", "", "", ""});
        return PlainText(Sensor) + "\t" + Now + "\toffline";
    }
    if (!IsObject) return std::nullopt; // not one of ours
    const QJsonObject R = Doc.object();
    if (FFormat == TWatchOptions::Csv)
        return Row(Text(R["time"]), {"reading", Text(R["value"]), "", Text(R["port"]),
                                     Text(R["mode"]), Text(R["id"])});
    return PlainText(Sensor) + "\t" + Text(R["time"]) + "\t" + Text(R["value"]);
}

int RunWatch(const TWatchOptions& O) {
    TMqttClient Client;
    TOutput Out(O.Format == TWatchOptions::Csv    ? TOutput::Csv
                : O.Format == TWatchOptions::Json ? TOutput::Json
                                                  : TOutput::Plain);
    TWatchLines Lines(O.Format);
    QElapsedTimer Clock;
    Clock.start();
    int Status = 0;
    if (O.Format == TWatchOptions::Csv) Out.Line(Lines.Header());
    Client.OnMessage = [&](const std::string& Topic, const std::string& Payload) {
        const auto L = Lines.Line(Topic, Payload, IsoTimeNow(), Clock.elapsed() / 1000.0);
        // A reader that went away ends the watch like a signal.
        if (L && !Out.Line(*L)) QCoreApplication::exit(0);
    };
    // A broker that cannot be reached at the start ends the watch, as a
    // refusal does: nothing would ever be printed. One lost later on is
    // waited for.
    bool WasOnline = false, Told = false;
    Client.OnState = [&](TMqttState S, const std::string& Why) {
        if (S == TMqttState::Online) {
            WasOnline = true;
            Told = false;
        }
        if (S == TMqttState::Failed ||
            (S == TMqttState::Connecting && !WasOnline && !Why.empty())) {
            std::fprintf(stderr, "vorta-cli: %s%s\n", Why.c_str(),
                         S == TMqttState::Failed ? "" : "; broker not reachable");
            Status = 3;
            QCoreApplication::exit(0);
        } else if (S == TMqttState::Connecting && !Why.empty() && !Told) {
            std::fprintf(stderr, "vorta-cli: %s; broker not reachable, retrying in %d s\n",
                         Why.c_str(), Client.RetryInS());
            Told = true;
        }
    };
    Client.Subscribe(O.Filter, O.Qos);
    Client.Start(O.Mqtt);
    if (Client.State() == TMqttState::Failed) return 3;

    TStopSignals Signals([] { QCoreApplication::exit(0); });
    if (O.DurationS > 0) QTimer::singleShot(O.DurationS * 1000, [] { QCoreApplication::exit(0); });
    QCoreApplication::exec();
    Signals.Disable();
    Client.Stop();
    if (Lines.Unfollowed() > 0)
        std::fprintf(stderr,
                     "vorta-cli: %ld status messages of sensors beyond the %zu followed were "
                     "printed even when repeated\n",
                     Lines.Unfollowed(), TWatchLines::StatusesFollowed);
    return Status;
}
