// SPDX-License-Identifier: GPL-3.0-or-later
// A reading as the session reports it (TSensorSession): a plain type of its
// own, so that what only shows readings (the plot module) takes them without
// the session's port and exchange.
#pragma once

#include <chrono>
#include <string>

// Where a reading came from: what was last asked of the port when its frame
// arrived. A stream's readings (after #READ, or a sensor left streaming) and
// a poll's (#DATA) are the current sensor's; Angle Data's are those of the
// ID asked; a scan's belong to the scanned ID and never to the current sensor.
// Watch's come from polling several sensors of a shared line in turn
// (TSensorSession::Watch). Whatever the source, a reading's ID is the one its
// own frame names; the current sensor streaming during a scan or a watch
// gives readings of source Stream.
enum class TReadingSource { Stream, AngleData, Scan, Poll, Watch };

// A value frame whose ID characters name a sensor the session knows (see
// TSensorSession::Known) and whose text parsed completely.
struct TReading {
    std::chrono::system_clock::time_point Time;
    double Value = 0;
    std::string Text; // the frame's value text
    std::string Port; // the port name it came through
    int Id = -1;      // the ID the frame names, 1..77; -1 only in one made by hand
    int Mode = -1;    // the sensor's mode; -1 unknown (always for a scan)
    TReadingSource Source = TReadingSource::Stream;
};
