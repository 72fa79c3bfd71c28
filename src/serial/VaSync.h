// SPDX-License-Identifier: GPL-3.0-or-later
// Running a call on the user-interface thread and waiting for it.
//
// The user-interface thread is the thread of the QCoreApplication instance.
// A worker thread hands it a call with VaSynchronize and blocks until the call
// has run there. A stop request (TVaStopToken::Stop, from any thread) releases
// a waiting worker at once when its call has not started yet; that call is
// then dropped and never runs. A call that is already running is waited for,
// which cannot deadlock: if the stop comes from inside that call it does not
// wait for the worker.
#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

class TVaStopToken {
  public:
    // Marks the token stopped and drops a call still waiting to start.
    void Stop();
    bool Stopped() const;
    // True while the user-interface thread is inside a call handed over with
    // this token (the worker is then blocked until it returns).
    bool CallRunning() const;
    // True while a call handed over with this token waits for the
    // user-interface thread to start it.
    bool CallPending() const;

  private:
    friend bool VaSynchronize(const std::shared_ptr<TVaStopToken>&, std::function<void()>);
    enum TState { csNone, csPending, csRunning, csDone, csDropped };
    mutable std::mutex FLock;
    std::condition_variable FDone;
    bool FStopped = false;
    TState FState = csNone;
    unsigned FSerial = 0; // identifies the call that FState describes
};

// Runs Fn on the user-interface thread and waits until it has returned.
// Called on that thread, runs Fn directly. Returns false, without running Fn,
// when the token is or becomes stopped before Fn starts, or when there is no
// application object. An exception escaping Fn goes to the application's
// exception handler (ApplicationHandleException) and does not reach the caller.
// One worker per token at a time.
bool VaSynchronize(const std::shared_ptr<TVaStopToken>& Token, std::function<void()> Fn);

// Hands Fn to the user-interface thread without waiting. Fn runs there
// later unless the token has been stopped by then. Exceptions are handled as
// in VaSynchronize.
void VaPost(const std::shared_ptr<TVaStopToken>& Token, std::function<void()> Fn);

// True on the user-interface thread (false when there is no application).
bool VaIsMainThread();
