// SPDX-License-Identifier: GPL-3.0-or-later
// Base classes of the serial port engine: the settings base with change
// notification, the component base with free notification, the wake-up
// event and the lock, and the hook to the application's exception handler.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <vector>

#include "SysUtils.h"

// Root of the engine's objects; the Sender of every event.
class TVaObject {
  public:
    virtual ~TVaObject() = default;
};

using TVaNotifyEvent = std::function<void(TVaObject* Sender)>;

// Settings object that reports changes to its owner through OnChange.
// Changes between BeginUpdate and the matching EndUpdate are reported once,
// by that EndUpdate. Single-threaded: used on the owner's thread only.
class TVaPersistent : public TVaObject {
  public:
    int UpdateCount = 0;
    TVaNotifyEvent OnChange;

    void BeginUpdate() { ++UpdateCount; }
    void EndUpdate();
    // Raises OnChange unless an update is in progress.
    void Changed();
    // Copies every published value from Source (of the same class or a
    // descendant); any other source raises EVaAssignError.
    virtual void Assign(const TVaPersistent& Source);
};

// Raised when Assign is given an object of an unrelated class.
class EVaAssignError : public Exception {
  public:
    using Exception::Exception;
};

enum TOperation { opInsert, opRemove };

// Component base. The owner is a plain pointer kept for reference only: it
// does not own or free the component. Components that asked for a free
// notification of another are told (Notification with opRemove) when that one
// is destroyed.
class TVaComponent : public TVaObject {
  public:
    explicit TVaComponent(TVaObject* AOwner = nullptr) : FOwner(AOwner) {}
    ~TVaComponent() override;
    TVaComponent(const TVaComponent&) = delete;
    TVaComponent& operator=(const TVaComponent&) = delete;

    TVaObject* Owner() const { return FOwner; }
    // True while the component is being destroyed.
    bool Destroying() const { return FDestroying; }
    void FreeNotification(TVaComponent* AComponent);
    void RemoveFreeNotification(TVaComponent* AComponent);
    // Called after all stored settings have been written.
    virtual void Loaded() {}

  protected:
    virtual void Notification(TVaComponent* AComponent, TOperation Operation);
    bool FDestroying = false;

  private:
    TVaObject* FOwner;
    std::vector<TVaComponent*> FFreeNotifies;
};

enum TVaWaitResult { wrSignaled, wrTimeout, wrAbandoned, wrError };

// Manual-reset event on an eventfd, so that it can be waited for together
// with a device descriptor. Any thread may set, reset or wait.
class TVaHandleObject : public TVaObject {
  public:
    TVaHandleObject();
    ~TVaHandleObject() override;
    TVaHandleObject(const TVaHandleObject&) = delete;
    TVaHandleObject& operator=(const TVaHandleObject&) = delete;

    int Handle = -1;
    int LastError = 0; // errno of the last failed wait

    void SetEvent();
    void ResetEvent();
    // Timeout in milliseconds; negative waits without limit.
    TVaWaitResult WaitFor(int Timeout);
};

class TVaEvent : public TVaHandleObject {};
class TVaWaitEvent : public TVaEvent {};

// Lock; also usable as a BasicLockable (std::unique_lock, condition waits).
class TVaCriticalSection : public TVaObject {
  public:
    void Enter() { FMutex.lock(); }
    void Leave() { FMutex.unlock(); }
    void lock() { Enter(); }
    void unlock() { Leave(); }

  private:
    std::recursive_mutex FMutex;
};

// The application's exception handler for exceptions raised by event
// handlers that the engine calls. Installed once by the application; until
// then the message is written to the diagnostic output.
using TVaExceptionHandler = std::function<void(TVaObject* Sender, const std::exception& E)>;
void SetApplicationExceptionHandler(TVaExceptionHandler Handler);
// Call only inside a catch block: passes the exception being handled on.
void ApplicationHandleException(TVaObject* Sender);
