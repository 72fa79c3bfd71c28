// SPDX-License-Identifier: GPL-3.0-or-later
#include "UserSettings.h"

#include "AppPaths.h"
#include "FileAccess.h"
#include "PictureNames.h"
#include "ProgramSettings.h"
#include "SysUtils.h"

#include "ScopedEnv.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <csignal>
#include <fstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

TEST(UserSettingsRecord, DefaultsAreByteExact) {
    TUserSettings S = TUserSettings::Defaults();
    EXPECT_EQ(std::string(S.Bytes.begin(), S.Bytes.end()), DefaultSettingsRecord());
}

TEST(UserSettingsRecord, TextsAreCutToCapacityAndShorterOnesKeepOldTail) {
    TUserSettings S = TUserSettings::Defaults();
    S.Set(TUserSettings::SendInterval, "123456789012");
    EXPECT_EQ(S.Get(TUserSettings::SendInterval), "1234567890");
    S.Set(TUserSettings::PortName, "COM12");
    S.Set(TUserSettings::PortName, "COM3");
    EXPECT_EQ(S.Bytes[0], 4);
    EXPECT_EQ(S.Get(TUserSettings::PortName), "COM3");
    EXPECT_EQ(S.Bytes[5], '2'); // the older, longer value's last character stays
    S.Set(TUserSettings::SensorId, "12345");
    EXPECT_EQ(S.Get(TUserSettings::SensorId), "123");
    EXPECT_EQ(S.Bytes[28], 0); // the reserved field after it is untouched
}

TEST(UserSettingsRecord, LengthBytesBeyondCapacityStayInsideTheRecord) {
    TUserSettings S;
    S.Bytes.fill('x');
    const TUserSettings::TField Fields[] = {TUserSettings::PortName, TUserSettings::SendCount,
                                            TUserSettings::SendInterval, TUserSettings::SensorId,
                                            TUserSettings::Reserved3};
    for (auto F : Fields) {
        S.Bytes[F.Offset] = 255;
        EXPECT_EQ(S.Get(F).size(), F.Capacity);
    }
}

TEST(UserSettingsFile, ShortLongAndMissingFiles) {
    QTemporaryDir Dir;
    const std::string Path = Dir.path().toStdString() + "/UserSet.dat";
    EXPECT_THROW(ReadSettingsFile(Path), EInOutError);

    WriteAll(Path, std::string(60, '\0'));
    EXPECT_THROW(ReadSettingsFile(Path), EInOutError);

    std::string Long(61, '\0');
    Long.replace(0, 5,
                 "\x04"
                 "COM7");
    WriteAll(Path, Long + "trailing bytes");
    TUserSettings S = ReadSettingsFile(Path);
    EXPECT_EQ(S.Get(TUserSettings::PortName), "COM7");
    WriteSettingsFile(Path, S);
    EXPECT_EQ(ReadAll(Path), Long);
}

TEST(UserSettingsFile, ReplacedWholeOrNotAtAllAndNeverThroughALink) {
    QTemporaryDir Dir;
    const std::string Folder = Dir.path().toStdString();
    const std::string Path = Folder + "/UserSet.dat", Target = Folder + "/elsewhere";
    WriteAll(Target, "the link's target");
    ASSERT_EQ(::symlink(Target.c_str(), Path.c_str()), 0);
    TUserSettings S = TUserSettings::Defaults();
    WriteSettingsFile(Path, S);
    struct stat St {};
    ASSERT_EQ(::lstat(Path.c_str(), &St), 0);
    EXPECT_TRUE(S_ISREG(St.st_mode));
    EXPECT_EQ(ReadAll(Path), DefaultSettingsRecord());
    EXPECT_EQ(ReadAll(Target), "the link's target");

    // A disk that fills up during the write (a file size limit fails the
    // write with EFBIG, root included): the old record stays, no leftovers.
    S.Set(TUserSettings::PortName, "COM9");
    rlimit Old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &Old), 0);
    rlimit Small = Old;
    Small.rlim_cur = 10;
    auto* OldHandler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &Small), 0);
    EXPECT_THROW(WriteSettingsFile(Path, S), EInOutError);
    ::setrlimit(RLIMIT_FSIZE, &Old);
    std::signal(SIGXFSZ, OldHandler);
    EXPECT_EQ(ReadAll(Path), DefaultSettingsRecord());
    EXPECT_EQ(QDir(Dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
}

TEST(UserSettingsFile, OnlyRegularFilesAreReadAndNothingBlocks) {
    QTemporaryDir Dir;
    const std::string Fifo = Dir.path().toStdString() + "/UserSet.dat";
    ASSERT_EQ(::mkfifo(Fifo.c_str(), 0600), 0);
    EXPECT_THROW(ReadSettingsFile(Fifo),
                 EInOutError); // a FIFO without a writer would block a plain open
    EXPECT_THROW(TProgramSettings{Fifo}, EInOutError);
    EXPECT_THROW(ReadRegularFile(Dir.path().toStdString(), 100), EInOutError);
    EXPECT_TRUE(RegularOrAbsent(Dir.path().toStdString() + "/none"));
}

// The executable's folder decides where the files go: beside it when it can
// be written, else the user's folders; a folder below a regular file cannot
// be written even by root.
TEST(ProgramFiles, SettingsAndLogLeaveAnUnwritableProgramFolder) {
    QTemporaryDir Dir;
    const std::string Base = Dir.path().toStdString();
    SetAppFolder(Base);
    EXPECT_EQ(SettingsFile("UserSet.dat"), Base + "/UserSet.dat");
    EXPECT_EQ(LogFile(), Base + "/LogFile.Log");

    WriteAll(Base + "/file", "");
    SetAppFolder(Base + "/file/bin");
    struct {
        const char *Config, *State, *ExpectConfig, *ExpectState;
    } Cases[] = {
        {"/cfg", "/state", "/cfg/vorta-display", "/state/vorta-display"},
        {nullptr, nullptr, "/home/.config/vorta-display", "/home/.local/state/vorta-display"},
        {"relative", "", "/home/.config/vorta-display", "/home/.local/state/vorta-display"},
    };
    for (const auto& C : Cases) {
        const std::string Config = C.Config && C.Config[0] == '/' ? Base + C.Config
                                   : C.Config                     ? C.Config
                                                                  : "";
        const std::string State = C.State && C.State[0] == '/' ? Base + C.State
                                  : C.State                    ? C.State
                                                               : "";
        TScopedEnv Home("HOME", (Base + "/home").c_str());
        TScopedEnv Xc("XDG_CONFIG_HOME", C.Config ? Config.c_str() : nullptr);
        TScopedEnv Xs("XDG_STATE_HOME", C.State ? State.c_str() : nullptr);
        EXPECT_EQ(SettingsFile("UserSet.dat"), Base + C.ExpectConfig + "/UserSet.dat");
        EXPECT_EQ(LogFile(), Base + C.ExpectState + "/LogFile.Log");
        EXPECT_TRUE(QFileInfo(QString::fromStdString(Base + C.ExpectConfig)).isDir());
        EXPECT_TRUE(QFileInfo(QString::fromStdString(Base + C.ExpectState)).isDir());
    }
    SetAppFolder("");
}

TEST(ProgramFiles, DataIsFoundBesideTheExecutableElseInTheInstalledFolder) {
    QTemporaryDir Dir;
    const QString Base = Dir.path();
    QDir(Base).mkpath("bin");
    QDir(Base).mkpath("share/vorta-display/img");
    SetAppFolder((Base + "/bin").toStdString());
    const std::string Installed = (Base + "/share/vorta-display").toStdString();
    WriteAll(Installed + "/help.txt", "installed");
    WriteAll(Installed + "/img/Mode0.png", "");
    EXPECT_EQ(QDir::cleanPath(QString::fromStdString(DataFile("help.txt"))).toStdString(),
              Installed + "/help.txt");
    WriteAll((Base + "/bin/help.txt").toStdString(), "beside");
    EXPECT_EQ(DataFile("help.txt"), (Base + "/bin/help.txt").toStdString());

    const QString OldDir = QDir::currentPath();
    QDir::setCurrent(Base + "/bin"); // no img/ here: the installed pictures are found
    EXPECT_EQ(
        QDir::cleanPath(QString::fromStdString(ResolvePictureName("img\\mode0.PNG"))).toStdString(),
        Installed + "/img/Mode0.png");
    QDir::setCurrent(OldDir);
    SetAppFolder("");
}
