// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzz entry for the lines vorta-cli watch prints of a broker's messages.
// Whatever the topic and payload, in every format: a message gives at most
// one line; the line holds no control byte (no C0 but the plain line's own
// two tab separators, no DEL, no C1), so nothing forges a line or reaches a
// terminal; a CSV row reads back as RFC 4180 into the nine columns, which
// written again give the row byte for byte, the topic among them as shown;
// a JSON line parses, its topic being the message's. The same status again
// for the same sensor gives no line.
//
// Input: byte 0 picks the format (% 3), byte 1 the topic's length (% 64);
// the topic follows, the rest is the payload.
#include "Formats.h"
#include "Watch.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

void Require(bool Ok) {
    if (!Ok) std::abort();
}

// The fields of one RFC 4180 row; false when it is none (an open quote, a
// quote inside an unquoted field, text after a closing quote).
bool CsvFields(const std::string& Row, std::vector<std::string>& Fields) {
    Fields.assign(1, "");
    for (std::size_t i = 0; i < Row.size(); ++i) {
        if (Row[i] == ',') {
            Fields.emplace_back();
        } else if (Row[i] == '"' && Fields.back().empty() && (i == 0 || Row[i - 1] == ',')) {
            for (++i;; ++i) {
                if (i >= Row.size()) return false;
                if (Row[i] != '"') {
                    Fields.back() += Row[i];
                } else if (i + 1 < Row.size() && Row[i + 1] == '"') {
                    Fields.back() += '"';
                    ++i;
                } else {
                    break;
                }
            }
            if (i + 1 < Row.size() && Row[i + 1] != ',') return false;
        } else if (Row[i] == '"') {
            return false;
        } else {
            Fields.back() += Row[i];
        }
    }
    return true;
}

void Check(TWatchOptions::TFormat Format, const std::string& Topic, const std::string& Line) {
    int Tabs = 0;
    for (std::size_t i = 0; i < Line.size(); ++i) {
        const auto C = static_cast<unsigned char>(Line[i]);
        Tabs += C == '\t';
        Require((C >= 0x20 || C == '\t') && C != 0x7F);
        Require(!(C == 0xC2 && i + 1 < Line.size() &&
                  static_cast<unsigned char>(Line[i + 1]) >= 0x80 &&
                  static_cast<unsigned char>(Line[i + 1]) <= 0x9F));
    }
    if (Format == TWatchOptions::Lines) {
        Require(Tabs == 2 &&
                Line.compare(0, PlainText(Topic.substr(0, Topic.rfind('/'))).size() + 1,
                             PlainText(Topic.substr(0, Topic.rfind('/'))) + "\t") == 0);
    } else if (Format == TWatchOptions::Csv) {
        std::vector<std::string> Fields;
        Require(Tabs == 0 && CsvFields(Line, Fields) && Fields.size() == 9);
        Require(Fields[8] == PlainText(Topic));
        std::string Again = CsvField(Fields[0]);
        for (std::size_t i = 1; i < Fields.size(); ++i)
            Again += "," + CsvField(Fields[i]);
        Require(Again == Line);
    } else {
        QJsonParseError Error;
        const QJsonDocument Doc = QJsonDocument::fromJson(QByteArray::fromStdString(Line), &Error);
        Require(Tabs == 0 && Error.error == QJsonParseError::NoError && Doc.isObject());
        const QString Shown = QString::fromUtf8(Topic.data(), qsizetype(Topic.size()));
        // An invalid byte is U+FFFD each; Qt may take a run of them as one.
        if (Shown.toUtf8().toStdString() == Topic)
            Require(Doc.object()["topic"].toString() == Shown);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Bytes, std::size_t Size) {
    if (Size < 2) return 0;
    const auto Format = static_cast<TWatchOptions::TFormat>(Bytes[0] % 3);
    const std::size_t TopicSize = std::min<std::size_t>(Bytes[1] % 64, Size - 2);
    const char* Data = reinterpret_cast<const char*>(Bytes + 2);
    const std::string Topic(Data, TopicSize), Payload(Data + TopicSize, Size - 2 - TopicSize);

    TWatchLines Lines(Format);
    const auto First = Lines.Line(Topic, Payload, "2024-01-31T09:05:07.123+01:00", 1.5);
    if (First) Check(Format, Topic, *First);
    const auto Again = Lines.Line(Topic, Payload, "2024-01-31T09:05:07.124+01:00", 1.6);
    if (Again) Check(Format, Topic, *Again);
    const bool IsStatus = Topic.size() > 7 && Topic.compare(Topic.size() - 7, 7, "/status") == 0;
    Require(!(IsStatus && Again));
    return 0;
}
