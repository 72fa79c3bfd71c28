// SPDX-License-Identifier: GPL-3.0-or-later
#include "VaClasses.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

void TVaPersistent::EndUpdate() {
    if (UpdateCount > 0) --UpdateCount;
    Changed();
}

void TVaPersistent::Changed() {
    if (UpdateCount == 0 && OnChange) OnChange(this);
}

void TVaPersistent::Assign(const TVaPersistent&) {
    throw EVaAssignError("Cannot assign settings of a different kind");
}

TVaComponent::~TVaComponent() {
    FDestroying = true;
    // Copy first: a notified component removes itself from our list.
    std::vector<TVaComponent*> Notifies;
    Notifies.swap(FFreeNotifies);
    for (TVaComponent* C : Notifies) {
        C->RemoveFreeNotification(this);
        C->Notification(this, opRemove);
    }
}

void TVaComponent::FreeNotification(TVaComponent* AComponent) {
    if (!AComponent || AComponent == this) return;
    if (std::find(FFreeNotifies.begin(), FFreeNotifies.end(), AComponent) == FFreeNotifies.end())
        FFreeNotifies.push_back(AComponent);
    // Both directions, so whichever goes first unregisters from the other.
    auto& Other = AComponent->FFreeNotifies;
    if (std::find(Other.begin(), Other.end(), this) == Other.end()) Other.push_back(this);
}

void TVaComponent::RemoveFreeNotification(TVaComponent* AComponent) {
    FFreeNotifies.erase(std::remove(FFreeNotifies.begin(), FFreeNotifies.end(), AComponent),
                        FFreeNotifies.end());
}

void TVaComponent::Notification(TVaComponent*, TOperation) {}

TVaHandleObject::TVaHandleObject() {
    Handle = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (Handle < 0) LastError = errno;
}

TVaHandleObject::~TVaHandleObject() {
    if (Handle >= 0) close(Handle);
}

void TVaHandleObject::SetEvent() {
    uint64_t One = 1;
    // A full counter is still signalled, so a failed write loses nothing.
    if (write(Handle, &One, sizeof One) < 0) LastError = errno;
}

void TVaHandleObject::ResetEvent() {
    uint64_t Value;
    if (read(Handle, &Value, sizeof Value) < 0 && errno != EAGAIN) LastError = errno;
}

TVaWaitResult TVaHandleObject::WaitFor(int Timeout) {
    if (Handle < 0) return wrError;
    pollfd P{Handle, POLLIN, 0};
    for (;;) {
        int R = poll(&P, 1, Timeout < 0 ? -1 : Timeout);
        if (R > 0) return (P.revents & POLLIN) ? wrSignaled : wrError;
        if (R == 0) return wrTimeout;
        if (errno != EINTR) {
            LastError = errno;
            return wrError;
        }
    }
}

namespace {
std::mutex HandlerLock;
TVaExceptionHandler AppHandler;
} // namespace

void SetApplicationExceptionHandler(TVaExceptionHandler Handler) {
    std::lock_guard<std::mutex> L(HandlerLock);
    AppHandler = std::move(Handler);
}

void ApplicationHandleException(TVaObject* Sender) {
    TVaExceptionHandler H;
    {
        std::lock_guard<std::mutex> L(HandlerLock);
        H = AppHandler;
    }
    auto Report = [&](const std::exception& E) {
        if (H) {
            try {
                H(Sender, E);
            } catch (...) {
                // The handler of last resort must not throw into the engine.
            }
        } else {
            std::fprintf(stderr, "%s\n", E.what());
        }
    };
    try {
        throw;
    } catch (const std::exception& E) {
        Report(E);
    } catch (...) {
        Report(Exception("Unknown exception"));
    }
}
