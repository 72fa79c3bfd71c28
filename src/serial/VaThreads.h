// SPDX-License-Identifier: GPL-3.0-or-later
// The component's worker threads: the event thread, which watches the device
// for received bytes, line errors and modem-line changes, and the write
// thread, which drains the write queue. Both hand their events to the
// user-interface thread (VaSync.h). Used by VaComm.cpp only.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <thread>

#include "VaComm.h"
#include "VaNet.h"
#include "VaPosix.h"
#include "VaSync.h"

// A worker that keeps itself alive while it runs. After Stop it touches
// neither its owner nor the descriptor; Release waits for it to end unless
// the user-interface thread is inside the worker's own dispatch (Close called
// from a handler), in which case the worker ends on its own once that
// dispatch returns.
class TVaThread {
  public:
    explicit TVaThread(TVaCustomComm* AOwner, int AFd) : Owner(AOwner), Fd(AFd) {}
    virtual ~TVaThread() = default;

    void Start(const std::shared_ptr<TVaThread>& Self, TThreadPriority APriority) {
        Priority = APriority;
        Thread = std::thread([Self] {
            Self->Tid = VaPosix::CurrentThreadId();
            VaPosix::SetThreadPriority(Self->Tid, Self->Priority);
            Self->Execute();
        });
    }
    // User-interface thread, racing the start of the thread: the thread
    // publishes its id before it reads Priority, and this stores Priority
    // before it reads the id, so one of the two applies the new value
    // (both atomics are sequentially consistent).
    void SetPriority(TThreadPriority P) {
        Priority = P;
        VaPosix::SetThreadPriority(Tid, P);
    }
    virtual void Stop() {
        Terminated = true;
        Token->Stop();
    }
    void Release() {
        if (!Thread.joinable()) return;
        if (Token->CallRunning() || Thread.get_id() == std::this_thread::get_id())
            Thread.detach();
        else
            Thread.join();
    }

  protected:
    virtual void Execute() = 0;
    // Hands a batch to the user-interface thread and waits for it; handler
    // exceptions go to the application, never back into this thread.
    void Dispatch(uint32_t Mask) {
        TVaCustomComm* O = Owner;
        VaSynchronize(Token, [O, Mask] {
            try {
                O->DoCommEvents(Mask);
            } catch (...) {
                ApplicationHandleException(O);
            }
        });
    }
    // A pause before retrying a failing call; ends early on a stop request.
    void Pause(TVaWaitEvent& StopEvent) { StopEvent.WaitFor(100); }

    std::atomic<bool> Terminated{false};
    std::shared_ptr<TVaStopToken> Token = std::make_shared<TVaStopToken>();
    TVaCustomComm* Owner;
    int Fd;
    std::atomic<int> Tid{0};
    std::atomic<TThreadPriority> Priority{tpNormal};
    std::thread Thread;
};

class TVaCommEventThread : public TVaThread {
  public:
    // Events waiting for the user-interface thread; not 0 while a dispatch
    // is on its way there. Events seen meanwhile join that dispatch.
    std::shared_ptr<std::atomic<uint32_t>> Pending = std::make_shared<std::atomic<uint32_t>>(0);
    // The user-interface thread's wake-up (TVaBatchNotifier), set before the
    // thread starts; -1: batches go through VaPost.
    int Wake = -1;
    TVaCommEventThread(TVaCustomComm* AOwner, int AFd, uint32_t AMask)
        : TVaThread(AOwner, AFd), Mask(AMask) {}
    uint32_t EvtMask = 0;
    // A network port's connection (set before the thread starts), else null:
    // the thread then reads the socket into the device itself (Pump).
    VaNet::TNetDevice* Net = nullptr;
    TVaWaitEvent WaitEvent; // the stop signal
    TVaWaitEvent TxEvent;   // set by a direct write: report when it has drained

    void Stop() override {
        TVaThread::Stop();
        WaitEvent.SetEvent();
    }

  protected:
    void Execute() override;
    void Post(uint32_t Batch);
    uint32_t Mask;
};

class QSocketNotifier;

// The user-interface thread's end of the event thread's hand-off: an eventfd
// watched by a socket notifier, so that a batch costs the event thread one
// write and no allocation. Created and disposed of on the user-interface
// thread only.
class TVaBatchNotifier {
  public:
    TVaBatchNotifier(TVaCustomComm* AOwner, std::shared_ptr<std::atomic<uint32_t>> APending);
    ~TVaBatchNotifier();
    TVaBatchNotifier(const TVaBatchNotifier&) = delete;
    TVaBatchNotifier& operator=(const TVaBatchNotifier&) = delete;
    int Fd() const { return FFd; }
    // Once the event thread has ended: frees N at once, or when called from
    // inside N's own dispatch (Close in a handler), as soon as it returns.
    static void Dispose(TVaBatchNotifier* N);

  private:
    void Activated();
    TVaCustomComm* FOwner;
    std::shared_ptr<std::atomic<uint32_t>> FPending;
    int FFd = -1;
    QSocketNotifier* FNotifier = nullptr;
    bool FInside = false, FDisposed = false;
};

class TVaCommWriteThread : public TVaThread {
  public:
    TVaCommWriteThread(TVaCustomComm* AOwner, int AFd, int Capacity)
        : TVaThread(AOwner, AFd), Buffer(Capacity) {}
    TVaCommBuffer Buffer;
    // A network port's connection (set before the thread starts), else null.
    VaNet::TNetDevice* Net = nullptr;
    TVaWaitEvent DataEvent;
    TVaWaitEvent CloseEvent;
    TVaWaitEvent IoEvent;

    void Stop() override {
        TVaThread::Stop();
        CloseEvent.SetEvent();
    }
    // Caller's thread: queues Count bytes, waiting up to Buffers.WriteTimeout
    // for room. False when the bytes could not be queued.
    bool Write(const void* Bytes, int Count);

  protected:
    void Execute() override;
    void WriteDone(int Count);
    std::condition_variable_any FRoom;
    std::shared_ptr<std::atomic<bool>> TxEmptyPending = std::make_shared<std::atomic<bool>>(false);
};
