// SPDX-License-Identifier: GPL-3.0-or-later
#include "BrokerPart.h"

#include "Dialogs.h"
#include "Lights.h"
#include "ProgramSettings.h"
#include "Redact.h"
#include "VaPorts.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>

namespace {

// The broker's settings; the password is asked for each session (or comes
// from VORTA_MQTT_PASSWORD) and is never written anywhere.
class TBrokerDialog : public QDialog {
  public:
    TBrokerDialog(QWidget* Parent, const TProgramSettings& Kept) : QDialog(Parent) {
        setWindowTitle("Publish to broker");
        auto* Form = new QFormLayout(this);
        Url = new QLineEdit(Kept.Value(TBrokerPart::UrlKey).toString(), this);
        Url->setPlaceholderText("mqtt://host:1883 or mqtts://host");
        Prefix = new QLineEdit(Kept.Value(TBrokerPart::PrefixKey).toString(), this);
        Prefix->setPlaceholderText("vorta/<hostname>/<port name>");
        Qos = new QComboBox(this);
        Qos->addItems({"0 (at most once)", "1 (at least once)"});
        Qos->setCurrentIndex(Kept.Value("Broker/Qos", 0).toInt() == 1 ? 1 : 0);
        User = new QLineEdit(Kept.Value("Broker/User").toString(), this);
        User->setPlaceholderText("none, or VORTA_MQTT_USER");
        Password = new QLineEdit(this);
        Password->setEchoMode(QLineEdit::Password);
        Password->setPlaceholderText("not kept");
        // Wide enough for a whole URL and for every hint to be read.
        for (QLineEdit* E : {Url, Prefix, User, Password})
            E->setMinimumWidth(E->fontMetrics().horizontalAdvance(E->placeholderText()) +
                               E->fontMetrics().averageCharWidth() * 12);
        Form->addRow("&URL:", Url);
        Form->addRow("&Topic prefix:", Prefix);
        Form->addRow("&QoS:", Qos);
        Form->addRow("U&ser:", User);
        Form->addRow("&Password:", Password);
        // On unless turned off: dashboards find the sensor by themselves.
        Discovery = new QCheckBox("Home Assistant &discovery", this);
        Discovery->setChecked(Kept.Value("Broker/Discovery", true).toBool());
        Form->addRow("", Discovery);
        auto* Buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
        connect(Buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
        connect(Buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
        Form->addRow(Buttons);
    }
    QLineEdit *Url, *Prefix, *User, *Password;
    QComboBox* Qos;
    QCheckBox* Discovery;
};

std::string Local8(const QString& S) {
    return S.toLocal8Bit().toStdString();
}

} // namespace

TBrokerPart::TBrokerPart(QWidget& Window, TSensorSession& Session, QLabel* Light,
                         QAction* StopAction)
    : FWindow(Window), FSession(Session), FLight(Light), FStopAction(StopAction) {
    UpdateLight();
}

TBrokerPart::~TBrokerPart() = default;

void TBrokerPart::Start(const TPublishOptions& Options) {
    Stop();
    auto Publisher = std::make_unique<TReadingPublisher>();
    Publisher->OnState = [this](TMqttState State, const std::string& Why) {
        if (!Why.empty() && State != TMqttState::Online && OnStatus)
            OnStatus(QString::fromLocal8Bit(("Broker: " + RedactUrl(Why)).c_str()));
        LightChanged();
    };
    Publisher->OnDropped = [this](long Since, long Total) {
        if (OnStatus)
            OnStatus(QString("Broker: %1 readings dropped while it was away (%2 in all)")
                         .arg(Since)
                         .arg(Total));
    };
    TPublishOptions O = Options;
    if (O.Port.empty()) O.Port = FSession.Connection().Opened;
    if (O.Port.compare(0, 1, "/") == 0) O.Port = PortNameFromPath(O.Port);
    try {
        Publisher->Start(O);
    } catch (const EMqttError& E) {
        ShowMessage("Cannot publish to the broker: " + RedactUrl(E.what()));
        return;
    }
    FPublisher = std::move(Publisher);
    // Mode and ID go with every reading: the session's readings and its
    // identity from the last complete Information answer, whatever came since.
    FPublisher->Attach(FSession);
    LightChanged();
}

void TBrokerPart::Stop() {
    if (!FPublisher) return;
    FPublisher->Stop(1000);
    FPublisher.reset();
    LightChanged();
}

void TBrokerPart::UpdateLight() {
    const TMqttState Broker = FPublisher ? FPublisher->State() : TMqttState::Stopped;
    FLight->setVisible(Broker != TMqttState::Stopped);
    if (Broker == TMqttState::Online)
        SetLight(FLight, "Broker", "#2e7d32");
    else if (Broker == TMqttState::Connecting)
        SetLight(FLight, QString::fromUtf8("Broker…"), "#b26a00");
    else if (Broker == TMqttState::Failed)
        SetLight(FLight, "Broker failed", "#c62828");
    // The prefix, and while it is away why and when it is tried again.
    QString Tip = QString::fromStdString(FPublisher ? FPublisher->Prefix() : "");
    if (Broker != TMqttState::Online && FPublisher && !FPublisher->Why().empty())
        Tip += "\n" + QString::fromLocal8Bit(RedactUrl(FPublisher->Why()).c_str());
    if (Broker == TMqttState::Connecting && FPublisher->RetryInS() > 0)
        Tip += QString("\nbroker not reachable, retrying in %1 s").arg(FPublisher->RetryInS());
    FLight->setToolTip(Tip);
    FStopAction->setEnabled(Broker != TMqttState::Stopped);
}

void TBrokerPart::PublishAlarm(const TAlarmEvent& E) {
    if (FPublisher && E.Port == FSession.Connection().Opened) FPublisher->PublishAlarm(E);
}

void TBrokerPart::LightChanged() {
    if (OnLightChanged)
        OnLightChanged();
    else
        UpdateLight();
}

bool TBrokerPart::AskOptions(TPublishOptions& O) {
    TProgramSettings Kept;
    TBrokerDialog D(&FWindow, Kept);
    if (D.exec() != QDialog::Accepted || D.Url->text().trimmed().isEmpty()) return false;
    O.Url = Local8(D.Url->text().trimmed());
    O.Prefix = Local8(D.Prefix->text().trimmed());
    O.Qos = D.Qos->currentIndex();
    O.Discovery = D.Discovery->isChecked();
    LoadMqttCredentials(O, "");
    if (!D.User->text().isEmpty()) {
        O.User = Local8(D.User->text());
        O.Password = Local8(D.Password->text());
    }
    // A URL carrying a password is refused when publishing starts; kept, it
    // would write the password to the settings file.
    Kept.SetValue(UrlKey, QString::fromLocal8Bit(RedactUrl(O.Url).c_str()));
    Kept.SetValue(PrefixKey, D.Prefix->text().trimmed());
    Kept.SetValue("Broker/Qos", O.Qos);
    Kept.SetValue("Broker/Discovery", O.Discovery);
    Kept.SetValue("Broker/User", D.User->text());
    Kept.Save();
    return true;
}
