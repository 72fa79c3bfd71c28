// SPDX-License-Identifier: GPL-3.0-or-later
// vorta-cli watch: the fleet's readings from an MQTT broker, one line each.
#pragma once

#include "MqttClient.h"

#include <map>
#include <optional>
#include <string>

struct TWatchOptions {
    TMqttOptions Mqtt;
    std::string Filter = "vorta/#";
    int Qos = 0;
    enum TFormat { Lines, Csv, Json } Format = Lines;
    int DurationS = 0; // 0: until SIGINT or SIGTERM
};

// Runs on the caller's event loop until a signal or the duration; returns
// the exit status (0, or 3 when the broker refused or cannot be used).
// Throws EMqttError for bad options.
int RunWatch(const TWatchOptions& Options);

// What the watch prints for each message of the broker: a decoder of what
// anyone with access to the broker may publish. A message gives at most one
// line, and every text taken from its topic or payload is escaped (Formats.h),
// so that no payload forges a line for another sensor, cuts a CSV row short
// or reaches the terminal as a command:
//   Lines  "SENSOR<tab>TIME<tab>VALUE" of a reading, "SENSOR<tab>NOW<tab>offline"
//          of a sensor turning offline, each field PlainText;
//   Csv    the recording's row (Header's columns, then the topic), each text
//          PlainText in an RFC 4180 field;
//   Json   {"topic": .., "payload": the payload's object, else its text} of
//          every message.
// A status repeated for the same sensor is told once; at most
// StatusesFollowed sensors are followed for that, and a status of one beyond
// them is told each time it comes (counted in Unfollowed). Owner's thread.
class TWatchLines {
  public:
    explicit TWatchLines(TWatchOptions::TFormat Format) : FFormat(Format) {}
    // The CSV's header line; "" in the other formats.
    std::string Header() const;
    // The line Payload on Topic gives, without a line end; nothing for a
    // message that is none of ours. Now stamps a status line; Elapsed (s) is
    // the CSV's elapsed column.
    std::optional<std::string> Line(const std::string& Topic, const std::string& Payload,
                                    const std::string& Now, double Elapsed);
    long Unfollowed() const { return FUnfollowed; }
    static constexpr std::size_t StatusesFollowed = 4096;

  private:
    TWatchOptions::TFormat FFormat;
    std::map<std::string, std::string> FLastStatus; // sensor -> "online"/"offline"
    long FUnfollowed = 0;
};
