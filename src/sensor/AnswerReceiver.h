// SPDX-License-Identifier: GPL-3.0-or-later
// Assembly of the sensor's answers from received bytes: CR-ended text lines
// and "$"-ended value frames (STX, value text, two ID characters, ETB, "$").
// Plain C++; the window feeds it from its receive event on the user-interface
// thread and is called back for every line to show and every accepted value.
//
// A frame is a reading only when both its parts are whole: its last two
// characters name the sending sensor (see FrameIdOf) and the text before them
// is a number (see ParseValueText). Anything else is a malformed frame, and a
// reading is never credited to anyone but the sensor its own frame names:
// the ID goes with every value (FrameId), so no consumer has to guess it from
// what was asked last.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

class TAnswerReceiver {
  public:
    // A line that never ends is shown in pieces of this size, so a device that
    // never sends CR cannot grow the buffer without end.
    static constexpr std::size_t MaxLine = 64 * 1024;

    static constexpr char STX = 2;
    static constexpr char LF = 10;
    static constexpr char CR = 13;
    static constexpr char ETB = 23;
    static constexpr char FrameEnd = '$';

    // Buffer is the text collected since the last line or accepted frame; it
    // is the caller's (the window keeps it as RxBuffer) and must outlive this.
    explicit TAnswerReceiver(std::string& Buffer) : FBuffer(Buffer) {}

    // Called with each finished line and with the text of each accepted
    // frame: its value text when the frame names a sensor, else its whole
    // text (what would be ID characters are none, and dropping them would
    // show a different number, " 12.50 " as " 12."). May throw; the exception
    // leaves Receive with the rest unread.
    std::function<void(const std::string& Line)> OnLine;
    // Called with the number of an accepted frame whose ID characters name a
    // sensor and whose value text parsed completely: a reading of the sensor
    // FrameId names. Exceptions thrown here are swallowed: a failing display
    // must not stop reception.
    std::function<void(double Value)> OnValue;
    // Called instead of OnValue for an accepted frame that is no reading: its
    // ID characters name no sensor (missing, lower case, out of range, a
    // byte in error) or its value text is not a number (line noise that
    // passed the frame test, a NUL or SUB among the digits). A consumer shows
    // it at most, never records, plots or publishes it as a value, and never
    // takes it for the sensor it asked. Exceptions are swallowed as for
    // OnValue.
    std::function<void(const std::string& Text)> OnMalformed;
    // Called with the bytes as they came, control bytes and check characters
    // included, each byte once and in order: those of a line or frame just
    // before its OnLine; an LF right after a line's CR alone, as it comes;
    // while no line ends, pieces of MaxRaw bytes; and on Reset, the bytes of
    // the line it drops. May throw, as OnLine.
    std::function<void(const std::string& Bytes)> OnRaw;
    static constexpr std::size_t MaxRaw = 2 * MaxLine;
    // The decimal separator the value texts are read with.
    char DecimalSeparator = '.';

    // Takes the next received bytes, in any split of lines and frames.
    void Receive(const char* Data, std::size_t Size);
    void Receive(const std::string& Data) { Receive(Data.data(), Data.size()); }

    // Empties the buffer and forgets the frame being assembled: whatever
    // arrives next starts a new line or frame. Its bytes go to OnRaw first.
    void Reset();

    // True while OnLine runs for the text of a value frame (OnValue or
    // OnMalformed follows), false for an answer line.
    bool LineIsFrame() const { return FLineIsFrame; }
    // True while OnLine runs for a frame that OnValue follows: both its ID
    // and its value are whole. Lets the listener of OnLine tell a reading
    // from noise before deciding what to show.
    bool FrameIsReading() const { return FFrameIsReading; }
    // The value text of the frame being handed on: its line without the stray
    // bytes ahead of its STX. Meaningful in the callbacks of a frame only.
    std::string ValueText() const { return FLine.substr(FValueStart); }
    // The frame's two ID characters (the sender's ID byte in hexadecimal),
    // as they came; "" for a frame too short to hold them. Meaningful in the
    // callbacks of a frame only.
    const std::string& CheckText() const { return FCheck; }
    // The sensor the frame's ID characters name, 1..77, or -1 when they name
    // none. Always 1..77 in OnValue. Meaningful in the callbacks of a frame.
    int FrameId() const { return FFrameId; }

  private:
    void EndLine();
    void AcceptFrame();
    void HandOnRaw();

    std::string& FBuffer;
    std::string FLine; // the line being handed on
    std::string FRaw;  // every byte since the last one handed to OnRaw
    std::string FRawOut;
    bool FAfterCr = false; // the last byte ended a line with CR
    // An ETB arrived since the frame being assembled began. Kept across
    // receive events so a frame is judged the same however it is split.
    bool FEtbSeen = false;
    // Where the value text of the frame being assembled begins: just after its
    // STX. Stray bytes ahead of a frame (line noise) then stay in the shown
    // line but cannot spoil the reading.
    std::size_t FFrameStart = 0;
    bool FLineIsFrame = false;
    std::size_t FValueStart = 0; // in FLine, for ValueText
    std::string FCheck;          // for CheckText
    int FFrameId = -1;
    bool FFrameIsReading = false;
};

// The sensor ID two ID characters name: exactly two upper-case hexadecimal
// digits whose value is 176 + ID, ID 1..77 ("B1" is 1, "FD" 77); -1 for any
// other text. The sensor sends nothing else there, so anything else is a
// frame in error, not a sensor to guess.
int FrameIdOf(const std::string& Check);

// The value text of a frame as a number, read with the given decimal separator
// or with "." (what the sensor sends, whatever the computer's locale):
// optional blanks, sign, digits with at most one separator, optional exponent.
// False, with Value untouched, for anything else or a value out of range.
bool ParseValueText(const std::string& Text, char DecimalSeparator, double& Value);
// As ParseValueText, with 0 for a text that is not a number: what the readout
// shows for such a frame.
double ValueTextToFloat(const std::string& Text, char DecimalSeparator);

// The needle turns against the reading in modes "0" and "1"; in every other
// mode (including none read yet) it follows the reading.
float NeedleAngle(double Value, const std::string& Mode);
