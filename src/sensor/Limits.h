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
// finite number, a bound outside -FullCircle..FullCircle, Low above High, a negative hysteresis, or
// one so wide that a reading might never clear an alarm. The hysteresis is at most half the band: 2
// * Hysteresis <= High - Low, and <= FullCircle whatever the bounds, as no reading lies further
// than the full circle from a bound. So with one bound only it is at most 180, and a band wider
// than the circle does not allow more.
void CheckLimits(const TLimits& L);
constexpr double FullCircle = 360; // degrees

enum class TAlarmState { Raised, Cleared };
const char* AlarmStateName(TAlarmState S); // "raised", "cleared"

// A crossing: the reading that raised or cleared the alarm of (Port, Id),
// and the limits it was judged by. Or the end of a standing alarm because
// its sensor went (Gone): cleared, Value NaN (no reading did it), Time when
// it was noticed.
struct TAlarmEvent {
    std::string Port;
    int Id = -1;
    TAlarmState State = TAlarmState::Raised;
    TLimitSide Side = lsInside; // the side left (raised) or come back from (cleared)
    double Value = 0;
    std::chrono::system_clock::time_point Time;
    TLimits Limits;
    // Of the reading that raised the alarm, for a cleared one too: Watch is
    // a sensor polled on a shared line, the others the connection's own.
    TReadingSource Source = TReadingSource::Stream;
    bool Gone = false;
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
//
// An alarm stands only while its sensor is there: it ends (a Gone event)
// when its port closes, is lost or gives way to another (StateChanged), when
// the connection's own sensor answers with another ID (a stream's or #DATA
// reading: the one before left the line, or was renumbered), when the watch
// that raised it ends (WatchEnded). A sensor still outside
// its limits raises the alarm again with its next reading.
class TAlarmWatcher : public TSessionObserver {
  public:
    // Throws ELimitsError (see CheckLimits); the limits before stay then.
    void SetLimits(const std::string& Port, int Id, const TLimits& L);
    // Inactive limits when none were set.
    TLimits Limits(const std::string& Port, int Id) const;
    bool Raised(const std::string& Port, int Id) const;

    void Reading(const TReading& R) override;
    void StateChanged(const TConnection& C) override;
    // The watch on Port ended: the alarms its readings raised end.
    void WatchEnded(const std::string& Port);

    // Called during Reading, once per crossing.
    std::function<void(const TAlarmEvent&)> OnAlarm;
    // Called after SetLimits took new limits, whoever set them: what keeps
    // or draws the limits follows every change.
    std::function<void(const std::string& Port, int Id, const TLimits&)> OnLimitsChanged;

  private:
    using TKey = std::pair<std::string, int>;
    // Ends the standing alarms for which Which holds.
    void End(const std::function<bool(const TKey&, const TAlarmEvent&)>& Which);
    std::map<TKey, TLimits> FLimits;
    std::map<TKey, TAlarmEvent> FRaised; // the raising event
    std::map<std::string, int> FOwnId;   // the ID of each port's own sensor
    std::string FPort;                   // the session's port, to notice a change
};
