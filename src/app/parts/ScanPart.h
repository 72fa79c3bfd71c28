// SPDX-License-Identifier: GPL-3.0-or-later
// Port > Scan for sensors...: the Angle Data request of every ID on a shared
// line, under a cancelable progress dialog, and the choice among the IDs
// that answered. User-interface thread only.
#pragma once

#include "SensorExchange.h"
#include "SensorSession.h"

#include <QDialog>

#include <functional>
#include <utility>
#include <vector>

class QLineEdit;
class QListWidget;

// The IDs a scan found, each with its reading; the operator picks one.
class TScanResultDialog : public QDialog {
  public:
    TScanResultDialog(QWidget* Parent, const std::vector<std::pair<int, double>>& Found);
    int ChosenId() const; // 0 when none is chosen
  private:
    QListWidget* FList;
    std::vector<std::pair<int, double>> FFound;
};

class TScanPart {
  public:
    // Window parents the dialogs; the chosen ID goes into IdEdit (the
    // window's Angle Data ID).
    TScanPart(QWidget& Window, TSensorSession& Session, QLineEdit* IdEdit);
    // Asks IDs 1 to 77 with ScanWait ms for each answer, while the port is
    // open and the operator does not cancel. The owner has checked the port.
    void Run();

    int ScanWait = TSensorExchange::ScanWait;
    // Shows the found IDs and returns the one chosen (0: none). Tests replace
    // it; the default runs a TScanResultDialog.
    std::function<int(const std::vector<std::pair<int, double>>& Found)> ChooseScannedSensor;

  private:
    QWidget& FWindow;
    TSensorSession& FSession;
    QLineEdit* FIdEdit;
};
