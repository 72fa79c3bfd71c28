// SPDX-License-Identifier: GPL-3.0-or-later
// The console benchmark's peer: the plain Qt terminal a user could write in an
// afternoon. It opens the port at 9600 8N1 with QSerialPort and appends every
// line it receives to a text view in a window of the console's size.
//
//   plain_terminal DEVICE
#include <QApplication>
#include <QPlainTextEdit>
#include <QSerialPort>

#include <cstdio>

int main(int argc, char** argv) {
    QApplication App(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: plain_terminal DEVICE\n");
        return 2;
    }
    QPlainTextEdit View;
    View.setReadOnly(true);
    View.resize(618, 721);
    View.show();
    QSerialPort Port(QString::fromLocal8Bit(argv[1]));
    Port.setBaudRate(QSerialPort::Baud9600);
    Port.setDataBits(QSerialPort::Data8);
    Port.setParity(QSerialPort::NoParity);
    Port.setStopBits(QSerialPort::OneStop);
    Port.setFlowControl(QSerialPort::NoFlowControl);
    if (!Port.open(QIODevice::ReadWrite)) {
        std::fprintf(stderr, "plain_terminal: %s\n", qPrintable(Port.errorString()));
        return 3;
    }
    // A value frame ends in "$", an answer in CR LF: either ends a line.
    QByteArray Line;
    QObject::connect(&Port, &QSerialPort::readyRead, [&] {
        for (const char C : Port.readAll()) {
            if (C == '$' || C == '\n') {
                View.appendPlainText(QString::fromLatin1(Line));
                Line.clear();
            } else if (C != '\r') {
                Line.append(C);
            }
        }
    });
    return App.exec();
}
