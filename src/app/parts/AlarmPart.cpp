// SPDX-License-Identifier: GPL-3.0-or-later
#include "AlarmPart.h"

#include "BrokerPart.h"
#include "PlotFeed.h"
#include "ProgramSettings.h"
#include "Recorder.h"
#include "RecordingPart.h"
#include "SensorSession.h"
#include "VaPorts.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QStringList>
#include <QVariantMap>

#include <algorithm>
#include <optional>

namespace {

QString Q(const std::string& S) {
    return QString::fromLocal8Bit(S.data(), qsizetype(S.size()));
}

QString Number(double V) {
    return QString::fromStdString(TRecorder::Number(V));
}

QString Bound(const std::optional<double>& V) {
    return V ? Number(*V) : QString();
}

// "pts/3 ID 1: 12.5 above the high limit 12".
QString Describe(const TAlarmEvent& E) {
    QString Where = Q(E.Port) + (E.Id >= 0 ? " ID " + QString::number(E.Id) : QString());
    if (E.Gone) return Where + ": alarm ended, the sensor is gone";
    QString What;
    if (E.State == TAlarmState::Cleared)
        What = "back inside the limits";
    else if (E.Side == lsHigh)
        What = "above the high limit " + Bound(E.Limits.High);
    else
        What = "below the low limit " + Bound(E.Limits.Low);
    return Where + ": " + Number(E.Value) + " " + What;
}

// A number as the operator writes it, in the system's form or with a point;
// empty is none. Throws ELimitsError naming the entry.
std::optional<double> ParseEntry(const QLineEdit* Edit, const char* Name, bool Optional) {
    const QString T = Edit->text().trimmed();
    if (T.isEmpty()) {
        if (Optional) return std::nullopt;
        return 0.0;
    }
    // "1.500" is no thousand and a half in any form an angle is written in.
    QLocale System = QLocale::system();
    System.setNumberOptions(QLocale::RejectGroupSeparator);
    bool Ok = false;
    double V = System.toDouble(T, &Ok);
    if (!Ok) V = QLocale::c().toDouble(T, &Ok);
    if (!Ok)
        throw ELimitsError(QString("the %1 \"%2\" is not a number; enter one such as 12.5%3")
                               .arg(Name, T, Optional ? ", or nothing for none" : "")
                               .toStdString());
    return V;
}

// Only where a bus is said to be: without one, the library would try to
// start one for the session.
bool SessionBusThere() {
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) return true;
    const QString Runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !Runtime.isEmpty() && QFileInfo::exists(Runtime + "/bus");
}

} // namespace

// ---- The dialog

TLimitsDialog::TLimitsDialog(QWidget* Parent, TAlarmWatcher& Alarms, const QString& Port, int Id)
    : QDialog(Parent), FAlarms(Alarms) {
    setWindowTitle("Limits");
    auto* Form = new QFormLayout(this);
    const auto Edit = [this](const char* Name, const QString& Text, const char* Hint) {
        auto* E = new QLineEdit(Text, this);
        E->setObjectName(Name);
        E->setPlaceholderText(Hint);
        return E;
    };
    ePort = Edit("eLimitPort", Port, "USB0");
    eId = Edit("eLimitId", Id >= 0 ? QString::number(Id) : QString(), "1 to 77");
    eLow = Edit("eLimitLow", "", "none");
    eHigh = Edit("eLimitHigh", "", "none");
    eHysteresis = Edit("eLimitHysteresis", "", "0");
    auto* Note = new QLabel("Off by default: leave both limits empty for no alarm. Degrees; an "
                            "alarm clears once a reading is back inside by the hysteresis.",
                            this);
    lError = new QLabel(this);
    lError->setObjectName("lLimitError");
    // A wrapped text gets its height only from a known width; the dialog
    // grows to show the whole reason.
    const int Width = fontMetrics().averageCharWidth() * 56;
    for (QLabel* L : {Note, lError}) {
        L->setWordWrap(true);
        L->setFixedWidth(Width);
    }
    Form->setSizeConstraint(QLayout::SetFixedSize);
    lError->setStyleSheet("QLabel { color: #c62828; }");
    lError->hide();
    Form->addRow("&Port:", ePort);
    Form->addRow("Sensor &ID:", eId);
    Form->addRow("&Low limit:", eLow);
    Form->addRow("&High limit:", eHigh);
    Form->addRow("H&ysteresis:", eHysteresis);
    Form->addRow(Note);
    Form->addRow(lError);
    auto* Buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(Buttons, &QDialogButtonBox::accepted, this, [this] { Apply(); });
    connect(Buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    Form->addRow(Buttons);
    // Another sensor's limits as soon as it is named.
    connect(ePort, &QLineEdit::editingFinished, this, [this] { ShowLimits(); });
    connect(eId, &QLineEdit::editingFinished, this, [this] { ShowLimits(); });
    ShowLimits();
}

void TLimitsDialog::ShowLimits() {
    bool Ok = false;
    const int Id = eId->text().trimmed().toInt(&Ok);
    if (!Ok) return;
    const TLimits L = FAlarms.Limits(ePort->text().trimmed().toLocal8Bit().toStdString(), Id);
    eLow->setText(Bound(L.Low));
    eHigh->setText(Bound(L.High));
    eHysteresis->setText(L.Active() ? Number(L.Hysteresis) : QString());
}

bool TLimitsDialog::Apply() {
    try {
        const QString Port = ePort->text().trimmed();
        if (Port.isEmpty())
            throw ELimitsError("no port is given; enter the port the sensor is on, such as USB0");
        bool Ok = false;
        const int Id = eId->text().trimmed().toInt(&Ok);
        if (!Ok || Id < 1 || Id > 77)
            throw ELimitsError(
                QString("the ID \"%1\" is not a whole number from 1 to 77; enter the sensor's ID")
                    .arg(eId->text().trimmed())
                    .toStdString());
        TLimits L;
        L.Low = ParseEntry(eLow, "low limit", true);
        L.High = ParseEntry(eHigh, "high limit", true);
        L.Hysteresis = *ParseEntry(eHysteresis, "hysteresis", false);
        // Readings carry the port's name, not its path.
        FAlarms.SetLimits(PortNameFromPath(Port.toLocal8Bit().toStdString()), Id, L);
    } catch (const ELimitsError& E) {
        lError->setText(QString("Not set: ") + QString::fromUtf8(E.what()));
        lError->show();
        return false;
    }
    accept();
    return true;
}

QString TLimitsDialog::Error() const {
    return lError->isHidden() ? QString() : lError->text();
}

// ---- The part

TAlarmPart::TAlarmPart(QWidget& Window, TSensorSession& Session, TAlarmWatcher& Alarms,
                       TRecordingPart& Recording, TBrokerPart& Broker, TPlotFeed& Feed)
    : FWindow(Window), FSession(Session), FAlarms(Alarms), FRecording(Recording), FBroker(Broker),
      FFeed(Feed) {
    FAlarms.OnAlarm = [this](const TAlarmEvent& E) { Alarm(E); };
    FAlarms.OnLimitsChanged = [this](const std::string& Port, int Id, const TLimits& L) {
        LimitsChanged(Port, Id, L);
    };
}

TAlarmPart::~TAlarmPart() {
    FAlarms.OnAlarm = nullptr;
    FAlarms.OnLimitsChanged = nullptr;
}

void TAlarmPart::Load(const TProgramSettings& Kept) {
    for (const QString& Text : Kept.Value("Alarms/Limits").toStringList()) {
        std::string Port;
        int Id = -1;
        TLimits L;
        try {
            FromKeptText(Text, Port, Id, L);
            FAlarms.SetLimits(Port, Id, L);
        } catch (const ELimitsError& E) {
            if (OnError)
                OnError("Limits \"" + Text.toStdString() + "\" in \"" + Kept.Path() +
                        "\" not taken: " + E.what() + "; set them again in View > Limits");
        }
    }
    FLoaded = true;
}

void TAlarmPart::LimitsChanged(const std::string& Port, int Id, const TLimits& L) {
    if (L.Active())
        FKept[{Port, Id}] = L;
    else
        FKept.erase({Port, Id});
    FFeed.SetBand(Port, Id, {L.Low, L.High});
    if (!FLoaded) return;
    QStringList List;
    for (const auto& [Key, Limits] : FKept)
        List << KeptLimitsText(Key.first, Key.second, Limits);
    try {
        TProgramSettings Kept;
        Kept.SetValue("Alarms/Limits", List);
        Kept.Save();
    } catch (const std::exception& E) {
        // In effect all the same; only the next start would not know them.
        if (OnError) OnError(std::string("Limits set but not kept: ") + E.what());
    }
}

void TAlarmPart::AskLimits(const std::string& Port, int Id) {
    TLimitsDialog D(&FWindow, FAlarms, Q(Port), Id);
    D.exec();
}

void TAlarmPart::Alarm(const TAlarmEvent& E) {
    const bool Raised = E.State == TAlarmState::Raised;
    const auto Same = [&](const TAlarmEvent& R) { return R.Port == E.Port && R.Id == E.Id; };
    FRaised.erase(std::remove_if(FRaised.begin(), FRaised.end(), Same), FRaised.end());
    if (Raised) FRaised.push_back(E);

    // The reading that did it, for the row's mode and ID; the session's
    // latest unless the watcher was fed by hand.
    TReading R;
    const TReading& Last = FSession.LastReading();
    if (FSession.HaveReading() && Last.Port == E.Port && Last.Id == E.Id)
        R = Last;
    else
        R.Id = E.Id;
    FRecording.Row("event", E.Gone ? std::string() : TRecorder::Number(E.Value),
                   Raised   ? "alarm raised"
                   : E.Gone ? "alarm ended, sensor gone"
                            : "alarm cleared",
                   &R);
    FBroker.PublishAlarm(E);
    if (!E.Gone) FFeed.AddCrossing(E.Port, E.Id, Raised);
    const QString Body = Describe(E);
    if (OnStatus) OnStatus((Raised ? "Alarm raised: " : "Alarm cleared: ") + Body);
    Notify(E, Body);
    if (OnLightChanged) OnLightChanged();
}

bool TAlarmPart::Light(const std::string& Port, QString& Text, QString& Tip) const {
    Tip.clear();
    const TAlarmEvent* Latest = nullptr;
    for (const TAlarmEvent& E : FRaised) {
        if (E.Port != Port) continue;
        Latest = &E;
        const QDateTime At = QDateTime::fromMSecsSinceEpoch(
            std::chrono::duration_cast<std::chrono::milliseconds>(E.Time.time_since_epoch())
                .count());
        Tip += (Tip.isEmpty() ? "" : "\n") + Describe(E) + " since " + At.toString("hh:mm:ss");
    }
    if (!Latest) return false;
    Text = "ALARM " + Number(Latest->Value);
    return true;
}

void TAlarmPart::Republish(const std::string& Port) {
    for (const TAlarmEvent& E : FRaised)
        if (E.Port == Port) FBroker.PublishAlarm(E);
}

void TAlarmPart::Notify(const TAlarmEvent& E, const QString& Body) {
    // Without a bus the status bar has said it; nothing else is missed.
    if (!SessionBusThere()) return;
    QDBusConnection Bus = QDBusConnection::sessionBus();
    if (!Bus.isConnected()) return;
    const bool Raised = E.State == TAlarmState::Raised;
    QDBusMessage M = QDBusMessage::createMethodCall("org.freedesktop.Notifications",
                                                    "/org/freedesktop/Notifications",
                                                    "org.freedesktop.Notifications", "Notify");
    // A raised alarm stays until the operator dismisses it.
    const QVariantMap Hints{{"urgency", QVariant::fromValue(uchar(Raised ? 2 : 1))}};
    M << QString("VORTA-IN-S Display") << uint(0)
      << QString(Raised ? "dialog-warning" : "dialog-information")
      << QString(Raised ? "Alarm raised" : "Alarm cleared") << Body << QStringList() << Hints
      << int(-1);
    // Never waits for the notification server.
    Bus.send(M);
}

// ---- The settings file's form

QString KeptLimitsText(const std::string& Port, int Id, const TLimits& L) {
    return QStringList{Bound(L.Low), Bound(L.High), Number(L.Hysteresis), QString::number(Id),
                       Q(Port)}
        .join('|');
}

void FromKeptText(const QString& Text, std::string& Port, int& Id, TLimits& L) {
    const QStringList F = Text.split('|');
    if (F.size() < 5) throw ELimitsError("not of the form low|high|hysteresis|id|port");
    bool Ok = true;
    const auto Value = [&](const QString& T, bool Optional) -> std::optional<double> {
        if (T.isEmpty() && Optional) return std::nullopt;
        bool Good = false;
        const double V = QLocale::c().toDouble(T, &Good);
        Ok = Ok && Good;
        return V;
    };
    L.Low = Value(F[0], true);
    L.High = Value(F[1], true);
    L.Hysteresis = *Value(F[2], false);
    bool IdOk = false;
    Id = F[3].toInt(&IdOk);
    if (!Ok || !IdOk || Id < 1 || Id > 77)
        throw ELimitsError("a limit, the hysteresis or the ID is not a number");
    Port = F.mid(4).join('|').toLocal8Bit().toStdString();
    if (Port.empty()) throw ELimitsError("no port is named");
    CheckLimits(L);
}
