// SPDX-License-Identifier: GPL-3.0-or-later
#include "ProfilesPart.h"

#include "Application.h"
#include "BrokerPart.h"
#include "Dialogs.h"
#include "Formats.h"
#include "ProgramSettings.h"
#include "VaPorts.h"

#include <QComboBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

std::string Local8(const QString& S) {
    return S.toLocal8Bit().toStdString();
}
QString FromLocal8(const std::string& S) {
    return QString::fromLocal8Bit(S.c_str());
}

// Replaces the field's text as the operator's typing does: the field's
// textEdited tells whoever follows the operator's input, and Ctrl+Z
// brings the text before back.
void Type(QLineEdit* E, const QString& Text) {
    E->selectAll();
    E->insert(Text);
}

// A field's whole number; none for an empty field (or "0" where that means
// no sensor). Anything else outside Min..Max would make a profile that no
// program loads, so it is refused with the field's name.
std::optional<int> FieldNumber(const QLineEdit* E, const char* Caption, int Min, int Max,
                               bool ZeroIsNone = false) {
    const QString T = E->text().trimmed();
    if (T.isEmpty() || (ZeroIsNone && T == "0")) return std::nullopt;
    bool Ok = false;
    const int V = T.toInt(&Ok, 10);
    if (!Ok || V < Min || V > Max)
        throw EProfileError(std::string(Caption) + " " + QuotedExcerpt(Local8(T)) +
                            " is not a whole number from " + std::to_string(Min) + " to " +
                            std::to_string(Max) + (ZeroIsNone ? " (0 for none)" : "") +
                            ": correct it, then save the profile again");
    return V;
}

// The device a port box text names, as Connect resolves it; the text itself
// when it names none (the open says why).
std::string DevicePath(const std::string& Text) {
    try {
        return ResolvePortName(Text).Path;
    } catch (const std::exception&) {
        return Text;
    }
}

// The port name readings carry once Text is connected to, as the session
// names the device it opens.
std::string PortKey(const std::string& Text) {
    return PortNameFromPath(DevicePath(Text));
}

// The same device under two names (a by-id link and the node it points to).
bool SameDevice(const std::string& A, const std::string& B) {
    const QString CA = QFileInfo(FromLocal8(A)).canonicalFilePath();
    return !CA.isEmpty() && CA == QFileInfo(FromLocal8(B)).canonicalFilePath();
}

} // namespace

// ---- The dialog

TProfilesDialog::TProfilesDialog(QWidget* Parent, TProfilesPart& Part)
    : QDialog(Parent), FPart(Part) {
    setWindowTitle("Profiles");
    FList = new QListWidget(this);
    FList->setObjectName("lbProfiles");
    FList->setMinimumWidth(FList->fontMetrics().averageCharWidth() * 32);
    FFolder = new QLabel(this);
    FFolder->setObjectName("lProfileFolder");
    FFolder->setWordWrap(true);
    FFolder->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* Buttons = new QVBoxLayout;
    const auto Add = [this, Buttons](const char* Name, const char* Caption,
                                     void (TProfilesDialog::*Handler)()) {
        auto* B = new QPushButton(QString::fromUtf8(Caption), this);
        B->setObjectName(Name);
        B->setAutoDefault(false);
        // A settings file that cannot be written reaches the window's
        // handler (panel 0 and the error log), not Qt.
        connect(B, &QPushButton::clicked, this,
                [this, B, Handler] { RunHandler(B, [this, Handler] { (this->*Handler)(); }); });
        Buttons->addWidget(B);
        return B;
    };
    Add("btSaveProfile", "&Save current as…", &TProfilesDialog::SaveAs);
    FLoad = Add("btLoadProfile", "&Load", &TProfilesDialog::Load);
    FRename = Add("btRenameProfile", "&Rename…", &TProfilesDialog::Rename);
    FDelete = Add("btDeleteProfile", "&Delete", &TProfilesDialog::Delete);
    Buttons->addStretch();
    auto* Close = new QPushButton("Close", this);
    Close->setObjectName("btCloseProfiles");
    Close->setAutoDefault(false);
    connect(Close, &QPushButton::clicked, this, &QDialog::reject);
    Buttons->addWidget(Close);
    auto* Row = new QHBoxLayout;
    Row->addWidget(FList, 1);
    Row->addLayout(Buttons);
    auto* Whole = new QVBoxLayout(this);
    Whole->addLayout(Row);
    Whole->addWidget(FFolder);
    connect(FList, &QListWidget::currentRowChanged, this, [this] { UpdateButtons(); });
    connect(FList, &QListWidget::itemActivated, this,
            [this] { RunHandler(FList, [this] { Load(); }); });
}

void TProfilesDialog::Refresh(const std::string& Select) {
    FList->clear();
    for (const std::string& Name : ListProfiles(FPart.Dir())) {
        FList->addItem(QString::fromStdString(Name));
        if (Name == Select) FList->setCurrentRow(FList->count() - 1);
    }
    const QString Folder = QString::fromStdString(FPart.Dir());
    FFolder->setText(FList->count() ? "In " + Folder
                                    : QString::fromUtf8("No profiles yet in %1. Save current "
                                                        "as… keeps the window's setup as one.")
                                          .arg(Folder));
    UpdateButtons();
}

std::string TProfilesDialog::Selected() const {
    const QListWidgetItem* I = FList->currentItem();
    return I ? I->text().toStdString() : "";
}

void TProfilesDialog::UpdateButtons() {
    const bool Any = FList->currentItem() != nullptr;
    for (QPushButton* B : {FLoad, FRename, FDelete})
        B->setEnabled(Any);
}

void TProfilesDialog::SaveAs() {
    const std::optional<QString> Name = FPart.AskName("Save the window's setup as the profile:",
                                                      QString::fromStdString(Selected()));
    if (Name && FPart.Save(Name->toStdString())) Refresh(Name->toStdString());
}

void TProfilesDialog::Load() {
    const std::string Name = Selected();
    if (!Name.empty() && FPart.Load(Name)) accept();
}

void TProfilesDialog::Rename() {
    const std::string From = Selected();
    if (From.empty()) return;
    const std::optional<QString> To =
        FPart.AskName(QString("New name of the profile '%1':").arg(QString::fromStdString(From)),
                      QString::fromStdString(From));
    if (!To || To->toStdString() == From) return;
    if (FPart.Rename(From, To->toStdString())) Refresh(To->toStdString());
}

void TProfilesDialog::Delete() {
    const std::string Name = Selected();
    if (!Name.empty() && FPart.Delete(Name)) Refresh();
}

// ---- The part

TProfilesPart::TProfilesPart(QWidget& Window, TSensorSession& Session, TAlarmWatcher& Alarms,
                             const TProfileFields& Fields)
    : FWindow(Window), FSession(Session), FAlarms(Alarms), FFields(Fields) {
    AskName = [this](const QString& Label, const QString& Text) -> std::optional<QString> {
        bool Ok = false;
        const QString Name =
            QInputDialog::getText(&FWindow, "Profiles", Label, QLineEdit::Normal, Text, &Ok);
        if (!Ok) return std::nullopt;
        return Name.trimmed();
    };
}

void TProfilesPart::ShowDialog() {
    // The window's child: it goes with the window, after the part.
    if (!FDialog) FDialog = new TProfilesDialog(&FWindow, *this);
    FDialog->Refresh(FLast);
    FDialog->open();
    FDialog->raise();
    FDialog->activateWindow();
}

int CurrentSensorId(const TSensorSession& Session) {
    const TSensorIdentity& I = Session.Identity();
    return I.Known ? I.Id : Session.LastReading().Id;
}

std::string TProfilesPart::CurrentPortKey() const {
    const TConnection& C = FSession.Connection();
    if (C.State == TConnectionState::Connected) return C.Opened;
    return PortKey(Local8(FFields.Port->currentText().trimmed()));
}

TProfile TProfilesPart::Current() const {
    TProfile P;
    P.Port = Local8(FFields.Port->currentText().trimmed());
    const TConnection& C = FSession.Connection();
    if (C.State == TConnectionState::Connected && !C.Path.empty()) {
        // The adapter keeps its by-id name when it gets another number.
        const std::string ById = ByIdPath(C.Path);
        if (ById != C.Path) P.Port = ById;
    }
    P.Id = FieldNumber(FFields.Id, "The ID No of Value Read for ID", 1, 77, true);
    P.Interval = FieldNumber(FFields.Interval, "The Interval", 0, 3600000);
    P.Count = FieldNumber(FFields.Count, "The count of Sender Counter", 1, 1000000);
    // The sensor the profile names, else the one View > Limits… shows.
    P.Limits = FAlarms.Limits(CurrentPortKey(), P.Id ? *P.Id : CurrentSensorId(FSession));
    P.RecordFolder = Local8(*FFields.RecordFolder);
    const TProgramSettings Kept;
    P.Broker = Local8(Kept.Value(TBrokerPart::UrlKey).toString());
    P.Topic = Local8(Kept.Value(TBrokerPart::PrefixKey).toString());
    return P;
}

void TProfilesPart::Apply(const TProfile& P) {
    int Id = -1;
    if (P.Id)
        Id = *P.Id;
    else if (const int V = FFields.Id->text().trimmed().toInt(); V >= 1 && V <= 77)
        Id = V;
    else
        Id = CurrentSensorId(FSession);
    if (P.Limits.Active()) {
        // First: limits that are refused leave every field as it was.
        const std::string Key = P.Port.empty() ? CurrentPortKey() : PortKey(P.Port);
        FAlarms.SetLimits(Key, Id, P.Limits);
        const TConnection& C = FSession.Connection();
        if (!P.Port.empty() && C.State == TConnectionState::Connected && C.Opened != Key &&
            SameDevice(C.Path, DevicePath(P.Port)))
            FAlarms.SetLimits(C.Opened, Id, P.Limits);
    }
    if (!P.Port.empty()) Type(FFields.Port->lineEdit(), FromLocal8(P.Port));
    if (P.Id) Type(FFields.Id, QString::number(*P.Id));
    if (P.Interval) Type(FFields.Interval, QString::number(*P.Interval));
    if (P.Count) Type(FFields.Count, QString::number(*P.Count));
    if (!P.RecordFolder.empty()) {
        *FFields.RecordFolder = FromLocal8(P.RecordFolder);
        if (OnRecordFolderChanged) OnRecordFolderChanged();
    }
    if (Keep && !P.Broker.empty()) Keep(TBrokerPart::UrlKey, FromLocal8(P.Broker));
    if (Keep && !P.Topic.empty()) Keep(TBrokerPart::PrefixKey, FromLocal8(P.Topic));
}

bool TProfilesPart::Save(const std::string& Name) {
    try {
        CheckProfileName(Name);
        const TProfile P = Current();
        const std::vector<std::string> Names = ListProfiles(Dir());
        if (std::find(Names.begin(), Names.end(), Name) != Names.end() &&
            !AskYesNo("Replace the profile " + QuotedExcerpt(Name) + " with the window's setup?"))
            return false;
        SaveProfile(Dir(), Name, P);
    } catch (const std::exception& E) {
        ShowMessage("The profile was not saved: " + std::string(E.what()) + ".");
        return false;
    }
    FLast = Name;
    if (Keep) Keep(LastKey, QString::fromStdString(Name));
    if (OnStatus) OnStatus(QString::fromStdString("Profile " + QuotedExcerpt(Name) + " saved"));
    return true;
}

bool TProfilesPart::Load(const std::string& Name) {
    std::vector<std::string> Warnings;
    try {
        Apply(LoadProfile(Dir(), Name, &Warnings));
    } catch (const std::exception& E) {
        ShowMessage("The profile " + QuotedExcerpt(Name) + " was not loaded: " + E.what() +
                    ".\n\nThe window's settings stay as they were.");
        return false;
    }
    Loaded(Name, Warnings);
    return true;
}

void TProfilesPart::Loaded(const std::string& Name, const std::vector<std::string>& Warnings) {
    FLast = Name;
    if (Keep) Keep(LastKey, QString::fromStdString(Name));
    // A key of a newer version is skipped; the operator learns which.
    QString Text = QString::fromStdString("Profile " + QuotedExcerpt(Name) + " loaded");
    for (const std::string& W : Warnings)
        Text += "; " + FromLocal8(W);
    if (OnStatus) OnStatus(Text);
}

bool TProfilesPart::Rename(const std::string& From, const std::string& To) {
    try {
        RenameProfile(Dir(), From, To);
    } catch (const std::exception& E) {
        ShowMessage("The profile was not renamed: " + std::string(E.what()) + ".");
        return false;
    }
    if (FLast == From) {
        FLast = To;
        if (Keep) Keep(LastKey, QString::fromStdString(To));
    }
    return true;
}

bool TProfilesPart::Delete(const std::string& Name) {
    if (!AskYesNo("Delete the profile " + QuotedExcerpt(Name) + "?")) return false;
    try {
        DeleteProfile(Dir(), Name);
    } catch (const std::exception& E) {
        ShowMessage("The profile was not deleted: " + std::string(E.what()) + ".");
        return false;
    }
    if (FLast == Name) {
        FLast.clear();
        if (Keep) Keep(LastKey, QString());
    }
    return true;
}

void TProfilesPart::LoadLast(const QString& LastName,
                             const std::function<void(const std::string&)>& Report) {
    const std::string Name = LastName.toStdString();
    if (Name.empty()) return;
    FLast = Name;
    std::vector<std::string> Warnings;
    try {
        Apply(LoadProfile(Dir(), Name, &Warnings));
    } catch (const std::exception& E) {
        Report("Profile " + QuotedExcerpt(Name) +
               " not loaded, the saved settings stay: " + E.what());
        // A profile that is gone would be reported at every start; a broken
        // one is loaded again once it is mended.
        if (!QFileInfo::exists(QString::fromStdString(Dir() + "/" + Name + ".ini"))) {
            FLast.clear();
            if (Keep) Keep(LastKey, QString());
        }
        return;
    }
    Loaded(Name, Warnings);
}
