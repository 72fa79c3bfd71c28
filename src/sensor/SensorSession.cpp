// SPDX-License-Identifier: GPL-3.0-or-later
#include "SensorSession.h"

#include "PumpWait.h"
#include "SysUtils.h"
#include "VaPorts.h"

#include <algorithm>

namespace {

int IntOr(const std::string& S, int Otherwise) {
    int V = 0;
    return TryStrToInt(S, V) ? V : Otherwise;
}

} // namespace

const char* SourceName(TReadingSource S) {
    switch (S) {
    case TReadingSource::Stream:
        return "stream";
    case TReadingSource::AngleData:
        return "angle data";
    case TReadingSource::Scan:
        return "scan";
    case TReadingSource::Poll:
        return "poll";
    case TReadingSource::Watch:
        return "watch";
    }
    return "";
}

const char* StateName(TConnectionState S) {
    switch (S) {
    case TConnectionState::Closed:
        return "closed";
    case TConnectionState::Connecting:
        return "connecting";
    case TConnectionState::Connected:
        return "connected";
    case TConnectionState::Lost:
        return "lost";
    }
    return "";
}

TSensorSession::TSensorSession(std::string* LastAnswer, bool* StopFlag)
    : FLastAnswer(LastAnswer ? *LastAnswer : FOwnLastAnswer),
      FStopFlag(StopFlag ? *StopFlag : FOwnStopFlag) {
    FPort.SetBaudrate(br9600);
    FReceiver.OnLine = [this](const std::string& Line) {
        const bool Frame = FReceiver.LineIsFrame();
        FAnswerId = Frame && FReceiver.FrameIsReading() ? FReceiver.FrameId() : -1;
        // Decided before anything is told, so that another sensor's frame
        // reaches neither the log nor the exchange, whose waits would take
        // it for an answer.
        FForeign = FAnswerId > 0 && !Known(FAnswerId);
        if (FForeign) return;
        FExchange.Received(Line);
        Tell([&](TSessionObserver* O) { O->Answer(Line, Frame); });
        if (!Frame && IsInformationForm(Line)) SetIdentity(Line);
    };
    FReceiver.OnRaw = [this](const std::string& Bytes) {
        TellWire(TWireDirection::Received, Bytes);
    };
    FReceiver.OnValue = [this](double Value) {
        const int Id = FReceiver.FrameId();
        if (!FForeign) return Accept(Value, Id);
        ++FForeignFrames;
        const std::string Text = FReceiver.ValueText();
        Tell([&](TSessionObserver* O) { O->Foreign(Id, Text); });
    };
    FReceiver.OnMalformed = [this](const std::string& Text) {
        ++FMalformedFrames;
        FExchange.Malformed();
        Tell([&](TSessionObserver* O) { O->Malformed(Text); });
    };
    FExchange.Write = [this](const std::string& Bytes) {
        FPort.WriteText(Bytes);
        TellWire(TWireDirection::Sent, Bytes);
        NoteSent(Bytes);
    };
    FExchange.Wait = [](int Ms) { PumpWait(Ms); };
    FExchange.ClearRx = [this] { FReceiver.Reset(); };
    FExchange.OnSent = [this](const std::string& Shown) {
        Tell([&](TSessionObserver* O) { O->Sent(Shown); });
    };
    FPort.OnRxChar = [this](TVaObject*, int) { ReadPort(); };
    FPort.OnOpen = [this](TVaObject*) {
        SetDevice(FPort.DeviceFileName());
        FSource = TReadingSource::Stream;
        // A port opened anew serves its own sensor again, whatever a watch
        // before asked of the line.
        ForgetAsked();
        FStreamTaken = true;
        SetState(TConnectionState::Connected);
    };
    FPort.OnClose = [this](TVaObject*) {
        if (FConnection.State != TConnectionState::Lost) SetState(TConnectionState::Closed);
    };
    FPort.OnError = [this](TVaObject*, int Errors) {
        // The device is gone: what it was is kept for a reconnect, and the
        // port is left to whoever closes it.
        if (static_cast<unsigned>(Errors) & CE_IOE) SetState(TConnectionState::Lost);
        Tell([&](TSessionObserver* O) { O->LineError(static_cast<unsigned>(Errors)); });
    };
}

TSensorSession::~TSensorSession() {
    FObservers.clear();
    FPort.OnOpen = nullptr;
    FPort.OnClose = nullptr;
    FPort.OnError = nullptr;
    FPort.OnRxChar = nullptr;
    FPort.Close();
}

template <class F> void TSensorSession::Tell(F&& Call) {
    // A copy: an observer may add or remove observers while told.
    const std::vector<TSessionObserver*> Now = FObservers;
    for (TSessionObserver* O : Now)
        Call(O);
}

void TSensorSession::AddObserver(TSessionObserver* O) {
    FObservers.push_back(O);
}

void TSensorSession::RemoveObserver(TSessionObserver* O) {
    FObservers.erase(std::remove(FObservers.begin(), FObservers.end(), O), FObservers.end());
}

void TSensorSession::Open(const std::string& Typed) {
    // A bad name fails before the open port is touched.
    const TPortTarget Target = ResolvePortName(Typed);
    FPort.Close();
    FLastAnswer.clear();
    FReceiver.Reset();
    FConnection.Typed = Typed;
    SetDevice(Target.Path);
    SetState(TConnectionState::Connecting);
    try {
        OpenPortTarget(FPort, Target);
    } catch (...) {
        SetState(TConnectionState::Closed);
        throw;
    }
    FPort.SetRTS(true);
    FPort.SetDTR(true);
}

void TSensorSession::ReadPort() {
    const std::string Data = FPort.ReadText();
    if (!Data.empty()) FReceiver.Receive(Data);
}

void TSensorSession::Close() {
    FPort.Close();
    SetState(TConnectionState::Closed);
}

void TSensorSession::SetDevice(const std::string& Path) {
    if (Path == FConnection.Path) return;
    // Another device is another sensor until it says otherwise.
    FConnection.Path = Path;
    FConnection.Opened = PortNameFromPath(Path);
    FHaveReading = false;
    FLastReading = TReading{};
    ForgetAsked();
    FStreamId = -1;
    FStreamTaken = true;
    if (!FIdentity.Known) return;
    FIdentity = TSensorIdentity{};
    Tell([&](TSessionObserver* O) { O->IdentityChanged(FIdentity); });
}

void TSensorSession::SetState(TConnectionState S) {
    if (S == FConnection.State) return;
    FConnection.State = S;
    FConnection.Since = std::chrono::system_clock::now();
    Tell([&](TSessionObserver* O) { O->StateChanged(FConnection); });
}

void TSensorSession::SetIdentity(const std::string& Line) {
    if (FIdentity.Known && FIdentity.Line == Line) return;
    TSensorIdentity I;
    I.Known = true;
    I.Line = Line;
    I.Fields = ParseInformation(Line);
    const TInformation& F = I.Fields;
    I.Version = F.Version;
    I.Id = IntOr(F.ID, -1);
    I.Mode = IntOr(F.Mode, -1);
    I.MinusRange = IntOr(F.NRange, -1);
    I.PlusRange = IntOr(F.PRange, -1);
    I.Offset = IntOr(F.Offset, 0);
    I.CalDone = IntOr(F.CalDone, 0);
    I.MVGain = IntOr(F.MVGain, 0);
    I.MVOffset = IntOr(F.MVOffset, 0);
    for (int k = 0; k < 12; ++k)
        I.Cal[k] = F.Cal[k];
    FIdentity = std::move(I);
    Tell([&](TSessionObserver* O) { O->IdentityChanged(FIdentity); });
}

void TSensorSession::ForgetAsked() {
    FAsked.reset();
    FSourceId = -1;
}

bool TSensorSession::Known(int Id) const {
    if (Id < 1 || Id > 77) return false;
    if (FAsked.test(static_cast<size_t>(Id))) return true;
    if (CurrentId() > 0) return Id == CurrentId();
    // A sensor that has not said its ID becomes the current one with the
    // first frame of its stream (see Accept).
    return FStreamTaken && (FSource == TReadingSource::Stream || FSource == TReadingSource::Poll);
}

void TSensorSession::NoteSent(const std::string& Bytes) {
    if (Bytes.size() == 2 && Bytes[1] == 5) {
        FSource = FScanning   ? TReadingSource::Scan
                  : FWatching ? TReadingSource::Watch
                              : TReadingSource::AngleData;
        // A scan's late answers come during the next IDs' waits: every ID it
        // asked stays known until another kind of request. A single Angle
        // Data request answers for its ID alone.
        if (!FScanning && !FWatching) FAsked.reset();
        FSourceId = static_cast<unsigned char>(Bytes[0]) - 176;
        if (FSourceId >= 1 && FSourceId <= 77) FAsked.set(static_cast<size_t>(FSourceId));
        FSentId = FSourceId >= 1 && FSourceId <= 77 ? FSourceId : -1;
        return;
    }
    FSentId = CurrentId();
    if (Bytes.compare(0, 5, "#DATA") == 0) {
        FSource = TReadingSource::Poll;
        FStreamTaken = true;
        ForgetAsked();
    } else if (Bytes.compare(0, 5, "#READ") == 0 || Bytes.compare(0, 5, "#STOP") == 0) {
        // What still comes after a #STOP is the stream's tail.
        FSource = TReadingSource::Stream;
        if (Bytes.compare(0, 5, "#READ") == 0) FStreamTaken = true;
        ForgetAsked();
    }
}

void TSensorSession::TellWire(TWireDirection Direction, const std::string& Bytes) {
    if (FObservers.empty()) return;
    const auto Now = std::chrono::system_clock::now();
    Tell([&](TSessionObserver* O) { O->Wire(Direction, Now, FConnection.Opened, Bytes); });
}

void TSensorSession::Accept(double Value, int Id) {
    const bool Asked = FAsked.test(static_cast<size_t>(Id));
    const bool Streamed = FSource == TReadingSource::Stream || FSource == TReadingSource::Poll;
    if (CurrentId() < 1 && !Asked) FStreamId = Id;
    FExchange.Reading(Value, Id);
    TReading R;
    R.Time = std::chrono::system_clock::now();
    R.Value = Value;
    R.Text = FReceiver.ValueText();
    R.Port = FConnection.Opened;
    R.Id = Id;
    // The current sensor streaming beside a scan or a watch answers none of
    // their requests: its frames are its stream's.
    R.Source = Asked || Streamed ? FSource : TReadingSource::Stream;
    if (R.Source == TReadingSource::Watch) ++FWatchReadings[Id];
    // The mode Information told is that sensor's only; a scan's readings
    // never take one.
    if (R.Source != TReadingSource::Scan && FIdentity.Known && Id == FIdentity.Id)
        R.Mode = FIdentity.Mode;
    // A watch's reading of another sensor is that sensor's only; a scan's
    // never are the port's.
    if (R.Source != TReadingSource::Scan &&
        (R.Source != TReadingSource::Watch || Id == CurrentId())) {
        FLastReading = R;
        FHaveReading = true;
    }
    Tell([&](TSessionObserver* O) { O->Reading(R); });
}

std::vector<std::pair<int, double>>
TSensorSession::Scan(int First, int Last, int WaitMs, const std::function<bool(int Id)>& Progress,
                     const std::function<void(int Id, double Value)>& Found) {
    // Until the next request, late answers still belong to the scan.
    const bool Before = FScanning;
    FScanning = true;
    if (!Before) ForgetAsked();
    try {
        auto R = FExchange.Scan(First, Last, WaitMs, Progress, Found);
        FScanning = Before;
        return R;
    } catch (...) {
        FScanning = Before;
        throw;
    }
}

int TWatchPlan::LineMs(size_t Count) {
    const size_t Bits = Count * (2 + 12) * 10;
    return int((Bits * 1000 + 9599) / 9600);
}

void CheckWatchIds(const std::vector<int>& Ids) {
    if (Ids.empty()) throw Exception("no sensor ID to poll");
    for (size_t i = 0; i < Ids.size(); ++i) {
        if (Ids[i] < 1 || Ids[i] > 77)
            throw Exception("sensor ID " + std::to_string(Ids[i]) + " is not 1 to 77");
        if (std::find(Ids.begin(), Ids.begin() + i, Ids[i]) != Ids.begin() + i)
            throw Exception("sensor ID " + std::to_string(Ids[i]) + " is given twice");
    }
}

std::vector<std::pair<int, long>> TSensorSession::Watch(const TWatchPlan& Plan) {
    CheckWatchIds(Plan.Ids);
    using TClock = std::chrono::steady_clock;
    const TClock::time_point Start = TClock::now();
    auto MsSince = [](TClock::time_point T) {
        return std::chrono::duration_cast<std::chrono::milliseconds>(TClock::now() - T).count();
    };
    auto Going = [&] {
        return !FStopFlag && FConnection.State == TConnectionState::Connected &&
               (Plan.DurationMs <= 0 || MsSince(Start) < Plan.DurationMs);
    };
    struct TSensor {
        int Id;
        int Missed = 0;
        bool Stale = false;
        long StaleSince = 0; // the round it went stale in
    };
    std::vector<TSensor> Sensors;
    for (const int Id : Plan.Ids)
        Sensors.push_back({Id});
    FWatchReadings.clear();
    FWatching = true;
    ForgetAsked();
    // A watch names its sensors itself: a stream beside it that no
    // Information made the port's sensor is no one's, until the next #READ
    // or #DATA.
    FStreamId = -1;
    FStreamTaken = false;
    for (const int Id : Plan.Ids)
        FAsked.set(static_cast<size_t>(Id));
    auto Poll = [&] {
        for (long Round = 1; Plan.Rounds <= 0 || Round <= Plan.Rounds; ++Round) {
            if (!Going()) return;
            const TClock::time_point RoundStart = TClock::now();
            for (TSensor& S : Sensors) {
                if (!Going()) return;
                if (S.Stale && (Round - S.StaleSince) % TWatchPlan::StaleEvery != 0) continue;
                const long Before = FWatchReadings[S.Id];
                const std::string R = AngleDataRequest(S.Id);
                FExchange.Send(R, AngleDataText(R));
                PumpWaitFor(Plan.AnswerMs,
                            [&] { return FWatchReadings[S.Id] != Before || !Going(); });
                if (FWatchReadings[S.Id] != Before) {
                    S.Missed = 0;
                    if (!S.Stale) continue;
                    S.Stale = false;
                    Tell([&](TSessionObserver* O) { O->SensorBack(S.Id); });
                } else if (Going() && ++S.Missed == TWatchPlan::StaleAfter) {
                    // Told once: a stale sensor's misses count on past the limit.
                    S.Stale = true;
                    S.StaleSince = Round;
                    Tell([&](TSessionObserver* O) { O->SensorStale(S.Id); });
                }
            }
            if (Plan.Rounds > 0 && Round == Plan.Rounds) return;
            long Left = Plan.IntervalMs - MsSince(RoundStart);
            if (Plan.DurationMs > 0) Left = std::min<long>(Left, Plan.DurationMs - MsSince(Start));
            if (Left > 0) PumpWaitFor(int(Left), [&] { return !Going(); });
        }
    };
    try {
        Poll();
    } catch (...) {
        FWatching = false;
        throw;
    }
    FWatching = false;
    std::vector<std::pair<int, long>> Readings;
    for (const int Id : Plan.Ids)
        Readings.emplace_back(Id, FWatchReadings[Id]);
    return Readings;
}
