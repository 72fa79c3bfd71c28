// SPDX-License-Identifier: GPL-3.0-or-later
// Start-up work that the window's first frame waits for and that another core
// can do meanwhile: fontconfig reads its configuration (several milliseconds
// of XML and cache files) while the application connects to the display, and
// Qt's image plugins are loaded while the controls are built (the menu bar's
// overflow button asks for a standard icon, and its reader probes every
// plugin). Neither changes what the program does; both only move the work.
#pragma once

#include <future>
#include <thread>

class TStartupWarmUp {
  public:
    // Before the application object: starts reading the font configuration.
    TStartupWarmUp();
    // Joins whatever still runs.
    ~TStartupWarmUp();
    TStartupWarmUp(const TStartupWarmUp&) = delete;
    TStartupWarmUp& operator=(const TStartupWarmUp&) = delete;

    // Once the application object exists, before the first control: waits for
    // the font configuration (the controls' fonts need it) and starts loading
    // the image plugins.
    void ApplicationReady();

  private:
    std::thread FFonts;
    std::future<void> FImagePlugins;
};
