// SPDX-License-Identifier: GPL-3.0-or-later
// The application object. Every exception that escapes an event handler ends
// in the installed OnException handler, and the event loop goes on: handlers
// are run through RunHandler, and notify() catches whatever still escapes.
#pragma once

#include <QApplication>

#include <exception>
#include <functional>

class TApplication : public QApplication {
  public:
    TApplication(int& argc, char** argv);

    std::function<void(QObject* Sender, const std::exception& E)> OnException;

    bool notify(QObject* Receiver, QEvent* Event) override;

    // Passes E to OnException; EAbort (a command abandoned on close) is quiet.
    void HandleException(QObject* Sender, const std::exception& E);

    static TApplication* Instance();
};

// Runs Handler; an exception it raises goes to the application's handler
// instead of unwinding through Qt. Works without a TApplication too (tests
// with a plain QApplication): the exception is then dropped.
void RunHandler(QObject* Sender, const std::function<void()>& Handler);

// The offscreen platform's one screen is 800 x 600 unless it is configured:
// smaller than the window, which then scrolls (TFKAVRO::FitScreen). A
// screenshot, and a test that looks at the window as it is designed, give it
// a desktop's screen; a test of a small screen gives it a small one. Call
// before the application object is made. Only a platform that is unset or
// plain "offscreen" is changed (to offscreen with a configuration file in
// the temporary folder).
void UseOffscreenScreen(int Width = 1920, int Height = 1200);
