// SPDX-License-Identifier: GPL-3.0-or-later
#include "Profile.h"

#include "Formats.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QSaveFile>
#include <QString>

#include <algorithm>
#include <cmath>
#include <map>
#include <set>

namespace {

// Larger than any profile written by hand; a bigger file is no profile.
constexpr qint64 MaxProfileBytes = 64 * 1024;
constexpr size_t MaxNameBytes = 64;

const char* const Keys[] = {"Port", "Id",         "Interval",     "Count",  "Low",
                            "High", "Hysteresis", "RecordFolder", "Broker", "Topic"};

QString Q(const std::string& S) {
    return QString::fromStdString(S);
}

std::string FilePath(const std::string& Dir, const std::string& Name) {
    return Dir + "/" + Name + ".ini";
}

std::string Trimmed(const std::string& S) {
    const size_t B = S.find_first_not_of(" \t\r");
    if (B == std::string::npos) return "";
    return S.substr(B, S.find_last_not_of(" \t\r") - B + 1);
}

std::string Number(double V) {
    return QString::number(V, 'g', QLocale::FloatingPointShortest).toStdString();
}

bool HasControl(const std::string& S) {
    for (const char C : S)
        if (static_cast<unsigned char>(C) < 0x20 || C == 0x7F) return true;
    return false;
}

} // namespace

std::string ProfileDir() {
    QString Base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (Base.isEmpty() || QDir::isRelativePath(Base)) Base = QDir::homePath() + "/.config";
    return (Base + "/vorta-display/profiles").toStdString();
}

void CheckProfileName(const std::string& Name) {
    if (Name.empty()) throw EProfileError("a profile needs a name");
    if (Name.size() > MaxNameBytes)
        throw EProfileError("the profile name " + QuotedExcerpt(Name) + " is longer than " +
                            std::to_string(MaxNameBytes) + " bytes; choose a shorter one");
    if (Name.find('/') != std::string::npos || Name[0] == '.' || HasControl(Name))
        throw EProfileError("the profile name " + QuotedExcerpt(Name) +
                            " cannot name a file: leave out '/', a leading '.' and "
                            "control characters");
}

std::vector<std::string> ListProfiles(const std::string& Dir) {
    std::vector<std::string> Names;
    for (const QFileInfo& F : QDir(Q(Dir)).entryInfoList({"*.ini"}, QDir::Files, QDir::Name)) {
        const std::string Name = F.completeBaseName().toStdString();
        if (!Name.empty() && Name[0] != '.') Names.push_back(Name);
    }
    // By name, not by file name: ".ini" would put "bench 3" before "bench".
    std::sort(Names.begin(), Names.end());
    return Names;
}

TProfile ParseProfile(const std::string& Text, const std::string& FileName,
                      std::vector<std::string>* Warnings) {
    TProfile P;
    std::set<std::string> Seen;
    std::map<std::string, int> LineOf;
    // A byte order mark, as some editors write one.
    size_t Start = Text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    for (int LineNo = 1; Start < Text.size(); ++LineNo) {
        size_t End = Text.find('\n', Start);
        if (End == std::string::npos) End = Text.size();
        const std::string Line = Trimmed(Text.substr(Start, End - Start));
        Start = End + 1;
        const std::string Where = FileName + ":" + std::to_string(LineNo) + ": ";
        if (Line.empty() || Line[0] == '#' || Line[0] == ';') continue;
        const size_t Eq = Line.find('=');
        if (Eq == std::string::npos)
            throw EProfileError(Where + QuotedExcerpt(Line) + " is no Key=Value line" +
                                (Line[0] == '[' ? " (a profile has no sections; remove it)" : ""));
        const std::string Key = Trimmed(Line.substr(0, Eq));
        const std::string Value = Trimmed(Line.substr(Eq + 1));
        const std::string At = Where + Key + ": ";
        if (std::find(std::begin(Keys), std::end(Keys), Key) == std::end(Keys)) {
            if (Warnings)
                Warnings->push_back(Where + "unknown key " + QuotedExcerpt(Key) + " skipped");
            continue;
        }
        if (!Seen.insert(Key).second)
            throw EProfileError(At + "given twice; keep one (line " + std::to_string(LineOf[Key]) +
                                ")");
        LineOf[Key] = LineNo;
        if (Value.empty()) continue;
        if (HasControl(Value)) throw EProfileError(At + "the value holds a control character");
        auto Whole = [&](int Min, int Max) {
            bool Ok = false;
            const int V = Q(Value).toInt(&Ok, 10);
            if (!Ok || V < Min || V > Max)
                throw EProfileError(At + QuotedExcerpt(Value) + " is not a whole number from " +
                                    std::to_string(Min) + " to " + std::to_string(Max));
            return V;
        };
        auto Real = [&] {
            bool Ok = false;
            const double V = Q(Value).toDouble(&Ok);
            if (!Ok || !std::isfinite(V))
                throw EProfileError(At + QuotedExcerpt(Value) +
                                    " is not a number (write 12.5, not 12,5)");
            return V;
        };
        if (Key == "Port")
            P.Port = Value;
        else if (Key == "Id")
            P.Id = Whole(1, 77);
        else if (Key == "Interval")
            P.Interval = Whole(0, 3600000);
        else if (Key == "Count")
            P.Count = Whole(1, 1000000);
        else if (Key == "Low")
            P.Limits.Low = Real();
        else if (Key == "High")
            P.Limits.High = Real();
        else if (Key == "Hysteresis") {
            P.Limits.Hysteresis = Real();
            if (P.Limits.Hysteresis < 0)
                throw EProfileError(At + QuotedExcerpt(Value) +
                                    " is below 0; a hysteresis is 0 or more");
        } else if (Key == "RecordFolder")
            P.RecordFolder = Value;
        else if (Key == "Broker")
            P.Broker = Value;
        else
            P.Topic = Value;
    }
    try {
        CheckLimits(P.Limits);
    } catch (const ELimitsError& E) {
        // The last of the three keys is where the band went wrong.
        int Line = 0;
        for (const char* Key : {"Low", "High", "Hysteresis"})
            if (LineOf.count(Key)) Line = std::max(Line, LineOf[Key]);
        throw EProfileError(FileName + ":" + std::to_string(Line) +
                            ": Low, High, Hysteresis: " + E.what());
    }
    return P;
}

std::string ProfileText(const TProfile& P) {
    try {
        CheckLimits(P.Limits);
    } catch (const ELimitsError& E) {
        throw EProfileError(E.what());
    }
    std::string Out;
    auto Put = [&Out](const char* Key, const std::string& V) {
        if (V.empty()) return;
        if (HasControl(V) || Trimmed(V) != V)
            throw EProfileError(std::string(Key) + ": " + QuotedExcerpt(V) +
                                " holds a line break, a control character or blanks at an end, "
                                "which the file cannot keep");
        Out += std::string(Key) + "=" + V + "\n";
    };
    auto Int = [](const std::optional<int>& V) { return V ? std::to_string(*V) : std::string(); };
    Put("Port", P.Port);
    Put("Id", Int(P.Id));
    Put("Interval", Int(P.Interval));
    Put("Count", Int(P.Count));
    Put("Low", P.Limits.Low ? Number(*P.Limits.Low) : "");
    Put("High", P.Limits.High ? Number(*P.Limits.High) : "");
    if (P.Limits.Hysteresis != 0) Put("Hysteresis", Number(P.Limits.Hysteresis));
    Put("RecordFolder", P.RecordFolder);
    Put("Broker", P.Broker);
    Put("Topic", P.Topic);
    return Out;
}

TProfile LoadProfile(const std::string& Dir, const std::string& Name,
                     std::vector<std::string>* Warnings) {
    CheckProfileName(Name);
    const std::string Path = FilePath(Dir, Name);
    const QFileInfo Info(Q(Path));
    if (!Info.exists()) throw EProfileError("no profile " + QuotedExcerpt(Name) + " in " + Dir);
    if (!Info.isFile()) throw EProfileError(Path + " is no regular file");
    if (Info.size() > MaxProfileBytes)
        throw EProfileError(Path + " is larger than a profile can be (" +
                            std::to_string(MaxProfileBytes / 1024) + " KiB)");
    QFile F(Q(Path));
    if (!F.open(QIODevice::ReadOnly))
        throw EProfileError("cannot read " + Path + ": " + F.errorString().toStdString());
    const QByteArray Text = F.read(MaxProfileBytes + 1);
    if (F.error() != QFileDevice::NoError)
        throw EProfileError("cannot read " + Path + ": " + F.errorString().toStdString());
    return ParseProfile(Text.toStdString(), Path, Warnings);
}

void SaveProfile(const std::string& Dir, const std::string& Name, const TProfile& P) {
    CheckProfileName(Name);
    const std::string Text = ProfileText(P);
    const std::string Path = FilePath(Dir, Name);
    if (!QDir().mkpath(Q(Dir))) throw EProfileError("cannot make the folder " + Dir);
    QSaveFile F(Q(Path));
    if (!F.open(QIODevice::WriteOnly) ||
        F.write(Text.data(), qint64(Text.size())) != qint64(Text.size()) || !F.commit())
        throw EProfileError("cannot write " + Path + ": " + F.errorString().toStdString());
}

void RenameProfile(const std::string& Dir, const std::string& From, const std::string& To) {
    CheckProfileName(From);
    CheckProfileName(To);
    const QString Old = Q(FilePath(Dir, From)), New = Q(FilePath(Dir, To));
    if (!QFileInfo(Old).isFile())
        throw EProfileError("no profile " + QuotedExcerpt(From) + " in " + Dir);
    if (QFileInfo::exists(New))
        throw EProfileError("a profile " + QuotedExcerpt(To) + " exists already in " + Dir +
                            "; delete it or choose another name");
    QFile F(Old);
    if (!F.rename(New))
        throw EProfileError("cannot rename " + Old.toStdString() + ": " +
                            F.errorString().toStdString());
}

void DeleteProfile(const std::string& Dir, const std::string& Name) {
    CheckProfileName(Name);
    QFile F(Q(FilePath(Dir, Name)));
    if (!QFileInfo(F).isFile())
        throw EProfileError("no profile " + QuotedExcerpt(Name) + " in " + Dir);
    if (!F.remove())
        throw EProfileError("cannot delete " + F.fileName().toStdString() + ": " +
                            F.errorString().toStdString());
}

std::string ByIdPath(const std::string& DevicePath, const std::string& ByIdDir) {
    const QString Device = QFileInfo(Q(DevicePath)).canonicalFilePath();
    if (Device.isEmpty()) return DevicePath;
    for (const QFileInfo& Link :
         QDir(Q(ByIdDir))
             .entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::Name))
        if (Link.isSymLink() && Link.canonicalFilePath() == Device)
            return Link.absoluteFilePath().toStdString();
    return DevicePath;
}
