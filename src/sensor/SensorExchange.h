// SPDX-License-Identifier: GPL-3.0-or-later
// The console's three ways of talking to the sensor: a single send, a retry
// exchange (send, wait, look for a marker, at most six sends) and a polling
// exchange (cycles of short retry exchanges at an interval), plus the #STOP
// loop. Answers are not matched to requests: whoever receives the answers
// stores each finished line in LastAnswer, and the loops only look at it after
// each wait. Plain C++: the window and the command-line client supply the
// port, the wait and where the progress texts go.
//
// One thread: the owner's. Wait must let answers arrive (run the event loop);
// an exception from Write or Wait (a full output queue, a closing window)
// leaves the exchange where it was thrown.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

class TSensorExchange {
  public:
    // The state the loops share. They are the owner's, so that an exchange
    // run inside another's wait (a second click) goes on with what the inner
    // one left, and must outlive the exchange.
    TSensorExchange(std::string& LastAnswer, int& RetryCount, bool& StopFlag)
        : FLastAnswer(LastAnswer), FRetryCount(RetryCount), FStopFlag(StopFlag) {}

    static constexpr int StartDelay = 200; // ms, before every command but ID Change
    static constexpr int RetryWait = 500;  // ms, after each send of a retry exchange
    static constexpr int RetryLimit = 5;   // a retry exchange sends at most 6 times
    static constexpr int DataLimit = 5;    // #DATA: at most 6 sends per cycle
    static constexpr int AngleLimit = 1;   // Angle Data: at most 2 sends per cycle

    std::function<void(const std::string& Bytes)> Write;
    std::function<void(int Milliseconds)> Wait;
    // Forgets whatever part of an answer has been received (the receiver's
    // buffer and the frame being assembled).
    std::function<void()> ClearRx;
    // Progress ("Try Connect 2[sec]", "No answer") and the text of what was sent.
    std::function<void(const std::string& Text)> OnProgress;
    std::function<void(const std::string& Text)> OnSent;
    // A polling cycle's number, once its first wait has passed.
    std::function<void(int Cycle)> OnCycle;

    // Every finished answer line, as the receiver hands it on.
    void Received(const std::string& Line);
    // The line just received was a frame whose value is not a number: line
    // noise. It stays the last answer (shown as it came) but answers no
    // command: no marker is looked for in it until the next line.
    void Malformed() {
        FNoise = true;
        FInfoAnswer = FInfoBefore;
    }
    // Every accepted value frame, as the receiver hands it on, with the ID
    // its check characters name (-1 when they name none).
    void Reading(double Value, int Id = -1) {
        ++FReadings;
        FLastValue = Value;
        if (FHeard) FHeard->emplace_back(Id, Value);
    }
    long Readings() const { return FReadings; }
    // The last Information line since the command began ("" when none came).
    const std::string& InfoAnswer() const { return FInfoAnswer; }

    // The common start: the start delay, then the answers and the received
    // text emptied, StopFlag := Stop.
    void Start(bool Stop = false);
    // Sends Command (built anew for each attempt) until Marker occurs in
    // LastAnswer, or until Answered says so. True when it did.
    bool Retry(const std::function<std::string()>& Command, const std::string& Marker);
    bool Retry(const std::function<std::string()>& Command, const std::function<bool()>& Answered);
    // "#INFO" until an Information line came. Only such a line counts: a
    // sensor left streaming keeps sending readings, and the last line shown
    // may be one of them when a wait ends.
    bool Information();
    // "#STOP" until the sensor stayed quiet for the wait after a clear.
    void StopLoop();
    // Count cycles of at most Limit + 1 requests each, until a reading ("."
    // in LastAnswer, which is no malformed frame). Interval is read before each wait. StopFlag ends
    // it from outside and is True afterwards.
    void Poll(int Count, const std::function<std::string()>& Request,
              const std::function<std::string(const std::string&)>& Shown, int Limit,
              const std::function<int()>& Interval);
    // As above, a cycle ending once Answered says so instead of at a ".".
    void Poll(int Count, const std::function<std::string()>& Request,
              const std::function<std::string(const std::string&)>& Shown, int Limit,
              const std::function<int()>& Interval, const std::function<bool()>& Answered);
    // The sensors on a shared line: the Angle Data request of each ID from
    // First to Last in turn, Wait ms for its frame after each. Progress is
    // called with each ID before its request and ends the scan by returning
    // false; Found with each ID in the range whose frame came during the scan
    // (a frame that names its ID is that ID's, even when it comes late, in a
    // later ID's wait; one that names none is the ID asked). Returns the IDs
    // that answered, with their readings, in ID order.
    std::vector<std::pair<int, double>>
    Scan(int First, int Last, int Wait, const std::function<bool(int Id)>& Progress,
         const std::function<void(int Id, double Value)>& Found = nullptr);
    static constexpr int ScanWait = 150; // ms, the default wait per ID
    // Sends Bytes, shows Shown.
    void Send(const std::string& Bytes, const std::string& Shown);

    static std::string TryText(int Attempt);

  private:
    void Progress(const std::string& Text) {
        if (OnProgress) OnProgress(Text);
    }
    void Clear();

    std::string& FLastAnswer;
    std::string FInfoAnswer;
    std::string FInfoBefore; // FInfoAnswer before the last line
    bool FNoise = false;     // the last answer is a malformed frame
    long FReadings = 0;
    double FLastValue = 0;
    std::vector<std::pair<int, double>>* FHeard = nullptr; // a scan's frames, while it runs
    int& FRetryCount;
    bool& FStopFlag;
};

// The commands' texts and markers, as the console's buttons send them.
namespace SensorCommands {
extern const char* const CRLF;
std::string Info();                              // "#INFO" CR LF, answered by "V:"
std::string Read();                              // "#READ" CR LF, answered by "."
std::string Stop();                              // "#STOP" CR LF
std::string Data();                              // "#DATA" CR LF, answered by "."
std::string Save();                              // "#SAVE" CR LF
std::string Id(int N);                           // "#ID<n>" CR LF, answered by "OK"
std::string Mode(int N);                         // "#MODE<n>" CR LF, answered by "OK"
std::string MinusRange(const std::string& Text); // "#CALI14<text>" CR LF
std::string PlusRange(const std::string& Text);  // "#CALI15<text>" CR LF; "3600" is "#CALI150"
} // namespace SensorCommands
