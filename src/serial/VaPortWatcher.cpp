// SPDX-License-Identifier: GPL-3.0-or-later
#include "VaPortWatcher.h"

#include "VaPorts.h"

#include <QSocketNotifier>
#include <QTimer>

#include <libudev.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

struct TPortWatcher::TImpl {
    udev* Udev = nullptr;
    udev_monitor* Monitor = nullptr;
    int Folder = -1; // inotify descriptor on the device folder
    std::unique_ptr<QSocketNotifier> Notifier;
    QTimer Debounce, Relist, Presence;
    std::function<std::vector<std::string>()> List;
    std::vector<std::string> Listed;

    ~TImpl() {
        Notifier.reset();
        if (Monitor) udev_monitor_unref(Monitor);
        if (Udev) udev_unref(Udev);
        if (Folder >= 0) close(Folder);
    }

    bool StartFolderWatch(const std::string& Path) {
        Folder = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (Folder < 0) return false;
        if (inotify_add_watch(Folder, Path.c_str(),
                              IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO) < 0) {
            close(Folder);
            Folder = -1;
            return false;
        }
        Notifier = std::make_unique<QSocketNotifier>(Folder, QSocketNotifier::Read);
        return true;
    }

    // The list read again; true when it differs from the one before.
    bool Relisted() {
        std::vector<std::string> Now = List();
        if (Now == Listed) return false;
        Listed = std::move(Now);
        return true;
    }

    // Only a running udev daemon passes events on; without it libudev makes
    // a monitor that stays silent, so its absence is tested first.
    bool StartUdev() {
        if (access("/run/udev/control", F_OK) != 0) return false;
        Udev = udev_new();
        if (!Udev) return false;
        Monitor = udev_monitor_new_from_netlink(Udev, "udev");
        if (Monitor &&
            udev_monitor_filter_add_match_subsystem_devtype(Monitor, "tty", nullptr) >= 0 &&
            udev_monitor_enable_receiving(Monitor) >= 0) {
            Notifier = std::make_unique<QSocketNotifier>(udev_monitor_get_fd(Monitor),
                                                         QSocketNotifier::Read);
            return true;
        }
        if (Monitor) udev_monitor_unref(Monitor);
        Monitor = nullptr;
        return false;
    }
};

TPortWatcher::TPortWatcher(bool UseUdev, const std::string& DeviceFolder,
                           std::function<std::vector<std::string>()> ListPorts)
    : F(std::make_unique<TImpl>()) {
    F->List = ListPorts ? std::move(ListPorts) : [] { return ListSerialPortNames(); };
    F->Debounce.setSingleShot(true);
    F->Debounce.setInterval(Debounce);
    QObject::connect(&F->Debounce, &QTimer::timeout, [this] {
        // udev's events are the ports' own; a folder's are any entry's.
        if (F->Monitor || F->Relisted())
            if (OnPortsChanged) OnPortsChanged();
    });
    F->Presence.setInterval(PresenceInterval);
    QObject::connect(&F->Presence, &QTimer::timeout, [this] {
        if (OnPresence) OnPresence(PathPresent(FPath));
    });
    if (UseUdev && F->StartUdev()) {
        QObject::connect(F->Notifier.get(), &QSocketNotifier::activated, [this] {
            // Every waiting event is taken, so the notifier does not fire again for it.
            while (udev_device* D = udev_monitor_receive_device(F->Monitor))
                udev_device_unref(D);
            F->Debounce.start();
        });
        return;
    }
    F->Listed = F->List();
    if (F->StartFolderWatch(DeviceFolder)) {
        QObject::connect(F->Notifier.get(), &QSocketNotifier::activated, [this] {
            char Events[4096];
            while (read(F->Folder, Events, sizeof Events) > 0) {
            }
            F->Debounce.start();
        });
        return;
    }
    F->Relist.setInterval(RelistInterval);
    QObject::connect(&F->Relist, &QTimer::timeout, [this] {
        if (F->Relisted() && OnPortsChanged) OnPortsChanged();
    });
    F->Relist.start();
}

TPortWatcher::~TPortWatcher() = default;

bool TPortWatcher::UsesUdev() const {
    return F->Monitor != nullptr;
}

bool TPortWatcher::Polls() const {
    return F->Relist.isActive();
}

bool TPortWatcher::PathPresent(const std::string& Path) {
    struct stat St;
    return !Path.empty() && stat(Path.c_str(), &St) == 0;
}

void TPortWatcher::WatchPath(const std::string& Path) {
    FPath = Path;
    if (Path.empty()) {
        F->Presence.stop();
        return;
    }
    if (!F->Presence.isActive()) F->Presence.start();
}
