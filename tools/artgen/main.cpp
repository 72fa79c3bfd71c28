// SPDX-License-Identifier: GPL-3.0-or-later
// Writes the gauge pictures into a folder: vorta-artgen [folder]   (default: img)
// or the application icon as a hicolor theme tree: vorta-artgen --icons folder
#include "VortaVersion.h"
#include "artwork.h"
#include "icon.h"
#include "picturematch.h"

#include <QCommandLineParser>
#include <QDir>
#include <QGuiApplication>
#include <cstdio>

int main(int argc, char** argv) {
    // A generator needs no screen; fonts still need a platform plugin.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vorta-artgen"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VORTA_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Draws the needle and dial pictures of the gauge into a folder. A picture already\n"
        "there is left untouched when the new drawing differs from it only by rounding\n"
        "(every channel within 1, at most 16 pixels), so that drawing them again on\n"
        "another machine does not change the committed files."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption icons(QStringLiteral("icons"),
                                   QStringLiteral("Write the application icon as a hicolor theme "
                                                  "tree into <folder> instead."),
                                   QStringLiteral("folder"));
    parser.addOption(icons);
    parser.addPositionalArgument(QStringLiteral("folder"),
                                 QStringLiteral("Folder to write into (default: img)."),
                                 QStringLiteral("[folder]"));
    if (!parser.parse(QCoreApplication::arguments()) || parser.positionalArguments().size() > 1) {
        QString why = parser.positionalArguments().size() > 1
                          ? QStringLiteral("more than one folder given")
                          : parser.errorText();
        if (why.endsWith('.')) why.chop(1); // the parser's own texts end in a full stop
        std::fprintf(stderr, "vorta-artgen: %s (see --help)\n", qPrintable(why));
        return 2;
    }
    if (parser.isSet(version)) parser.showVersion();
    if (parser.isSet(help)) parser.showHelp(0);
    if (parser.isSet(icons)) {
        if (artgen::writeIcons(parser.value(icons))) return 0;
        std::fprintf(stderr, "vorta-artgen: could not write the icons into %s\n",
                     qPrintable(parser.value(icons)));
        return 1;
    }

    const QString folder = parser.positionalArguments().value(0, QStringLiteral("img"));
    if (!QDir().mkpath(folder)) {
        std::fprintf(stderr, "vorta-artgen: cannot create %s\n", qPrintable(folder));
        return 1;
    }
    const QDir dir(folder);
    // A picture that differs from the one already there only by rounding is not written, so
    // that drawing them again on another machine leaves the committed files as they are.
    auto save = [&](const QImage& picture, const QString& name) {
        return artgen::savePictureUnlessSame(picture, dir.filePath(name)) !=
               artgen::SaveResult::Failed;
    };
    bool ok = save(artgen::drawNeedle(), QStringLiteral("arrow2.PNG"));
    for (const auto& style : artgen::dialStyles())
        ok = save(artgen::drawDial(style), style.fileName) && ok;
    if (!ok) {
        std::fprintf(stderr, "vorta-artgen: could not write the pictures into %s\n",
                     qPrintable(folder));
        return 1;
    }
    return 0;
}
