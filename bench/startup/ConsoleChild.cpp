// SPDX-License-Identifier: GPL-3.0-or-later
// The start-up benchmark's console: the program's window, made as its entry
// makes it, that reports its first frame. A program of its own, so that it
// loads what the console loads and nothing of the benchmark's.
//
//   startup_console [FOLDER]   settings in FOLDER (else a new temporary one:
//                              a first start)
#include "AppPaths.h"
#include "Application.h"
#include "UVORTA_Display.h"

#include "FirstFrame.h"

#include <QTemporaryDir>

#include <string>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    TFirstFrame Watch;
    const std::string Folder = argc >= 2 ? argv[1] : std::string();
    TApplication App(argc, argv);
    QTemporaryDir Own;
    SetAppFolder(Folder.empty() ? Own.path().toStdString() : Folder);
    TFKAVRO W;
    W.installEventFilter(&Watch);
    W.show();
    return App.exec();
}
