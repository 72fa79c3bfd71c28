// SPDX-License-Identifier: GPL-3.0-or-later
#include "Dialogs.h"

#include <QApplication>
#include <QMessageBox>

namespace {

QWidget* ActiveParent() {
    return QApplication::activeWindow();
}

TDialogSeam DefaultSeam() {
    TDialogSeam Seam;
    Seam.ShowMessage = [](const std::string& Text) {
        QMessageBox::information(ActiveParent(), QApplication::applicationDisplayName(),
                                 QString::fromLocal8Bit(Text.c_str()));
    };
    Seam.AskYesNo = [](const std::string& Text) {
        return QMessageBox::question(ActiveParent(), QApplication::applicationDisplayName(),
                                     QString::fromLocal8Bit(Text.c_str()),
                                     QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
    };
    return Seam;
}

TDialogSeam& Seam() {
    static TDialogSeam S = DefaultSeam();
    return S;
}

} // namespace

void ShowMessage(const std::string& Text) {
    Seam().ShowMessage(Text);
}
bool AskYesNo(const std::string& Text) {
    return Seam().AskYesNo(Text);
}

TDialogSeam SetDialogSeam(TDialogSeam NewSeam) {
    TDialogSeam Old = Seam();
    Seam() = std::move(NewSeam);
    return Old;
}
