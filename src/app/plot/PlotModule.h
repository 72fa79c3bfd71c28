// SPDX-License-Identifier: GPL-3.0-or-later
// The plot window lives in a loadable module of its own, vorta-plotwindow.so,
// so that the console does not load Qt Charts (and bind its symbols) before
// its first frame. The program keeps the readings in a TPlotFeed from the
// start and loads the module when the window is first wanted; the module's
// one entry builds the window on that feed.
#pragma once

#include <functional>

class QString;
class QVariant;
class QWidget;
class TPlotFeed;

// Where the window keeps its geometry and span between runs (keys
// "Plot/..."); Write stores at once. Unset, nothing is kept.
struct TPlotSettings {
    std::function<QVariant(const QString& Key)> Read;
    std::function<void(const QString& Key, const QVariant& Value)> Write;
};

// The module's entry, VortaNewPlotWindow: a new hidden plot window showing
// Feed (which must outlive it), a window of its own that goes with Parent,
// with its kept settings taken. User-interface thread only.
using TNewPlotWindow = QWidget* (*)(QWidget* Parent, TPlotFeed& Feed,
                                    const TPlotSettings& Settings);
constexpr const char* PlotModuleFile = "vorta-plotwindow.so";
constexpr const char* NewPlotWindowEntry = "VortaNewPlotWindow";
