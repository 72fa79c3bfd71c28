// SPDX-License-Identifier: GPL-3.0-or-later
// Notice of serial ports coming and going, for a port list that follows the
// cables and for reconnecting to a device that came back.
//
// The kernel's tty add/remove events come through libudev's monitor on a
// socket notifier; where udev is not running (a container, a minimal system)
// the device folder's entries coming and going (inotify on /dev, where the
// kernel makes the nodes itself) make the port list be read again and
// compared, and only where inotify is refused too is it read again every
// RelistInterval ms.
// Pseudo-terminals and symbolic links give no events at all, so the presence
// of one given path can also be watched by a slow stat while someone waits
// for it; otherwise nothing polls.
//
// QtCore only. Create, use and destroy on one thread with an event loop (the
// user-interface thread); the callbacks run there.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QObject;

class TPortWatcher {
  public:
    static constexpr int Debounce = 300;          // ms: one notice for a burst of events
    static constexpr int RelistInterval = 5000;   // ms, without udev
    static constexpr int PresenceInterval = 1000; // ms, while a path is watched

    // UseUdev false forces the fallback (as where udev is absent): entries of
    // DeviceFolder coming and going, then ListPorts (ListSerialPortNames when
    // empty) read again and compared.
    explicit TPortWatcher(bool UseUdev = true, const std::string& DeviceFolder = "/dev",
                          std::function<std::vector<std::string>()> ListPorts = nullptr);
    ~TPortWatcher();
    TPortWatcher(const TPortWatcher&) = delete;
    TPortWatcher& operator=(const TPortWatcher&) = delete;

    // The set of serial ports may have changed (debounced).
    std::function<void()> OnPortsChanged;
    // Each PresenceInterval while a path is watched, with whether it is
    // there now (stat follows links: a dangling link is absent).
    std::function<void(bool Present)> OnPresence;

    bool UsesUdev() const;
    // Whether the port list is read again on a clock (neither udev nor
    // inotify): the one case in which an idle watcher still wakes.
    bool Polls() const;
    // Starts (or moves) the presence check to Path; an empty Path stops it.
    void WatchPath(const std::string& Path);
    const std::string& WatchedPath() const { return FPath; }

    static bool PathPresent(const std::string& Path);

  private:
    struct TImpl;
    std::unique_ptr<TImpl> F;
    std::string FPath;
};
