// SPDX-License-Identifier: GPL-3.0-or-later
// The alarm watcher: one event per crossing, the hysteresis, each sensor on
// its own, a scan never judged.
#include "Limits.h"

#include <gtest/gtest.h>

#include <QString>

#include <cmath>

namespace {

TReading At(double V, int Id = 5, TReadingSource S = TReadingSource::Stream) {
    const std::chrono::system_clock::time_point T(std::chrono::seconds(int(V * 10)));
    return {T, V, "", "pts/3", Id, -1, S};
}

} // namespace

TEST(Limits, EachCrossingIsToldOnceAndClearsOnlyInsideByTheHysteresis) {
    TAlarmWatcher W;
    std::string Told;
    W.OnAlarm = [&](const TAlarmEvent& E) {
        EXPECT_EQ(E.Time, At(E.Value).Time);
        Told += std::to_string(E.Id) + AlarmStateName(E.State) + LimitSideName(E.Side) + "@" +
                QString::number(E.Value).toStdString() + " ";
    };
    W.SetLimits("pts/3", 5, TLimits{10, 20, 1});
    W.SetLimits("pts/3", 7, TLimits{10, {}, 1});
    for (const double V : {15.0, 10.0, 9.9, 9.0, 10.5, 11.0, 20.0, 20.5, 21.0, 9.0, 19.0})
        W.Reading(At(V));
    // Only a low limit: nothing is ever too high.
    for (const double V : {9.0, 10.9, 500.0})
        W.Reading(At(V, 7));
    // A scan's answer and a sensor without limits raise nothing.
    W.Reading(At(1, 5, TReadingSource::Scan));
    W.Reading(At(1, 8));
    EXPECT_EQ(Told, "5raisedlow@9.9 5clearedlow@11 5raisedhigh@20.5 5clearedhigh@19 "
                    "7raisedlow@9 7clearedlow@500 ");

    // Limits turned off while raised: the next reading clears the alarm.
    Told.clear();
    W.Reading(At(30));
    W.SetLimits("pts/3", 5, TLimits());
    for (const double V : {40.0, 50.0})
        W.Reading(At(V));
    EXPECT_EQ(Told, "5raisedhigh@30 5clearedhigh@40 ");
}

// Whatever bounds are given, an alarm must be able to clear: at most half
// the band, and at most half the full circle. A bound is an angle.
TEST(Limits, AHysteresisThatMightNeverClearOrABoundBeyondATurnIsRefused) {
    const struct {
        TLimits L;
        bool Taken;
    } Cases[] = {{{10, {}, 180}, true},    {{10, {}, 180.5}, false},  {{{}, 10, 1000}, false},
                 {{-360, 360, 180}, true}, {{-360, 360, 181}, false}, {{0, 1, 0.5}, true},
                 {{0, 1, 0.6}, false},     {{1e308, {}, 0}, false},   {{{}, -360.5, 0}, false}};
    for (const auto& C : Cases) {
        bool Taken = true;
        try {
            CheckLimits(C.L);
        } catch (const ELimitsError&) {
            Taken = false;
        }
        EXPECT_EQ(Taken, C.Taken) << C.L.Hysteresis;
    }
}

// An alarm stands only while its sensor is there: its port closing, lost or
// changed, the connection's sensor answering with another ID, the watch
// that read it ending.
TEST(Limits, AnAlarmEndsWhenItsSensorGoes) {
    TAlarmWatcher W;
    std::string Told;
    W.OnAlarm = [&](const TAlarmEvent& E) {
        Told += std::to_string(E.Id) + (E.Gone ? "gone" : AlarmStateName(E.State)) + " ";
        EXPECT_EQ(std::isnan(E.Value), E.Gone);
    };
    TConnection C{"", "pts/3", "/dev/pts/3", TConnectionState::Connected, {}};
    W.StateChanged(C);
    for (const int Id : {5, 6, 7})
        W.SetLimits("pts/3", Id, {10, {}, 0});
    W.Reading(At(1, 5));
    W.Reading(At(1, 6, TReadingSource::Watch));
    W.Reading(At(1, 7));
    W.WatchEnded("pts/3");
    C.State = TConnectionState::Lost;
    W.StateChanged(C);
    C.State = TConnectionState::Connected;
    W.StateChanged(C);
    W.Reading(At(1, 7));
    C.Opened = "pts/4";
    W.StateChanged(C);
    EXPECT_EQ(Told, "5raised 6raised 5gone 7raised 6gone 7gone 7raised 7gone ");
}
