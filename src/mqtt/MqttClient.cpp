#include "MqttClient.h"

#include <QMetaObject>

#include <mosquitto.h>

#include <dlfcn.h>

#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sys/stat.h>

namespace {

// libmosquitto (and the TLS libraries under it) is loaded when the first
// client is made, not when the program starts: the console publishes only
// when asked to, and binding those libraries' symbols at start-up costs about
// a quarter of its loading. The calls go through this table, filled once
// before any client exists and only read after that.
#define VORTA_MOSQUITTO_CALLS(X)                                                                   \
    X(mosquitto_lib_init)                                                                          \
    X(mosquitto_new)                                                                               \
    X(mosquitto_destroy)                                                                           \
    X(mosquitto_int_option)                                                                        \
    X(mosquitto_tls_set)                                                                           \
    X(mosquitto_username_pw_set)                                                                   \
    X(mosquitto_will_set)                                                                          \
    X(mosquitto_reconnect_delay_set)                                                               \
    X(mosquitto_connect_callback_set)                                                              \
    X(mosquitto_disconnect_callback_set)                                                           \
    X(mosquitto_publish_callback_set)                                                              \
    X(mosquitto_message_callback_set)                                                              \
    X(mosquitto_connect_async)                                                                     \
    X(mosquitto_loop_start)                                                                        \
    X(mosquitto_loop_stop)                                                                         \
    X(mosquitto_disconnect)                                                                        \
    X(mosquitto_publish)                                                                           \
    X(mosquitto_subscribe)                                                                         \
    X(mosquitto_strerror)                                                                          \
    X(mosquitto_connack_string)

struct TMosquittoCalls {
#define VORTA_DECLARE_CALL(Name) decltype(&::Name) Name;
    VORTA_MOSQUITTO_CALLS(VORTA_DECLARE_CALL)
#undef VORTA_DECLARE_CALL
};
TMosquittoCalls GMosquitto;

// The library's file name (its soname) for the ABI of the header built against.
const char* const LibraryFile = "libmosquitto.so.1";

template <class F> void Bind(void* Library, const char* Name, F& Call) {
    Call = reinterpret_cast<F>(dlsym(Library, Name));
    if (!Call) throw EMqttError(std::string("cannot use ") + LibraryFile + ": " + dlerror());
}

void LoadLibrary() {
    void* L = dlopen(LibraryFile, RTLD_NOW | RTLD_LOCAL);
    if (!L) throw EMqttError(std::string("cannot load ") + dlerror());
    TMosquittoCalls& C = GMosquitto;
#define VORTA_BIND_CALL(Name) Bind(L, #Name, C.Name);
    VORTA_MOSQUITTO_CALLS(VORTA_BIND_CALL)
#undef VORTA_BIND_CALL
    C.mosquitto_lib_init();
}

// Loads the library on the first call; a failure is thrown, and the next
// client tries again.
void InitLibrary() {
    static std::once_flag Once;
    std::call_once(Once, LoadLibrary);
}

bool IsReadableFile(const std::string& Path) {
    struct stat St;
    return stat(Path.c_str(), &St) == 0 && S_ISREG(St.st_mode);
}

// libmosquitto's network loop ends by itself after these: trying again cannot help.
bool IsFinal(int Rc) {
    switch (Rc) {
    case MOSQ_ERR_NOMEM:
    case MOSQ_ERR_PROTOCOL:
    case MOSQ_ERR_INVAL:
    case MOSQ_ERR_NOT_FOUND:
    case MOSQ_ERR_TLS:
    case MOSQ_ERR_PAYLOAD_SIZE:
    case MOSQ_ERR_NOT_SUPPORTED:
    case MOSQ_ERR_AUTH:
    case MOSQ_ERR_ACL_DENIED:
    case MOSQ_ERR_UNKNOWN:
    case MOSQ_ERR_EAI:
    case MOSQ_ERR_PROXY:
        return true;
    default:
        return false;
    }
}

std::string Trimmed(std::string S) {
    while (!S.empty() && (S.back() == '\r' || S.back() == '\n'))
        S.pop_back();
    return S;
}

} // namespace

TMqttUrl ParseMqttUrl(const std::string& Url) {
    TMqttUrl U;
    std::string Rest;
    if (Url.compare(0, 7, "mqtt://") == 0) {
        Rest = Url.substr(7);
    } else if (Url.compare(0, 8, "mqtts://") == 0) {
        U.Tls = true;
        Rest = Url.substr(8);
    } else {
        throw EMqttError("'" + Url + "' is not an mqtt:// or mqtts:// URL");
    }
    if (!Rest.empty() && Rest.back() == '/') Rest.pop_back();
    // The URL itself is not repeated: it could carry a password.
    if (Rest.find('@') != std::string::npos)
        throw EMqttError("the broker URL carries a user name or password; give them by "
                         "VORTA_MQTT_USER / VORTA_MQTT_PASSWORD or a credentials file");
    U.Port = U.Tls ? 8883 : 1883;
    std::string PortText;
    if (!Rest.empty() && Rest[0] == '[') { // [IPv6 address]
        const size_t Close = Rest.find(']');
        if (Close == std::string::npos) throw EMqttError("the broker URL has no closing ']'");
        U.Host = Rest.substr(1, Close - 1);
        if (Close + 1 < Rest.size()) {
            if (Rest[Close + 1] != ':') throw EMqttError("the broker URL has text after the host");
            PortText = Rest.substr(Close + 2);
        }
    } else {
        const size_t Colon = Rest.find(':');
        U.Host = Rest.substr(0, Colon);
        if (Colon != std::string::npos) PortText = Rest.substr(Colon + 1);
    }
    if (U.Host.empty() || U.Host.find_first_of("/?#") != std::string::npos)
        throw EMqttError("the broker URL has no host, or more than a host and port");
    if (!PortText.empty() || Rest.find(':') != std::string::npos) {
        int P = 0;
        if (!TryStrToInt(PortText, P) || P < 1 || P > 65535 ||
            PortText.find_first_not_of("0123456789") != std::string::npos)
            throw EMqttError("the broker URL's port '" + PortText + "' is not 1 to 65535");
        U.Port = P;
    }
    return U;
}

void LoadMqttCredentials(TMqttOptions& O, const std::string& File) {
    if (File.empty()) {
        O.User = qEnvironmentVariable("VORTA_MQTT_USER").toStdString();
        O.Password = qEnvironmentVariable("VORTA_MQTT_PASSWORD").toStdString();
        return;
    }
    std::ifstream In(File);
    if (!IsReadableFile(File) || !In) throw EMqttError("cannot read the credentials file " + File);
    std::getline(In, O.User);
    std::getline(In, O.Password);
    O.User = Trimmed(O.User);
    O.Password = Trimmed(O.Password);
    if (O.User.empty()) throw EMqttError("the credentials file " + File + " has no user name");
}

const char* MqttStateName(TMqttState S) {
    switch (S) {
    case TMqttState::Stopped:
        return "stopped";
    case TMqttState::Connecting:
        return "connecting";
    case TMqttState::Online:
        return "online";
    case TMqttState::Failed:
        return "failed";
    }
    return "";
}

TMqttClient::TMqttClient() {
    InitLibrary();
}

TMqttClient::~TMqttClient() {
    if (FMosq) {
        if (FLoopRunning) GMosquitto.mosquitto_loop_stop(FMosq, true);
        GMosquitto.mosquitto_destroy(FMosq);
    }
}

void TMqttClient::Start(const TMqttOptions& O) {
    if (FMosq) throw EMqttError("the broker connection is already started");
    FUrl = ParseMqttUrl(O.Url);
    for (const std::string* F : {&O.CaFile, &O.CertFile, &O.KeyFile})
        if (!F->empty() && !IsReadableFile(*F)) throw EMqttError("cannot read " + *F);
    if (O.CertFile.empty() != O.KeyFile.empty())
        throw EMqttError("a client certificate needs its key, and a key its certificate");
    if (!FUrl.Tls && !(O.CaFile.empty() && O.CertFile.empty()))
        throw EMqttError("certificates are for mqtts:// URLs");

    FMosq = GMosquitto.mosquitto_new(nullptr, true, this);
    if (!FMosq) throw EMqttError("cannot make a broker connection");
    GMosquitto.mosquitto_int_option(FMosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    if (FUrl.Tls) {
        int Rc = MOSQ_ERR_SUCCESS;
        if (O.CaFile.empty())
            Rc = GMosquitto.mosquitto_int_option(FMosq, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
        else
            Rc = GMosquitto.mosquitto_tls_set(
                FMosq, O.CaFile.c_str(), nullptr, O.CertFile.empty() ? nullptr : O.CertFile.c_str(),
                O.KeyFile.empty() ? nullptr : O.KeyFile.c_str(), nullptr);
        if (Rc != MOSQ_ERR_SUCCESS)
            throw EMqttError(std::string("TLS set-up: ") + GMosquitto.mosquitto_strerror(Rc));
    }
    if (!O.User.empty())
        GMosquitto.mosquitto_username_pw_set(FMosq, O.User.c_str(),
                                             O.Password.empty() ? nullptr : O.Password.c_str());
    if (!O.WillTopic.empty())
        GMosquitto.mosquitto_will_set(FMosq, O.WillTopic.c_str(), int(O.WillPayload.size()),
                                      O.WillPayload.data(), 1, true);
    // libmosquitto's own back-off: 1 s growing to 30 s while the broker stays away.
    GMosquitto.mosquitto_reconnect_delay_set(FMosq, 1, 30, true);
    GMosquitto.mosquitto_connect_callback_set(FMosq, ConnectCallback);
    GMosquitto.mosquitto_disconnect_callback_set(FMosq, DisconnectCallback);
    GMosquitto.mosquitto_publish_callback_set(FMosq, PublishCallback);
    GMosquitto.mosquitto_message_callback_set(FMosq, MessageCallback);

    SetState(TMqttState::Connecting, "");
    // A refused TCP connection (MOSQ_ERR_ERRNO) is retried by the network loop.
    const int Rc =
        GMosquitto.mosquitto_connect_async(FMosq, FUrl.Host.c_str(), FUrl.Port, O.KeepAlive);
    if (Rc != MOSQ_ERR_SUCCESS && Rc != MOSQ_ERR_ERRNO) {
        SetState(TMqttState::Failed, GMosquitto.mosquitto_strerror(Rc));
        return;
    }
    if (GMosquitto.mosquitto_loop_start(FMosq) != MOSQ_ERR_SUCCESS)
        throw EMqttError("cannot start the network thread");
    FLoopRunning = true;
}

void TMqttClient::Stop() {
    if (!FMosq) return;
    if (FLoopRunning) {
        GMosquitto.mosquitto_disconnect(FMosq);
        GMosquitto.mosquitto_loop_stop(FMosq, false);
        FLoopRunning = false;
    }
    GMosquitto.mosquitto_destroy(FMosq);
    FMosq = nullptr;
    SetState(TMqttState::Stopped, "");
}

int TMqttClient::Publish(const std::string& Topic, const std::string& Payload, int Qos,
                         bool Retain) {
    if (!FMosq || FState != TMqttState::Online) return -1;
    int Mid = -1;
    const int Rc = GMosquitto.mosquitto_publish(FMosq, &Mid, Topic.c_str(), int(Payload.size()),
                                                Payload.data(), Qos, Retain);
    return Rc == MOSQ_ERR_SUCCESS ? Mid : -1;
}

void TMqttClient::Subscribe(const std::string& Filter, int Qos) {
    FFilters.emplace_back(Filter, Qos);
    if (FMosq && FState == TMqttState::Online)
        GMosquitto.mosquitto_subscribe(FMosq, nullptr, Filter.c_str(), Qos);
}

void TMqttClient::SetState(TMqttState S, const std::string& Why) {
    if (S == FState && Why.empty()) return;
    FState = S;
    if (OnState) OnState(S, Why);
}

void TMqttClient::Connected(int Rc) {
    if (!FMosq) return;
    if (Rc != 0) {
        SetState(TMqttState::Failed, std::string("the broker refused the connection: ") +
                                         GMosquitto.mosquitto_connack_string(Rc));
        return;
    }
    for (const auto& [Filter, Qos] : FFilters)
        GMosquitto.mosquitto_subscribe(FMosq, nullptr, Filter.c_str(), Qos);
    SetState(TMqttState::Online, "");
}

// The callbacks below run on the network thread: each hands its news to the
// owner's thread, where the client's state lives.

void TMqttClient::ConnectCallback(mosquitto* M, void* Self, int Rc) {
    // A refusal would be retried forever by the network loop; a disconnect
    // ends it.
    if (Rc != 0) GMosquitto.mosquitto_disconnect(M);
    auto* C = static_cast<TMqttClient*>(Self);
    QMetaObject::invokeMethod(
        C, [C, Rc] { C->Connected(Rc); }, Qt::QueuedConnection);
}

void TMqttClient::DisconnectCallback(mosquitto*, void* Self, int Rc) {
    auto* C = static_cast<TMqttClient*>(Self);
    if (Rc == MOSQ_ERR_SUCCESS) return; // asked for
    QMetaObject::invokeMethod(
        C,
        [C, Rc] {
            if (!C->FMosq || C->FState == TMqttState::Failed) return;
            if (IsFinal(Rc))
                C->SetState(TMqttState::Failed, GMosquitto.mosquitto_strerror(Rc));
            else
                C->SetState(TMqttState::Connecting,
                            std::string("lost the broker: ") + GMosquitto.mosquitto_strerror(Rc));
        },
        Qt::QueuedConnection);
}

void TMqttClient::PublishCallback(mosquitto*, void* Self, int Mid) {
    auto* C = static_cast<TMqttClient*>(Self);
    QMetaObject::invokeMethod(
        C,
        [C, Mid] {
            if (C->OnPublished) C->OnPublished(Mid);
        },
        Qt::QueuedConnection);
}

void TMqttClient::MessageCallback(mosquitto*, void* Self, const mosquitto_message* M) {
    auto* C = static_cast<TMqttClient*>(Self);
    std::string Topic = M->topic;
    std::string Payload(static_cast<const char*>(M->payload), size_t(M->payloadlen));
    QMetaObject::invokeMethod(
        C,
        [C, Topic = std::move(Topic), Payload = std::move(Payload)] {
            if (C->OnMessage) C->OnMessage(Topic, Payload);
        },
        Qt::QueuedConnection);
}
