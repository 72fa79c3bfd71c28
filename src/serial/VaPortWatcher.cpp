// SPDX-License-Identifier: GPL-3.0-or-later
#include "VaPortWatcher.h"

#include "VaPorts.h"

#include <QSocketNotifier>
#include <QTimer>

#include <libudev.h>
#include <sys/stat.h>
#include <unistd.h>

struct TPortWatcher::TImpl {
    udev* Udev = nullptr;
    udev_monitor* Monitor = nullptr;
    std::unique_ptr<QSocketNotifier> Notifier;
    QTimer Debounce, Relist, Presence;
    std::vector<std::string> Listed;

    ~TImpl() {
        Notifier.reset();
        if (Monitor) udev_monitor_unref(Monitor);
        if (Udev) udev_unref(Udev);
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

TPortWatcher::TPortWatcher(bool UseUdev) : F(std::make_unique<TImpl>()) {
    F->Debounce.setSingleShot(true);
    F->Debounce.setInterval(Debounce);
    QObject::connect(&F->Debounce, &QTimer::timeout, [this] {
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
    F->Listed = ListSerialPortNames();
    F->Relist.setInterval(RelistInterval);
    QObject::connect(&F->Relist, &QTimer::timeout, [this] {
        std::vector<std::string> Now = ListSerialPortNames();
        if (Now == F->Listed) return;
        F->Listed = std::move(Now);
        if (OnPortsChanged) OnPortsChanged();
    });
    F->Relist.start();
}

TPortWatcher::~TPortWatcher() = default;

bool TPortWatcher::UsesUdev() const {
    return F->Monitor != nullptr;
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
