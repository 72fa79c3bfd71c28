// SPDX-License-Identifier: GPL-3.0-or-later
#include "Limits.h"

#include <cmath>

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
    const TKey Key{R.Port, R.Id};
    const TLimits L = Limits(R.Port, R.Id);
    const auto Up = FRaised.find(Key);
    TAlarmEvent E{R.Port, R.Id, TAlarmState::Raised, lsInside, R.Value, R.Time, L};
    if (Up == FRaised.end()) {
        if (!L.Active()) return;
        E.Side = L.Side(R.Value);
        if (E.Side == lsInside) return;
        FRaised.emplace(Key, E.Side);
    } else {
        if (L.Active() && !L.Clears(R.Value)) return;
        E.State = TAlarmState::Cleared;
        E.Side = Up->second;
        FRaised.erase(Up);
    }
    if (OnAlarm) OnAlarm(E);
}
