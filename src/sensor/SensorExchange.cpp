// SPDX-License-Identifier: GPL-3.0-or-later
#include "SensorExchange.h"

#include "SensorProtocol.h"

#include "ScopeGuards.h"

#include <algorithm>

void TSensorExchange::Clear() {
    FLastAnswer.clear();
    FNoise = false;
    if (ClearRx) ClearRx();
}

std::string TSensorExchange::TryText(int Attempt) {
    return "Try Connect " + std::to_string(Attempt) + "[sec]";
}

void TSensorExchange::Received(const std::string& Line) {
    FLastAnswer = Line;
    FNoise = false;
    FInfoBefore = FInfoAnswer;
    if (IsInformationAnswer(Line)) FInfoAnswer = Line;
}

void TSensorExchange::Send(const std::string& Bytes, const std::string& Shown) {
    Write(Bytes);
    if (OnSent) OnSent(Shown);
}

void TSensorExchange::Start(bool Stop) {
    Wait(StartDelay);
    Clear();
    FInfoAnswer.clear();
    FStopFlag = Stop;
}

bool TSensorExchange::Retry(const std::function<std::string()>& Command,
                            const std::string& Marker) {
    return Retry(Command, [&] { return !FNoise && FLastAnswer.find(Marker) != std::string::npos; });
}

bool TSensorExchange::Information() {
    return Retry(SensorCommands::Info, [this] { return !FInfoAnswer.empty(); });
}

bool TSensorExchange::Retry(const std::function<std::string()>& Command,
                            const std::function<bool()>& Answered) {
    // RetryCount is shared: an exchange run inside this one's wait leaves its
    // own count behind, and this loop goes on from there.
    FRetryCount = 0;
    for (;;) {
        if (FRetryCount > RetryLimit) {
            Progress("No answer");
            return false;
        }
        const std::string C = Command();
        Send(C, C);
        Wait(RetryWait);
        ++FRetryCount;
        Progress(TryText(FRetryCount));
        if (Answered()) return true;
    }
}

void TSensorExchange::StopLoop() {
    const std::string C = SensorCommands::Stop();
    FRetryCount = 0;
    for (;;) {
        if (FRetryCount > RetryLimit) {
            Progress("No answer");
            return;
        }
        Send(C, C);
        Wait(300);
        Clear();
        ++FRetryCount;
        Wait(200);
        Progress(TryText(FRetryCount));
        // Done once the sensor stayed quiet for the wait after the clear.
        if (FLastAnswer.empty()) return;
    }
}

void TSensorExchange::Poll(int Count, const std::function<std::string()>& Request,
                           const std::function<std::string(const std::string&)>& Shown, int Limit,
                           const std::function<int()>& Interval) {
    Poll(Count, Request, Shown, Limit, Interval,
         [this] { return !FNoise && FLastAnswer.find('.') != std::string::npos; });
}

void TSensorExchange::Poll(int Count, const std::function<std::string()>& Request,
                           const std::function<std::string(const std::string&)>& Shown, int Limit,
                           const std::function<int()>& Interval,
                           const std::function<bool()>& Answered) {
    for (int Cycle = 1; Cycle <= Count; ++Cycle) {
        Clear();
        // Once stopped, every remaining cycle would end here without sending.
        if (FStopFlag) break;
        for (int Tries = 0;;) {
            if (Tries > Limit) {
                Progress("No answer");
                break;
            }
            if (FStopFlag) break;
            const std::string R = Request();
            Send(R, Shown(R));
            Wait(Interval());
            if (OnCycle) OnCycle(Cycle);
            Wait(10);
            ++Tries;
            Progress(TryText(Tries));
            if (Answered()) break;
        }
    }
    FStopFlag = true;
}

std::vector<std::pair<int, double>>
TSensorExchange::Scan(int First, int Last, int WaitMs, const std::function<bool(int Id)>& Progress,
                      const std::function<void(int Id, double Value)>& Found) {
    std::vector<std::pair<int, double>> Answered, Heard;
    FHeard = &Heard;
    TScopeExit Done([this] { FHeard = nullptr; });
    for (int Id = First; Id <= Last; ++Id) {
        if (Progress && !Progress(Id)) break;
        Heard.clear();
        const std::string R = AngleDataRequest(Id);
        Send(R, AngleDataText(R));
        Wait(WaitMs);
        for (const auto& [Named, Value] : Heard) {
            const int Whose = Named > 0 ? Named : Id;
            const bool Known =
                std::any_of(Answered.begin(), Answered.end(),
                            [Whose = Whose](const auto& A) { return A.first == Whose; });
            if (Whose < First || Whose > Last || Known) continue;
            Answered.emplace_back(Whose, Value);
            if (Found) Found(Whose, Value);
        }
    }
    std::sort(Answered.begin(), Answered.end());
    return Answered;
}

namespace SensorCommands {
const char* const CRLF = "\r\n";
std::string Info() {
    return std::string("#INFO") + CRLF;
}
std::string Read() {
    return std::string("#READ") + CRLF;
}
std::string Stop() {
    return std::string("#STOP") + CRLF;
}
std::string Data() {
    return std::string("#DATA") + CRLF;
}
std::string Save() {
    return std::string("#SAVE") + CRLF;
}
std::string Id(int N) {
    return "#ID" + std::to_string(N) + CRLF;
}
std::string Mode(int N) {
    return "#MODE" + std::to_string(N) + CRLF;
}
std::string MinusRange(const std::string& Text) {
    return "#CALI14" + Text + CRLF;
}
std::string PlusRange(const std::string& Text) {
    // The sensor takes a plus range of 0 for the full circle.
    return (Text == "3600" ? std::string("#CALI150") : "#CALI15" + Text) + CRLF;
}
} // namespace SensorCommands
