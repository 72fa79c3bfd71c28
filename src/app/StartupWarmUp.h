// SPDX-License-Identifier: GPL-3.0-or-later
// Start-up work that the window's first frame waits for and that another core
// can do meanwhile. Neither changes what the program does; both only move the
// work.
#pragma once

#include <future>
#include <thread>

// Reads fontconfig's configuration (several milliseconds of XML and cache
// files, which the first caption waits for) while the application object
// connects to the display. Made before the application object, once; Wait
// before anything may exit(), so that the reading is never cut off half way.
// Qt's font database frees the configuration when the application ends; a
// program that exits before it made its window (--help, a refused command
// line) gives it back at exit itself.
class TFontConfigWarmUp {
  public:
    TFontConfigWarmUp();
    ~TFontConfigWarmUp() { Wait(); }
    TFontConfigWarmUp(const TFontConfigWarmUp&) = delete;
    TFontConfigWarmUp& operator=(const TFontConfigWarmUp&) = delete;
    // Before the first font is asked for: Qt's font database calls FcInit
    // itself, and a second caller during the first would read it all twice.
    void Wait();
    // The window is being made: from now on Qt owns the configuration.
    void HandOver();

  private:
    std::thread FThread;
};

// Loads Qt's image plugins while the window's controls are built: the menu
// bar's overflow button asks for a standard icon, and its reader probes every
// plugin. Made once the application object exists and the program goes on to
// make its window; gone before the application object goes.
class TImagePluginWarmUp {
  public:
    TImagePluginWarmUp();
    ~TImagePluginWarmUp();
    TImagePluginWarmUp(const TImagePluginWarmUp&) = delete;
    TImagePluginWarmUp& operator=(const TImagePluginWarmUp&) = delete;

  private:
    std::future<void> FDone;
};
