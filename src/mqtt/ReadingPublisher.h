// SPDX-License-Identifier: GPL-3.0-or-later
// A sensor's readings published to an MQTT broker. Topics below a prefix
// (default vorta/<hostname>/<port name>, each name one level: TopicLevel), so
// that a filter such as vorta/+/+/reading reaches every sensor:
//   PREFIX/reading  one message a reading, retained so that a dashboard that
//                   starts shows the latest at once; flat JSON (numbers as numbers)
//                   {"time": ISO 8601 with ms and offset, "value": n, "id": n, "mode": "..",
//                   "port": ".."}, or one line of InfluxDB line protocol (InfluxLine)
//   PREFIX/<id>/reading  the same for each sensor polled on the shared line
//                   (readings of source Watch), retained
//   PREFIX/info     the Information fields as one JSON object, retained
//   PREFIX/status   "online", retained; "offline" as the last will and on a clean stop
//   PREFIX/dropped  retained {"time": .., "dropped": n, "total": n}: readings lost
//                   to a full queue since the last report (and in all), published
//                   on the next connection and at most once a second after that
//   PREFIX/<id>/alarm  retained {"state": "raised" | "cleared", "value": n | null,
//                   "low": n | null, "high": n | null, "time": .., "id": n,
//                   "port": ".."}: each crossing of sensor <id>'s limits
//                   (PublishAlarm), the latest of each sent again on every
//                   connection. A standing alarm whose sensor went, or that
//                   stands when publishing stops, is published cleared with
//                   "value": null and "gone": true, so that the broker never
//                   keeps "raised" for a sensor nobody reads any more.
//   PREFIX/alarm    the same messages of the connection's own sensor (not of
//                   those polled on the shared line), for single-sensor dashboards
// status stays a plain word so that the will (fixed when connecting) and the
// connected state read alike. With discovery on, every sensor id seen in a
// reading gets a retained Home Assistant config (HomeAssistantDiscovery),
// and every sensor with an alarm one for the alarm (HomeAssistantAlarmDiscovery,
// unavailable with the status), sent again on every connection, after new
// Information, and whenever Home Assistant announces itself on
// homeassistant/status. A new ID on PREFIX/reading (the sensor's ID changed)
// removes the configs of the one before (empty retained messages) unless
// that ID is polled.
//
// Attached to a sensor session, it publishes the session's readings (but a
// scan's, which belong to other sensors), its identity as info once a
// complete Information answer came, and follows a change of port: the old
// prefix's status turns "offline" and the new port's prefix (when the prefix
// is the default one) is "online".
//
// Readings wait in a bounded queue while the broker is away; the oldest go
// first when it is full. Only a small window of messages is handed to
// libmosquitto at once, so its own queue stays small too. The caller never
// waits on the network. Owner's thread only (see TMqttClient).
#pragma once

#include "Dashboards.h"
#include "Limits.h"
#include "MqttClient.h"
#include "SensorProtocol.h"
#include "SensorSession.h"

#include <QJsonObject>
#include <QTimer>

#include <deque>
#include <map>
#include <set>
#include <unordered_set>

struct TPublishOptions : TMqttOptions {
    std::string Prefix; // empty: DefaultTopicPrefix of Port
    std::string Port;   // the port name, for the default prefix and the messages
    int Qos = 0;        // for readings; status, info and dropped go at QoS 1
    size_t QueueLimit = 10000;
    TPayloadFormat Payload = pfJson; // of the reading messages
    bool Discovery = true;           // Home Assistant's MQTT discovery
};

// vorta/<hostname>/<port name>, each name one topic level (TopicLevel):
// "pts/3" gives vorta/<hostname>/pts_3.
std::string DefaultTopicPrefix(const std::string& PortName);
// Throws EMqttError, naming the cause, for a topic a broker refuses to take
// a message on: empty, over 65535 bytes, not UTF-8, holding a control
// character or a wildcard ('+', '#'), or starting with '$' (the broker's own).
void CheckPublishTopic(const std::string& Topic);
// The Information fields as the info message's JSON object: a field that
// is a decimal number is a JSON number, the version and the rest strings.
QJsonObject InformationJson(const TInformation& I);

// Local time with milliseconds and the UTC offset, "2024-05-01T12:00:00.123+02:00".
std::string IsoTimeNow();

class TReadingPublisher : public TSessionObserver {
  public:
    TReadingPublisher();
    ~TReadingPublisher() override;
    TReadingPublisher(const TReadingPublisher&) = delete;
    TReadingPublisher& operator=(const TReadingPublisher&) = delete;

    // Observes Session (which must outlive the attachment) from now on and
    // publishes its identity when it is known. Readings false: its readings
    // are published only when passed to Publish (vorta-cli publishes exactly
    // what it prints). Detach ends it; so does the destructor.
    void Attach(TSensorSession& Session, bool Readings = true);
    void Detach();
    // Queues a reading of the sensor (not a scan's); never waits.
    void Publish(const TReading& R);
    void Reading(const TReading& R) override;
    void IdentityChanged(const TSensorIdentity& I) override;
    void StateChanged(const TConnection& C) override;
    // The options as Start uses them, the prefix made: throws EMqttError for
    // bad ones and for a topic a broker would refuse.
    static TPublishOptions Checked(TPublishOptions Options);
    // Checks the options (see Checked) and connects.
    void Start(const TPublishOptions& Options);
    // Waits up to DrainMs (running the event loop) until every queued
    // reading has been handed over and acknowledged, then publishes every
    // standing alarm cleared (gone), marks the sensor offline and disconnects. A broker away gets
    // one attempt at once, and the wait ends when that fails. In all at most DrainMs +
    // OfflineWaitMs + TMqttClient::StopWaitMs. Returns the number of
    // readings not delivered.
    size_t Stop(int DrainMs);
    static constexpr int OfflineWaitMs = 2000; // for the broker to take "offline"

    // Queues a reading (Time as IsoTimeNow writes it; Id < 0: unknown, and
    // no discovery config; Mode a whole number, "" unknown) of the port of
    // the options; never waits. Watched: of a sensor polled on the line
    // (Id >= 0), for PREFIX/<Id>/reading.
    void PublishReading(const std::string& Time, double Value, int Id, const std::string& Mode,
                        bool Watched = false);
    // Kept, published retained now and again after every reconnect.
    void PublishInfo(const QJsonObject& Info);
    // An alarm raised or cleared (TAlarmWatcher::OnAlarm) of a sensor of
    // this port; the owner passes only those. Kept like the info, so the
    // broker always ends up holding the latest, even when it was away at the
    // time; Stop clears the alarms still standing.
    void PublishAlarm(const TAlarmEvent& E);

    const std::string& Prefix() const { return FOpt.Prefix; }
    TMqttState State() const { return FClient.State(); }
    int RetryInS() const { return FClient.RetryInS(); } // see TMqttClient
    const std::string& Why() const { return FClient.Why(); }
    size_t Queued() const { return FQueue.size(); }
    long Dropped() const { return FDroppedTotal; }
    long Sent() const { return FSent; }

    // The connection's state (for a connection light or a message).
    std::function<void(TMqttState, const std::string& Why)> OnState;
    // Dropped readings have just been reported (since the last report, in all).
    std::function<void(long Since, long Total)> OnDropped;

  private:
    void Pump();
    void ReportDropped();
    void PublishDiscovery(int Id, bool Watched = false);
    void PublishAlarmDiscovery(int Id);
    void SendAlarm(int Id, bool Own, const std::string& Message);
    void RemoveDiscovery(int Id);
    void PublishAllDiscovery();
    // Moves to another port: reconnects under its prefix (unless one was
    // given), the old prefix left "offline".
    void MovePort(const std::string& Port);

    TMqttClient FClient;
    TPublishOptions FOpt;
    TPublishOptions FGiven; // as Start was given them
    TSensorSession* FSession = nullptr;
    bool FFollowReadings = true;
    std::string FPath; // the session's device, to notice another port
    std::string FHost; // for the influx lines and the discovery
    struct TQueued {
        int WatchId; // -1: PREFIX/reading; else PREFIX/<WatchId>/reading
        std::string Payload;
    };
    std::deque<TQueued> FQueue;
    QJsonObject FInfo;
    bool FHaveInfo = false;
    std::string FAlarm;                   // the latest on PREFIX/alarm; "" none
    std::map<int, std::string> FAlarms;   // the latest on PREFIX/<id>/alarm
    std::map<int, TAlarmEvent> FStanding; // the raised ones, by ID
    std::set<int> FSensorIds;             // those given a discovery config
    std::set<int> FWatchIds;              // the polled ones given a discovery config
    std::set<int> FAlarmIds;              // those given an alarm's config
    // The ids of readings handed over, to tell their acknowledgements from
    // those of status, info and dropped.
    std::unordered_set<int> FMids;
    int FInFlight = 0;
    long FDroppedSince = 0, FDroppedTotal = 0, FSent = 0;
    QTimer FDroppedTimer;
};
