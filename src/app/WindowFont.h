// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's font: the design's family at a pixel height. Header
// only, so that a program that shows the same controls without the console
// (the start-up benchmark's floor) takes the same fonts without linking it.
#pragma once

#include <QFont>
#include <QFontDatabase>
#include <QString>
#include <QStringList>

// A family the system lacks is looked up through its fallback matching again
// for every size and weight, which costs more than building the controls. The
// family that lookup ends in is the same each time, so it is found once. The
// design's family is asked for through the system's aliases (a user may have
// set one for it); its stand-ins are names of installed families or nothing,
// and each alias lookup walks the whole font configuration.
inline const QString& WindowFamily() {
    static const QString Family = [] {
        const QString Design = QStringLiteral("MS Sans Serif");
        if (QFontDatabase::hasFamily(Design)) return Design;
        const QStringList Installed = QFontDatabase::families();
        for (const QString& F : QFont::substitutes(Design))
            if (Installed.contains(F, Qt::CaseInsensitive)) return F;
        return Design;
    }();
    return Family;
}

inline QFont WindowFont(int PixelHeight, bool Bold = false) {
    QFont F(WindowFamily());
    F.setPixelSize(PixelHeight);
    F.setBold(Bold);
    return F;
}
