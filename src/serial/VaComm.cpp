// SPDX-License-Identifier: GPL-3.0-or-later
#include "VaComm.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "VaNet.h"
#include "VaPosix.h"
#include "VaSync.h"
#include "VaThreads.h"

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

// ---------------------------------------------------------------- component

TVaCustomComm::TVaCustomComm(TVaObject* AOwner)
    : TVaComponent(AOwner), FEventChars(new TVaEventChars), FFlowControl(new TVaFlowControl),
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
    for (TVaCommLink* L : Links)
        L->Comm = nullptr;
    Links.clear();
}

void TVaCustomComm::SettingsChanged(TVaObject*) {
    ApplyCommState();
}

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

std::string TVaCustomComm::DeviceFileName() const {
    return DeviceDisplayName();
}

std::string TVaCustomComm::DeviceDisplayName() const {
    return FormatDeviceName(FDeviceName, FPortNum);
}

void TVaCustomComm::RaiseCommError(TVaCommFailure Failure, int Error) {
    const std::string Text = VaCommErrorText(Failure, Error, DeviceDisplayName());
    if (Failure == TVaCommFailure::Open) throw EVaCommOpenError(Text, Error);
    throw EVaCommError(Text);
}

void TVaCustomComm::CheckResult(bool Ok, TVaCommFailure Failure, int Error) {
    if (!Ok) RaiseCommError(Failure, Error);
}

void TVaCustomComm::CheckClosed() {
    if (Active()) throw EVaCommError("Can't perform this operation while port is open");
}

// ---------------------------------------------------------------- open/close

void TVaCustomComm::CreateHandle() {
    const std::string Name = DeviceFileName();
    if (VaNet::IsNetworkPort(Name)) {
        VaNet::TAddress A;
        std::string Why;
        if (!VaNet::ParseAddress(Name, A, Why)) throw EVaCommOpenError(Why, EINVAL);
        FNet = VaNet::TNetDevice::Open(A);
        FHandle = FNet->Fd();
        return;
    }
    int Error = 0;
    int Fd = VaPosix::OpenDevice(DeviceFileName(), Error);
    if (Fd < 0) RaiseCommError(TVaCommFailure::Open, Error);
    FHandle = Fd;
}

void TVaCustomComm::DestroyHandle() {
    std::lock_guard<TVaCriticalSection> L(ReadLock);
    if (FNet)
        FNet.reset();
    else
        VaPosix::CloseDevice(FHandle);
    FHandle = -1;
    FRxHead = FRxEnd = 0;
}

void TVaCustomComm::Open() {
    CheckClosed();
    CreateHandle();
    FHangup = 0;
    VaPosix::TErrorCounters C;
    FHaveCounters = !FNet && VaPosix::ReadErrorCounters(FHandle, C) == 0;
    if (FHaveCounters) std::memcpy(FErrorBase, C.Count, sizeof C.Count);
    FNetErrorBase[0] = FNetErrorBase[1] = 0;
    // Allocated here once, so that receiving allocates nothing.
    FRxBuf.resize(size_t(std::max(FBuffers->ReadSize(), 256)));
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
        FEventThread->Net = FNet.get();
        // The notifier belongs to the user-interface thread; opened on
        // another thread, the component hands its batches through VaPost.
        if (VaIsMainThread()) {
            FBatchNotifier = new TVaBatchNotifier(this, FEventThread->Pending);
            FEventThread->Wake = FBatchNotifier->Fd();
        }
        FEventThread->Start(FEventThread, FEventPriority);
    }
    if (!FDirectWrite) {
        FWriteThread = std::make_shared<TVaCommWriteThread>(this, FHandle, FBuffers->WriteSize());
        FWriteThread->Net = FNet.get();
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
    TVaBatchNotifier::Dispose(FBatchNotifier);
    FBatchNotifier = nullptr;
}

// ---------------------------------------------------------------- settings

void TVaCustomComm::ApplyCommState() {
    if (!Active() || !FUpdateDCB) return;
    VaPosix::TLineSettings S;
    GetLineSettings(S);
    int Error = FNet ? FNet->SetLineSettings(S) : VaPosix::SetLineSettings(FHandle, S);
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
    if (!Active() || FNet) return; // a socket has no terminal modes
    int Error = VaPosix::SetRawMode(FHandle);
    CheckResult(Error == 0, TVaCommFailure::Timeouts, Error);
}

void TVaCustomComm::ApplyEventMask() {
    static const uint32_t Bits[] = {EV_BREAK,    EV_CTS,    EV_DSR,     EV_ERR,    EV_RING,
                                    EV_RLSD,     EV_RXCHAR, EV_TXEMPTY, EV_RXFLAG, EV_PERR,
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
    // A network port's escaped output may wait in the device for its socket:
    // a direct write returns once it has gone, as a tty's bytes have.
    bool Pending = false;
    while (Total < Count || Pending) {
        int Done = 0;
        int Error = Total < Count ? DeviceWrite(P + Total, Count - Total, Done) : 0;
        if (Error == 0 && FNet) Error = FNet->Flush(Pending);
        if (Error != 0) {
            if (VaPosix::IsHangupError(Error)) {
                NoteHangup();
                break;
            }
            RaiseCommError(TVaCommFailure::Write, Error);
        }
        Total += Done;
        if (Total == Count && !Pending) break;
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
    int Done = std::min(Count, RxBuffered());
    std::memcpy(Buf, FRxBuf.data() + FRxHead, size_t(Done));
    FRxHead += Done;
    if (FRxHead == FRxEnd) FRxHead = FRxEnd = 0;
    if (Done < Count) {
        int Got = 0;
        int Error = DeviceRead(static_cast<uint8_t*>(Buf) + Done, Count - Done, Got);
        Done += Got;
        if (Error != 0) {
            if (!VaPosix::IsHangupError(Error)) RaiseCommError(TVaCommFailure::Read, Error);
            NoteHangup();
        }
    }
    FRxQuota = std::max(FRxQuota - Done, 0);
    return Done;
}

std::string TVaCustomComm::ReadText() {
    if (!Active()) return std::string();
    std::lock_guard<TVaCriticalSection> L(ReadLock);
    // Takes the line errors, as the queue query it stands for would.
    TakeLineErrors();
    // Inside OnRxChar, the bytes that dispatch counted and no more: what
    // arrived since wakes the event thread again and comes with the next
    // dispatch. Normally they are all in the receive buffer already, and the
    // driver is not asked again.
    size_t Limit = FRxQuota > 0 ? size_t(FRxQuota) : std::string::npos;
    std::string S;
    bool Pulled = false;
    for (;;) {
        size_t Take = std::min(size_t(RxBuffered()), Limit - S.size());
        S.append(reinterpret_cast<const char*>(FRxBuf.data() + FRxHead), Take);
        FRxHead += int(Take);
        if (FRxHead == FRxEnd) FRxHead = FRxEnd = 0;
        // Short of the limit the buffer is empty; done once the driver is.
        if (S.size() == Limit || (Pulled && FRxDrained)) break;
        PullInput();
        Pulled = true;
    }
    FRxQuota = 0;
    return S;
}

int TVaCustomComm::InQueCount() {
    if (!Active()) return 0;
    TVaComStat Stat;
    ReadStatus(Stat, false);
    return Stat.cbInQue;
}

void TVaCustomComm::PullInput() {
    if (FRxHead > 0) {
        std::memmove(FRxBuf.data(), FRxBuf.data() + FRxHead, size_t(RxBuffered()));
        FRxEnd -= FRxHead;
        FRxHead = 0;
    }
    FRxDrained = false;
    while (FRxEnd < int(FRxBuf.size())) {
        int Space = int(FRxBuf.size()) - FRxEnd;
        int Done = 0;
        int Error = DeviceRead(FRxBuf.data() + FRxEnd, Space, Done);
        FRxEnd += Done;
        if (Error != 0) {
            if (!VaPosix::IsHangupError(Error)) RaiseCommError(TVaCommFailure::Read, Error);
            NoteHangup();
        }
        if (Error != 0 || Done < Space) {
            FRxDrained = true;
            return;
        }
    }
}

int TVaCustomComm::DeviceRead(void* Buf, int Count, int& Done) {
    return FNet ? FNet->Read(Buf, Count, Done) : VaPosix::ReadDevice(FHandle, Buf, Count, Done);
}

int TVaCustomComm::DeviceWrite(const void* Buf, int Count, int& Done) {
    return FNet ? FNet->Write(Buf, Count, Done) : VaPosix::WriteDevice(FHandle, Buf, Count, Done);
}

int TVaCustomComm::DeviceInQueue(int& Count) {
    return FNet ? FNet->InQueue(Count) : VaPosix::InQueue(FHandle, Count);
}

TVaCustomComm::TNetCounters TVaCustomComm::NetCounters() const {
    TNetCounters C;
    if (!FNet) return C;
    C.ProtocolErrors = FNet->ProtocolErrors();
    C.DroppedReplies = FNet->DroppedReplies();
    C.InputHolds = FNet->InputHolds();
    return C;
}

bool TVaCustomComm::Vanished() const {
    if (!Active()) return false;
    if (FHangup.load() != 0) return true;
    return !FNet && !VaPosix::SameDevice(FHandle, DeviceFileName());
}

bool TVaCustomComm::NoteHangup() {
    int Expected = 0;
    return FHangup.compare_exchange_strong(Expected, 1);
}

uint32_t TVaCustomComm::ReadStatus(TVaComStat& Stat, bool TakeHangup) {
    std::lock_guard<TVaCriticalSection> L(ReadLock);
    Stat = TVaComStat();
    if (!Active()) return 0;
    int Error = DeviceInQueue(Stat.cbInQue);
    if (Error != 0) {
        if (!VaPosix::IsHangupError(Error)) RaiseCommError(TVaCommFailure::Statistics, Error);
        NoteHangup();
    }
    Stat.cbInQue += RxBuffered();
    if (TakeHangup && FNet) FNet->OutQueue(Stat.cbOutQue);
    if (TakeHangup && !FNet) VaPosix::OutQueue(FHandle, Stat.cbOutQue);
    uint32_t Bits = TakeLineErrors();
    if (TakeHangup) Bits |= TakeNetErrors();
    int Noted = 1;
    if (TakeHangup && FHangup.compare_exchange_strong(Noted, 2)) Bits |= CE_IOE;
    return Bits;
}

// Under ReadLock: a network port's line errors since the last call. Its
// line is the Telnet stream: a protocol error there spoils bytes as a
// framing error does, and a reply dropped for want of room is a full
// transmit queue. Taken by GetCommErrors only, not by the reads, so that
// they reach OnError through the EV_ERR that the event thread raises.
uint32_t TVaCustomComm::TakeNetErrors() {
    if (!FNet) return 0;
    const uint64_t Now[2] = {FNet->ProtocolErrors(), FNet->DroppedReplies()};
    const uint32_t Bits = (Now[0] != FNetErrorBase[0] ? CE_FRAME : 0u) |
                          (Now[1] != FNetErrorBase[1] ? CE_TXFULL : 0u);
    FNetErrorBase[0] = Now[0];
    FNetErrorBase[1] = Now[1];
    return Bits;
}

// Under ReadLock: the line errors counted since the last call.
uint32_t TVaCustomComm::TakeLineErrors() {
    if (!FHaveCounters) return 0;
    VaPosix::TErrorCounters C;
    int Error = VaPosix::ReadErrorCounters(FHandle, C);
    if (Error != 0) {
        if (VaPosix::IsHangupError(Error)) NoteHangup();
        return 0;
    }
    static const uint32_t Flags[5] = {CE_RXOVER, CE_OVERRUN, CE_RXPARITY, CE_FRAME, CE_BREAK};
    uint32_t Bits = 0;
    for (int i = 0; i < 5; ++i)
        if (C.Count[i] != FErrorBase[i]) Bits |= Flags[i];
    std::memcpy(FErrorBase, C.Count, sizeof C.Count);
    return Bits;
}

uint32_t TVaCustomComm::GetCommErrors(TVaComStat& Stat) {
    return ReadStatus(Stat, true);
}

uint32_t TVaCustomComm::GetCommErrors() {
    TVaComStat Stat;
    return ReadStatus(Stat, true);
}

void TVaCustomComm::EscapeComm(int Func) {
    if (!Active()) return;
    int Error = FNet ? FNet->Escape(Func) : VaPosix::EscapeFunction(FHandle, Func);
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

// The count comes from reading what is waiting into the receive buffer, not
// from a separate queue query: one call to the driver per dispatch, and the
// handler's ReadText hands out exactly the bytes counted. Without a handler
// the bytes stay in the driver.
void TVaCustomComm::DoRxChar() {
    if (Links.empty() && !OnRxChar) {
        InQueCount(); // takes the line errors all the same
        return;
    }
    int N;
    {
        std::lock_guard<TVaCriticalSection> L(ReadLock);
        if (!Active()) return;
        TakeLineErrors();
        PullInput();
        N = RxBuffered();
        if (!FRxDrained) {
            // More than the buffer holds: the rest is counted where it is.
            int More = 0;
            DeviceInQueue(More);
            N += More;
        }
        if (Links.empty()) FRxQuota = N;
    }
    if (N <= 0) return;
    if (!Links.empty()) {
        std::unique_ptr<uint8_t[]> Block(new uint8_t[size_t(N)]);
        int Got = ReadBuf(Block.get(), N);
        DoRxBuf(Block.get(), Got);
    } else {
        struct TReset {
            TVaCustomComm* C;
            ~TReset() {
                std::lock_guard<TVaCriticalSection> L(C->ReadLock);
                C->FRxQuota = 0;
            }
        } Reset{this};
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
        {EV_RXFLAG, &OnRxFlag}, {EV_CTS, &OnCts},      {EV_DSR, &OnDsr},
        {EV_RING, &OnRing},     {EV_RLSD, &OnRlsd},    {EV_TXEMPTY, &OnTxEmpty},
        {EV_BREAK, &OnBreak},   {EV_PERR, &OnPErr},    {EV_RX80FULL, &OnRx80Full},
        {EV_EVENT1, &OnEvent1}, {EV_EVENT2, &OnEvent2}};
    for (const auto& E : Order)
        if ((Mask & E.first) && *E.second) (*E.second)(this);
}
