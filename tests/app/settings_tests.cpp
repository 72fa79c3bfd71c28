#include "UserSettings.h"

#include "SysUtils.h"

#include "TestFiles.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <fstream>

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
    Long.replace(0, 5, "\x04" "COM7");
    WriteAll(Path, Long + "trailing bytes");
    TUserSettings S = ReadSettingsFile(Path);
    EXPECT_EQ(S.Get(TUserSettings::PortName), "COM7");
    WriteSettingsFile(Path, S);
    EXPECT_EQ(ReadAll(Path), Long);
}
