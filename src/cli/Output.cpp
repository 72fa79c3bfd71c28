// SPDX-License-Identifier: GPL-3.0-or-later
#include "Output.h"

#include "Dashboards.h"
#include "Formats.h"
#include "ReadingPublisher.h"

#include <QJsonArray>
#include <QJsonObject>

#include <cstdio>

std::string JsonText(const QJsonValue& V) {
    switch (V.type()) {
    case QJsonValue::Bool:
        return V.toBool() ? "true" : "false";
    case QJsonValue::Double:
        return JsonNumber(V.toDouble());
    case QJsonValue::String:
        return JsonString(V.toString().toStdString());
    case QJsonValue::Array: {
        std::string Out = "[";
        for (const QJsonValue& E : V.toArray())
            Out += (Out.size() > 1 ? "," : "") + JsonText(E);
        return Out + "]";
    }
    case QJsonValue::Object: {
        TJsonObject O;
        const QJsonObject Members = V.toObject();
        for (auto M = Members.begin(); M != Members.end(); ++M)
            O.Raw(M.key().toStdString(), JsonText(M.value()));
        return O.Text();
    }
    default:
        return "null";
    }
}

TOutput::TOutput(TFormat Format) : FFormat(Format), FHost(Format == Influx ? HostName() : "") {
    FClock.start();
}

std::string TOutput::Number(double V) {
    return QString::number(V, 'g', 12).toStdString();
}

bool TOutput::Line(const std::string& Text) {
    std::fwrite(Text.data(), 1, Text.size(), stdout);
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
        if (Side != lsInside) L += ",limit=" + InfluxString(LimitSideName(Side));
        return Line(Ns >= 0 ? L + " " + std::to_string(Ns) : L);
    }
    if (FFormat == Json) {
        TJsonObject O = ReadingJson(R);
        O.String("text", R.Text);
        if (Side != lsInside) O.String("limit", LimitSideName(Side));
        return Line(O.Text());
    }
    if (FFormat != Csv)
        return Line(Number(R.Value) + (Side == lsLow    ? "  below min"
                                       : Side == lsHigh ? "  above max"
                                                        : ""));
    auto Known = [](int V) { return V < 0 ? std::string() : std::to_string(V); };
    return Row(TRecorder::LocalTime(R.Time),
               {"reading", TRecorder::Number(R.Value), PlainText(R.Text), PlainText(R.Port),
                Known(R.Mode), Known(R.Id)},
               FMark ? std::string(",") + LimitSideName(Side) : "");
}

void TOutput::Info(const TSensorIdentity& I) {
    if (FFormat == Json) {
        Line(JsonText(InformationJson(I.Fields)));
        return;
    }
    for (const auto& [Key, Value] : InformationFields(I.Fields))
        Line(PlainText(Key) + ": " + PlainText(Value));
}

bool TOutput::Found(int Id, double Value) {
    if (FFormat == Json) return Line(TJsonObject().Integer("id", Id).Number("value", Value).Text());
    return Line(std::to_string(Id) + "\t" + Number(Value));
}

TJsonObject TOutput::ReadingJson(const TReading& R) {
    TJsonObject O;
    O.String("time", TRecorder::LocalTime(R.Time));
    if (R.Id < 0)
        O.Null("id");
    else
        O.Integer("id", R.Id);
    O.Number("value", R.Value);
    if (R.Mode < 0)
        O.Null("mode");
    else
        O.Integer("mode", R.Mode);
    return O.String("port", R.Port);
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
    TJsonObject O = ReadingJson(R);
    if (Side != lsInside) O.String("limit", LimitSideName(Side));
    return Line(O.Text());
}
