// Writes the gauge pictures into a folder: vorta-artgen [folder]   (default: img)
#include "artwork.h"
#include "picturematch.h"

#include <QDir>
#include <QGuiApplication>
#include <cstdio>

int main(int argc, char** argv) {
    // A generator needs no screen; fonts still need a platform plugin.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("img");
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
