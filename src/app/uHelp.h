// SPDX-License-Identifier: GPL-3.0-or-later
// The help window: shows "help.txt" from the program's data (see AppPaths.h)
// in the system's fixed-width font, so that its columns line up. Modeless;
// every Help click opens another one; Esc closes it.
#pragma once

#include <QPlainTextEdit>
#include <QWidget>

class QKeyEvent;

class TfHelp : public QWidget {
  public:
    explicit TfHelp(QWidget* Owner);
    void FormCreate();
    QPlainTextEdit* mHelp;

  protected:
    void keyPressEvent(QKeyEvent* Event) override;
};
