// SPDX-License-Identifier: GPL-3.0-or-later
// The lights in the menu bar's corner (connection, recording, broker): one
// look for all of them. User-interface thread only.
#pragma once

#include <QLabel>
#include <QString>

// Colour is a style sheet colour ("#2e7d32").
inline void SetLight(QLabel* Light, const QString& Text, const char* Colour) {
    Light->setText(Text);
    Light->setStyleSheet(QString("QLabel { background: %1; color: white; border-radius: 3px; "
                                 "padding: 1px 6px; margin: 2px; }")
                             .arg(Colour));
}
