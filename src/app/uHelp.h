// The help window: shows "help.txt" from the program's data (see AppPaths.h).
// Modeless; every Help click opens another one.
#pragma once

#include <QPlainTextEdit>
#include <QWidget>

class TfHelp : public QWidget {
public:
    explicit TfHelp(QWidget* Owner);
    void FormCreate();
    QPlainTextEdit* mHelp;
};
