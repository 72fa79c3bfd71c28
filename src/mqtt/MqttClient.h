// A connection to an MQTT broker on libmosquitto, for the console and
// vorta-cli: parsing the broker's URL, the credentials, TLS, the last will,
// and reconnecting with a growing back-off.
//
// Threading: libmosquitto's network loop runs on a thread of its own
// (mosquitto_loop_start), so connecting, reconnecting and writing never hold
// up the caller. Every callback below is delivered on the thread that owns
// the TMqttClient (the one that created it; it must run a Qt event loop), and
// every member is called from that thread only.
#pragma once

#include "SysUtils.h"

#include <QObject>

#include <functional>
#include <string>
#include <utility>
#include <vector>

struct mosquitto;

// Bad options: a URL, a credentials file, a TLS file.
struct EMqttError : Exception {
    using Exception::Exception;
};

// mqtt://host[:port] (1883) or mqtts://host[:port] (8883, TLS). A user name
// or password in the URL is refused: it would show in the process list.
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
    Connecting, // the first attempt, or waiting for the next one after a loss
    Online,     // connected (again)
    Failed      // refused by the broker (credentials), a TLS failure or an
                // unknown host: trying again cannot help, so no further attempts
};
const char* MqttStateName(TMqttState S);

class TMqttClient : public QObject {
  public:
    TMqttClient();
    ~TMqttClient() override; // stops without waiting

    // Checks the options (throws EMqttError) and starts connecting; the result
    // arrives through OnState.
    void Start(const TMqttOptions& Options);
    // Disconnects cleanly (no will) and joins the network thread.
    void Stop();

    TMqttState State() const { return FState; }
    const TMqttUrl& Url() const { return FUrl; }

    // Hands a message to the network thread without waiting for it. Returns
    // the message id, or -1 when there is no connection to hand it to.
    int Publish(const std::string& Topic, const std::string& Payload, int Qos, bool Retain);
    // Subscribed now and again after every reconnect.
    void Subscribe(const std::string& Filter, int Qos);

    // State changes, with the reason for a loss or refusal ("" otherwise).
    std::function<void(TMqttState, const std::string& Why)> OnState;
    // A message handed over by Publish has left (QoS 0) or been acknowledged (QoS 1).
    std::function<void(int Mid)> OnPublished;
    std::function<void(const std::string& Topic, const std::string& Payload)> OnMessage;

  private:
    static void ConnectCallback(mosquitto*, void*, int);
    static void DisconnectCallback(mosquitto*, void*, int);
    static void PublishCallback(mosquitto*, void*, int);
    static void MessageCallback(mosquitto*, void*, const struct mosquitto_message*);
    void SetState(TMqttState S, const std::string& Why);
    void Connected(int Rc);

    mosquitto* FMosq = nullptr;
    TMqttUrl FUrl;
    TMqttState FState = TMqttState::Stopped;
    bool FLoopRunning = false;
    std::vector<std::pair<std::string, int>> FFilters;
};
