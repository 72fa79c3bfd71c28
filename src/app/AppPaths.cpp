// SPDX-License-Identifier: GPL-3.0-or-later
#include "AppPaths.h"

#include "FileAccess.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <cstdlib>

namespace {

std::string GAppFolder;

const char* const Subfolder = "vorta-display";

// $Variable when it holds an absolute path (the conventions say relative
// ones are to be ignored), else $HOME/Fallback.
std::string UserFolder(const char* Variable, const char* Fallback) {
    const char* Value = std::getenv(Variable);
    if (Value && Value[0] == '/') return std::string(Value) + "/" + Subfolder;
    return QDir::homePath().toStdString() + "/" + Fallback + "/" + Subfolder;
}

// <prefix>/share/vorta-display for the executable in <prefix>/bin.
QString InstalledDataFolder() {
    return QDir::cleanPath(QString::fromStdString(AppFolder()) + "/../share/" + Subfolder);
}

// An installed program's folder holds every program of the prefix: root may
// write /usr/bin, and a user a prefix of their own, but neither is a place for
// one user's settings. So the program's own folder is used only when it is
// not installed (a build tree, a folder the program was unpacked into).
bool Installed() {
    return QFileInfo(InstalledDataFolder()).isDir();
}

std::string WritableFolder(const char* Variable, const char* Fallback) {
    const std::string Own = AppFolder();
    if (!Installed() && FolderWritable(Own)) return Own;
    const std::string User = UserFolder(Variable, Fallback);
    MakeFolders(User);
    return User;
}

} // namespace

std::string AppFolder() {
    if (GAppFolder.empty()) return QCoreApplication::applicationDirPath().toStdString();
    return GAppFolder;
}
void SetAppFolder(const std::string& Folder) {
    GAppFolder = Folder;
}
std::string AppFile(const std::string& Name) {
    return AppFolder() + "/" + Name;
}

std::string SettingsFolder() {
    return WritableFolder("XDG_CONFIG_HOME", ".config");
}
std::string SettingsFile(const std::string& Name) {
    return SettingsFolder() + "/" + Name;
}
std::string LogFile() {
    return WritableFolder("XDG_STATE_HOME", ".local/state") + "/LogFile.Log";
}

std::vector<std::string> DataFolders() {
    std::vector<std::string> Folders{AppFolder(), InstalledDataFolder().toStdString()};
    for (const QString& System :
         QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation)) {
        const std::string F = (System + "/" + Subfolder).toStdString();
        if (F != Folders.back()) Folders.push_back(F);
    }
    return Folders;
}

std::string DataFile(const std::string& Name) {
    for (const std::string& Folder : DataFolders()) {
        const std::string Path = Folder + "/" + Name;
        if (QFileInfo::exists(QString::fromStdString(Path))) return Path;
    }
    return AppFile(Name);
}

std::vector<std::string> ModuleFolders() {
    const QString Installed =
        QDir::cleanPath(QString::fromStdString(AppFolder()) + "/../lib/" + Subfolder);
    return {AppFolder(), Installed.toStdString()};
}
