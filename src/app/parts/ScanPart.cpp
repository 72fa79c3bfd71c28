// SPDX-License-Identifier: GPL-3.0-or-later
#include "ScanPart.h"

#include "SessionState.h"

#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressDialog>
#include <QVBoxLayout>

TScanResultDialog::TScanResultDialog(QWidget* Parent,
                                     const std::vector<std::pair<int, double>>& Found)
    : QDialog(Parent), FList(new QListWidget(this)), FFound(Found) {
    setWindowTitle("Scan for sensors");
    auto* Layout = new QVBoxLayout(this);
    Layout->addWidget(new QLabel(
        Found.empty() ? "No sensor answered." : "Sensors that answered (ID, reading):", this));
    for (const auto& [Id, Value] : Found)
        FList->addItem(QString("ID %1  %2").arg(Id, 2).arg(Value, 8, 'f', 2));
    // The columns line up in a fixed-width font.
    FList->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    if (!Found.empty()) FList->setCurrentRow(0);
    Layout->addWidget(FList);
    auto* Buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    Layout->addWidget(Buttons);
    connect(Buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(Buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(FList, &QListWidget::itemDoubleClicked, this, &QDialog::accept);
}

int TScanResultDialog::ChosenId() const {
    const int Row = FList->currentRow();
    return Row >= 0 && Row < static_cast<int>(FFound.size()) ? FFound[Row].first : 0;
}

TScanPart::TScanPart(QWidget& Window, TSensorSession& Session, QLineEdit* IdEdit)
    : FWindow(Window), FSession(Session), FIdEdit(IdEdit) {
    ChooseScannedSensor = [this](const std::vector<std::pair<int, double>>& Found) {
        TScanResultDialog D(&FWindow, Found);
        return D.exec() == QDialog::Accepted ? D.ChosenId() : 0;
    };
}

void TScanPart::Run() {
    QProgressDialog Progress("Scanning for sensors...", "Cancel", 0, 77, &FWindow);
    Progress.setWindowTitle("Scan for sensors");
    Progress.setWindowModality(Qt::WindowModal);
    Progress.setMinimumDuration(0);
    const auto Found = FSession.Scan(1, 77, ScanWait, [&](int Id) {
        Progress.setValue(Id - 1);
        Progress.setLabelText(QString("Asking ID %1 of 77...").arg(Id));
        return !Progress.wasCanceled() && PortOpen(FSession);
    });
    Progress.reset();
    if (const int Id = ChooseScannedSensor ? ChooseScannedSensor(Found) : 0; Id > 0)
        FIdEdit->setText(QString::number(Id));
}
