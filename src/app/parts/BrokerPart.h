// SPDX-License-Identifier: GPL-3.0-or-later
// Publishing the session's readings to an MQTT broker: the publisher (see
// TReadingPublisher, itself an observer of the session), the broker light
// and File > Publish to broker.... The publisher never makes the window
// wait: a broker that is away holds the readings in its bounded queue.
//
// User-interface thread only. The light and the action are the window's.
#pragma once

#include "ReadingPublisher.h"
#include "SensorSession.h"

#include <functional>
#include <memory>

class QAction;
class QLabel;
class QString;
class QWidget;

class TBrokerPart {
  public:
    // Window parents the dialogs; Light shows the broker's state while
    // publishing, StopAction is enabled meanwhile.
    TBrokerPart(QWidget& Window, TSensorSession& Session, QLabel* Light, QAction* StopAction);
    // The publisher lets go of the session (the owner destroys the part first).
    ~TBrokerPart();
    TBrokerPart(const TBrokerPart&) = delete;
    TBrokerPart& operator=(const TBrokerPart&) = delete;

    // What panel 0 of the status bar is to show (a broker away, readings
    // dropped).
    std::function<void(const QString& Text)> OnStatus;
    // The part's state changed: the owner draws the lights anew (calling
    // UpdateLight), all of them at once. Without it the part draws its own.
    std::function<void()> OnLightChanged;

    // Every accepted reading goes to PREFIX/reading, the Information fields
    // to PREFIX/info. An empty Options.Port is the session's port. Bad
    // options (a topic the broker would refuse) are shown in a message box
    // and nothing is published; a broker that is away or refuses later
    // shows on the light and through OnStatus.
    void Start(const TPublishOptions& Options);
    // What is still queued gets a second to reach the broker.
    void Stop();
    // File > Publish to broker...: the options the operator gives, false
    // when none (cancelled, or no URL). The broker's URL, prefix, QoS and
    // user are kept in the program settings; the password never is.
    bool AskOptions(TPublishOptions& Options);
    void UpdateLight(); // from the part's state
    // An alarm (TAlarmWatcher::OnAlarm) to PREFIX/<id>/alarm (and the
    // connected sensor's to PREFIX/alarm) while publishing, when it is of the
    // session's port, whose readings are published.
    void PublishAlarm(const TAlarmEvent& E);

    // The program settings' keys of the URL and topic prefix the dialog
    // offers (profiles set them too).
    static constexpr const char* UrlKey = "Broker/Url";
    static constexpr const char* PrefixKey = "Broker/Prefix";

  private:
    void LightChanged();
    QWidget& FWindow;
    TSensorSession& FSession;
    QLabel* FLight;
    QAction* FStopAction;
    std::unique_ptr<TReadingPublisher> FPublisher;
};
