// SPDX-License-Identifier: GPL-3.0-or-later
#include "StartupWarmUp.h"

#include <QBuffer>
#include <QByteArray>
#include <QImageReader>

#include <fontconfig/fontconfig.h>

#include <atomic>
#include <cstdlib>

namespace {
std::atomic<bool> HandedOver{false};

void GiveBackUnlessHandedOver() {
    if (!HandedOver) FcFini();
}
} // namespace

TFontConfigWarmUp::TFontConfigWarmUp() : FThread([] { FcInit(); }) {
    std::atexit(GiveBackUnlessHandedOver);
}

void TFontConfigWarmUp::Wait() {
    if (FThread.joinable()) FThread.join();
}

void TFontConfigWarmUp::HandOver() {
    Wait();
    HandedOver = true;
}

TImagePluginWarmUp::TImagePluginWarmUp()
    : FDone(std::async(std::launch::async, [] {
          // Bytes no format claims: the reader asks every plugin, loading each.
          QByteArray Nothing("\0\0\0\0", 4);
          QBuffer Device(&Nothing);
          Device.open(QIODevice::ReadOnly);
          QImageReader::imageFormat(&Device);
      })) {}

TImagePluginWarmUp::~TImagePluginWarmUp() {
    FDone.wait();
}
