// SPDX-License-Identifier: GPL-3.0-or-later
#include "FileAccess.h"

#include "SysUtils.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// errno becomes a message here only.
[[noreturn]] void Fail(const char* What, const std::string& Path, int Error) {
    throw EInOutError(std::string(What) + " \"" + Path + "\": " + std::strerror(Error));
}
[[noreturn]] void NotRegular(const std::string& Path) {
    throw EInOutError("Cannot open \"" + Path + "\": not a regular file");
}

class TFd {
  public:
    explicit TFd(int Fd) : FFd(Fd) {}
    ~TFd() {
        if (FFd >= 0) ::close(FFd);
    }
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    int Get() const { return FFd; }
    // Closes now and reports the result (a deferred write error shows here).
    int Close() {
        const int R = ::close(FFd);
        FFd = -1;
        return R;
    }

  private:
    int FFd;
};

bool IsRegular(int Fd) {
    struct stat St {};
    return ::fstat(Fd, &St) == 0 && S_ISREG(St.st_mode);
}

// Writes all of Bytes; false with errno set on failure.
bool WriteAll(int Fd, const std::string& Bytes) {
    size_t Done = 0;
    while (Done < Bytes.size()) {
        const ssize_t N = ::write(Fd, Bytes.data() + Done, Bytes.size() - Done);
        if (N < 0 && errno == EINTR) continue;
        if (N <= 0) {
            if (N == 0) errno = EIO;
            return false;
        }
        Done += static_cast<size_t>(N);
    }
    return true;
}

std::string FolderOf(const std::string& Path) {
    const size_t Slash = Path.rfind('/');
    if (Slash == std::string::npos) return ".";
    return Slash == 0 ? "/" : Path.substr(0, Slash);
}

} // namespace

std::string ReadRegularFile(const std::string& Path, size_t Limit) {
    TFd Fd(::open(Path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (Fd.Get() < 0) Fail("Cannot open", Path, errno);
    if (!IsRegular(Fd.Get())) NotRegular(Path);
    std::string Bytes;
    char Buf[4096];
    while (Bytes.size() < Limit) {
        const size_t Want = std::min(sizeof Buf, Limit - Bytes.size());
        const ssize_t N = ::read(Fd.Get(), Buf, Want);
        if (N < 0 && errno == EINTR) continue;
        if (N < 0) Fail("Cannot read", Path, errno);
        if (N == 0) break;
        Bytes.append(Buf, static_cast<size_t>(N));
    }
    return Bytes;
}

bool RegularOrAbsent(const std::string& Path) {
    TFd Fd(::open(Path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (Fd.Get() < 0) return errno == ENOENT;
    return IsRegular(Fd.Get());
}

void ReplaceFile(const std::string& Path, const std::string& Bytes) {
    // The new file is created as a plain create would (0666 less the umask);
    // a file it replaces passes on its permissions.
    struct stat Old {};
    const bool KeepMode = ::lstat(Path.c_str(), &Old) == 0 && S_ISREG(Old.st_mode);
    const std::string Base = FolderOf(Path) + "/." + Path.substr(Path.rfind('/') + 1) + ".";
    static unsigned Counter = 0;
    std::string Temp;
    int NewFd = -1;
    for (int Try = 0; Try < 100 && NewFd < 0; ++Try) {
        Temp = Base + std::to_string(::getpid()) + "-" + std::to_string(++Counter);
        NewFd = ::open(Temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (NewFd < 0 && errno != EEXIST) break;
    }
    TFd Fd(NewFd);
    if (Fd.Get() < 0) Fail("Cannot create", Temp, errno);
    int Error = 0;
    if (!WriteAll(Fd.Get(), Bytes) || (KeepMode && ::fchmod(Fd.Get(), Old.st_mode & 07777) != 0) ||
        ::fsync(Fd.Get()) != 0)
        Error = errno;
    if (Fd.Close() != 0 && !Error) Error = errno;
    if (!Error && ::rename(Temp.c_str(), Path.c_str()) != 0) Error = errno;
    if (Error) {
        ::unlink(Temp.c_str());
        Fail("Cannot write", Path, Error);
    }
    // The rename itself reaches the disk with the folder's entry.
    TFd Dir(::open(FolderOf(Path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (Dir.Get() >= 0) ::fsync(Dir.Get());
}

void AppendToFile(const std::string& Path, const std::string& Bytes) {
    TFd Fd(::open(Path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666));
    if (Fd.Get() < 0) Fail("Cannot open", Path, errno);
    if (!IsRegular(Fd.Get())) NotRegular(Path);
    if (!WriteAll(Fd.Get(), Bytes)) Fail("Cannot write", Path, errno);
    if (Fd.Close() != 0) Fail("Cannot write", Path, errno);
}

bool FolderWritable(const std::string& Folder) {
    std::string Probe = Folder + "/.vorta-display-XXXXXX";
    const int Fd = ::mkostemp(Probe.data(), O_CLOEXEC);
    if (Fd < 0) return false;
    ::close(Fd);
    ::unlink(Probe.c_str());
    return true;
}

void MakeFolders(const std::string& Folder) {
    for (size_t Pos = 1; Pos <= Folder.size(); ++Pos) {
        if (Pos < Folder.size() && Folder[Pos] != '/') continue;
        const std::string Part = Folder.substr(0, Pos);
        if (::mkdir(Part.c_str(), 0700) != 0 && errno != EEXIST) Fail("Cannot create", Part, errno);
    }
    struct stat St {};
    if (::stat(Folder.c_str(), &St) != 0 || !S_ISDIR(St.st_mode))
        Fail("Cannot create", Folder, ENOTDIR);
}
