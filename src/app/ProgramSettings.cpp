// SPDX-License-Identifier: GPL-3.0-or-later
#include "ProgramSettings.h"

#include "AppPaths.h"
#include "FileAccess.h"
#include "SysUtils.h"

#include <QFile>

#include <algorithm>

TProgramSettings::TProgramSettings() : TProgramSettings(SettingsFile(FileName)) {}

TProgramSettings::TProgramSettings(const std::string& Path) : FPath(Path) {
    // QSettings would open a FIFO and wait for a writer.
    if (!RegularOrAbsent(FPath))
        throw EInOutError("Cannot open \"" + FPath + "\": not a regular file");
    FSettings = std::make_unique<QSettings>(QString::fromStdString(FPath), QSettings::IniFormat);
    QFile File(QString::fromStdString(FPath));
    if (File.open(QIODevice::ReadOnly)) FUnreadable = UnreadableIniLines(File.readAll());
}

TProgramSettings::~TProgramSettings() = default;

QVariant TProgramSettings::Value(const QString& Key, const QVariant& Default) const {
    return FSettings->value(Key, Default);
}

void TProgramSettings::SetValue(const QString& Key, const QVariant& Value) {
    FSettings->setValue(Key, Value);
}

int TProgramSettings::Save() {
    FSettings->sync();
    const QSettings::Status Status = FSettings->status();
    if (Status == QSettings::NoError) return 0;
    // A format error of the file as read is reported even when the file was
    // written after it, without the entries it could not read; and it hides
    // a failed write. Reading the file again tells the two apart.
    if (Status == QSettings::FormatError) {
        QSettings Again(QString::fromStdString(FPath), QSettings::IniFormat);
        Again.allKeys();
        if (Again.status() == QSettings::NoError) {
            const int Dropped = std::max(FUnreadable, 1);
            FUnreadable = 0;
            return Dropped;
        }
    }
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

int UnreadableIniLines(const QByteArray& Text) {
    int Count = 0;
    for (const QByteArray& Raw : Text.split('\n')) {
        const QByteArray Line = Raw.trimmed();
        if (Line.isEmpty() || Line.startsWith(';')) continue;
        if (Line.startsWith('[') ? !Line.contains(']') : !Line.contains('=')) ++Count;
    }
    return Count;
}
