// SPDX-License-Identifier: GPL-3.0-or-later
// The start-up benchmark's peer: a minimal widgets window (a label and a
// button in a window of the console's size) that reports its first frame.
#include "FirstFrame.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    TFirstFrame Watch;
    QApplication App(argc, argv);
    QWidget W;
    W.resize(618, 721);
    auto* L = new QLabel("Minimal window", &W);
    L->move(16, 16);
    auto* B = new QPushButton("Close", &W);
    B->move(16, 48);
    W.installEventFilter(&Watch);
    W.show();
    return App.exec();
}
