// SPDX-License-Identifier: GPL-3.0-or-later
#include "Recorder.h"

#include "Formats.h"
#include "SysUtils.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

std::string TRecorder::Quote(const std::string& Field) {
    return CsvField(Field);
}

std::string TRecorder::Number(double V) {
    // to_chars ignores the locale: a comma locale must not split the column.
    char Buf[40];
    const auto R = std::to_chars(Buf, Buf + sizeof Buf, V, std::chars_format::general, 12);
    return std::string(Buf, R.ptr);
}

std::string TRecorder::LocalTime(std::chrono::system_clock::time_point T) {
    using namespace std::chrono;
    const auto Ms = duration_cast<milliseconds>(T.time_since_epoch()).count();
    const time_t Seconds = static_cast<time_t>(Ms >= 0 ? Ms / 1000 : (Ms - 999) / 1000);
    const int Milli = static_cast<int>(Ms - static_cast<long long>(Seconds) * 1000);
    tm Local{};
    localtime_r(&Seconds, &Local);
    const long Offset = Local.tm_gmtoff / 60; // minutes east of UTC
    const long AbsOffset = Offset < 0 ? -Offset : Offset;
    char Buf[64];
    std::snprintf(Buf, sizeof Buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02ld:%02ld",
                  Local.tm_year + 1900, Local.tm_mon + 1, Local.tm_mday, Local.tm_hour,
                  Local.tm_min, Local.tm_sec, Milli, Offset < 0 ? '-' : '+', AbsOffset / 60,
                  AbsOffset % 60);
    return Buf;
}

std::string TRecorder::Row(const std::string& Time, double Elapsed, const TRecordRow& R) {
    char Buf[40];
    const auto E = std::to_chars(Buf, Buf + sizeof Buf, Elapsed, std::chars_format::fixed, 3);
    std::string Out = Quote(Time) + ',' + std::string(Buf, E.ptr);
    for (const std::string* F : {&R.Kind, &R.Value, &R.Text, &R.Port, &R.Mode, &R.Id})
        Out += ',' + Quote(*F);
    return Out;
}

TRecorder::~TRecorder() {
    if (FFd >= 0) ::close(FFd);
}

void TRecorder::Fail(const std::string& Why) {
    const std::string Path = FPath;
    if (FFd >= 0) ::close(FFd);
    FFd = -1;
    throw EInOutError("Cannot write \"" + Path + "\": " + Why);
}

void TRecorder::WriteAll(const std::string& Bytes) {
    size_t Done = 0;
    while (Done < Bytes.size()) {
        const ssize_t N = ::write(FFd, Bytes.data() + Done, Bytes.size() - Done);
        if (N < 0 && errno == EINTR) continue;
        if (N <= 0) {
            std::string Why = N < 0 ? std::strerror(errno) : "nothing written";
            // A full disk or a size limit takes part of a row: the file is cut
            // back to its last whole row, so that it still reads as CSV. The
            // file is opened for appending, so the part is at its end.
            struct stat St {};
            if (Done > 0 && (::fstat(FFd, &St) != 0 ||
                             ::ftruncate(FFd, St.st_size - static_cast<off_t>(Done)) != 0))
                Why += std::string("; its torn last row stays: ") + std::strerror(errno);
            Fail(Why);
        }
        Done += static_cast<size_t>(N);
    }
}

void TRecorder::Open(const std::string& Path) {
    if (Active()) Close();
    FPath = Path;
    FRows = 0;
    // Non-blocking, so a FIFO in the file's place is refused instead of
    // waiting for a reader.
    const int Fd =
        ::open(Path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0644);
    if (Fd < 0) throw EInOutError("Cannot open \"" + Path + "\": " + std::strerror(errno));
    struct stat St {};
    if (::fstat(Fd, &St) != 0 || !S_ISREG(St.st_mode)) {
        ::close(Fd);
        throw EInOutError("Cannot open \"" + Path + "\": not a regular file");
    }
    ::fcntl(Fd, F_SETFL, O_APPEND);
    FFd = Fd;
    FStart = std::chrono::steady_clock::now();
    if (St.st_size == 0) WriteAll(std::string(Header) + LineEnd);
}

void TRecorder::Write(const TRecordRow& R) {
    if (!Active()) return;
    // Writes to a file that was removed or replaced would succeed and go
    // nowhere anyone looks; the recording stops instead.
    struct stat Held {
    }, Named{};
    if (::fstat(FFd, &Held) != 0 || ::stat(FPath.c_str(), &Named) != 0 ||
        Held.st_dev != Named.st_dev || Held.st_ino != Named.st_ino)
        Fail("the file was removed");
    const double Elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - FStart).count();
    WriteAll(Row(LocalTime(std::chrono::system_clock::now()), Elapsed, R) + LineEnd);
    ++FRows;
}

void TRecorder::Close() {
    if (!Active()) return;
    if (::fsync(FFd) != 0) Fail(std::strerror(errno));
    const int Fd = FFd;
    FFd = -1;
    if (::close(Fd) != 0)
        throw EInOutError("Cannot write \"" + FPath + "\": " + std::strerror(errno));
}
