// SPDX-License-Identifier: GPL-3.0-or-later
// What the traffic window keeps: every line received, every command sent and
// the session's events, each with its time, port and the bytes as they went
// over the wire; bounded like the answer log. And the forms an entry is shown
// and saved in: a text row, rows of hex beside ASCII, a row of the
// recording's CSV. User-interface thread only.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

// The recording's kinds of row.
enum class TTrafficKind { Reading, Answer, Sent, Event };
const char* TrafficKindName(TTrafficKind K); // "reading", "answer", "sent", "event"

struct TTrafficEntry {
    std::chrono::system_clock::time_point Time;
    TTrafficKind Kind = TTrafficKind::Event;
    std::string Port;  // the device's port name ("pts/3")
    std::string Bytes; // exactly as on the wire; empty for an event
    // The line as the receiver gave it, the command as the console shows it,
    // or the event; the sensor's 8-bit text.
    std::string Text;
    double Value = 0;       // a reading's
    int Mode = -1, Id = -1; // the sensor's, as known then; -1 unknown
};

class TTrafficLog {
  public:
    // Keeps E; then, while over a bound, the oldest entry goes (the newest
    // always stays).
    void Append(TTrafficEntry E);
    void Clear();
    // Entries are numbered from the first ever appended: First() is the
    // oldest kept, End() one past the newest.
    uint64_t First() const { return FFirst; }
    uint64_t End() const { return FFirst + FEntries.size(); }
    const TTrafficEntry& At(uint64_t N) const { return FEntries[N - FFirst]; }
    size_t Bytes() const { return FBytes; }

    size_t MaxEntries = 50000;
    size_t MaxBytes = 4 * 1024 * 1024; // wire bytes plus text bytes

  private:
    std::deque<TTrafficEntry> FEntries;
    uint64_t FFirst = 0;
    size_t FBytes = 0;
};

// "hh:mm:ss.zzz" in local time.
std::string ClockText(std::chrono::system_clock::time_point T);
// Printable ASCII as it is, every other byte as "\xNN": nothing the wire
// carried is hidden or taken for another character.
std::string PrintableText(const std::string& Bytes);
// The rows an entry is shown in (UTF-8): time, direction ("→" sent, "←"
// received, "•" an event), port, then its text; with Hex, its bytes as hex
// beside ASCII, HexPerRow bytes a row, the rows after the first indented.
// An event has one row either way.
constexpr size_t HexPerRow = 16;
std::vector<std::string> TrafficRows(const TTrafficEntry& E, bool Hex);
// The entry as a row of the recording (TRecorder::Row, without its line end),
// Elapsed counted from Start; the text in UTF-8.
std::string TrafficCsvRow(const TTrafficEntry& E, std::chrono::system_clock::time_point Start);
