// SPDX-License-Identifier: GPL-3.0-or-later
#include "Output.h"

#include "Dashboards.h"
#include "ReadingPublisher.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

TOutput::TOutput(TFormat Format) : FFormat(Format), FHost(Format == Influx ? HostName() : "") {
    FClock.start();
}

std::string TOutput::Number(double V) {
    return QString::number(V, 'g', 12).toStdString();
}

bool TOutput::Line(const std::string& Text) {
    std::fputs(Text.c_str(), stdout);
    std::fputc('\n', stdout);
    return std::fflush(stdout) == 0 && !std::ferror(stdout);
}

void TOutput::Header(const std::string& Extra) {
    if (FFormat == Csv) Line(TRecorder::Header + Extra + (FMark ? ",limit" : ""));
}

void TOutput::MarkLimits(const TLimits& L) {
    FMark = true;
    FLimits = L;
}

bool TOutput::Row(const std::string& Time, const TRecordRow& R, const std::string& Extra) {
    return Line(TRecorder::Row(Time, FClock.elapsed() / 1000.0, R) + Extra);
}

bool TOutput::Reading(const TReading& R) {
    const TLimitSide Side = FMark ? FLimits.Side(R.Value) : lsInside;
    FOutside += Side != lsInside;
    if (FFormat == Influx) {
        // The mark is one more field, so the time stamp goes after it.
        const long long Ns = EpochNs(TRecorder::LocalTime(R.Time));
        std::string L = InfluxLine(FHost, R.Port, R.Id, R.Value,
                                   R.Mode < 0 ? std::string() : std::to_string(R.Mode), -1);
        if (Side != lsInside) L += std::string(",limit=\"") + LimitSideName(Side) + "\"";
        return Line(Ns >= 0 ? L + " " + std::to_string(Ns) : L);
    }
    if (FFormat == Json) {
        QJsonObject O = ReadingJson(R);
        O.insert("text", QString::fromStdString(R.Text));
        if (Side != lsInside) O.insert("limit", LimitSideName(Side));
        return Line(QJsonDocument(O).toJson(QJsonDocument::Compact).toStdString());
    }
    if (FFormat != Csv)
        return Line(Number(R.Value) + (Side == lsLow    ? "  below min"
                                       : Side == lsHigh ? "  above max"
                                                        : ""));
    auto Known = [](int V) { return V < 0 ? std::string() : std::to_string(V); };
    return Row(TRecorder::LocalTime(R.Time),
               {"reading", TRecorder::Number(R.Value), R.Text, R.Port, Known(R.Mode), Known(R.Id)},
               FMark ? std::string(",") + LimitSideName(Side) : "");
}

void TOutput::Info(const TSensorIdentity& I) {
    if (FFormat == Json) {
        Line(QJsonDocument(InformationJson(I.Fields)).toJson(QJsonDocument::Compact).toStdString());
        return;
    }
    for (const auto& [Key, Value] : InformationFields(I.Fields))
        Line(Key + ": " + Value);
}

bool TOutput::Found(int Id, double Value) {
    if (FFormat == Json)
        return Line(QJsonDocument(QJsonObject{{"id", Id}, {"value", Value}})
                        .toJson(QJsonDocument::Compact)
                        .toStdString());
    return Line(std::to_string(Id) + "\t" + Number(Value));
}

QJsonObject TOutput::ReadingJson(const TReading& R) {
    auto Known = [](int V) { return V < 0 ? QJsonValue() : QJsonValue(V); };
    return {{"time", QString::fromStdString(TRecorder::LocalTime(R.Time))},
            {"id", Known(R.Id)},
            {"value", R.Value},
            {"mode", Known(R.Mode)},
            {"port", QString::fromStdString(R.Port)}};
}

bool TOutput::Polled(const TReading& R) {
    if (FFormat != Plain && FFormat != Json) return Reading(R);
    const TLimitSide Side = FMark ? FLimits.Side(R.Value) : lsInside;
    FOutside += Side != lsInside;
    if (FFormat == Plain)
        return Line(std::to_string(R.Id) + "\t" + Number(R.Value) +
                    (Side == lsLow    ? "  below min"
                     : Side == lsHigh ? "  above max"
                                      : ""));
    QJsonObject O = ReadingJson(R);
    if (Side != lsInside) O.insert("limit", LimitSideName(Side));
    return Line(QJsonDocument(O).toJson(QJsonDocument::Compact).toStdString());
}
