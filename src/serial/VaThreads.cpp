// SPDX-License-Identifier: GPL-3.0-or-later
#include "VaThreads.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>

#include <QSocketNotifier>
#include <sys/eventfd.h>
#include <unistd.h>

// One batch at a time reaches the user-interface thread, and the count a
// handler sees is taken when the batch runs there. The thread does not block
// until the batch has run: it goes on watching the device and merges what it
// sees into the outstanding batch. This saves a thread switch per batch and
// means the thread never waits for the user-interface thread, so stopping it
// can always wait for it to end.
void TVaCommEventThread::Post(uint32_t Batch) {
    if (Pending->fetch_or(Batch) != 0) return;
    if (Wake >= 0) {
        const uint64_t One = 1;
        // Fails only when the counter would overflow, with a wake-up due.
        [[maybe_unused]] ssize_t Written = ::write(Wake, &One, sizeof One);
        return;
    }
    TVaCustomComm* O = Owner;
    std::shared_ptr<std::atomic<uint32_t>> P = Pending;
    VaPost(Token, [O, P] {
        if (uint32_t M = P->exchange(0)) O->DispatchEvents(M);
    });
}

TVaBatchNotifier::TVaBatchNotifier(TVaCustomComm* AOwner,
                                   std::shared_ptr<std::atomic<uint32_t>> APending)
    : FOwner(AOwner), FPending(std::move(APending)), FFd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    if (FFd < 0) return;
    FNotifier = new QSocketNotifier(FFd, QSocketNotifier::Read);
    QObject::connect(FNotifier, &QSocketNotifier::activated, [this] { Activated(); });
}

TVaBatchNotifier::~TVaBatchNotifier() {
    delete FNotifier;
    if (FFd >= 0) ::close(FFd);
}

// The wake-up is cleared before the batch is taken: a batch begun after the
// take writes again and is not lost.
void TVaBatchNotifier::Activated() {
    uint64_t Count;
    if (::read(FFd, &Count, sizeof Count) < 0 && errno != EAGAIN) return;
    if (uint32_t M = FPending->exchange(0)) {
        FInside = true;
        FOwner->DispatchEvents(M);
        FInside = false;
    }
    if (FDisposed) delete this;
}

void TVaBatchNotifier::Dispose(TVaBatchNotifier* N) {
    if (!N) return;
    if (!N->FInside) {
        delete N;
        return;
    }
    if (N->FNotifier) N->FNotifier->setEnabled(false);
    N->FDisposed = true;
}

// Modem lines and break change without a byte arriving, and the end of a
// direct write comes without any event of the descriptor; both are looked at
// in a poll. The host's blocking wait for modem lines (TIOCMIWAIT) cannot be
// woken by the stop signal, only by a line change or a signal to the thread,
// so Close would depend on the line or on signals; a poll bounded by the stop
// event keeps Close immediate. It runs only while it has something to look
// for: modem events monitored on a device that counts line transitions (a
// UART, not a pseudo-terminal), or a direct write still draining. Line errors
// need no poll: they come with the bytes they spoil, and every wake-up
// compares the counters.
static const int ModemPollMs = 50;
static const int TxPollMs = 10;

void TVaCommEventThread::Execute() {
    VaPosix::TInputWatch Watch(Fd, WaitEvent.Handle, TxEvent.Handle, Net ? Net->NoticeFd() : -1);
    if (Watch.Error()) return;
    VaPosix::TErrorCounters Seen;
    bool HaveCounters = VaPosix::ReadErrorCounters(Fd, Seen) == 0;
    const bool PollModem =
        HaveCounters && (Mask & (EV_CTS | EV_DSR | EV_RLSD | EV_RING | EV_BREAK)) != 0;
    bool TxPending = false;                 // a direct write has not drained yet
    uint64_t NetErrors = 0, NetDropped = 0; // a network port's counters as last reported
    while (!Terminated) {
        int Timeout = TxPending ? TxPollMs : PollModem ? ModemPollMs : -1;
        int Error = 0;
        int Bits = Watch.Wait(Error, Timeout);
        if (Terminated || (Bits & VaPosix::wWake)) break;
        if (Bits & VaPosix::wFailed) {
            Pause(WaitEvent);
            continue;
        }
        bool Hangup = (Bits & VaPosix::wHangup) != 0;
        EvtMask = 0;
        if (Net) {
            if (Bits & VaPosix::wNotice) {
                Net->TakeNotice();
                Watch.HoldDevice(false);
                EvtMask |= EV_RXCHAR;
            }
            if ((Bits & VaPosix::wReadable) && !Hangup) {
                bool Ready = false, Hold = false;
                const int E = Net->Pump(Ready, Hold);
                if (Ready) EvtMask |= EV_RXCHAR;
                if (Hold) Watch.HoldDevice(true);
                if (VaPosix::IsHangupError(E))
                    Hangup = true;
                else if (E != 0)
                    Pause(WaitEvent);
            }
            // Telnet's protocol errors and dropped replies are the line
            // errors of a network port (VaComm's TakeLineErrors).
            if (Net->ProtocolErrors() != NetErrors || Net->DroppedReplies() != NetDropped) {
                NetErrors = Net->ProtocolErrors();
                NetDropped = Net->DroppedReplies();
                EvtMask |= EV_ERR;
            }
        } else if (Bits & VaPosix::wReadable) {
            EvtMask |= EV_RXCHAR;
        }
        if (Bits & VaPosix::wKick) {
            // Reset before the queue is looked at: a write after this point
            // sets it again and is looked at on the next pass.
            TxEvent.ResetEvent();
            TxPending = (Mask & EV_TXEMPTY) != 0;
        }
        if (HaveCounters && !Hangup) {
            VaPosix::TErrorCounters Now;
            if (VaPosix::ReadErrorCounters(Fd, Now) == 0) {
                if (Now.Count[4] != Seen.Count[4]) EvtMask |= EV_BREAK;
                if (std::memcmp(Now.Count, Seen.Count, sizeof Now.Count) != 0) EvtMask |= EV_ERR;
                if (Now.Cts != Seen.Cts) EvtMask |= EV_CTS;
                if (Now.Dsr != Seen.Dsr) EvtMask |= EV_DSR;
                if (Now.Dcd != Seen.Dcd) EvtMask |= EV_RLSD;
                if (Now.Ring != Seen.Ring) EvtMask |= EV_RING;
                Seen = Now;
            }
        }
        if (TxPending && !Hangup) {
            int Out = 0;
            int E = VaPosix::OutQueue(Fd, Out);
            if (E != 0 || Out == 0) TxPending = false;
            if (E == 0 && Out == 0) EvtMask |= EV_TXEMPTY;
        }
        if (Hangup) {
            // Reported once as an I/O error; afterwards this thread leaves
            // the device alone.
            TxPending = false;
            Owner->NoteHangup();
            if (Owner->FHangup.load() != 2) EvtMask |= EV_ERR;
        }
        uint32_t Batch = EvtMask & Mask;
        if (Batch) Post(Batch);
        if (Hangup) break;
    }
}

bool TVaCommWriteThread::Write(const void* Bytes, int Count) {
    std::unique_lock<TVaCriticalSection> L(Owner->WriteLock);
    auto Fits = [&] { return int64_t(Buffer.Size) + Count <= Buffer.Capacity(); };
    if (!Fits()) {
        uint32_t Start = VaTickCount();
        uint32_t Limit = uint32_t(Owner->Buffers().WriteTimeout());
        while (!Fits()) {
            uint32_t Now = VaTickCount();
            if (VaTimeoutPassed(Start, Now, Limit)) return false;
            uint32_t Elapsed = Now - Start;
            uint32_t Left = Elapsed < Limit ? Limit - Elapsed + 1 : 1;
            FRoom.wait_for(L, std::chrono::milliseconds(Left));
        }
    }
    Buffer.Add(Bytes, Count);
    DataEvent.SetEvent();
    return true;
}

void TVaCommWriteThread::WriteDone(int Count) {
    bool Empty;
    {
        std::lock_guard<TVaCriticalSection> L(Owner->WriteLock);
        Buffer.Remove(Count);
        Empty = Buffer.Size == 0;
        // Reset under the lock, so that bytes added meanwhile are not missed.
        if (Empty)
            DataEvent.ResetEvent();
        else
            DataEvent.SetEvent();
        FRoom.notify_all();
    }
    // Not waited for: a user-interface thread that keeps writing without
    // running its event loop must not stall the queue behind this report.
    // One report stands for every drain until it has run.
    if (Empty && !Terminated && !TxEmptyPending->exchange(true)) {
        TVaCustomComm* O = Owner;
        std::shared_ptr<std::atomic<bool>> Pending = TxEmptyPending;
        VaPost(Token, [O, Pending] {
            *Pending = false;
            try {
                O->DoCommEvents(EV_TXEMPTY);
            } catch (...) {
                ApplicationHandleException(O);
            }
        });
    }
}

void TVaCommWriteThread::Execute() {
    using namespace VaPosix;
    bool Dead = false;       // the device hung up: wait for the stop request only
    bool NetPending = false; // a network port's output waits for its socket
    while (!Terminated) {
        int Error = 0;
        int Bits = NetPending ? WaitDevice(Fd, true, CloseEvent.Handle, -1, Error)
                              : WaitDevice(DataEvent.Handle, false, CloseEvent.Handle, -1, Error);
        if (Terminated || (Bits & wWake)) break;
        if (Bits & wFailed) {
            Pause(CloseEvent);
            continue;
        }
        if (Dead) {
            CloseEvent.WaitFor(-1);
            continue;
        }
        const uint8_t* Data;
        int N;
        {
            std::lock_guard<TVaCriticalSection> L(Owner->WriteLock);
            Data = Buffer.Data();
            N = Buffer.Size;
            if (N == 0) DataEvent.ResetEvent();
        }
        if (N == 0 && !NetPending) continue;
        int Done = 0;
        if (Net) {
            Error = Net->Flush(NetPending);
            if (Error == 0 && NetPending && (Bits & wHangup)) Error = EIO;
            if (Error == 0 && N > 0) Error = Net->Write(Data, N, Done);
            if (Error == 0) Error = Net->Flush(NetPending);
        } else if (N > 0) {
            Error = WriteDevice(Fd, Data, N, Done);
        }
        if (Done > 0) {
            WriteDone(Done);
        } else if (Error == 0 && N > 0 && !NetPending) {
            // The driver's queue is full: wait until it takes bytes again.
            Bits = WaitDevice(Fd, true, CloseEvent.Handle, -1, Error);
            if (Bits & wWake) break;
            if (Bits & wFailed) Pause(CloseEvent);
            if (Bits & wHangup) Error = EIO;
        }
        if (Error != 0 && Done == 0) {
            if (IsHangupError(Error)) {
                Owner->NoteHangup();
                Dead = true;
            } else {
                Pause(CloseEvent);
            }
            if (!Terminated) Dispatch(EV_ERR);
        }
    }
}
