// Writes the gauge pictures into a folder: vorta-artgen [folder]   (default: img)
// or the application icon as a hicolor theme tree: vorta-artgen --icons folder
#include "artwork.h"
#include "icon.h"

#include <QDir>
#include <QGuiApplication>
#include <cstdio>

int main(int argc, char** argv) {
    // A generator needs no screen; fonts still need a platform plugin.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc == 3 && qstrcmp(argv[1], "--icons") == 0) {
        if (artgen::writeIcons(QString::fromLocal8Bit(argv[2]))) return 0;
        std::fprintf(stderr, "vorta-artgen: could not write the icons into %s\n", argv[2]);
        return 1;
    }
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("img");
    if (!QDir().mkpath(folder)) {
        std::fprintf(stderr, "vorta-artgen: cannot create %s\n", qPrintable(folder));
        return 1;
    }
    const QDir dir(folder);
    bool ok = artgen::drawNeedle().save(dir.filePath(QStringLiteral("arrow2.PNG")), "PNG");
    for (const auto& style : artgen::dialStyles())
        ok = artgen::drawDial(style).save(dir.filePath(style.fileName), "PNG") && ok;
    if (!ok) {
        std::fprintf(stderr, "vorta-artgen: could not write the pictures into %s\n",
                     qPrintable(folder));
        return 1;
    }
    return 0;
}
