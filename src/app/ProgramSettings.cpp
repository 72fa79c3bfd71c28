#include "ProgramSettings.h"

#include "AppPaths.h"
#include "FileAccess.h"
#include "SysUtils.h"

TProgramSettings::TProgramSettings() : TProgramSettings(SettingsFile(FileName)) {}

TProgramSettings::TProgramSettings(const std::string& Path) : FPath(Path) {
    // QSettings would open a FIFO and wait for a writer.
    if (!RegularOrAbsent(FPath))
        throw EInOutError("Cannot open \"" + FPath + "\": not a regular file");
    FSettings = std::make_unique<QSettings>(QString::fromStdString(FPath), QSettings::IniFormat);
}

TProgramSettings::~TProgramSettings() = default;

QVariant TProgramSettings::Value(const QString& Key, const QVariant& Default) const {
    return FSettings->value(Key, Default);
}

void TProgramSettings::SetValue(const QString& Key, const QVariant& Value) {
    FSettings->setValue(Key, Value);
}

void TProgramSettings::Save() {
    FSettings->sync();
    if (FSettings->status() != QSettings::NoError)
        throw EInOutError("Cannot write \"" + FPath + "\"");
}

QString RecordText(const std::string& Bytes) {
    return QString::fromLatin1(Bytes.data(), static_cast<qsizetype>(Bytes.size()));
}

std::string RecordBytes(const QString& Text) {
    const QByteArray B = Text.toLatin1();
    return std::string(B.constData(), static_cast<size_t>(B.size()));
}

QString WholePortName(const TUserSettings& Record, const QString& Whole) {
    const std::string Field = Record.Get(TUserSettings::PortName);
    const std::string Bytes = RecordBytes(Whole);
    if (Bytes.substr(0, TUserSettings::PortName.Capacity) == Field) return Whole;
    return RecordText(Field);
}
