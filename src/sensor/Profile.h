// SPDX-License-Identifier: GPL-3.0-or-later
// Profiles: named sensor setups that the console and vorta-cli both load.
// One file a profile, DIR/NAME.ini (DIR is ProfileDir()), of plain
// "Key=Value" lines without sections:
//   Port Id Interval Count Low High Hysteresis RecordFolder Broker Topic
// Every key is optional and an empty value is the same as no key, so a file
// holding only "Port=" is a valid (empty) profile. Reading is tolerant of
// blanks around '=', of comment lines starting with '#' or ';' and of CR LF;
// a value that is no valid one, a key given twice or a line that is no
// "Key=Value" is an error naming the file, the line and the key; a text of
// the file or a name that an error quotes is shown as QuotedExcerpt
// (Formats.h) writes it: escaped, at most 80 characters. A key this
// version does not know is skipped with a warning, so that a profile written
// by a newer version still loads. Owner's thread only.
#pragma once

#include "Limits.h"
#include "SysUtils.h"

#include <optional>
#include <string>
#include <vector>

class EProfileError : public Exception {
  public:
    using Exception::Exception;
};

struct TProfile {
    std::string Port;            // a /dev/serial/by-id path where the device has one; "" none
    std::optional<int> Id;       // 1..77
    std::optional<int> Interval; // ms between requests, 0..3600000
    std::optional<int> Count;    // readings, 1..1000000
    TLimits Limits;              // off unless Low or High is given
    std::string RecordFolder, Broker, Topic;
    bool operator==(const TProfile& O) const {
        return Port == O.Port && Id == O.Id && Interval == O.Interval && Count == O.Count &&
               Limits == O.Limits && RecordFolder == O.RecordFolder && Broker == O.Broker &&
               Topic == O.Topic;
    }
};

// $XDG_CONFIG_HOME/vorta-display/profiles, XDG_CONFIG_HOME defaulting to
// ~/.config (a relative XDG_CONFIG_HOME is ignored, as the XDG rules say).
std::string ProfileDir();

// Throws EProfileError unless Name can be a profile's file name: not empty,
// at most 64 bytes, no '/', no leading '.', no control character.
void CheckProfileName(const std::string& Name);

// The profiles' names, sorted; none when Dir does not exist.
std::vector<std::string> ListProfiles(const std::string& Dir);

// Parses a profile's text; FileName names it in errors ("FILE:LINE: Key: ...").
// Warnings (unknown keys) are appended to Warnings when given.
TProfile ParseProfile(const std::string& Text, const std::string& FileName,
                      std::vector<std::string>* Warnings = nullptr);
// The file's text: the keys that have a value, in the order listed above.
// Throws EProfileError for a text value holding a line break or control
// character, or limits that CheckLimits refuses.
std::string ProfileText(const TProfile& P);

// Loads DIR/NAME.ini into a value of its own, so that a caller applies it
// only on success. Throws EProfileError: "no profile 'NAME' in DIR", an
// unreadable file, or a broken value (see ParseProfile).
TProfile LoadProfile(const std::string& Dir, const std::string& Name,
                     std::vector<std::string>* Warnings = nullptr);
// Writes DIR/NAME.ini atomically (a temporary file in DIR, renamed over the
// old one), making DIR when missing. Throws EProfileError.
void SaveProfile(const std::string& Dir, const std::string& Name, const TProfile& P);
// Throws EProfileError when From is missing or To exists already.
void RenameProfile(const std::string& Dir, const std::string& From, const std::string& To);
// Throws EProfileError when Name is missing.
void DeleteProfile(const std::string& Dir, const std::string& Name);

// The link in ByIdDir that points to DevicePath, so that a profile names the
// adapter rather than the number it happened to get; DevicePath itself when
// no link points to it.
std::string ByIdPath(const std::string& DevicePath,
                     const std::string& ByIdDir = "/dev/serial/by-id");
