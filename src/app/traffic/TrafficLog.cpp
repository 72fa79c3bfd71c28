// SPDX-License-Identifier: GPL-3.0-or-later
#include "TrafficLog.h"

#include "Recorder.h"

#include <QString>

#include <algorithm>
#include <cstdio>
#include <ctime>

const char* TrafficKindName(TTrafficKind K) {
    switch (K) {
    case TTrafficKind::Reading:
        return "reading";
    case TTrafficKind::Answer:
        return "answer";
    case TTrafficKind::Sent:
        return "sent";
    case TTrafficKind::Event:
        return "event";
    }
    return "";
}

namespace {

size_t Cost(const TTrafficEntry& E) {
    return E.Bytes.size() + E.Text.size();
}

// Columns on screen: UTF-8 continuation bytes take none.
size_t Columns(const std::string& S) {
    return static_cast<size_t>(
        std::count_if(S.begin(), S.end(), [](char C) { return (C & 0xC0) != 0x80; }));
}

} // namespace

void TTrafficLog::Append(TTrafficEntry E) {
    FBytes += Cost(E);
    FEntries.push_back(std::move(E));
    while (FEntries.size() > 1 && (FEntries.size() > MaxEntries || FBytes > MaxBytes)) {
        FBytes -= Cost(FEntries.front());
        FEntries.pop_front();
        ++FFirst;
    }
}

void TTrafficLog::Clear() {
    FFirst = End();
    std::deque<TTrafficEntry>().swap(FEntries);
    FBytes = 0;
}

std::string ClockText(std::chrono::system_clock::time_point T) {
    using namespace std::chrono;
    const auto Ms = duration_cast<milliseconds>(T.time_since_epoch()).count();
    const time_t Seconds = static_cast<time_t>(Ms >= 0 ? Ms / 1000 : (Ms - 999) / 1000);
    tm Local{};
    localtime_r(&Seconds, &Local);
    char Buf[32];
    std::snprintf(Buf, sizeof Buf, "%02d:%02d:%02d.%03d", Local.tm_hour, Local.tm_min, Local.tm_sec,
                  static_cast<int>(Ms - static_cast<long long>(Seconds) * 1000));
    return Buf;
}

std::string PrintableText(const std::string& Bytes) {
    std::string Out;
    Out.reserve(Bytes.size());
    for (const char C : Bytes) {
        const auto B = static_cast<unsigned char>(C);
        if (B >= 0x20 && B < 0x7F) {
            Out += C;
        } else {
            char Hex[8];
            std::snprintf(Hex, sizeof Hex, "\\x%02X", B);
            Out += Hex;
        }
    }
    return Out;
}

std::vector<std::string> TrafficRows(const TTrafficEntry& E, bool Hex) {
    const char* Arrow = E.Kind == TTrafficKind::Event  ? "\u2022"
                        : E.Kind == TTrafficKind::Sent ? "\u2192"
                                                       : "\u2190";
    std::string Port = E.Port;
    if (Port.size() < 8) Port.resize(8, ' ');
    const std::string Prefix = ClockText(E.Time) + ' ' + Arrow + ' ' + Port + ' ';
    if (!Hex || E.Kind == TTrafficKind::Event) return {Prefix + PrintableText(E.Text)};

    std::vector<std::string> Rows;
    const std::string Indent(Columns(Prefix), ' ');
    static const char Digits[] = "0123456789ABCDEF";
    for (size_t At = 0; At < E.Bytes.size(); At += HexPerRow) {
        const size_t N = std::min(HexPerRow, E.Bytes.size() - At);
        std::string Row = Rows.empty() ? Prefix : Indent;
        std::string Ascii;
        for (size_t i = 0; i < HexPerRow; ++i) {
            if (i > 0) Row += ' ';
            if (i >= N) {
                Row += "  ";
                continue;
            }
            const auto B = static_cast<unsigned char>(E.Bytes[At + i]);
            Row += Digits[B >> 4];
            Row += Digits[B & 15];
            Ascii += B >= 0x20 && B < 0x7F ? static_cast<char>(B) : '.';
        }
        Rows.push_back(Row + "  " + Ascii);
    }
    if (Rows.empty()) Rows.push_back(Prefix);
    return Rows;
}

std::string TrafficCsvRow(const TTrafficEntry& E, std::chrono::system_clock::time_point Start) {
    // The sensor's bytes are 8-bit text of the system's code page, as the
    // recording takes them.
    const std::string Text =
        QString::fromLocal8Bit(E.Text.data(), static_cast<qsizetype>(E.Text.size()))
            .toUtf8()
            .toStdString();
    auto Known = [](int V) { return V < 0 ? std::string() : std::to_string(V); };
    const TRecordRow Row{TrafficKindName(E.Kind),
                         E.Kind == TTrafficKind::Reading ? TRecorder::Number(E.Value) : "",
                         Text,
                         E.Port,
                         Known(E.Mode),
                         Known(E.Id)};
    const double Elapsed = std::chrono::duration<double>(E.Time - Start).count();
    return TRecorder::Row(TRecorder::LocalTime(E.Time), Elapsed, Row);
}
