// SPDX-License-Identifier: GPL-3.0-or-later
#include "Limits.h"

#include <cmath>
#include <utility>
#include <vector>

const char* LimitSideName(TLimitSide S) {
    switch (S) {
    case lsLow:
        return "low";
    case lsHigh:
        return "high";
    default:
        return "";
    }
}

const char* AlarmStateName(TAlarmState S) {
    return S == TAlarmState::Raised ? "raised" : "cleared";
}

TLimitSide TLimits::Side(double Value) const {
    if (Low && Value < *Low) return lsLow;
    if (High && Value > *High) return lsHigh;
    return lsInside;
}

bool TLimits::Clears(double Value) const {
    return (!Low || Value >= *Low + Hysteresis) && (!High || Value <= *High - Hysteresis);
}

void CheckLimits(const TLimits& L) {
    if ((L.Low && !std::isfinite(*L.Low)) || (L.High && !std::isfinite(*L.High)))
        throw ELimitsError("a limit must be a finite number");
    // A reading is an angle: a bound beyond a full turn either way is never
    // crossed, and would stretch the plot's axis past any reading.
    for (const std::optional<double>& Bound : {L.Low, L.High})
        if (Bound && std::fabs(*Bound) > FullCircle)
            throw ELimitsError("a limit must be an angle from -360 to 360 degrees");
    if (!std::isfinite(L.Hysteresis) || L.Hysteresis < 0)
        throw ELimitsError("the hysteresis must be a number of 0 or more");
    if (L.Low && L.High && *L.Low > *L.High)
        throw ELimitsError("the low limit is above the high limit; swap them");
    if (L.Low && L.High && 2 * L.Hysteresis > *L.High - *L.Low)
        throw ELimitsError("the hysteresis is wider than half the band between the limits, so "
                           "an alarm could never clear; make it smaller");
    // Beyond the full circle from a bound no reading lies: a one-sided
    // band is as wide as that at most.
    if (2 * L.Hysteresis > FullCircle)
        throw ELimitsError("the hysteresis is more than 180 degrees, half the full circle, so an "
                           "alarm might never clear; make it 180 or less");
}

void TAlarmWatcher::SetLimits(const std::string& Port, int Id, const TLimits& L) {
    CheckLimits(L);
    TLimits& Kept = FLimits[{Port, Id}];
    if (Kept == L) return;
    Kept = L;
    if (OnLimitsChanged) OnLimitsChanged(Port, Id, L);
}

TLimits TAlarmWatcher::Limits(const std::string& Port, int Id) const {
    const auto I = FLimits.find({Port, Id});
    return I == FLimits.end() ? TLimits() : I->second;
}

bool TAlarmWatcher::Raised(const std::string& Port, int Id) const {
    return FRaised.count({Port, Id}) > 0;
}

void TAlarmWatcher::Reading(const TReading& R) {
    if (R.Source == TReadingSource::Scan || !std::isfinite(R.Value)) return;
    const bool Own = R.Source == TReadingSource::Stream || R.Source == TReadingSource::Poll;
    if (Own && R.Id >= 0) {
        const auto [I, New] = FOwnId.try_emplace(R.Port, R.Id);
        if (!New && I->second != R.Id) {
            const int Before = I->second;
            I->second = R.Id;
            End([&](const TKey& K, const TAlarmEvent& E) {
                return K == TKey{R.Port, Before} && E.Source != TReadingSource::Watch;
            });
        }
    }
    const TKey Key{R.Port, R.Id};
    const TLimits L = Limits(R.Port, R.Id);
    const auto Up = FRaised.find(Key);
    TAlarmEvent E{R.Port, R.Id, TAlarmState::Raised, lsInside, R.Value, R.Time, L, R.Source};
    if (Up == FRaised.end()) {
        if (!L.Active()) return;
        E.Side = L.Side(R.Value);
        if (E.Side == lsInside) return;
        FRaised.emplace(Key, E);
    } else {
        if (L.Active() && !L.Clears(R.Value)) return;
        E.State = TAlarmState::Cleared;
        E.Side = Up->second.Side;
        E.Source = Up->second.Source;
        FRaised.erase(Up);
    }
    if (OnAlarm) OnAlarm(E);
}

void TAlarmWatcher::StateChanged(const TConnection& C) {
    const auto Gone = [this](const std::string& Port) {
        FOwnId.erase(Port);
        End([&](const TKey& K, const TAlarmEvent&) { return K.first == Port; });
    };
    const std::string Before = std::exchange(FPort, C.Opened);
    if (!Before.empty() && Before != C.Opened) Gone(Before);
    if (!C.Opened.empty() && C.State != TConnectionState::Connecting &&
        C.State != TConnectionState::Connected)
        Gone(C.Opened);
}

void TAlarmWatcher::WatchEnded(const std::string& Port) {
    End([&](const TKey& K, const TAlarmEvent& E) {
        return K.first == Port && E.Source == TReadingSource::Watch;
    });
}

void TAlarmWatcher::End(const std::function<bool(const TKey&, const TAlarmEvent&)>& Which) {
    std::vector<TAlarmEvent> Ended;
    for (auto I = FRaised.begin(); I != FRaised.end();)
        if (Which(I->first, I->second)) {
            TAlarmEvent E = I->second;
            E.State = TAlarmState::Cleared;
            E.Value = std::nan("");
            E.Time = std::chrono::system_clock::now();
            E.Limits = Limits(E.Port, E.Id);
            E.Gone = true;
            Ended.push_back(E);
            I = FRaised.erase(I);
        } else {
            ++I;
        }
    // Told once the map is settled: a handler may ask Raised.
    for (const TAlarmEvent& E : Ended)
        if (OnAlarm) OnAlarm(E);
}
