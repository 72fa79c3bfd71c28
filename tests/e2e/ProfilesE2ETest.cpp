// SPDX-License-Identifier: GPL-3.0-or-later
// File > Profiles...: the window's setup saved, loaded back, renamed and
// deleted, and the same file used by vorta-cli.
#include "CliRun.h"
#include "ConsoleFixture.h"
#include "ProgramSettings.h"
#include "ScopedEnv.h"
#include "parts/ProfilesPart.h"

#include <QAction>
#include <QListWidget>
#include <QSignalSpy>

namespace {

class ProfilesE2E : public ConsoleE2E {
  protected:
    void StartWindow(const std::vector<std::string>& SimArgs = {}) {
        Start(SimArgs);
        Internals::AskProfileName(W()) = [this](const QString&, const QString&) {
            return std::optional<QString>(Name);
        };
    }
    QLineEdit* Edit(const char* Name) { return Control<QLineEdit>(W(), Name); }
    // The fields a profile sets: port box, ID, interval, count.
    std::vector<QString> Fields() {
        return {Control<QComboBox>(W(), "ePortNo")->currentText(), Edit("Edit1")->text(),
                Edit("eInterval")->text(), Edit("eCount")->text()};
    }
    // Opens the dialog, selects Profile and clicks Button.
    void Click(const char* Button, const QString& Profile = {}) {
        Control<QAction>(W(), "actProfiles")->trigger();
        auto* Dialog = W().findChild<TProfilesDialog*>();
        ASSERT_TRUE(Dialog && Dialog->isVisible());
        auto* List = Control<QListWidget>(*Dialog, "lbProfiles");
        for (int i = 0; i < List->count(); ++i)
            if (List->item(i)->text() == Profile) List->setCurrentRow(i);
        Control<QPushButton>(*Dialog, Button)->click();
    }
    QString KeptValue(const char* Key) { return TProgramSettings().Value(Key).toString(); }
    std::string Profiles() { return ProfileDir(); }

    TScopedEnv Config{"XDG_CONFIG_HOME", (Folder.path() + "/cfg").toUtf8().constData()};
    QString Name = "bench";
};

} // namespace

TEST_F(ProfilesE2E, SavedSetupComesBackRenamesAndDeletes) {
    TProgramSettings Kept;
    Kept.SetValue("Recording/Folder", "/data/runs");
    Kept.SetValue("Broker/Url", "mqtt://broker.example:1883");
    Kept.SetValue("Broker/Prefix", "lab/tilt");
    Kept.Save();
    StartWindow();
    const std::string Port = PortNameFromPath(Sim->Path());
    Edit("Edit1")->setText("9");
    Edit("eInterval")->setText("250");
    Edit("eCount")->setText("3");
    W().Alarms().SetLimits(Port, 9, {-5.0, 5.0, 0.5});
    const std::vector<QString> Saved = Fields();
    Click("btSaveProfile");
    EXPECT_EQ(ReadFile(Profiles() + "/bench.ini"),
              "Port=" + Sim->Path() +
                  "\nId=9\nInterval=250\nCount=3\nLow=-5\nHigh=5\nHysteresis=0.5\n"
                  "RecordFolder=/data/runs\nBroker=mqtt://broker.example:1883\nTopic=lab/tilt\n");

    Control<QComboBox>(W(), "ePortNo")->setEditText("pts/999");
    Edit("Edit1")->setText("4");
    Edit("eInterval")->setText("1000");
    Edit("eCount")->setText("1");
    W().Alarms().SetLimits(Port, 9, {});
    Kept.SetValue("Broker/Url", "mqtt://elsewhere");
    Kept.Save();
    QSignalSpy Typed(Edit("Edit1"), &QLineEdit::textEdited);
    Click("btLoadProfile", "bench");
    EXPECT_EQ(Fields(), Saved);
    EXPECT_EQ(Typed.size(), 1) << "set as the operator types";
    EXPECT_EQ(W().Alarms().Limits(Port, 9), (TLimits{-5.0, 5.0, 0.5}));
    EXPECT_EQ(KeptValue("Broker/Url"), "mqtt://broker.example:1883");
    EXPECT_FALSE(W().findChild<TProfilesDialog*>()->isVisible()) << "closed after the load";
    EXPECT_EQ(Panel(0), "Profile 'bench' loaded");

    Name = "bench 2";
    Click("btRenameProfile", "bench");
    EXPECT_EQ(ListProfiles(Profiles()), std::vector<std::string>{"bench 2"});
    EXPECT_EQ(KeptValue("Profiles/Last"), "bench 2");
    Click("btDeleteProfile", "bench 2");
    EXPECT_EQ(Questions, std::vector<std::string>{"Delete the profile 'bench 2'?"});
    EXPECT_TRUE(ListProfiles(Profiles()).empty());
    EXPECT_EQ(KeptValue("Profiles/Last"), "");
    EXPECT_TRUE(Messages.empty()) << Messages[0];
}

// With no ID of its own, a profile keeps the limits View > Limits… shows:
// the connected sensor's.
TEST_F(ProfilesE2E, WithoutAnIdTheCurrentSensorsLimitsAreSavedAndLoaded) {
    StartWindow({"--id", "3"});
    Connect();
    const std::string Port = PortNameFromPath(Sim->Path());
    W().Alarms().SetLimits(Port, 3, {-2.0, 2.0, 0.0});
    Click("btSaveProfile");
    const std::string Text = ReadFile(Profiles() + "/bench.ini");
    EXPECT_NE(Text.find("\nLow=-2\nHigh=2\n"), std::string::npos) << Text;
    EXPECT_EQ(Text.find("Id="), std::string::npos) << Text;
    W().Alarms().SetLimits(Port, 3, {});
    Click("btLoadProfile", "bench");
    EXPECT_EQ(W().Alarms().Limits(Port, 3), (TLimits{-2.0, 2.0, 0.0}));
}

// The console's Angle Data and vorta-cli --profile ask the same sensor.
TEST_F(ProfilesE2E, ConsolesProfileTakesTheCliToTheSamePortAndId) {
    StartWindow({"--bus", "5,9", "--value", "12.5"});
    Edit("Edit1")->setText("9");
    Edit("eCount")->setText("1");
    Click("btSaveProfile");
    Connect();
    Control<QPushButton>(W(), "btB105")->click();
    ASSERT_TRUE(
        PumpUntilTrue([this] { return Sim->Bytes().find("\xB9\x05") != std::string::npos; }));
    const std::string Console = Sim->Bytes();
    Control<QAction>(W(), "actDisconnect")->trigger();

    const TRun R = Cli({"--profile", "bench", "read", "--count", "1"});
    EXPECT_EQ(R.Status, 0) << R.Err;
    EXPECT_EQ(R.Out, "12.5\n");
    EXPECT_EQ(Sim->Bytes().substr(Console.size()), "\xB9\x05");
}

// A broken profile changes nothing, in the dialog and at start-up; one that
// has gone is reported once and forgotten.
TEST_F(ProfilesE2E, ABrokenProfileIsSaidAndTheFieldsStay) {
    QDir().mkpath(QString::fromStdString(Profiles()));
    std::ofstream(Profiles() + "/bench.ini") << "Port=pts/7\nId=99\n";
    {
        TProgramSettings Last;
        Last.SetValue("Profiles/Last", "bench");
        Last.Save();
    }
    StartWindow();
    const std::string Why =
        Profiles() + "/bench.ini:2: Id: '99' is not a whole number from 1 to 77";
    EXPECT_EQ(Panel(0).substr(0, Panel(0).rfind(" - ")),
              "Profile 'bench' not loaded, the saved settings stay: " + Why);
    EXPECT_EQ(Edit("Edit1")->text(), "0");
    const std::vector<QString> Before = Fields();
    Click("btLoadProfile", "bench");
    EXPECT_EQ(Messages, std::vector<std::string>{"The profile 'bench' was not loaded: " + Why +
                                                 ".\n\nThe window's settings stay as they were."});
    EXPECT_EQ(Fields(), Before);
    EXPECT_EQ(KeptValue("Profiles/Last"), "bench") << "loaded once it is mended";

    Window.reset();
    QFile::remove(QString::fromStdString(Profiles() + "/bench.ini"));
    StartWindow();
    EXPECT_NE(Panel(0).find("no profile 'bench' in " + Profiles()), std::string::npos);
    EXPECT_EQ(KeptValue("Profiles/Last"), "");
}
