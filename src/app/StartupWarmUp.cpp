// SPDX-License-Identifier: GPL-3.0-or-later
#include "StartupWarmUp.h"

#include <QBuffer>
#include <QByteArray>
#include <QImageReader>

#include <fontconfig/fontconfig.h>

TStartupWarmUp::TStartupWarmUp() : FFonts([] { FcInit(); }) {}

TStartupWarmUp::~TStartupWarmUp() {
    if (FFonts.joinable()) FFonts.join();
    if (FImagePlugins.valid()) FImagePlugins.wait();
}

void TStartupWarmUp::ApplicationReady() {
    // Qt's font database calls FcInit itself; a second caller during the first
    // would only read the configuration twice.
    if (FFonts.joinable()) FFonts.join();
    FImagePlugins = std::async(std::launch::async, [] {
        // Bytes no format claims: the reader asks every plugin, loading each.
        QByteArray Nothing("\0\0\0\0", 4);
        QBuffer Device(&Nothing);
        Device.open(QIODevice::ReadOnly);
        QImageReader::imageFormat(&Device);
    });
}
