// SPDX-License-Identifier: GPL-3.0-or-later
// What the program keeps between runs beyond the 61-byte record: a small
// settings file "vorta-display.ini" in the same folder as "UserSet.dat"
// (see AppPaths.h), in the plain key=value form of QSettings' ini format.
// The record stays byte-exact; this file holds what does not fit in it
// (the whole port name today). User-interface thread only.
#pragma once

#include "UserSettings.h"

#include <QSettings>
#include <QString>
#include <QVariant>

#include <memory>
#include <string>

class TProgramSettings {
  public:
    static constexpr const char* FileName = "vorta-display.ini";

    // Opens FileName in the settings folder, or Path. Raises EInOutError when
    // something other than a regular file stands there (it is never opened).
    TProgramSettings();
    explicit TProgramSettings(const std::string& Path);
    ~TProgramSettings();

    QVariant Value(const QString& Key, const QVariant& Default = QVariant()) const;
    void SetValue(const QString& Key, const QVariant& Value);
    // Writes the changes to the file; EInOutError when that fails. Returns
    // how many unreadable entries (lines that are no section, key=value or
    // comment) the file held: they are not in the file it wrote.
    int Save();

    const std::string& Path() const { return FPath; }

  private:
    std::string FPath;
    std::unique_ptr<QSettings> FSettings;
    int FUnreadable = 0; // in the file as it was opened
};

// The record's strings are 8-bit; they travel through the window's texts as
// Latin-1 both ways so that every byte comes back as it was.
QString RecordText(const std::string& Bytes);
std::string RecordBytes(const QString& Text);

// The port name to show at start: Whole (as kept in the settings file) when
// its first characters are exactly the record's port field, else the field.
// A record written by something else since then wins over a stale name.
QString WholePortName(const TUserSettings& Record, const QString& Whole);

// The lines of an ini file that its reader cannot take and its next write
// drops: neither blank, a ";" comment, a closed "[section]" nor key=value.
int UnreadableIniLines(const QByteArray& Text);
