// SPDX-License-Identifier: GPL-3.0-or-later
// View > Limits…: what the dialog refuses, and the limits kept in the
// settings file across restarts.
#include "AppPaths.h"
#include "Dialogs.h"

#include "WindowProbe.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <fstream>

TEST(LimitsDialog, BadEntriesAreSaidThereAndChangeNothing) {
    TAlarmWatcher Alarms;
    const TLimits Before{1, 2, 0.25};
    Alarms.SetLimits("USB0", 3, Before);
    const struct {
        const char *Id, *Low, *High, *Hysteresis, *Error;
    } Cases[] = {
        {"3", "abc", "", "",
         "Not set: the low limit \"abc\" is not a number; enter one such as "
         "12.5, or nothing for none"},
        {"3", "", "1", "x",
         "Not set: the hysteresis \"x\" is not a number; enter one such as 12.5"},
        {"3", "5", "2", "", "Not set: the low limit is above the high limit; swap them"},
        {"3", "0", "1", "0.6",
         "Not set: the hysteresis is wider than half the band between the limits, so an alarm "
         "could never clear; make it smaller"},
        {"3", "", "", "-1", "Not set: the hysteresis must be a number of 0 or more"},
        {"3", "10", "", "1000",
         "Not set: the hysteresis is more than 180 degrees, half the full circle, so an alarm "
         "might never clear; make it 180 or less"},
        {"78", "1", "2", "",
         "Not set: the ID \"78\" is not a whole number from 1 to 77; enter the "
         "sensor's ID"},
        {"3", "", "12.5", "", nullptr},
    };
    for (const auto& C : Cases) {
        TLimitsDialog D(nullptr, Alarms, "USB0", 3);
        EXPECT_EQ(Control<QLineEdit>(D, "eLimitLow")->text(), "1") << "the sensor's limits shown";
        const char* Names[] = {"eLimitId", "eLimitLow", "eLimitHigh", "eLimitHysteresis"};
        const char* Texts[] = {C.Id, C.Low, C.High, C.Hysteresis};
        for (int i = 0; i < 4; ++i)
            Control<QLineEdit>(D, Names[i])->setText(Texts[i]);
        EXPECT_EQ(D.Apply(), C.Error == nullptr);
        EXPECT_EQ(D.Error().toStdString(), C.Error ? C.Error : "");
        EXPECT_EQ(Alarms.Limits("USB0", 3), (C.Error ? Before : TLimits{{}, 12.5, 0}));
    }
}

TEST(Limits, KeptPerPortAndIdAcrossRestartsAndUnreadableOnesSaid) {
    QTemporaryDir Dir;
    SetAppFolder(Dir.path().toStdString());
    const TDialogSeam Old = SetDialogSeam({[](const std::string& T) { ADD_FAILURE() << T; },
                                           [](const std::string&) { return false; }});
    {
        TFKAVRO W;
        W.Alarms().SetLimits("USB0", 3, {-1.5, 2, 0.25});
        W.Alarms().SetLimits("pts/4|x", 7, {{}, 10, 0});
        W.Alarms().SetLimits("USB0", 5, {0, 1, 0});
        W.Alarms().SetLimits("USB0", 5, {});
    }
    {
        TFKAVRO W;
        EXPECT_EQ(W.Alarms().Limits("USB0", 3), (TLimits{-1.5, 2, 0.25}));
        EXPECT_EQ(W.Alarms().Limits("pts/4|x", 7), (TLimits{{}, 10, 0}));
        EXPECT_FALSE(W.Alarms().Limits("USB0", 5).Active());
    }
    std::ofstream(Dir.filePath("vorta-display.ini").toStdString())
        << "[Alarms]\nLimits=5|2|0|3|USB0, 1|2|0|4|USB0\n";
    TFKAVRO W;
    EXPECT_EQ(W.Alarms().Limits("USB0", 4), (TLimits{1, 2, 0}));
    EXPECT_FALSE(W.Alarms().Limits("USB0", 3).Active());
    const QString Said = Control<TStatusBar>(W, "StatusBar1")->PanelText(0);
    EXPECT_TRUE(Said.contains("Limits \"5|2|0|3|USB0\" in \"" + Dir.filePath("vorta-display.ini") +
                              "\" not taken: the low limit is above the high limit; swap them; "
                              "set them again in View > Limits"))
        << Said.toStdString();
    SetDialogSeam(Old);
    SetAppFolder("");
}
