// SPDX-License-Identifier: GPL-3.0-or-later
// The recording of a session as CSV (RFC 4180, UTF-8): one row per event,
// columns time,elapsed_s,kind,value,text,port,mode,id. Plain C++ over a
// POSIX file; the window records into a file, the command-line client prints
// the same rows.
//
// Each row goes to the file in one write() as it happens: nothing waits in a
// buffer, so a kill or a crash loses at most the row in flight. One thread:
// the owner's.
#pragma once

#include <chrono>
#include <string>

// One row's fields beside the time. Kind is "reading" (Value: the accepted
// number), "answer" (Text: the line), "sent" (Text: what a command sent) or
// "event" (Text: "connected", "lost", ...). Texts are UTF-8.
struct TRecordRow {
    std::string Kind, Value, Text, Port, Mode, Id;
};

class TRecorder {
  public:
    static constexpr const char* Header = "time,elapsed_s,kind,value,text,port,mode,id";
    static constexpr const char* LineEnd = "\r\n";

    // Field as RFC 4180 wants it (CsvField): quoted (quotes doubled) when it
    // holds a comma, a quote, CR or LF, else as it is; a NUL or an invalid
    // UTF-8 byte, which would cut the row short for many readers, as U+FFFD.
    static std::string Quote(const std::string& Field);
    // Shortest text that reads back as V (at most 12 significant digits),
    // with a point whatever the locale.
    static std::string Number(double V);
    // Time as ISO 8601 local time with milliseconds and the offset from UTC:
    // "2024-01-31T09:05:07.123+01:00".
    static std::string LocalTime(std::chrono::system_clock::time_point T);
    // One row without its line end; Elapsed in seconds, with milliseconds.
    static std::string Row(const std::string& Time, double Elapsed, const TRecordRow& R);

    TRecorder() = default;
    ~TRecorder();
    TRecorder(const TRecorder&) = delete;
    TRecorder& operator=(const TRecorder&) = delete;

    // Appends to Path (created when missing; the header goes only into a new
    // or empty file). Refuses anything but a regular file without blocking.
    // EInOutError on failure; a recording already open is stopped first.
    void Open(const std::string& Path);
    // Writes R stamped with now. EInOutError when the row cannot be written
    // or the file is no longer at its path (removed, replaced); the file is
    // closed then and Active() false. A row written in part (a full disk) is
    // cut off first: the file ends with the last whole row.
    void Write(const TRecordRow& R);
    // Flushes the file to disk (fsync) and closes it. EInOutError when that
    // fails; the file is closed all the same.
    void Close();

    bool Active() const { return FFd >= 0; }
    long Rows() const { return FRows; } // rows written since Open, header not counted
    const std::string& Path() const { return FPath; }

  private:
    void WriteAll(const std::string& Bytes);
    [[noreturn]] void Fail(const std::string& Why);

    int FFd = -1;
    long FRows = 0;
    std::string FPath;
    std::chrono::steady_clock::time_point FStart;
};
