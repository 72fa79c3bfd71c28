// SPDX-License-Identifier: GPL-3.0-or-later
#include "Watch.h"

#include "Output.h"
#include "StopSignals.h"

#include "ReadingPublisher.h"

#include <QCoreApplication>
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

std::string Text(const QJsonValue& V) {
    if (V.isDouble())
        return QString::number(V.toDouble(), 'g', QLocale::FloatingPointShortest).toStdString();
    return V.toString().toStdString();
}

} // namespace

int RunWatch(const TWatchOptions& O) {
    TMqttClient Client;
    TOutput Out(O.Format == TWatchOptions::Csv    ? TOutput::Csv
                : O.Format == TWatchOptions::Json ? TOutput::Json
                                                  : TOutput::Plain);
    int Status = 0;
    std::map<std::string, std::string> LastStatus; // sensor -> "online"/"offline"

    // A reader that went away ends the watch like a signal.
    auto Print = [&](const std::string& Line) {
        if (!Out.Line(Line)) QCoreApplication::exit(0);
    };
    auto PrintRow = [&](const std::string& Time, const TRecordRow& R, const std::string& Topic) {
        if (!Out.Row(Time, R, "," + TRecorder::Quote(Topic))) QCoreApplication::exit(0);
    };
    Out.Header(",topic");

    Client.OnMessage = [&](const std::string& Topic, const std::string& Payload) {
        const bool IsReading = EndsWith(Topic, "/reading"), IsStatus = EndsWith(Topic, "/status");
        const std::string Sensor = Topic.substr(0, Topic.rfind('/'));
        if (IsStatus) {
            // A sensor turning offline is reported once, however often the
            // state is repeated (retained on subscribing, a publisher's stop
            // and then its will).
            std::string& Last = LastStatus[Sensor];
            const bool Repeat = Last == Payload;
            Last = Payload;
            if (Repeat || (Payload != "offline" && O.Format != TWatchOptions::Json)) return;
        } else if (!IsReading && O.Format != TWatchOptions::Json) {
            return;
        }
        QJsonParseError Error;
        const QJsonDocument Doc =
            QJsonDocument::fromJson(QByteArray::fromStdString(Payload), &Error);
        if (O.Format == TWatchOptions::Json) {
            QJsonObject Out{{"topic", QString::fromStdString(Topic)}};
            if (Error.error == QJsonParseError::NoError && Doc.isObject())
                Out.insert("payload", Doc.object());
            else
                Out.insert("payload", QString::fromStdString(Payload));
            Print(QJsonDocument(Out).toJson(QJsonDocument::Compact).toStdString());
            return;
        }
        if (IsStatus) {
            if (O.Format == TWatchOptions::Csv)
                PrintRow(IsoTimeNow(), {"status", "", "offline", "", "", ""}, Topic);
            else
                Print(Sensor + "\t" + IsoTimeNow() + "\toffline");
            return;
        }
        if (Error.error != QJsonParseError::NoError || !Doc.isObject()) return; // not one of ours
        const QJsonObject R = Doc.object();
        if (O.Format == TWatchOptions::Csv)
            PrintRow(
                Text(R["time"]),
                {"reading", Text(R["value"]), "", Text(R["port"]), Text(R["mode"]), Text(R["id"])},
                Topic);
        else
            Print(Sensor + "\t" + Text(R["time"]) + "\t" + Text(R["value"]));
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
    return Status;
}
