// SPDX-License-Identifier: GPL-3.0-or-later
#include "Dashboards.h"

#include "Formats.h"
#include "SysUtils.h"

#include <QDateTime>
#include <QJsonArray>

#include <cctype>
#include <unistd.h>

namespace {

bool StartsWith(const std::string& S, const std::string& Head) {
    return S.compare(0, Head.size(), Head) == 0;
}

// Home Assistant takes only these characters in a discovery topic's ids.
std::string IdPart(std::string S) {
    for (char& C : S)
        if (!std::isalnum(static_cast<unsigned char>(C)) && C != '-') C = '_';
    return S;
}

} // namespace

std::string HostName() {
    char Name[256] = {};
    return gethostname(Name, sizeof Name - 1) == 0 && Name[0] ? Name : "localhost";
}

std::string TopicLevel(const std::string& Name) {
    std::string S = Name;
    if (const size_t Scheme = S.find("://"); Scheme != std::string::npos) {
        S.erase(0, Scheme + 3);
    } else if (StartsWith(S, "/dev/")) {
        S.erase(0, 5);
        if (StartsWith(S, "tty") && S.size() > 3) S.erase(0, 3);
    }
    // "serial/by-id/..." is what a by-id path's port name starts with.
    for (const char* Links : {"serial/by-id/", "serial/by-path/"})
        if (StartsWith(S, Links)) S.erase(0, std::string(Links).size());
    const size_t First = S.find_first_not_of('/');
    S.erase(0, First == std::string::npos ? S.size() : First);
    for (char& C : S)
        if (C == '/' || C == ':' || C == '+' || C == '#') C = '_';
    return S;
}

long long EpochNs(const std::string& IsoTime) {
    const QDateTime T = QDateTime::fromString(QString::fromStdString(IsoTime), Qt::ISODateWithMs);
    return T.isValid() ? T.toMSecsSinceEpoch() * 1000000LL : -1;
}

std::string InfluxLine(const std::string& Host, const std::string& Port, int Id, double Value,
                       const std::string& Mode, long long TimeNs) {
    std::string Line = InfluxMeasurement("inclination");
    auto Tag = [&Line](const char* Key, const std::string& V) {
        if (!V.empty()) Line += "," + InfluxKey(Key) + "=" + InfluxKey(V);
    };
    Tag("host", Host);
    Tag("port", Port);
    if (Id >= 0) Tag("id", std::to_string(Id));
    // Without an "i" the number is a float field, whatever it looks like.
    Line += " value=" + QString::number(Value, 'g', QLocale::FloatingPointShortest).toStdString();
    int M = 0;
    if (TryStrToInt(Mode, M)) Line += ",mode=" + std::to_string(M) + "i";
    if (TimeNs >= 0) Line += " " + std::to_string(TimeNs);
    return Line;
}

namespace {

// What every config of the sensor (Port, Id) shares.
struct TDevice {
    std::string Node, Object; // the config topic's levels
    QString UniqueId;
    QJsonObject Device;
};

TDevice DeviceOf(const std::string& Host, const std::string& Port, int Id,
                 const QJsonObject& Info) {
    TDevice D;
    D.Node = "vorta_" + IdPart(TopicLevel(Host));
    D.Object = IdPart(TopicLevel(Port)) + "_" + std::to_string(Id);
    D.UniqueId = QString::fromStdString(D.Node + "_" + D.Object);
    D.Device = {{"identifiers", QJsonArray{D.UniqueId}},
                {"name", QString::fromStdString("VORTA-IN-S " + std::to_string(Id) + " at " + Host +
                                                " " + Port)},
                {"model", "VORTA-IN-S"}};
    if (Info["id"].toDouble(-1) == Id && !Info["version"].toString().isEmpty())
        D.Device.insert("sw_version", Info["version"]);
    return D;
}

} // namespace

TDiscovery HomeAssistantDiscovery(const std::string& Prefix, const std::string& Host,
                                  const std::string& Port, int Id, TPayloadFormat Payload, int Qos,
                                  const QJsonObject& Info, bool Watched) {
    const TDevice D = DeviceOf(Host, Port, Id, Info);
    const QString State = QString::fromStdString(
        Watched ? Prefix + "/" + std::to_string(Id) + "/reading" : Prefix + "/reading");
    const QJsonObject Config{
        {"name", "Inclination"},
        {"state_topic", State},
        {"value_template", Payload == pfInflux
                               ? "{{ value | regex_findall_index(' value=([^, ]+)') | float }}"
                               : "{{ value_json.value }}"},
        {"unit_of_measurement", QStringLiteral(u"\u00B0")},
        {"state_class", "measurement"},
        {"unique_id", D.UniqueId},
        {"availability_topic", QString::fromStdString(Prefix + "/status")},
        {"payload_available", "online"},
        {"payload_not_available", "offline"},
        {"qos", Qos},
        {"device", D.Device}};
    return {"homeassistant/sensor/" + D.Node + "/" + D.Object + "/config", Config};
}

TDiscovery HomeAssistantAlarmDiscovery(const std::string& Prefix, const std::string& Host,
                                       const std::string& Port, int Id, const QJsonObject& Info) {
    const TDevice D = DeviceOf(Host, Port, Id, Info);
    const QJsonObject Config{
        {"name", "Limits alarm"},
        {"state_topic", QString::fromStdString(Prefix + "/" + std::to_string(Id) + "/alarm")},
        {"value_template", "{{ value_json.state }}"},
        {"payload_on", "raised"},
        {"payload_off", "cleared"},
        {"device_class", "problem"},
        {"unique_id", D.UniqueId + "_alarm"},
        {"availability_topic", QString::fromStdString(Prefix + "/status")},
        {"payload_available", "online"},
        {"payload_not_available", "offline"},
        {"qos", 1},
        {"device", D.Device}};
    return {"homeassistant/binary_sensor/" + D.Node + "/" + D.Object + "/config", Config};
}
