// SPDX-License-Identifier: GPL-3.0-or-later
// Profiles on disk: the round trip, a tolerant reading of hand-written
// files, the exact errors of broken ones, names, and the by-id link.
#include "Profile.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace {

void Write(const QString& Path, const std::string& Text) {
    QFile F(Path);
    ASSERT_TRUE(F.open(QIODevice::WriteOnly));
    F.write(Text.data(), qint64(Text.size()));
}

std::string Error(const std::function<void()>& Do) {
    try {
        Do();
    } catch (const EProfileError& E) {
        return E.what();
    }
    return "no error";
}

} // namespace

TEST(Profile, SavedProfilesListLoadRenameAndDelete) {
    QTemporaryDir Tmp;
    const std::string Dir = Tmp.filePath("profiles").toStdString();
    TProfile P{"/dev/serial/by-id/usb-FTDI_A1-if00-port0",
               12,
               500,
               10,
               {-12.5, 0.1, 0.05},
               "/home/u/runs with space",
               "mqtt://localhost:1883",
               "lab/tilt"};
    SaveProfile(Dir, "bench b", P);
    SaveProfile(Dir, "a", TProfile());
    EXPECT_EQ(ListProfiles(Dir), (std::vector<std::string>{"a", "bench b"}));
    EXPECT_TRUE(LoadProfile(Dir, "bench b") == P);
    EXPECT_TRUE(LoadProfile(Dir, "a") == TProfile());
    EXPECT_EQ(Error([&] { RenameProfile(Dir, "a", "bench b"); }),
              "a profile 'bench b' exists already in " + Dir +
                  "; delete it or choose another name");
    RenameProfile(Dir, "bench b", "c");
    EXPECT_TRUE(LoadProfile(Dir, "c") == P);
    DeleteProfile(Dir, "a");
    EXPECT_EQ(ListProfiles(Dir), std::vector<std::string>{"c"});
    EXPECT_EQ(QDir(QString::fromStdString(Dir)).entryList(QDir::Files | QDir::Hidden),
              QStringList{"c.ini"})
        << "no temporary file is left behind";
    for (const auto& Do : std::vector<std::function<void()>>{[&] { LoadProfile(Dir, "a"); },
                                                             [&] { RenameProfile(Dir, "a", "d"); },
                                                             [&] { DeleteProfile(Dir, "a"); }})
        EXPECT_EQ(Error(Do), "no profile 'a' in " + Dir);
    EXPECT_TRUE(ListProfiles(Tmp.filePath("none").toStdString()).empty());

    for (const std::string& Name :
         std::vector<std::string>{"", "a/b", ".hidden", std::string(65, 'x'), "a\nb"})
        EXPECT_NE(Error([&] { SaveProfile(Dir, Name, TProfile()); }), "no error") << Name;
    P.Topic = "a\nb";
    EXPECT_EQ(Error([&] { SaveProfile(Dir, "p", P); }),
              "Topic: 'a\\nb' holds a line break, a control character or blanks at an end, which "
              "the file cannot keep");
    Write(QString::fromStdString(Dir + "/big.ini"), std::string(70000, '#'));
    EXPECT_EQ(Error([&] { LoadProfile(Dir, "big"); }),
              Dir + "/big.ini is larger than a profile can be (64 KiB)");
    EXPECT_EQ(ListProfiles(Dir), (std::vector<std::string>{"big", "c"})) << "nothing was saved";
    SaveProfile(Dir, "c 2", TProfile());
    EXPECT_EQ(ListProfiles(Dir), (std::vector<std::string>{"big", "c", "c 2"})) << "by name";
}

TEST(Profile, HandWrittenFilesReadTolerantlyAndBrokenOnesNameFileLineAndKey) {
    std::vector<std::string> Warnings;
    TProfile P = ParseProfile("Port=\n", "f.ini", &Warnings);
    EXPECT_TRUE(P == TProfile());
    P = ParseProfile("\xEF\xBB\xBF# lab\r\n; old\r\n  Port = /dev/ttyUSB0 \r\n\r\nLow= -3\r\n"
                     "Colour=red\r\nId =7",
                     "f.ini", &Warnings);
    EXPECT_EQ(P.Port, "/dev/ttyUSB0");
    EXPECT_EQ(P.Limits.Low, -3.0);
    EXPECT_EQ(P.Id, 7);
    EXPECT_EQ(Warnings, std::vector<std::string>{"f.ini:6: unknown key 'Colour' skipped"});

    const struct {
        const char* Text;
        const char* Says;
    } Cases[] = {
        {"Port=x\nId=78\n", "f.ini:2: Id: '78' is not a whole number from 1 to 77"},
        {"Interval=1.5\n", "f.ini:1: Interval: '1.5' is not a whole number from 0 to 3600000"},
        {"Low=12,5\n", "f.ini:1: Low: '12,5' is not a number (write 12.5, not 12,5)"},
        {"High=inf\n", "f.ini:1: High: 'inf' is not a number (write 12.5, not 12,5)"},
        {"Hysteresis=-1\n", "f.ini:1: Hysteresis: '-1' is below 0; a hysteresis is 0 or more"},
        {"High=1\nLow=2\n", "f.ini:2: Low, High, Hysteresis: the low limit is above the high "
                            "limit; swap them"},
        {"Id=1\nId=2\n", "f.ini:2: Id: given twice; keep one (line 1)"},
        {"[General]\nPort=x\n",
         "f.ini:1: '[General]' is no Key=Value line (a profile has no sections; remove it)"},
        {"Topic=a\x01z\n", "f.ini:1: Topic: the value holds a control character"},
        {"Low=0\nHigh=2\nHysteresis=1.5\n", "f.ini:3: Low, High, Hysteresis: the hysteresis is "
                                            "wider than half the band between the limits, so an "
                                            "alarm could never clear; make it smaller"},
    };
    for (const auto& C : Cases)
        EXPECT_EQ(Error([&] { ParseProfile(C.Text, "f.ini"); }), C.Says);

    // What the file holds is quoted escaped, and never more than 80 characters of it.
    const std::string Long(10000, 'n'), Cut = "'" + std::string(80, 'n') + "'\u2026";
    const std::pair<std::string, std::string> Hostile[] = {
        {"\x1b]0;owned\x07\xff\n", "f.ini:1: '\\x1b]0;owned\\x07\\xff' is no Key=Value line"},
        {"[" + Long + "\n", "f.ini:1: '[" + std::string(79, 'n') +
                                "'\u2026 is no Key=Value line "
                                "(a profile has no sections; "
                                "remove it)"},
        {"Id=" + Long + "\n", "f.ini:1: Id: " + Cut + " is not a whole number from 1 to 77"},
    };
    for (const auto& [Text, Says] : Hostile)
        EXPECT_EQ(Error([&] { ParseProfile(Text, "f.ini"); }), Says);
    Warnings.clear();
    ParseProfile(Long + "\x1b=1\n", "f.ini", &Warnings);
    EXPECT_EQ(Warnings, std::vector<std::string>{"f.ini:1: unknown key " + Cut + " skipped"});
    EXPECT_EQ(Error([&] { CheckProfileName("a\nb"); }),
              "the profile name 'a\\nb' cannot name a file: leave out '/', a leading '.' and "
              "control characters");
}

TEST(Profile, APortIsNamedByTheByIdLinkThatPointsToIt) {
    QTemporaryDir Tmp;
    Write(Tmp.filePath("ttyUSB0"), "");
    QDir(Tmp.path()).mkdir("by-id");
    QFile::link("/dev/null", Tmp.filePath("by-id/usb-Maker_B-port0"));
    QFile::link("../ttyUSB0", Tmp.filePath("by-id/usb-Maker_A-port0"));
    const std::string ById = Tmp.filePath("by-id").toStdString();
    EXPECT_EQ(ByIdPath(Tmp.filePath("ttyUSB0").toStdString(), ById), ById + "/usb-Maker_A-port0");
    EXPECT_EQ(ByIdPath("/dev/null", ById), ById + "/usb-Maker_B-port0") << "a device";
    EXPECT_EQ(ByIdPath("/dev/zero", ById), "/dev/zero");
}
