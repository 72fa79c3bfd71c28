// SPDX-License-Identifier: GPL-3.0-or-later
// File > Profiles...: named setups (see Profile.h) saved from the window's
// fields and applied to them, the same files vorta-cli --profile reads.
//
// A profile's ID is the one the window asks readings of (Edit1, "Value Read
// for ID"), as vorta-cli's --id is: the other "ID No" field (eID) is the ID
// that ID Change gives the sensor, which a profile must never set by itself.
//
// User-interface thread only. The controls and the record folder are the
// window's and outlive the part.
#pragma once

#include "Limits.h"
#include "Profile.h"
#include "SensorSession.h"

#include <QDialog>
#include <QString>
#include <QVariant>

#include <functional>
#include <optional>
#include <string>
#include <vector>

class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class TProfilesPart;

// What a profile is made of and applied to.
struct TProfileFields {
    QComboBox* Port;       // the port box (editable)
    QLineEdit* Id;         // Edit1; "" or "0" is no ID
    QLineEdit* Interval;   // eInterval, ms
    QLineEdit* Count;      // eCount
    QString* RecordFolder; // where File > Record readings... starts
};

// The list of profiles and what can be done with them. Opened with open():
// modal to the window without a nested event loop of its own, so nothing
// waits on it; it closes itself after a load.
class TProfilesDialog : public QDialog {
  public:
    TProfilesDialog(QWidget* Parent, TProfilesPart& Part);
    // The list anew from the folder, Select chosen when it is listed.
    void Refresh(const std::string& Select = "");
    std::string Selected() const; // "" when none

  private:
    void SaveAs();
    void Load();
    void Rename();
    void Delete();
    void UpdateButtons();
    TProfilesPart& FPart;
    QListWidget* FList;
    QLabel* FFolder;
    QPushButton *FLoad, *FRename, *FDelete;
};

// The ID of the session's current sensor, whose limits View > Limits…
// shows: its Information's, else its last reading's; -1 when none is known.
int CurrentSensorId(const TSensorSession& Session);

class TProfilesPart {
  public:
    TProfilesPart(QWidget& Window, TSensorSession& Session, TAlarmWatcher& Alarms,
                  const TProfileFields& Fields);

    // Keeps a value in the program settings (the window writes the file and
    // reports what it dropped).
    std::function<void(const QString& Key, const QVariant& Value)> Keep;
    // The window's record folder changed: the window keeps it.
    std::function<void()> OnRecordFolderChanged;
    // What panel 0 of the status bar is to show.
    std::function<void(const QString& Text)> OnStatus;
    // Asks for a profile's name (Text the name offered); nullopt when the
    // operator cancels. Tests replace it; the default is an input dialog.
    std::function<std::optional<QString>(const QString& Label, const QString& Text)> AskName;

    // File > Profiles...: the dialog, made on first use.
    void ShowDialog();

    // The setup as a profile: the port (the open device's /dev/serial/by-id
    // link where it has one, else the port box's text), the ID, interval and
    // count as the fields hold them, that sensor's limits (with no ID, the
    // current sensor's, as View > Limits… shows them), the record folder
    // and the broker's URL and topic prefix the Publish dialog offers.
    // Throws EProfileError naming a field that holds no valid value.
    TProfile Current() const;
    // Applies the keys P has and leaves the rest; the limits go to the port
    // and ID the window then names, else the current sensor (and to the
    // open port when it is that device under another name). Throws
    // ELimitsError before anything changes.
    void Apply(const TProfile& P);

    // The dialog's commands. Each shows what went wrong in a message box
    // (Dialogs.h) and returns false; the fields stay as they were.
    bool Save(const std::string& Name);
    bool Load(const std::string& Name);
    bool Rename(const std::string& From, const std::string& To);
    bool Delete(const std::string& Name);

    // At start-up, after the saved settings: the profile last loaded or
    // saved. A profile broken since is reported through Report and the
    // saved settings stay; one gone is reported and forgotten.
    void LoadLast(const QString& LastName, const std::function<void(const std::string&)>& Report);

    static constexpr const char* LastKey = "Profiles/Last";
    std::string Dir() const { return ProfileDir(); }

  private:
    void Loaded(const std::string& Name, const std::vector<std::string>& Warnings);
    // The port name the current readings carry, or will once the port box's
    // text is connected to.
    std::string CurrentPortKey() const;
    QWidget& FWindow;
    TSensorSession& FSession;
    TAlarmWatcher& FAlarms;
    TProfileFields FFields;
    std::string FLast;                  // the profile last loaded or saved
    TProfilesDialog* FDialog = nullptr; // the window's child
};
