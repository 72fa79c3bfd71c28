// SPDX-License-Identifier: GPL-3.0-or-later
// A floor for start-up: the console's controls as plain Qt widgets, read
// from the layout list the window tests check (class, place, size, caption,
// shown or hidden), in the design's four fonts, under a menu bar of the
// console's menus. No dial, no readout, no settings, no logic: what Qt alone
// spends on making and first painting what the design puts on the screen.
//
//   startup_controls_floor LAYOUT_FILE
#include "WindowFont.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QVBoxLayout>

int main(int argc, char** argv) {
    QApplication App(argc, argv);
    QFile Layout(argc > 1 ? argv[1] : "");
    if (!Layout.open(QIODevice::ReadOnly)) return 1;
    QWidget Window;
    Window.setFont(WindowFont(11));
    auto* Box = new QVBoxLayout(&Window);
    Box->setContentsMargins(0, 0, 0, 0);
    Box->setSpacing(0);
    auto* Menu = new QMenuBar(&Window);
    for (const char* Name : {"&File", "&Port", "&View", "&Help"}) {
        QMenu* M = Menu->addMenu(Name);
        for (int i = 0; i < 5; ++i)
            M->addAction(QStringLiteral("Item %1").arg(i));
    }
    Menu->setCornerWidget(new QLabel("Not connected"), Qt::TopRightCorner);
    Box->setMenuBar(Menu);
    auto* Client = new QWidget;
    Client->setFixedSize(618, 721);
    Box->addWidget(Client);
    // Name Class X,Y WxH shown|hidden "Caption"; parts that their controls
    // make themselves (Name/#n) and placeless ones are left to them.
    const QRegularExpression Line(
        R"re(^(\S+) (\S+) (\d+),(\d+) (\d+)x(\d+) (shown|hidden) "(.*)"$)re");
    while (!Layout.atEnd()) {
        const auto M = Line.match(QString::fromUtf8(Layout.readLine()).trimmed());
        if (!M.hasMatch() || M.captured(1).contains('/')) continue;
        const QString Class = M.captured(2), Caption = M.captured(8);
        QWidget* W = nullptr;
        if (Class == "QPushButton")
            W = new QPushButton(Caption, Client);
        else if (Class == "QLabel")
            W = new QLabel(Caption, Client);
        else if (Class == "QGroupBox")
            W = new QGroupBox(Caption, Client);
        else if (Class == "QFrame")
            W = new QFrame(Client);
        else if (Class == "QAbstractScrollArea") {
            auto* A = new QAbstractScrollArea(Client);
            A->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
            A->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
            A->setFont(WindowFont(16));
            W = A;
        } else if (Class == "QComboBox") {
            auto* C = new QComboBox(Client);
            C->setEditable(true);
            C->setEditText("COM1");
            W = C;
        } else if (Class == "QLineEdit") {
            auto* E = new QLineEdit(Caption, Client);
            // The design's short number fields are bold.
            bool Number = false;
            Caption.toInt(&Number);
            if (Number) E->setFont(WindowFont(11, true));
            W = E;
        } else {
            W = new QWidget(Client);
        }
        W->setGeometry(M.captured(3).toInt(), M.captured(4).toInt(), M.captured(5).toInt(),
                       M.captured(6).toInt());
        if (Caption == "PortNo" || Caption == "Help") W->setFont(WindowFont(13));
        if (M.captured(7) == "hidden") W->hide();
    }
    Window.show();
    return App.exec();
}
