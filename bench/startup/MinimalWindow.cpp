// SPDX-License-Identifier: GPL-3.0-or-later
// The start-up benchmark's peer: a minimal widgets window, a label and a
// button in a window of the console's size.
#include <QApplication>
#include <QLabel>
#include <QPushButton>

int main(int argc, char** argv) {
    QApplication App(argc, argv);
    QWidget W;
    W.resize(618, 721);
    auto* L = new QLabel("Minimal window", &W);
    L->move(16, 16);
    auto* B = new QPushButton("Close", &W);
    B->move(16, 48);
    W.show();
    return App.exec();
}
