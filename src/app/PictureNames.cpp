#include "PictureNames.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>

std::string ResolvePictureName(const std::string& Name) {
    QString Wanted = QString::fromLocal8Bit(Name.c_str());
    Wanted.replace('\\', '/');
    const QStringList Parts = Wanted.split('/', Qt::SkipEmptyParts);
    QString Path = Wanted.startsWith('/') ? "/" : "";
    for (int i = 0; i < Parts.size(); ++i) {
        const QString& Part = Parts[i];
        QString Found;
        const QString Here = Path.isEmpty() ? "." : Path;
        if (QFileInfo::exists(Here + "/" + Part)) {
            Found = Part;
        } else {
            for (const QString& Entry : QDir(Here).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden)) {
                if (Entry.compare(Part, Qt::CaseInsensitive) == 0) {
                    Found = Entry;
                    break;
                }
            }
        }
        if (Found.isEmpty()) return Wanted.toStdString();
        Path += (Path.isEmpty() || Path.endsWith('/') ? "" : "/") + Found;
    }
    return Path.toLocal8Bit().toStdString();
}
