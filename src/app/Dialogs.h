// SPDX-License-Identifier: GPL-3.0-or-later
// The one seam through which the console shows message boxes. The default
// shows modal Qt boxes; tests install a scripted answerer so nothing modal
// ever blocks a test run.
#pragma once

#include <functional>
#include <string>

class QWidget;

struct TDialogSeam {
    // Shows Text with an OK button.
    std::function<void(const std::string& Text)> ShowMessage;
    // Asks Text with a question icon and Yes/No buttons; true for Yes.
    std::function<bool(const std::string& Text)> AskYesNo;
};

void ShowMessage(const std::string& Text);
bool AskYesNo(const std::string& Text);

// Replaces the seam; returns the previous one so a test can restore it.
TDialogSeam SetDialogSeam(TDialogSeam Seam);
