// SPDX-License-Identifier: GPL-3.0-or-later
// The lights in the menu bar's corner (connection, recording, broker): one
// look for all of them. User-interface thread only.
#pragma once

#include <QLabel>
#include <QString>

// Colour is a style sheet colour ("#2e7d32").
// A style sheet set again, even the same, polishes the label anew: only a
// change is passed on, as the lights are set on every change of state.
inline void SetLight(QLabel* Light, const QString& Text, const char* Colour) {
    if (Light->text() != Text) Light->setText(Text);
    const QString Sheet = QString("QLabel { background: %1; color: white; border-radius: 3px; "
                                  "padding: 1px 6px; margin: 2px; }")
                              .arg(Colour);
    if (Light->styleSheet() != Sheet) Light->setStyleSheet(Sheet);
}
