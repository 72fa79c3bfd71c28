#include "VaComm.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>

#include "VaPosix.h"
#include "VaSync.h"

// ---------------------------------------------------------------- helpers

uint32_t VaTickCount() {
    using namespace std::chrono;
    return uint32_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

bool VaTimeoutPassed(uint32_t Start, uint32_t Now, uint32_t Limit) {
    uint32_t Elapsed = Now >= Start ? Now - Start : Now + (0xFFFFFFFFu - Start);
    return Elapsed > Limit;
}

// The device name pattern holds at most one number: "%d" takes PortNum and
// "%%" a percent sign; anything else is copied as it stands, so that a stray
// conversion in the pattern can never read a missing argument.
static std::string FormatDeviceName(const std::string& Pattern, int Num) {
    std::string R;
    bool Used = false;
    for (size_t i = 0; i < Pattern.size(); ++i) {
        if (Pattern[i] == '%' && i + 1 < Pattern.size()) {
            if (Pattern[i + 1] == '%') {
                R += '%';
                ++i;
                continue;
            }
            if (Pattern[i + 1] == 'd' && !Used) {
                R += std::to_string(Num);
                Used = true;
                ++i;
                continue;
            }
        }
        R += Pattern[i];
    }
    return R;
}

// ---------------------------------------------------------------- write queue

TVaCommBuffer::TVaCommBuffer(int Capacity)
    : FData(new uint8_t[size_t(std::max(Capacity, 1))]), FCapacity(std::max(Capacity, 0)) {}

void TVaCommBuffer::Add(const void* Bytes, int N) {
    if (N <= 0) return;
    std::memcpy(FData.get() + Size, Bytes, size_t(N));
    Size += N;
}

void TVaCommBuffer::Remove(int N) {
    N = std::min(std::max(N, 0), Size);
    std::memmove(FData.get(), FData.get() + N, size_t(Size - N));
    Size -= N;
}

// ---------------------------------------------------------------- threads

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
    TThreadPriority Priority = tpNormal;
    std::thread Thread;
};

class TVaCommEventThread : public TVaThread {
public:
    TVaCommEventThread(TVaCustomComm* AOwner, int AFd, uint32_t AMask)
        : TVaThread(AOwner, AFd), Mask(AMask) {}
    uint32_t EvtMask = 0;
    TVaWaitEvent WaitEvent;  // the stop signal
    TVaWaitEvent TxEvent;    // set by a direct write: report when it has drained

    void Stop() override {
        TVaThread::Stop();
        WaitEvent.SetEvent();
    }

protected:
    void Execute() override;
    void Post(uint32_t Batch);
    uint32_t Mask;
    // Events waiting for the user-interface thread; not 0 while a dispatch
    // is on its way there. Events seen meanwhile join that dispatch.
    std::shared_ptr<std::atomic<uint32_t>> Pending = std::make_shared<std::atomic<uint32_t>>(0);
};

// One batch at a time reaches the user-interface thread, and the count a
// handler sees is taken when the batch runs there. The thread does not block
// until the batch has run: it goes on watching the device and merges what it
// sees into the outstanding batch. This saves a thread switch per batch and
// means the thread never waits for the user-interface thread, so stopping it
// can always wait for it to end.
void TVaCommEventThread::Post(uint32_t Batch) {
    if (Pending->fetch_or(Batch) != 0) return;
    TVaCustomComm* O = Owner;
    std::shared_ptr<std::atomic<uint32_t>> P = Pending;
    VaPost(Token, [O, P] {
        if (uint32_t M = P->exchange(0)) O->DispatchEvents(M);
    });
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
    VaPosix::TInputWatch Watch(Fd, WaitEvent.Handle, TxEvent.Handle);
    if (Watch.Error()) return;
    VaPosix::TErrorCounters Seen;
    bool HaveCounters = VaPosix::ReadErrorCounters(Fd, Seen) == 0;
    const bool PollModem =
        HaveCounters && (Mask & (EV_CTS | EV_DSR | EV_RLSD | EV_RING | EV_BREAK)) != 0;
    bool TxPending = false;  // a direct write has not drained yet
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
        if (Bits & VaPosix::wReadable) EvtMask |= EV_RXCHAR;
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

class TVaCommWriteThread : public TVaThread {
public:
    TVaCommWriteThread(TVaCustomComm* AOwner, int AFd, int Capacity)
        : TVaThread(AOwner, AFd), Buffer(Capacity) {}
    TVaCommBuffer Buffer;
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
    bool Dead = false;  // the device hung up: wait for the stop request only
    while (!Terminated) {
        int Error = 0;
        int Bits = WaitDevice(DataEvent.Handle, false, CloseEvent.Handle, -1, Error);
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
        if (N == 0) continue;
        int Done = 0;
        Error = WriteDevice(Fd, Data, N, Done);
        if (Done > 0) {
            WriteDone(Done);
        } else if (Error == 0) {
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

// ---------------------------------------------------------------- component

TVaCustomComm::TVaCustomComm(TVaObject* AOwner)
    : TVaComponent(AOwner),
      FEventChars(new TVaEventChars),
      FFlowControl(new TVaFlowControl),
      FBuffers(new TVaBuffers) {
    FEventChars->OnChange = [this](TVaObject* S) { SettingsChanged(S); };
    FFlowControl->OnChange = [this](TVaObject* S) { SettingsChanged(S); };
    FBuffers->OnChange = [this](TVaObject* S) { BuffersChanged(S); };
    ApplyEventMask();
}

TVaCustomComm::~TVaCustomComm() {
    FDestroying = true;
    try {
        Close();
    } catch (...) {
        // A destructor cannot report; the descriptor is closed regardless.
    }
    for (TVaCommLink* L : Links) L->Comm = nullptr;
    Links.clear();
}

void TVaCustomComm::SettingsChanged(TVaObject*) { ApplyCommState(); }

void TVaCustomComm::BuffersChanged(TVaObject*) {
    CheckClosed();
    ApplyBufferSizes();
    ApplyCommState();
}

void TVaCustomComm::SetBaudrate(TVaBaudrate V) {
    if (V == FBaudrate) return;
    FBaudrate = V;
    if (V != brUser) FUserBaudrate = 0;
    ApplyCommState();
}

void TVaCustomComm::SetUserBaudrate(int V) {
    if (V == FUserBaudrate) return;
    FUserBaudrate = V;
    FBaudrate = brUser;
    ApplyCommState();
}

void TVaCustomComm::SetParity(TVaParity V) {
    if (V == FParity) return;
    FParity = V;
    ApplyCommState();
}

void TVaCustomComm::SetDatabits(TVaDatabits V) {
    if (V == FDatabits) return;
    FDatabits = V;
    ApplyCommState();
}

void TVaCustomComm::SetStopbits(TVaStopbits V) {
    if (V == FStopbits) return;
    FStopbits = V;
    ApplyCommState();
}

void TVaCustomComm::SetOptions(TVaCommOptions V) {
    if (V == FOptions) return;
    FOptions = V;
    ApplyCommState();
}

void TVaCustomComm::SetBuffers(const TVaBuffers& V) {
    CheckClosed();
    FBuffers->Assign(V);
}

void TVaCustomComm::SetPortNum(int V) {
    CheckClosed();
    FPortNum = V < 0 ? 0 : V;
}

void TVaCustomComm::SetDeviceName(const std::string& V) {
    CheckClosed();
    FDeviceName = V;
}

void TVaCustomComm::SetMonitorEvents(TVaCommEvents V) {
    CheckClosed();
    FMonitorEvents = V;
    ApplyEventMask();
}

void TVaCustomComm::SetDirectWrite(bool V) {
    CheckClosed();
    FDirectWrite = V;
    ApplyEventMask();
}

void TVaCustomComm::SetUpdateDCB(bool V) {
    CheckClosed();
    FUpdateDCB = V;
}

void TVaCustomComm::SetEventPriority(TThreadPriority V) {
    if (V == FEventPriority) return;
    FEventPriority = V;
    if (FEventThread) FEventThread->SetPriority(V);
}

void TVaCustomComm::SetWritePriority(TThreadPriority V) {
    if (V == FWritePriority) return;
    FWritePriority = V;
    if (FWriteThread) FWriteThread->SetPriority(V);
}

void TVaCustomComm::SetDisplay(TVaDisplay* V) {
    if (V == FDisplay) return;
    if (FDisplay) {
        FDisplay->RemoveFreeNotification(this);
        RemoveFreeNotification(FDisplay);
    }
    FDisplay = V;
    if (V) V->FreeNotification(this);
}

void TVaCustomComm::Notification(TVaComponent* AComponent, TOperation Operation) {
    TVaComponent::Notification(AComponent, Operation);
    if (Operation == opRemove && AComponent == FDisplay) FDisplay = nullptr;
}

void TVaCustomComm::Loaded() {
    TVaComponent::Loaded();
    if (FAutoOpen) Open();
}

std::string TVaCustomComm::DeviceFileName() const { return DeviceDisplayName(); }

std::string TVaCustomComm::DeviceDisplayName() const {
    return FormatDeviceName(FDeviceName, FPortNum);
}

void TVaCustomComm::RaiseCommError(TVaCommFailure Failure, int Error) {
    throw EVaCommError(VaCommErrorText(Failure, Error, DeviceDisplayName()));
}

void TVaCustomComm::CheckResult(bool Ok, TVaCommFailure Failure, int Error) {
    if (!Ok) RaiseCommError(Failure, Error);
}

void TVaCustomComm::CheckClosed() {
    if (Active()) throw EVaCommError("Can't perform this operation while port is open");
}

// ---------------------------------------------------------------- open/close

void TVaCustomComm::CreateHandle() {
    int Error = 0;
    int Fd = VaPosix::OpenDevice(DeviceFileName(), Error);
    if (Fd < 0) RaiseCommError(TVaCommFailure::Open, Error);
    FHandle = Fd;
}

void TVaCustomComm::DestroyHandle() {
    VaPosix::CloseDevice(FHandle);
    FHandle = -1;
}

void TVaCustomComm::Open() {
    CheckClosed();
    CreateHandle();
    FHangup = 0;
    VaPosix::TErrorCounters C;
    FHaveCounters = VaPosix::ReadErrorCounters(FHandle, C) == 0;
    if (FHaveCounters) std::memcpy(FErrorBase, C.Count, sizeof C.Count);
    try {
        ApplyCommState();
        ApplyBufferSizes();
        ApplyTimeouts();
        ApplyEventMask();
        CreateThreads();
    } catch (...) {
        DestroyThreads();
        DestroyHandle();
        throw;
    }
    DoOpen();
}

void TVaCustomComm::Close() {
    if (!Active()) return;
    DestroyThreads();
    DestroyHandle();
    DoClose();
}

void TVaCustomComm::DoOpen() {
    if (!OnOpen) return;
    try {
        OnOpen(this);
    } catch (...) {
        ApplicationHandleException(this);
    }
}

void TVaCustomComm::DoClose() {
    if (!FDestroying && OnClose) OnClose(this);
}

void TVaCustomComm::CreateThreads() {
    if (FEventMask != 0) {
        FEventThread = std::make_shared<TVaCommEventThread>(this, FHandle, FEventMask);
        FEventThread->Start(FEventThread, FEventPriority);
    }
    if (!FDirectWrite) {
        FWriteThread = std::make_shared<TVaCommWriteThread>(this, FHandle, FBuffers->WriteSize());
        FWriteThread->Start(FWriteThread, FWritePriority);
    }
}

void TVaCustomComm::DestroyThreads() {
    std::shared_ptr<TVaThread> Threads[2];
    ReadLock.Enter();
    Threads[0] = std::move(FEventThread);
    Threads[1] = std::move(FWriteThread);
    for (auto& T : Threads)
        if (T) T->Stop();
    ReadLock.Leave();
    // Waited for outside the lock: a stopped worker never takes it, but the
    // user-interface thread must not hold a lock while it waits.
    for (auto& T : Threads)
        if (T) T->Release();
}

// ---------------------------------------------------------------- settings

void TVaCustomComm::ApplyCommState() {
    if (!Active() || !FUpdateDCB) return;
    VaPosix::TLineSettings S;
    GetLineSettings(S);
    int Error = VaPosix::SetLineSettings(FHandle, S);
    CheckResult(Error == 0, TVaCommFailure::WriteDcb, Error);
}

void TVaCustomComm::GetLineSettings(VaPosix::TLineSettings& S) const {
    static const int Rates[] = {0,     110,   300,   600,   1200,  2400,   4800,   9600,
                                14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000};
    S.Baud = FBaudrate == brUser ? FUserBaudrate : Rates[FBaudrate];
    S.ByteSize = 4 + int(FDatabits);
    S.Parity = int(FParity);
    S.StopBits = int(FStopbits);
    const TVaFlowControl& F = *FFlowControl;
    S.OutCtsFlow = F.OutCtsFlow();
    S.OutDsrFlow = F.OutDsrFlow();
    S.XonXoffOut = F.XonXoffOut();
    S.XonXoffIn = F.XonXoffIn();
    S.DsrSensitivity = F.DsrSensitivity();
    S.TxContinueOnXoff = F.TxContinueOnXoff();
    S.DtrControl = int(F.ControlDtr());
    S.RtsControl = int(F.ControlRts());
    S.ErrorChar = FOptions & VaOption(coErrorChar);
    S.NullStrip = FOptions & VaOption(coNullStrip);
    S.ParityCheck = FOptions & VaOption(coParityCheck);
    S.XonChar = FEventChars->XonChar();
    S.XoffChar = FEventChars->XoffChar();
    S.EofChar = FEventChars->EofChar();
}

void TVaCustomComm::ApplyBufferSizes() {
    // The driver's queues have fixed sizes on this platform; the write
    // queue takes Buffers.WriteSize when the threads start.
}

void TVaCustomComm::ApplyTimeouts() {
    if (!Active()) return;
    int Error = VaPosix::SetRawMode(FHandle);
    CheckResult(Error == 0, TVaCommFailure::Timeouts, Error);
}

void TVaCustomComm::ApplyEventMask() {
    static const uint32_t Bits[] = {EV_BREAK, EV_CTS,    EV_DSR,      EV_ERR,    EV_RING,
                                    EV_RLSD,  EV_RXCHAR, EV_TXEMPTY,  EV_RXFLAG, EV_PERR,
                                    EV_RX80FULL, EV_EVENT1, EV_EVENT2};
    uint32_t Mask = 0;
    for (int i = 0; i <= ceEvent2; ++i)
        if (FMonitorEvents & (1u << i)) Mask |= Bits[i];
    // The write thread reports the end of transmission itself.
    if (!FDirectWrite) Mask &= ~uint32_t(EV_TXEMPTY);
    FEventMask = Mask;
}

// ---------------------------------------------------------------- I/O

int TVaCustomComm::WriteBuf(const void* Buf, int Count) {
    if (!Active() || Count < 0) return 0;
    if (!FDirectWrite) {
        if (!FWriteThread->Write(Buf, Count))
            throw EVaCommError("Output buffer is full. Please check comm status.");
        return Count;
    }
    std::lock_guard<TVaCriticalSection> L(WriteLock);
    const uint8_t* P = static_cast<const uint8_t*>(Buf);
    int Total = 0;
    uint32_t Start = VaTickCount();
    uint32_t Limit = uint32_t(FBuffers->ReadTimeout());
    while (Total < Count) {
        int Done = 0;
        int Error = VaPosix::WriteDevice(FHandle, P + Total, Count - Total, Done);
        if (Error != 0) {
            if (VaPosix::IsHangupError(Error)) {
                NoteHangup();
                break;
            }
            RaiseCommError(TVaCommFailure::Write, Error);
        }
        Total += Done;
        if (Total == Count) break;
        uint32_t Now = VaTickCount();
        if (VaTimeoutPassed(Start, Now, Limit)) break;
        int Ignored = 0;
        int Bits = VaPosix::WaitDevice(FHandle, true, -1, int(Limit - (Now - Start)) + 1, Ignored);
        if (Bits & VaPosix::wHangup) {
            NoteHangup();
            break;
        }
    }
    if (Total > 0 && FEventThread) FEventThread->TxEvent.SetEvent();
    return Total;
}

bool TVaCustomComm::WriteText(const std::string& Text) {
    return WriteBuf(Text.data(), int(Text.size())) == int(Text.size());
}

int TVaCustomComm::ReadBuf(void* Buf, int Count) {
    if (!Active() || Count <= 0) return 0;
    std::lock_guard<TVaCriticalSection> L(ReadLock);
    int Done = 0;
    int Error = VaPosix::ReadDevice(FHandle, Buf, Count, Done);
    if (Error != 0) {
        if (!VaPosix::IsHangupError(Error)) RaiseCommError(TVaCommFailure::Read, Error);
        NoteHangup();
    }
    return Done;
}

std::string TVaCustomComm::ReadText() {
    int N = InQueCount();
    if (N <= 0) return std::string();
    std::string S(size_t(N), '\0');
    S.resize(size_t(ReadBuf(&S[0], N)));
    return S;
}

int TVaCustomComm::InQueCount() {
    if (!Active()) return 0;
    TVaComStat Stat;
    ReadStatus(Stat, false);
    return Stat.cbInQue;
}

bool TVaCustomComm::Vanished() const {
    if (!Active()) return false;
    return FHangup.load() != 0 || !VaPosix::SameDevice(FHandle, DeviceFileName());
}

bool TVaCustomComm::NoteHangup() {
    int Expected = 0;
    return FHangup.compare_exchange_strong(Expected, 1);
}

uint32_t TVaCustomComm::ReadStatus(TVaComStat& Stat, bool TakeHangup) {
    std::lock_guard<TVaCriticalSection> L(ReadLock);
    Stat = TVaComStat();
    if (!Active()) return 0;
    uint32_t Bits = 0;
    int Error = VaPosix::InQueue(FHandle, Stat.cbInQue);
    if (Error != 0) {
        if (!VaPosix::IsHangupError(Error)) RaiseCommError(TVaCommFailure::Statistics, Error);
        NoteHangup();
    }
    if (TakeHangup) VaPosix::OutQueue(FHandle, Stat.cbOutQue);
    VaPosix::TErrorCounters C;
    Error = FHaveCounters ? VaPosix::ReadErrorCounters(FHandle, C) : ENOTTY;
    if (Error == 0) {
        static const uint32_t Flags[5] = {CE_RXOVER, CE_OVERRUN, CE_RXPARITY, CE_FRAME, CE_BREAK};
        for (int i = 0; i < 5; ++i)
            if (C.Count[i] != FErrorBase[i]) Bits |= Flags[i];
        std::memcpy(FErrorBase, C.Count, sizeof C.Count);
    } else if (VaPosix::IsHangupError(Error)) {
        NoteHangup();
    }
    int Noted = 1;
    if (TakeHangup && FHangup.compare_exchange_strong(Noted, 2)) Bits |= CE_IOE;
    return Bits;
}

uint32_t TVaCustomComm::GetCommErrors(TVaComStat& Stat) { return ReadStatus(Stat, true); }

uint32_t TVaCustomComm::GetCommErrors() {
    TVaComStat Stat;
    return ReadStatus(Stat, true);
}

void TVaCustomComm::EscapeComm(int Func) {
    if (!Active()) return;
    int Error = VaPosix::EscapeFunction(FHandle, Func);
    CheckResult(Error == 0, TVaCommFailure::Function, Error);
}

void TVaCustomComm::SetDTR(bool On) {
    if (FFlowControl->ControlDtr() == dtrHandshake)
        throw EVaCommError("DTR line updates not allowed when flowcontrol is set to Handshake.");
    EscapeComm(On ? SETDTR : CLRDTR);
}

void TVaCustomComm::SetRTS(bool On) {
    TVaControlRts R = FFlowControl->ControlRts();
    if (R == rtsHandshake || R == rtsToggle)
        throw EVaCommError(
            "RTS line updates not allowed when flowcontrol is set to Handshake or Toggle.");
    EscapeComm(On ? SETRTS : CLRRTS);
}

// ---------------------------------------------------------------- events

void TVaCustomComm::AttachLink(TVaCommLink* Link) {
    if (!Link || std::find(Links.begin(), Links.end(), Link) != Links.end()) return;
    Links.push_back(Link);
    Link->Comm = this;
}

void TVaCustomComm::DetachLink(TVaCommLink* Link) {
    auto It = std::find(Links.begin(), Links.end(), Link);
    if (It == Links.end()) return;
    Links.erase(It);
    Link->Comm = nullptr;
}

void TVaCustomComm::NotifyDisplay() {
    if (FDisplay) FDisplay->NotifyDisplay(this);
}

void TVaCustomComm::DispatchEvents(uint32_t Mask) {
    try {
        NotifyDisplay();
        if (Mask & EV_RXCHAR) {
            DoRxChar();
            Mask &= ~uint32_t(EV_RXCHAR);
        }
        if (Mask) DoCommEvents(Mask);
    } catch (...) {
        ApplicationHandleException(this);
    }
}

void TVaCustomComm::DoRxChar() {
    int N = InQueCount();
    if (N <= 0) return;
    if (!Links.empty()) {
        std::unique_ptr<uint8_t[]> Block(new uint8_t[size_t(N)]);
        int Got = ReadBuf(Block.get(), N);
        DoRxBuf(Block.get(), Got);
    } else if (OnRxChar) {
        OnRxChar(this, N);
    }
}

void TVaCustomComm::DoRxBuf(const uint8_t* Data, int Count) {
    for (TVaCommLink* L : Links)
        if (L->Active) L->LinkRxBuf(Data, Count);
    if (OnRxBuf) OnRxBuf(this, Data, Count);
}

void TVaCustomComm::DoLinkEvents(uint32_t Mask) {
    for (TVaCommLink* L : Links)
        if (L->Active) L->LinkEvents(Mask);
}

bool TVaCustomComm::DoError() {
    uint32_t Errors = GetCommErrors();
    if (Errors != 0 && OnError) {
        try {
            OnError(this, int(Errors));
        } catch (...) {
            ApplicationHandleException(this);
        }
    }
    return Errors != 0;
}

void TVaCustomComm::DoCommEvents(uint32_t Mask) {
    if (Mask & EV_ERR) DoError();
    if (!Links.empty()) DoLinkEvents(Mask);
    const std::pair<uint32_t, TVaNotifyEvent*> Order[] = {
        {EV_RXFLAG, &OnRxFlag}, {EV_CTS, &OnCts},         {EV_DSR, &OnDsr},
        {EV_RING, &OnRing},     {EV_RLSD, &OnRlsd},       {EV_TXEMPTY, &OnTxEmpty},
        {EV_BREAK, &OnBreak},   {EV_PERR, &OnPErr},       {EV_RX80FULL, &OnRx80Full},
        {EV_EVENT1, &OnEvent1}, {EV_EVENT2, &OnEvent2}};
    for (const auto& E : Order)
        if ((Mask & E.first) && *E.second) (*E.second)(this);
}
