// SPDX-License-Identifier: GPL-3.0-or-later
// What vorta-cli prints, in one place for every command: plain lines, the
// recording's CSV rows (the same header and row writer as a recording, so a
// file of either kind reads alike), and JSON objects whose numbers are
// numbers. Every text that came from the sensor or a broker goes through
// Formats.h: shown escaped in plain lines and CSV fields, escaped as JSON
// wants it, so that none can forge a line or reach the terminal as a
// command. Standard output only; the owner's thread.
#pragma once

#include "Formats.h"
#include "Limits.h"
#include "Recorder.h"
#include "SensorSession.h"

#include <QElapsedTimer>
#include <QJsonValue>

#include <string>

// V as one line of JSON, written by Formats.h's escaping (every control
// character, DEL and C1 escaped), members in Qt's order.
std::string JsonText(const QJsonValue& V);

class TOutput {
  public:
    enum TFormat { Plain, Csv, Json, Influx };
    explicit TOutput(TFormat Format);

    TFormat Format() const { return FFormat; }
    // The CSV header: the recording's columns, then Extra ones (",topic").
    // Nothing in the other formats.
    void Header(const std::string& Extra = "");
    // A reading: its value (plain), a recording's row with its text, port,
    // mode and id (the elapsed time counts from this output's making), one
    // flat JSON object (as Polled's, with the frame's "text"), or a line of
    // InfluxDB line protocol.
    bool Reading(const TReading& R);
    // From now on each reading is judged by L and one outside is marked: a
    // suffix "  below min" or "  above max" (plain), the CSV's last column
    // limit ("", "low", "high"; Header adds it), a string field limit="low"
    // or "high" (InfluxDB), a member "limit": "low" or "high" (JSON).
    void MarkLimits(const TLimits& L);
    long Outside() const { return FOutside; } // readings printed outside the limits
    // A reading of one of several sensors: "ID<tab>value" (plain), the
    // recording's row as Reading, one flat JSON object {"time": .., "id": n,
    // "value": n, "mode": n or null, "port": ..}, or line protocol; marked as Reading.
    bool Polled(const TReading& R);
    // The Information fields: "key: value" lines, or one JSON object.
    void Info(const TSensorIdentity& I);
    // A scan's answer: "ID<tab>value", or {"id": n, "value": n}.
    bool Found(int Id, double Value);
    // A recording's row stamped Time, with Extra columns after it.
    bool Row(const std::string& Time, const TRecordRow& R, const std::string& Extra = "");
    // One line, flushed, written as it is (the caller escapes what it did not
    // make). False when the reader went away (a closed pipe).
    bool Line(const std::string& Text);

    // A reading's value as a plain line shows it: at most 12 significant digits.
    static std::string Number(double V);

  private:
    static TJsonObject ReadingJson(const TReading& R);
    TFormat FFormat;
    QElapsedTimer FClock;
    std::string FHost; // for the line protocol's tag
    bool FMark = false;
    TLimits FLimits;
    long FOutside = 0;
};
