// SPDX-License-Identifier: GPL-3.0-or-later
// What dashboards read without glue code: topic levels of a fixed depth,
// InfluxDB line protocol (Telegraf, InfluxDB) and Home Assistant's MQTT
// discovery. Plain functions of their arguments; any thread.
#pragma once

#include <QJsonObject>

#include <string>

// How a reading's message is written: flat JSON (Node-RED and the like) or
// one line of InfluxDB line protocol (Telegraf's mqtt_consumer).
enum TPayloadFormat { pfJson, pfInflux };

// This machine's name, "localhost" when it has none.
std::string HostName();

// A port or host name as exactly one topic level, so that every sensor's
// topics have the same depth: a network port loses its scheme
// ("rfc2217://10.0.0.5:4001" -> "10.0.0.5_4001"), a device path becomes its
// port name ("/dev/ttyUSB0" -> "USB0"), a /dev/serial/by-id (or by-path)
// link its own name, leading '/' go, and '/', ':', '+' and '#' become '_'
// ("pts/3" -> "pts_3"). Anything else is kept, for the topic check to judge.
std::string TopicLevel(const std::string& Name);

// Nanoseconds since the epoch of a time written as IsoTimeNow writes it
// (milliseconds and offset); -1 for any other text.
long long EpochNs(const std::string& IsoTime);

// One reading as a line of InfluxDB line protocol, without the newline:
//   inclination,host=H,port=P,id=5 value=12.5,mode=0i 1714557600123000000
// Tag values are escaped as InfluxKey (Formats.h) writes them: ',', '=',
// ' ' and '\' get a backslash, control characters become '_'. An empty
// tag, an Id < 0 and a Mode that is no whole number are left out. Value
// must be finite (every reading is); TimeNs as EpochNs gives.
std::string InfluxLine(const std::string& Host, const std::string& Port, int Id, double Value,
                       const std::string& Mode, long long TimeNs);

// Home Assistant's MQTT discovery of sensor Id (>= 0) on Host's Port,
// publishing below Prefix: the retained config's topic,
// homeassistant/sensor/vorta_<host>/<port>_<id>/config (each level of
// [A-Za-z0-9_-] only, as Home Assistant wants), and its message. The topic,
// the unique id and the device's identifiers depend on the host, the port
// and the ID only, so that one sensor is one device whichever program or
// command publishes it and under whichever prefix; the state topic is the
// publisher's: PREFIX/reading, or PREFIX/<id>/reading for a sensor polled
// on the shared line (Watched). Info is the info message's object
// (InformationJson) or empty; its version goes in the device block when its
// id is Id.
struct TDiscovery {
    std::string Topic;
    QJsonObject Config;
};
TDiscovery HomeAssistantDiscovery(const std::string& Prefix, const std::string& Host,
                                  const std::string& Port, int Id, TPayloadFormat Payload, int Qos,
                                  const QJsonObject& Info, bool Watched = false);
// The same sensor's alarm as a binary sensor of the device class "problem"
// (homeassistant/binary_sensor/vorta_<host>/<port>_<id>/config), on
// PREFIX/<id>/alarm: on while "raised", off once "cleared", and unavailable
// while PREFIX/status is "offline".
TDiscovery HomeAssistantAlarmDiscovery(const std::string& Prefix, const std::string& Host,
                                       const std::string& Port, int Id, const QJsonObject& Info);
// Home Assistant says "online" here when it starts: the configs go again.
constexpr const char* HomeAssistantStatusTopic = "homeassistant/status";
