// SPDX-License-Identifier: GPL-3.0-or-later
// The simulated sensor's protocol state: what it answers to the bytes it
// receives. No I/O here; the program around it owns the pseudo-terminal, the
// clock and the output timing. Single-threaded.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

struct SimConfig {
    int Id = 1;              // 1..77; travels as the byte 176 + Id
    int Mode = 0;            // 0..3
    int MinusRange = 900;    // tenths of a degree
    int PlusRange = 900;     // tenths of a degree; 3600 is reported as "0"
    bool FixedValue = false; // hold the angle at Value instead of swinging
    double Value = 0;        // degrees
    // Further sensors on the same line (--bus): each answers the Angle Data
    // request of its own ID; only the first (Id) answers the text commands,
    // which every sensor on a shared line would otherwise answer at once.
    std::vector<int> BusIds;
    // Degrees each sensor of the line reads more than the one listed before
    // it (--spread), so that their readings can be told apart.
    double Spread = 0;
    // One sensor of the line leaves its GapFrom-th to GapTo-th Angle Data
    // requests (counted from 1) unanswered, as a sensor that is unplugged for
    // a while and plugged in again (--gap); GapId 0: none.
    int GapId = 0, GapFrom = 0, GapTo = 0;
};

// One thing the sensor does in reply to a command.
struct SimReply {
    enum Kind { Text, Frame, StartStream, StopStream };
    Kind What;
    std::string Line; // for Text: the answer line including CR LF
    int Id = 0;       // for Frame: the sensor that answers (0: the first)
};

class SimSensor {
  public:
    explicit SimSensor(const SimConfig& Config) : FCfg(Config) {}

    // Takes received bytes in any split; appends the replies of every command
    // completed by them. Lines longer than MaxLine are dropped unanswered.
    void Receive(const char* Data, size_t Count, std::vector<SimReply>& Out);

    // The Information line, CR LF included.
    std::string InfoLine() const;

    // A value frame for the angle at Seconds since start: STX, the angle with
    // two decimals, the identity byte in hexadecimal, ETB, "$".
    // Id 0 is the first sensor's identity.
    std::string FrameAt(double Seconds, int Id = 0) const;

    // The angle shown at Seconds: a slow sine inside the configured range.
    double AngleAt(double Seconds) const;

    const SimConfig& Config() const { return FCfg; }

    static constexpr size_t MaxLine = 256;

  private:
    void Command(const std::string& Line, std::vector<SimReply>& Out);
    bool InGap(int Id);

    SimConfig FCfg;
    std::string FLine;
    bool FOverlong = false;
    unsigned char FPrev = 0;
    long FGapAsked = 0; // Angle Data requests of GapId so far
};

// Two decimals, C locale, never "-0.00".
std::string FormatAngle(double Degrees);
