// SPDX-License-Identifier: GPL-3.0-or-later
// The serial port component TVaComm: settings, opening and closing, reads and
// writes, and the event and write threads that hand line events to the
// user-interface thread.
//
// Threads: every public operation and every setter is meant for the
// user-interface thread (the QCoreApplication's thread). All events are raised
// on that thread, with the component as Sender. While a port is open, an event
// thread waits for received bytes and line errors and a write thread drains
// the write queue; both are stopped and gone when Close returns, except that a
// thread whose dispatch is running on the user-interface thread (Close called
// from inside a handler) ends as soon as that handler returns, without
// touching the component again.
//
// Failures raise EVaCommError with the platform's error number and text.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "VaClasses.h"
#include "VaCommErrors.h"
#include "VaPrst.h"
#include "VaWriteQueue.h"

enum TVaBaudrate {
    brUser,
    br110,
    br300,
    br600,
    br1200,
    br2400,
    br4800,
    br9600,
    br14400,
    br19200,
    br38400,
    br56000,
    br57600,
    br115200,
    br128000,
    br256000
};
enum TVaParity { paNone, paOdd, paEven, paMark, paSpace };
enum TVaDatabits { db4, db5, db6, db7, db8 };
enum TVaStopbits { sb1, sb15, sb2 };

enum TVaCommOption { coErrorChar, coNullStrip, coParityCheck };
using TVaCommOptions = uint8_t; // bit n = option of ordinal n
constexpr TVaCommOptions VaOption(TVaCommOption O) {
    return TVaCommOptions(1u << O);
}

enum TVaCommEvent {
    ceBreak,
    ceCts,
    ceDsr,
    ceError,
    ceRing,
    ceRlsd,
    ceRxChar,
    ceTxEmpty,
    ceRxFlag,
    cePErr,
    ceRx80Full,
    ceEvent1,
    ceEvent2
};
using TVaCommEvents = uint16_t; // bit n = event of ordinal n
constexpr TVaCommEvents VaEvent(TVaCommEvent E) {
    return TVaCommEvents(1u << E);
}

enum TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

// Platform event bits (the event mask given to OnEvent-style dispatch).
enum : uint32_t {
    EV_RXCHAR = 0x1,
    EV_RXFLAG = 0x2,
    EV_TXEMPTY = 0x4,
    EV_CTS = 0x8,
    EV_DSR = 0x10,
    EV_RLSD = 0x20,
    EV_BREAK = 0x40,
    EV_ERR = 0x80,
    EV_RING = 0x100,
    EV_PERR = 0x200,
    EV_RX80FULL = 0x400,
    EV_EVENT1 = 0x800,
    EV_EVENT2 = 0x1000
};
// Line-error bits reported by GetCommErrors and OnError.
enum : uint32_t {
    CE_RXOVER = 0x1,
    CE_OVERRUN = 0x2,
    CE_RXPARITY = 0x4,
    CE_FRAME = 0x8,
    CE_BREAK = 0x10,
    CE_TXFULL = 0x100,
    CE_IOE = 0x400
};
// EscapeComm function codes.
enum : int {
    SETXOFF = 1,
    SETXON = 2,
    SETRTS = 3,
    CLRRTS = 4,
    SETDTR = 5,
    CLRDTR = 6,
    RESETDEV = 7,
    SETBREAK = 8,
    CLRBREAK = 9
};

// Queue state returned with the error bits.
struct TVaComStat {
    int cbInQue = 0;  // bytes waiting to be read
    int cbOutQue = 0; // bytes the driver still has to send
};

namespace VaPosix {
struct TLineSettings;
}
namespace VaNet {
class TNetDevice;
}
class TVaCustomComm;
class TVaThread;
class TVaBatchNotifier;
class TVaCommEventThread;
class TVaCommWriteThread;

// Optional display told about every event dispatch.
class TVaDisplay : public TVaComponent {
  public:
    using TVaComponent::TVaComponent;
    virtual void NotifyDisplay(TVaCustomComm* Comm) = 0;
};

// A data link attached to the component: it sees every event mask and every
// block of received bytes, before the component's own handlers.
class TVaCommLink {
  public:
    virtual ~TVaCommLink() = default;
    bool Active = true;
    TVaCustomComm* Comm = nullptr; // cleared when the component goes away
    virtual void LinkEvents(uint32_t Mask) = 0;
    virtual void LinkRxBuf(const uint8_t* Data, int Count) = 0;
};

using TVaCommErrorEvent = std::function<void(TVaObject* Sender, int Errors)>;
using TVaCommRxCharEvent = std::function<void(TVaObject* Sender, int Count)>;
using TVaCommRxBufEvent = std::function<void(TVaObject* Sender, const uint8_t* Data, int Count)>;

class TVaCustomComm : public TVaComponent {
  public:
    explicit TVaCustomComm(TVaObject* AOwner = nullptr);
    ~TVaCustomComm() override;

    // --- Settings. Refused while open: PortNum, DeviceName, MonitorEvents,
    // DirectWrite, UpdateDCB, Buffers. Applied at once to an open port:
    // Baudrate, UserBaudrate, Parity, Databits, Stopbits, Options, and every
    // change of FlowControl or EventChars.
    bool AutoOpen() const { return FAutoOpen; }
    void SetAutoOpen(bool V) { FAutoOpen = V; }
    TVaBaudrate Baudrate() const { return FBaudrate; }
    void SetBaudrate(TVaBaudrate V); // any value but brUser resets UserBaudrate to 0
    int UserBaudrate() const { return FUserBaudrate; }
    void SetUserBaudrate(int V); // switches Baudrate to brUser
    TVaParity Parity() const { return FParity; }
    void SetParity(TVaParity V);
    TVaDatabits Databits() const { return FDatabits; }
    void SetDatabits(TVaDatabits V);
    TVaStopbits Stopbits() const { return FStopbits; }
    void SetStopbits(TVaStopbits V);
    TVaCommOptions Options() const { return FOptions; }
    void SetOptions(TVaCommOptions V);
    TVaEventChars& EventChars() { return *FEventChars; }
    void SetEventChars(const TVaEventChars& V) { FEventChars->Assign(V); }
    TVaFlowControl& FlowControl() { return *FFlowControl; }
    void SetFlowControl(const TVaFlowControl& V) { FFlowControl->Assign(V); }
    // Changing a size or limit while open raises after storing the value.
    TVaBuffers& Buffers() { return *FBuffers; }
    void SetBuffers(const TVaBuffers& V);
    int PortNum() const { return FPortNum; }
    void SetPortNum(int V);
    // Device path pattern; "%d" stands for PortNum, "%%" for a percent sign.
    // "rfc2217://HOST:PORT" or "tcp://HOST:PORT" names a port behind a
    // network serial server instead (VaNet.h); opening one connects, within
    // VaNet::ConnectMs and, for RFC 2217, VaNet::NegotiateMs.
    const std::string& DeviceName() const { return FDeviceName; }
    void SetDeviceName(const std::string& V);
    TVaCommEvents MonitorEvents() const { return FMonitorEvents; }
    void SetMonitorEvents(TVaCommEvents V);
    TThreadPriority EventPriority() const { return FEventPriority; }
    void SetEventPriority(TThreadPriority V);
    TThreadPriority WritePriority() const { return FWritePriority; }
    void SetWritePriority(TThreadPriority V);
    bool DirectWrite() const { return FDirectWrite; }
    void SetDirectWrite(bool V);
    bool UpdateDCB() const { return FUpdateDCB; }
    void SetUpdateDCB(bool V);
    TVaDisplay* Display() const { return FDisplay; }
    void SetDisplay(TVaDisplay* V);

    // --- Events (user-interface thread, Sender = this component).
    TVaNotifyEvent OnOpen, OnClose;
    TVaNotifyEvent OnCts, OnDsr, OnRlsd, OnRing, OnBreak, OnRxFlag, OnTxEmpty, OnPErr, OnRx80Full,
        OnEvent1, OnEvent2;
    TVaCommErrorEvent OnError;
    TVaCommRxCharEvent OnRxChar;
    TVaCommRxBufEvent OnRxBuf;

    // --- Port operations.
    void Open();
    void Close(); // nothing when closed; raises OnClose unless being destroyed
    bool Active() const { return FHandle >= 0; }
    // True when the open device has gone: it hung up (a network port: its
    // connection closed or broke), or DeviceFileName now names another
    // device or none (an adapter pulled and plugged again, a link pointed
    // elsewhere). False when closed.
    bool Vanished() const;
    // A network port's counters since Open (VaNet::TNetDevice): Telnet units
    // in error, negotiation replies dropped for want of room, the times the
    // input stopped at its bound; all 0 for a tty or when closed. OnError
    // tells of the first two as CE_FRAME and CE_TXFULL.
    struct TNetCounters {
        uint64_t ProtocolErrors = 0, DroppedReplies = 0, InputHolds = 0;
    };
    TNetCounters NetCounters() const;
    // Queued (DirectWrite False) or direct write; 0 when closed.
    int WriteBuf(const void* Buf, int Count);
    bool WriteText(const std::string& Text);
    // The input queue is the bytes an OnRxChar dispatch has taken from the
    // driver and not yet handed out, then the driver's queue.
    // Returns at once with what is queued (up to Count bytes); 0 when closed.
    int ReadBuf(void* Buf, int Count);
    // Every byte waiting; inside OnRxChar exactly the Count bytes of that
    // dispatch, later bytes coming with the next one.
    std::string ReadText();
    int InQueCount();
    // Reads and clears the line-error bits (CE_*); 0 when closed.
    uint32_t GetCommErrors(TVaComStat& Stat);
    uint32_t GetCommErrors();
    void SetDTR(bool On);
    void SetRTS(bool On);
    void EscapeComm(int Func);

    // The line settings ApplyCommState gives the device.
    void GetLineSettings(VaPosix::TLineSettings& S) const;
    uint32_t EventMask() const { return FEventMask; }
    // DeviceName with PortNum in place of the placeholder.
    std::string DeviceFileName() const;
    std::string DeviceDisplayName() const;

    void Loaded() override; // opens the port when AutoOpen is set

    // A link is told when the component goes away (its Comm is cleared).
    void AttachLink(TVaCommLink* Link);
    void DetachLink(TVaCommLink* Link);

  protected:
    void CheckClosed();
    // Raises EVaCommError with the text of Failure for the errno value Error.
    [[noreturn]] void RaiseCommError(TVaCommFailure Failure, int Error);
    void CheckResult(bool Ok, TVaCommFailure Failure, int Error);
    void ApplyCommState();
    void ApplyBufferSizes();
    void ApplyTimeouts();
    void ApplyEventMask();
    // The events of a batch (EV_* bits), on the user-interface thread.
    virtual void DoCommEvents(uint32_t Mask);
    bool DoError();
    virtual void CreateHandle();
    virtual void CreateThreads();
    virtual void DoRxChar();
    virtual void DoLinkEvents(uint32_t Mask);
    virtual void DoRxBuf(const uint8_t* Data, int Count);
    void Notification(TVaComponent* AComponent, TOperation Operation) override;
    void NotifyDisplay();

  private:
    // The threads and the batch hand-off drive the component through
    // DispatchEvents and DoCommEvents and share the write lock.
    friend class TVaThread;
    friend class TVaCommEventThread;
    friend class TVaCommWriteThread;
    friend class TVaBatchNotifier;
    // Runs on the user-interface thread for a batch of events (EV_* bits).
    void DispatchEvents(uint32_t Mask);
    std::vector<TVaCommLink*> Links;
    TVaCriticalSection WriteLock;
    TVaCriticalSection ReadLock;
    void DestroyHandle();
    void DestroyThreads();
    void DoOpen();
    void DoClose();
    void SettingsChanged(TVaObject* Sender);
    void BuffersChanged(TVaObject* Sender);
    // Device hang-up: noted once by whichever thread sees it first; reported
    // once as CE_IOE by the next GetCommErrors.
    bool NoteHangup();
    uint32_t ReadStatus(TVaComStat& Stat, bool TakeHangup);
    uint32_t TakeLineErrors();
    uint32_t TakeNetErrors();
    // Under ReadLock: moves what the driver holds into the receive buffer,
    // up to its capacity; sets FRxDrained when the driver was emptied.
    void PullInput();
    int RxBuffered() const { return FRxEnd - FRxHead; }
    // The open device, a tty's descriptor or the network connection.
    int DeviceRead(void* Buf, int Count, int& Done);
    int DeviceWrite(const void* Buf, int Count, int& Done);
    int DeviceInQueue(int& Count);

    int FHandle = -1;
    std::unique_ptr<VaNet::TNetDevice> FNet; // a network port's connection, FHandle its socket
    bool FAutoOpen = false;
    TVaBaudrate FBaudrate = br1200;
    int FUserBaudrate = 0;
    TVaParity FParity = paNone;
    TVaDatabits FDatabits = db8;
    TVaStopbits FStopbits = sb1;
    TVaCommOptions FOptions = 0;
    std::unique_ptr<TVaEventChars> FEventChars;
    std::unique_ptr<TVaFlowControl> FFlowControl;
    std::unique_ptr<TVaBuffers> FBuffers;
    int FPortNum = 0;
    std::string FDeviceName = "/dev/ttyS%d";
    TVaCommEvents FMonitorEvents = VaEvent(ceError) | VaEvent(ceRxChar) | VaEvent(ceTxEmpty);
    TThreadPriority FEventPriority = tpNormal;
    TThreadPriority FWritePriority = tpHighest;
    bool FDirectWrite = false;
    bool FUpdateDCB = true;
    TVaDisplay* FDisplay = nullptr;
    uint32_t FEventMask = 0;
    TVaWaitEvent FIoEvent;
    std::shared_ptr<TVaCommEventThread> FEventThread;
    std::shared_ptr<TVaCommWriteThread> FWriteThread;
    TVaBatchNotifier* FBatchNotifier = nullptr; // see TVaBatchNotifier::Dispose
    std::atomic<int> FHangup{0};                // 0 none, 1 noted, 2 reported
    uint32_t FErrorBase[5] = {};                // driver error counters already reported
    bool FHaveCounters = false;                 // the device keeps error counters
    uint64_t FNetErrorBase[2] = {};             // a network port's counters already reported
    // Receive buffer, Buffers.ReadSize bytes from Open on: bytes taken from
    // the driver by a dispatch, waiting at [FRxHead, FRxEnd).
    std::vector<uint8_t> FRxBuf;
    int FRxHead = 0, FRxEnd = 0;
    bool FRxDrained = false; // the last pull left the driver empty
    int FRxQuota = 0;        // while OnRxChar runs: counted bytes not yet read
};

class TVaComm : public TVaCustomComm {
  public:
    using TVaCustomComm::TVaCustomComm;
};
