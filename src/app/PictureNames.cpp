// SPDX-License-Identifier: GPL-3.0-or-later
#include "PictureNames.h"

#include "AppPaths.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>

namespace {

// The path below Base (empty: the current directory) of an existing entry
// that Parts designate whatever the case; empty when there is none.
QString ResolveBelow(const QString& Base, const QStringList& Parts) {
    QString Path = Base;
    for (const QString& Part : Parts) {
        QString Found;
        const QString Here = Path.isEmpty() ? "." : Path;
        if (QFileInfo::exists(Here + "/" + Part)) {
            Found = Part;
        } else {
            for (const QString& Entry :
                 QDir(Here).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden)) {
                if (Entry.compare(Part, Qt::CaseInsensitive) == 0) {
                    Found = Entry;
                    break;
                }
            }
        }
        if (Found.isEmpty()) return QString();
        Path += (Path.isEmpty() || Path.endsWith('/') ? "" : "/") + Found;
    }
    return Path;
}

} // namespace

std::string ResolvePictureName(const std::string& Name) {
    QString Wanted = QString::fromLocal8Bit(Name.c_str());
    Wanted.replace('\\', '/');
    const QStringList Parts = Wanted.split('/', Qt::SkipEmptyParts);
    QString Found = ResolveBelow(Wanted.startsWith('/') ? "/" : "", Parts);
    // The program's own pictures, wherever it is started from.
    if (Found.isEmpty() && !Wanted.startsWith('/')) {
        for (const std::string& Folder : DataFolders()) {
            Found = ResolveBelow(QString::fromStdString(Folder), Parts);
            if (!Found.isEmpty()) break;
        }
    }
    if (Found.isEmpty()) return Wanted.toStdString();
    return Found.toLocal8Bit().toStdString();
}
