// SPDX-License-Identifier: GPL-3.0-or-later
#include "Application.h"

#include "PumpWait.h"

#include "SysUtils.h"

#include <QDir>
#include <QFont>
#include <QSaveFile>

#include <unistd.h>

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
    // The window's design font, with metric-compatible stand-ins where it is missing.
    QFont::insertSubstitutions("MS Sans Serif", {"Liberation Sans", "Arial", "DejaVu Sans"});
}

TApplication* TApplication::Instance() {
    return dynamic_cast<TApplication*>(QCoreApplication::instance());
}

void TApplication::HandleException(QObject* Sender, const std::exception& E) {
    if (dynamic_cast<const EAbort*>(&E)) return;
    if (OnException) {
        try {
            OnException(Sender, E);
        } catch (...) {
            // The handler itself failed (say, the log is unwritable); there is
            // nowhere left to report it, and the loop must go on.
        }
    }
}

bool TApplication::notify(QObject* Receiver, QEvent* Event) {
    try {
        return QApplication::notify(Receiver, Event);
    } catch (const std::exception& E) {
        HandleException(Receiver, E);
    } catch (...) {
        HandleException(Receiver, Exception("Unknown exception"));
    }
    return false;
}

void RunHandler(QObject* Sender, const std::function<void()>& Handler) {
    try {
        Handler();
    } catch (const std::exception& E) {
        if (TApplication* App = TApplication::Instance()) App->HandleException(Sender, E);
    } catch (...) {
        if (TApplication* App = TApplication::Instance())
            App->HandleException(Sender, Exception("Unknown exception"));
    }
}

void UseOffscreenScreen(int Width, int Height) {
    const QByteArray Platform = qgetenv("QT_QPA_PLATFORM");
    if (!Platform.isEmpty() && Platform != "offscreen") return;
    // One file per user and size: programs run side by side, and another
    // user's file in the shared folder cannot be replaced.
    const QString Path = QDir::temp().filePath(
        QStringLiteral("vorta-offscreen-%1-%2x%3.json").arg(getuid()).arg(Width).arg(Height));
    QSaveFile F(Path);
    if (F.open(QIODevice::WriteOnly))
        F.write(QStringLiteral("{\"screens\":[{\"name\":\"offscreen\",\"x\":0,\"y\":0,"
                               "\"width\":%1,\"height\":%2,\"logicalDpi\":96,"
                               "\"logicalBaseDpi\":96,\"dpr\":1}]}")
                    .arg(Width)
                    .arg(Height)
                    .toUtf8());
    qputenv("QT_QPA_PLATFORM",
            F.commit() ? "offscreen:configfile=" + Path.toLocal8Bit() : QByteArray("offscreen"));
}
