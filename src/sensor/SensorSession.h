// SPDX-License-Identifier: GPL-3.0-or-later
// One sensor session: the port, the answer receiver, the exchange and what is
// known of the sensor on the port, as typed values. Everything that shows,
// records, prints or publishes the sensor's readings observes the session
// instead of reading its state back from somewhere else, so that all of them
// agree on which sensor and port a reading belongs to.
//
// One thread: the owner's (the user-interface thread, which runs the event
// loop the port's events and the waits need). Observers are told in the order
// they registered, and each kind of event in the order it happened.
#pragma once

#include "AnswerReceiver.h"
#include "Reading.h"
#include "SensorExchange.h"
#include "SensorProtocol.h"
#include "VaComm.h"

#include <bitset>
#include <chrono>
#include <map>
#include <string>
#include <vector>

// "stream", "angle data", "scan", "poll", "watch"
const char* SourceName(TReadingSource S);

enum class TConnectionState { Closed, Connecting, Connected, Lost };
const char* StateName(TConnectionState S); // "closed", "connecting", "connected", "lost"

// The device is named from Connecting on: a change of port is seen before
// anything arrives through the new one.
struct TConnection {
    std::string Typed;  // the port as it was given (a name, COM<n> or a path)
    std::string Opened; // the device's port name ("pts/3"); "" before the first open
    std::string Path;   // the device's path
    TConnectionState State = TConnectionState::Closed;
    std::chrono::system_clock::time_point Since; // when State began
};

// What the last complete Information answer said. Known is false (and every
// field empty or -1) until an answer of the whole form arrives on this port.
struct TSensorIdentity {
    bool Known = false;
    std::string Line;    // the answer as it came
    TInformation Fields; // its fields as the sensor's texts
    std::string Version;
    int Id = -1;         // 1..77
    int Mode = -1;       // 0..3
    int MinusRange = -1; // tenths of a degree
    int PlusRange = -1;  // tenths of a degree; 3600 the full circle
    int Offset = 0;      // the sensor's units, 0 when not a number
    int CalDone = 0;     // 0 when not a number
    int MVGain = 0;      // 0 when not a number
    int MVOffset = 0;    // 0 when not a number
    std::string Cal[12]; // the coefficients, as sent
};

enum class TWireDirection { Sent, Received };

// The session's events. Every method has a default that does nothing, so an
// observer overrides the kinds it cares for. An observer may throw; the
// exception leaves the event's source (a reading's is swallowed by the
// receiver, see TAnswerReceiver) and the observers after it are not told.
class TSessionObserver {
  public:
    virtual ~TSessionObserver() = default;
    // A value frame that parsed: the readings of every source.
    virtual void Reading(const TReading&) {}
    // A value frame that is no reading (its ID characters name no sensor or
    // its text is no number): noise, never a reading of anyone.
    virtual void Malformed(const std::string& /*Text*/) {}
    // A whole frame of sensor Id, which nobody asked for (see
    // TSensorSession::Known): another device on a shared line. It is told
    // this and nothing else, no Answer before it, so nothing shows, records,
    // plots or publishes it; its bytes went to Wire as they came.
    virtual void Foreign(int /*Id*/, const std::string& /*Text*/) {}
    // Every finished line: an answer line, or a frame's text (IsFrame; its
    // Reading or Malformed follows; see AnswerId for the sensor it names).
    virtual void Answer(const std::string& /*Line*/, bool /*IsFrame*/) {}
    // What a command sent, as it is shown.
    virtual void Sent(const std::string& /*Shown*/) {}
    // The connection changed state (opened, lost, closed, another port).
    virtual void StateChanged(const TConnection&) {}
    // A complete Information answer said something new, or the port changed
    // (Known false).
    virtual void IdentityChanged(const TSensorIdentity&) {}
    // Line errors (the CE_ bits), as the port reports them.
    virtual void LineError(unsigned /*Errors*/) {}
    // Bytes exactly as they went over the wire, with the port's name
    // (TConnection::Opened): a command's as written, just before its Sent;
    // a received line's or frame's just before its Answer; other received
    // bytes (a line's LF, a line cut short) alone, see TAnswerReceiver::OnRaw.
    // Told only while there are observers.
    virtual void Wire(TWireDirection, std::chrono::system_clock::time_point /*Time*/,
                      const std::string& /*Port*/, const std::string& /*Bytes*/) {}
    // Watch: sensor Id left TWatchPlan::StaleAfter polls in a row unanswered
    // (told once), or answers again after that.
    virtual void SensorStale(int /*Id*/) {}
    virtual void SensorBack(int /*Id*/) {}
};

// How Watch polls the sensors of a shared line.
struct TWatchPlan {
    std::vector<int> Ids; // 1..77, each once, asked in this order
    // From the start of one round (every ID asked once) to the start of the
    // next, so that each answering sensor is read once per interval; a round
    // that takes longer is followed at once by the next. 0: back to back.
    int IntervalMs = 200;
    // The longest wait for one sensor's frame; the next ID is asked as soon
    // as it came. An ID that does not answer costs this much of its round.
    int AnswerMs = 150;
    long Rounds = 0;     // stop after this many rounds; 0: no limit
    long DurationMs = 0; // stop once this much time has passed; 0: no limit

    // A sensor is stale after this many unanswered polls in a row; from
    // then on it is asked every StaleEvery-th round only, so the others keep
    // their rate, until it answers again.
    static constexpr int StaleAfter = 3;
    static constexpr int StaleEvery = 5;

    // The shortest interval, ms, in which a 9600 baud line carries Count
    // sensors' requests (2 bytes) and their longest frames (12 bytes), at
    // ten bits a byte, rounded up.
    static int LineMs(size_t Count);
};

// Throws Exception naming the fault when Ids cannot be watched: none, an ID
// outside 1..77, or one given twice.
void CheckWatchIds(const std::vector<int>& Ids);

class TSensorSession {
  public:
    // The exchange's last answer and stop flag are the session's own, or
    // the owner's when given (code outside the session shares them, as the
    // console's handlers do); those must outlive the session.
    explicit TSensorSession(std::string* LastAnswer = nullptr, bool* StopFlag = nullptr);
    ~TSensorSession();
    TSensorSession(const TSensorSession&) = delete;
    TSensorSession& operator=(const TSensorSession&) = delete;

    // Observers are not owned; one must be removed before it is destroyed.
    // Adding or removing inside an event takes effect from the next event.
    void AddObserver(TSessionObserver* O);
    void RemoveObserver(TSessionObserver* O);

    // Opens the device Typed names (see ResolvePortName), closing the port
    // first when it is open. Another device than the last makes a new
    // session state: the identity is unknown again and the last reading
    // forgotten. Raises EConvertError or EVaCommError (port left closed).
    void Open(const std::string& Typed);
    void Close();

    const TConnection& Connection() const { return FConnection; }
    const TSensorIdentity& Identity() const { return FIdentity; }
    bool HaveReading() const { return FHaveReading; }
    const TReading& LastReading() const { return FLastReading; } // the current sensor's

    // The sensor of the port: Information's ID, else, for a sensor that has
    // not said it yet, the ID the first frame of its stream named (a sensor
    // left streaming, or one answering #READ or #DATA); -1 while neither is
    // known.
    int CurrentId() const { return FIdentity.Id > 0 ? FIdentity.Id : FStreamId; }
    // Whether the sensor Id exists for the session's outputs: the current
    // sensor, or one the requests now being answered asked (the Angle Data
    // request's ID; during a scan every ID it asked so far; during a watch
    // every ID of its plan, until the next request of another kind). A frame
    // of any other sensor is Foreign, and so is a stream beside a watch when
    // no Information made it the port's sensor: a watch names its sensors
    // itself, and forgets a stream's ID until the next #READ or #DATA.
    bool Known(int Id) const;
    // While Answer is told for a frame that is a reading: the ID its frame
    // names; -1 for an answer line or a malformed frame.
    int AnswerId() const { return FAnswerId; }
    // While Sent is told: the sensor the request addresses, the ID of an
    // Angle Data request (-1 for one outside 1..77), else the current sensor
    // (CurrentId), whom a text command on the line is meant for.
    int SentId() const { return FSentId; }
    // Frames that were no reading (Malformed), and whole frames of sensors
    // nobody asked for (Foreign), since the session was made.
    long MalformedFrames() const { return FMalformedFrames; }
    long ForeignFrames() const { return FForeignFrames; }

    // Sends Command ("#..." CR LF or an Angle Data request) until a reply.
    // Scan asks each ID from First to Last (see TSensorExchange::Scan); its
    // answers are readings of source Scan.
    std::vector<std::pair<int, double>>
    Scan(int First, int Last, int WaitMs, const std::function<bool(int Id)>& Progress,
         const std::function<void(int Id, double Value)>& Found = nullptr);

    // Polls Plan.Ids in turn with the Angle Data request until the stop flag
    // is set (from an event handler during a wait, such as a Stop button or
    // a signal), the port is lost or closed, or the plan's rounds or duration
    // end. Call it after Exchange().Start(), which clears the stop flag; the
    // flag is left as it was. Each frame of a planned ID is a reading of
    // source Watch with the ID its frame names, so a late answer is never
    // taken for the next sensor's, and a frame naming none is no reading;
    // only a reading of the current sensor's own ID becomes its LastReading. Observers are
    // told SensorStale and SensorBack as sensors go silent and come back.
    // Returns the readings each ID gave, in the order of Plan.Ids. Throws
    // Exception for bad IDs (CheckWatchIds), EAbort as PumpWait does, and
    // what Write throws. The waits sleep in the event loop.
    std::vector<std::pair<int, long>> Watch(const TWatchPlan& Plan);

    // The parts, for what the session does not wrap: the port's settings and
    // its design-time handlers, the exchange's loops and its progress texts,
    // the receiver's decimal separator. Their event members that the session
    // sets (the port's OnRxChar, OnOpen, OnClose, OnError; the receiver's
    // callbacks; the exchange's Write, Wait, ClearRx, OnSent) may be wrapped
    // (the wrapper calling what it replaced) but not replaced; a handler of
    // OnRxChar calls ReadPort.
    TVaComm& Port() { return FPort; }
    // Hands what the port has received to the receiver: the port's OnRxChar.
    void ReadPort();
    TAnswerReceiver& Receiver() { return FReceiver; }
    TSensorExchange& Exchange() { return FExchange; }
    // The state the exchange loops share (see TSensorExchange).
    std::string& LastAnswer() { return FLastAnswer; }
    std::string& RxBuffer() { return FRxBuffer; }
    int& RetryCount() { return FRetryCount; }
    bool& StopFlag() { return FStopFlag; }

  private:
    template <class F> void Tell(F&& Call);
    void SetState(TConnectionState S);
    void SetDevice(const std::string& Path);
    void SetIdentity(const std::string& Line);
    void NoteSent(const std::string& Bytes);
    void TellWire(TWireDirection Direction, const std::string& Bytes);
    void Accept(double Value, int Id);
    void ForgetAsked();

    TVaComm FPort;
    std::string FOwnLastAnswer, FRxBuffer;
    bool FOwnStopFlag = false;
    std::string& FLastAnswer;
    bool& FStopFlag;
    int FRetryCount = 0;
    TAnswerReceiver FReceiver{FRxBuffer};
    TSensorExchange FExchange{FLastAnswer, FRetryCount, FStopFlag};

    std::vector<TSessionObserver*> FObservers;
    TConnection FConnection;
    TSensorIdentity FIdentity;
    TReading FLastReading;
    bool FHaveReading = false;
    // What the frames now arriving answer: set by each request sent.
    TReadingSource FSource = TReadingSource::Stream;
    int FSourceId = -1;       // the ID asked by Angle Data or the scan
    int FSentId = -1;         // see SentId
    std::bitset<78> FAsked;   // the IDs the frames now arriving answer (see Known)
    int FStreamId = -1;       // see CurrentId
    bool FStreamTaken = true; // a stream's first frame may set FStreamId
    int FAnswerId = -1;
    bool FForeign = false; // the frame being handed on is Foreign
    long FMalformedFrames = 0, FForeignFrames = 0;
    bool FScanning = false;
    bool FWatching = false;
    std::map<int, long> FWatchReadings; // per ID, during Watch
};
