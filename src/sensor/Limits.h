// SPDX-License-Identifier: GPL-3.0-or-later
// Limits on a sensor's readings and the alarms they raise. Plain values and
// one watcher, no widgets: the console, vorta-cli and the publisher share
// them. Values are in the readings' unit (degrees). Owner's thread only.
#pragma once

#include "Reading.h"
#include "SensorSession.h"
#include "SysUtils.h"

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>

class ELimitsError : public Exception {
  public:
    using Exception::Exception;
};

// Where a value lies against the limits.
enum TLimitSide { lsInside, lsLow, lsHigh };
// "", "low", "high": the CSV column's and JSON member's texts.
const char* LimitSideName(TLimitSide S);

// A band [Low, High]; either bound may be absent, and without both the
// limits are off. The hysteresis keeps an alarm that a value near a bound
// would otherwise raise and clear on every reading: it clears only once a
// reading is back inside by at least Hysteresis (>= Low + Hysteresis and
// <= High - Hysteresis).
struct TLimits {
    std::optional<double> Low, High;
    double Hysteresis = 0;

    bool Active() const { return Low || High; }
    // Outside is strictly below Low or above High; a bound itself is inside.
    TLimitSide Side(double Value) const;
    // Inside by at least the hysteresis.
    bool Clears(double Value) const;
    bool operator==(const TLimits& O) const {
        return Low == O.Low && High == O.High && Hysteresis == O.Hysteresis;
    }
};

// Throws ELimitsError naming the fault: a bound or hysteresis that is no
// finite number, Low above High, a negative hysteresis, or one so wide that
// a reading might never clear an alarm. The hysteresis is at most half the
// band: 2 * Hysteresis <= High - Low, and <= FullCircle whatever the bounds,
// as no reading lies further than the full circle from a bound. So with one
// bound only it is at most 180, and a band wider than the circle does not
// allow more.
void CheckLimits(const TLimits& L);
constexpr double FullCircle = 360; // degrees

enum class TAlarmState { Raised, Cleared };
const char* AlarmStateName(TAlarmState S); // "raised", "cleared"

// A crossing: the reading that raised or cleared the alarm of (Port, Id),
// and the limits it was judged by.
struct TAlarmEvent {
    std::string Port;
    int Id = -1;
    TAlarmState State = TAlarmState::Raised;
    TLimitSide Side = lsInside; // the side left (raised) or come back from (cleared)
    double Value = 0;
    std::chrono::system_clock::time_point Time;
    TLimits Limits;
};

// The alarms of every sensor, each keyed by the port name and ID its
// readings carry (TReading::Port, TReading::Id; -1 an ID not known yet).
// Feed it readings through Reading: as an observer of a session (AddObserver)
// or by hand. Off by default: a sensor without active limits never raises.
//
// A scan's answers are ignored: a scan asks each ID once, so an alarm it
// raised could stand with nothing to ever clear it. Angle Data readings carry
// the ID asked and are judged by that ID's limits.
//
// An alarm is told once per crossing: raised when a reading falls outside
// the band, cleared when one comes back inside by the hysteresis. Limits
// changed or removed while raised are applied to the next reading, which
// clears the alarm when it lies inside the new band by the hysteresis (or
// at once when the limits were turned off), so every event carries the
// reading that caused it.
class TAlarmWatcher : public TSessionObserver {
  public:
    // Throws ELimitsError (see CheckLimits); the limits before stay then.
    void SetLimits(const std::string& Port, int Id, const TLimits& L);
    // Inactive limits when none were set.
    TLimits Limits(const std::string& Port, int Id) const;
    bool Raised(const std::string& Port, int Id) const;

    void Reading(const TReading& R) override;

    // Called during Reading, once per crossing.
    std::function<void(const TAlarmEvent&)> OnAlarm;
    // Called after SetLimits took new limits, whoever set them: what keeps
    // or draws the limits follows every change.
    std::function<void(const std::string& Port, int Id, const TLimits&)> OnLimitsChanged;

  private:
    using TKey = std::pair<std::string, int>;
    std::map<TKey, TLimits> FLimits;
    std::map<TKey, TLimitSide> FRaised; // the side that raised it
};
