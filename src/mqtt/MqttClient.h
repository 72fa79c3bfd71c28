// SPDX-License-Identifier: GPL-3.0-or-later
// A connection to an MQTT broker on libmosquitto, for the console and
// vorta-cli: parsing the broker's URL, the credentials, TLS, the last will,
// and connecting with a growing back-off (1, 2, 4, 8, 16, then every 30 s),
// the first connection as well as one that was lost.
//
// Threading: the network loop runs on a thread of its own, so looking up the
// host, connecting, reconnecting and writing never hold up the caller. Every
// callback below is delivered on the thread that owns the TMqttClient (the
// one that created it; it must run a Qt event loop), and every member is
// called from that thread only.
#pragma once

#include "SysUtils.h"

#include <QObject>

#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

// Bad options: a URL, a credentials file, a TLS file.
struct EMqttError : Exception {
    using Exception::Exception;
};

// mqtt://host[:port] (1883) or mqtts://host[:port] (8883, TLS), the scheme in
// any case. A user name or password in the URL is refused: it would show in
// the process list. No refusal quotes a password (QuotedRedacted).
struct TMqttUrl {
    bool Tls = false;
    std::string Host;
    int Port = 0;
};
TMqttUrl ParseMqttUrl(const std::string& Url);

struct TMqttOptions {
    std::string Url;
    std::string CaFile, CertFile, KeyFile; // mqtts: the CA; an optional client certificate
    std::string User, Password;            // empty User: no credentials
    std::string WillTopic, WillPayload;    // retained, QoS 1; empty topic: no will
    int KeepAlive = 30;                    // seconds
};

// User name and password from VORTA_MQTT_USER / VORTA_MQTT_PASSWORD, or, when
// File is not empty, from that file: the user name on its first line, the
// password on the second. The values never appear in a message.
void LoadMqttCredentials(TMqttOptions& Options, const std::string& File);

enum class TMqttState {
    Stopped,    // not started, or stopped
    Connecting, // an attempt under way, or waiting for the next one
    Online,     // connected (again)
    Failed      // refused by the broker (credentials), a TLS failure or an
                // unknown host: trying again cannot help, so no further attempts
};
const char* MqttStateName(TMqttState S);

class TMqttClient : public QObject {
  public:
    // How long Stop and the destructor wait for the network thread (in the
    // middle of a host look-up, say) before leaving it to end by itself.
    static constexpr int StopWaitMs = 2000;

    TMqttClient();
    // Ends without a clean disconnect, so that the broker publishes the will.
    ~TMqttClient() override;

    // Checks the options (throws EMqttError) and starts connecting; the result
    // arrives through OnState.
    void Start(const TMqttOptions& Options);
    // Disconnects cleanly (no will) and ends the network thread, waiting at
    // most StopWaitMs.
    void Stop();
    // Makes the next attempt at once instead of after the back-off: a last
    // chance for what is queued before the caller stops.
    void RetryNow();

    TMqttState State() const { return FState; }
    const std::string& Why() const { return FWhy; } // the last state change's reason
    const TMqttUrl& Url() const { return FUrl; }
    // While Connecting after a failed attempt, the seconds until the next
    // one; 0 otherwise. With OnState's reason: "broker not reachable".
    int RetryInS() const { return FRetryInS; }
    // Attempts that failed, and connections lost, since Start.
    long FailedAttempts() const { return FFailedAttempts; }

    // Hands a message to the network thread without waiting for it. Returns
    // the message id, or -1 when there is no connection to hand it to.
    int Publish(const std::string& Topic, const std::string& Payload, int Qos, bool Retain);
    // Subscribed now and again after every reconnect.
    void Subscribe(const std::string& Filter, int Qos);

    // State changes, with the reason for a loss or refusal ("" otherwise);
    // Connecting again after each failed attempt, with its reason.
    std::function<void(TMqttState, const std::string& Why)> OnState;
    // A message handed over by Publish has left (QoS 0) or been acknowledged (QoS 1).
    std::function<void(int Mid)> OnPublished;
    std::function<void(const std::string& Topic, const std::string& Payload)> OnMessage;

  protected:
    bool event(QEvent* E) override; // the network thread's news

  private:
    struct TLink;
    struct TNews;
    static void RunLink(std::shared_ptr<TLink> L);
    void End(bool Clean);
    void Deliver(const TNews& N);
    void SetState(TMqttState S, const std::string& Why);

    // Shared with the network thread, which may outlive this object by up
    // to its loop's timeout after a stop that did not wait for it.
    std::shared_ptr<TLink> FLink;
    std::thread FThread;
    TMqttUrl FUrl;
    TMqttState FState = TMqttState::Stopped;
    std::string FWhy;
    int FRetryInS = 0;
    long FFailedAttempts = 0;
    std::vector<std::pair<std::string, int>> FFilters;
};
