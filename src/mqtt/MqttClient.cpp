// SPDX-License-Identifier: GPL-3.0-or-later
#include "MqttClient.h"

#include "Redact.h"

#include <QCoreApplication>
#include <QEvent>

#include <mosquitto.h>

#include <dlfcn.h>
#include <netdb.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <mutex>
#include <sys/stat.h>
#include <system_error>
#include <utility>

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
    X(mosquitto_threaded_set)                                                                      \
    X(mosquitto_connect_callback_set)                                                              \
    X(mosquitto_publish_callback_set)                                                              \
    X(mosquitto_message_callback_set)                                                              \
    X(mosquitto_log_callback_set)                                                                  \
    X(mosquitto_connect_bind_async)                                                                \
    X(mosquitto_reconnect_async)                                                                   \
    X(mosquitto_loop)                                                                              \
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

// libmosquitto connects to the first address a look-up gives and tries no
// other, so a "localhost" listed as ::1 first never reaches a broker that
// listens on 127.0.0.1 alone. For a host of both families, the family whose
// address accepts a connection first (within TimeoutMs) is returned as the
// local address to bind to ("0.0.0.0" or "::"), which makes libmosquitto
// pass over the other; "" leaves the choice to it.
std::string ReachableFamily(const std::string& Host, int Port, int TimeoutMs) {
    addrinfo Hints{};
    Hints.ai_family = AF_UNSPEC;
    Hints.ai_socktype = SOCK_STREAM;
    addrinfo* List = nullptr;
    if (getaddrinfo(Host.c_str(), std::to_string(Port).c_str(), &Hints, &List) != 0) return "";
    bool V4 = false, V6 = false;
    for (const addrinfo* A = List; A; A = A->ai_next) {
        V4 |= A->ai_family == AF_INET;
        V6 |= A->ai_family == AF_INET6;
    }
    std::string Bind;
    const auto Deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
    for (const addrinfo* A = List; V4 && V6 && A && Bind.empty(); A = A->ai_next) {
        const int S = socket(A->ai_family, A->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (S < 0) continue;
        if (connect(S, A->ai_addr, A->ai_addrlen) == 0 || errno == EINPROGRESS) {
            const auto Left = std::chrono::duration_cast<std::chrono::milliseconds>(
                Deadline - std::chrono::steady_clock::now());
            pollfd P{S, POLLOUT, 0};
            int Error = 0;
            socklen_t Size = sizeof Error;
            if (poll(&P, 1, int(std::max<long>(0, Left.count()))) == 1 &&
                getsockopt(S, SOL_SOCKET, SO_ERROR, &Error, &Size) == 0 && Error == 0)
                Bind = A->ai_family == AF_INET ? "0.0.0.0" : "::";
        }
        close(S);
    }
    freeaddrinfo(List);
    return Bind;
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

// Trying again cannot help after these.
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
    case MOSQ_ERR_CONN_REFUSED:
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
    // A scheme is case-insensitive in any URL, so "MQTT://" is what it seems.
    const size_t Sep = Url.find("://");
    std::string Scheme = Sep == std::string::npos ? std::string() : Url.substr(0, Sep);
    for (char& C : Scheme)
        C = char(std::tolower(static_cast<unsigned char>(C)));
    if (Scheme != "mqtt" && Scheme != "mqtts")
        throw EMqttError(QuotedRedacted(Url) + " is not an mqtt:// or mqtts:// URL");
    U.Tls = Scheme == "mqtts";
    std::string Rest = Url.substr(Scheme.size() + 3);
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
            throw EMqttError("the broker URL's port " + QuotedRedacted(PortText) +
                             " is not 1 to 65535");
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

// What the network thread tells the owner's thread. The news is plain data
// passed through a mailbox under a standard mutex; only a bare event crosses
// Qt's queue, to wake the owner, and that event is made on the owner's
// thread too (it runs and frees it there): the network thread only posts
// it. Nothing is made on one thread and used or freed on the other behind
// Qt's locks, which a thread checker cannot see.
struct TMqttClient::TNews {
    enum TKind { State, Published, Message } Kind = State;
    TMqttState S = TMqttState::Stopped;
    std::string Text;    // State: the reason; Message: the topic
    std::string Payload; // Message
    int Number = 0;      // State: seconds to the next attempt; Published: the message id
};

struct TMqttClient::TLink {
    mosquitto* M = nullptr;
    std::string Host, Where; // Where: "host:port" for the messages
    int Port = 0, KeepAlive = 0;

    // Written to wake the network thread from its back-off (WakeFd) and the
    // owner from its wait for the thread's end (EndFd). Not condition
    // variables: ThreadSanitizer does not see the mutex given up inside
    // their timed wait (pthread_cond_clockwait).
    const int WakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    const int EndFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    std::mutex Lock;          // guards what follows, up to the network thread's own part
    QObject* Owner = nullptr; // null once stopped: nothing more is told
    std::deque<TNews> Mailbox;
    QEvent* Wake = nullptr; // made by the owner; null while posted (Qt owns it then)
    bool Stopping = false, Clean = false, Retry = false, Ended = false;
    std::string LastError; // libmosquitto's last error line: a TLS failure's reason

    // The network thread's own.
    bool Refused = false, WasOnline = false;

    ~TLink() {
        if (M) GMosquitto.mosquitto_destroy(M);
        close(WakeFd);
        close(EndFd);
    }
    static void Signal(int Fd) {
        const uint64_t One = 1;
        if (write(Fd, &One, sizeof One) < 0) return; // already signalled
    }
    // Waits until Done (called under Lock) holds or Ms have passed, woken by
    // a Signal on Fd to look again.
    template <class F> bool Until(int Fd, int Ms, F Done) {
        using namespace std::chrono;
        const auto Deadline = steady_clock::now() + milliseconds(Ms);
        for (;;) {
            {
                std::lock_guard<std::mutex> G(Lock);
                if (Done()) return true;
            }
            const auto Left = duration_cast<milliseconds>(Deadline - steady_clock::now()).count();
            if (Left <= 0) return false;
            pollfd P{Fd, POLLIN, 0};
            uint64_t Count;
            if (poll(&P, 1, int(Left) + 1) > 0)
                while (read(Fd, &Count, sizeof Count) > 0) {
                }
        }
    }
    static QEvent::Type WakeType() {
        static const auto Type = QEvent::Type(QEvent::registerEventType());
        return Type;
    }
    void Tell(TNews N) {
        std::lock_guard<std::mutex> G(Lock);
        if (!Owner) return;
        Mailbox.push_back(std::move(N));
        if (Wake) QCoreApplication::postEvent(Owner, std::exchange(Wake, nullptr));
    }
    void TellState(TMqttState S, const std::string& Why, int RetryS = 0) {
        TNews N;
        N.S = S;
        N.Text = Why;
        N.Number = RetryS;
        Tell(std::move(N));
    }
    bool Stopped() {
        std::lock_guard<std::mutex> G(Lock);
        return Stopping;
    }
    std::string Cause(int Rc, int Errno) {
        std::string S;
        if (Rc == MOSQ_ERR_ERRNO && Errno != 0) {
            S = std::generic_category().message(Errno);
        } else {
            std::lock_guard<std::mutex> G(Lock);
            S = Rc == MOSQ_ERR_TLS && !LastError.empty() ? "TLS: " + LastError
                                                         : GMosquitto.mosquitto_strerror(Rc);
        }
        while (!S.empty() && S.back() == '.')
            S.pop_back();
        return S;
    }
};

TMqttClient::TMqttClient() {
    InitLibrary();
}

TMqttClient::~TMqttClient() {
    End(false);
}

void TMqttClient::Start(const TMqttOptions& O) {
    if (FLink) throw EMqttError("the broker connection is already started");
    FUrl = ParseMqttUrl(O.Url);
    for (const std::string* F : {&O.CaFile, &O.CertFile, &O.KeyFile})
        if (!F->empty() && !IsReadableFile(*F)) throw EMqttError("cannot read " + *F);
    if (O.CertFile.empty() != O.KeyFile.empty())
        throw EMqttError("a client certificate needs its key, and a key its certificate");
    if (!FUrl.Tls && !(O.CaFile.empty() && O.CertFile.empty()))
        throw EMqttError("certificates are for mqtts:// URLs");

    auto L = std::make_shared<TLink>();
    mosquitto* M = L->M = GMosquitto.mosquitto_new(nullptr, true, L.get());
    if (!M) throw EMqttError("cannot make a broker connection");
    GMosquitto.mosquitto_int_option(M, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    if (FUrl.Tls) {
        int Rc = MOSQ_ERR_SUCCESS;
        if (O.CaFile.empty()) Rc = GMosquitto.mosquitto_int_option(M, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
        // The client certificate goes in with the CA, which the call needs:
        // without a CA file of the user's, the system's folder of CAs, so
        // that a certificate given is never silently left out.
        if (Rc == MOSQ_ERR_SUCCESS && !(O.CaFile.empty() && O.CertFile.empty()))
            Rc = GMosquitto.mosquitto_tls_set(M, O.CaFile.empty() ? nullptr : O.CaFile.c_str(),
                                              O.CaFile.empty() ? "/etc/ssl/certs" : nullptr,
                                              O.CertFile.empty() ? nullptr : O.CertFile.c_str(),
                                              O.KeyFile.empty() ? nullptr : O.KeyFile.c_str(),
                                              nullptr);
        if (Rc != MOSQ_ERR_SUCCESS)
            throw EMqttError(std::string("TLS set-up: ") + GMosquitto.mosquitto_strerror(Rc));
    }
    if (!O.User.empty())
        GMosquitto.mosquitto_username_pw_set(M, O.User.c_str(),
                                             O.Password.empty() ? nullptr : O.Password.c_str());
    if (!O.WillTopic.empty())
        GMosquitto.mosquitto_will_set(M, O.WillTopic.c_str(), int(O.WillPayload.size()),
                                      O.WillPayload.data(), 1, true);
    // Publishing from this thread while the network thread loops.
    GMosquitto.mosquitto_threaded_set(M, true);
    // The callbacks run on the network thread, inside mosquitto_loop.
    GMosquitto.mosquitto_connect_callback_set(M, [](mosquitto*, void* Link, int Rc) {
        auto* L = static_cast<TLink*>(Link);
        if (Rc == 0) {
            L->WasOnline = true;
            L->TellState(TMqttState::Online, "");
        } else {
            L->Refused = true;
            L->TellState(TMqttState::Failed, std::string("the broker refused the connection: ") +
                                                 GMosquitto.mosquitto_connack_string(Rc));
        }
    });
    GMosquitto.mosquitto_publish_callback_set(M, [](mosquitto*, void* Link, int Mid) {
        TNews N;
        N.Kind = TNews::Published;
        N.Number = Mid;
        static_cast<TLink*>(Link)->Tell(std::move(N));
    });
    GMosquitto.mosquitto_message_callback_set(
        M, [](mosquitto*, void* Link, const mosquitto_message* Msg) {
            TNews N;
            N.Kind = TNews::Message;
            N.Text = Msg->topic;
            N.Payload.assign(static_cast<const char*>(Msg->payload), size_t(Msg->payloadlen));
            static_cast<TLink*>(Link)->Tell(std::move(N));
        });
    GMosquitto.mosquitto_log_callback_set(M, [](mosquitto*, void* Link, int Level, const char* S) {
        if (Level != MOSQ_LOG_ERR) return;
        auto* L = static_cast<TLink*>(Link);
        std::lock_guard<std::mutex> G(L->Lock);
        L->LastError = S;
    });
    L->Host = FUrl.Host;
    L->Port = FUrl.Port;
    L->Where = (FUrl.Host.find(':') != std::string::npos ? "[" + FUrl.Host + "]" : FUrl.Host) +
               ":" + std::to_string(FUrl.Port);
    L->KeepAlive = O.KeepAlive;
    L->Owner = this;
    L->Wake = new QEvent(TLink::WakeType());
    FLink = L;
    FRetryInS = 0;
    FFailedAttempts = 0;
    SetState(TMqttState::Connecting, "");
    FThread = std::thread(RunLink, std::move(L));
}

// The network thread: an attempt, the connection's loop until it ends, then
// the back-off, until a stop or a failure that trying again cannot mend.
void TMqttClient::RunLink(std::shared_ptr<TLink> L) {
    int Failures = 0;
    std::string LastBind;
    for (bool First = true;; First = false) {
        {
            std::lock_guard<std::mutex> G(L->Lock);
            if (L->Stopping) break;
            L->Retry = false;
            L->LastError.clear();
        }
        const std::string Bind = ReachableFamily(L->Host, L->Port, 3000);
        errno = 0;
        int Rc = First || Bind != LastBind ? GMosquitto.mosquitto_connect_bind_async(
                                                 L->M, L->Host.c_str(), L->Port, L->KeepAlive,
                                                 Bind.empty() ? nullptr : Bind.c_str())
                                           : GMosquitto.mosquitto_reconnect_async(L->M);
        LastBind = Bind;
        // A host that drops the packets would hold the attempt for the
        // system's connect timeout (minutes): it counts as failed sooner.
        const auto GiveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        for (int AfterStop = 0; Rc == MOSQ_ERR_SUCCESS;) {
            {
                // A clean stop lets the loop send the disconnect it was handed.
                std::lock_guard<std::mutex> G(L->Lock);
                if (L->Stopping && (!L->Clean || ++AfterStop > 3)) break;
            }
            if (!L->WasOnline && std::chrono::steady_clock::now() > GiveUp) {
                Rc = MOSQ_ERR_ERRNO;
                errno = ETIMEDOUT;
                break;
            }
            Rc = GMosquitto.mosquitto_loop(L->M, 1000, 1);
        }
        const int Errno = errno;
        if (L->Stopped() || L->Refused) break;
        const std::string Cause = L->Cause(Rc, Errno);
        if (IsFinal(Rc)) {
            L->TellState(TMqttState::Failed, L->Where + ": " + Cause);
            break;
        }
        if (L->WasOnline) Failures = 0;
        const int Delay = std::min(30, 1 << std::min(Failures++, 5));
        L->TellState(TMqttState::Connecting,
                     (L->WasOnline ? "lost the broker at " : "") + L->Where + ": " + Cause, Delay);
        L->WasOnline = false;
        L->Until(L->WakeFd, Delay * 1000, [&] { return L->Stopping || L->Retry; });
    }
    {
        std::lock_guard<std::mutex> G(L->Lock);
        L->Ended = true;
    }
    TLink::Signal(L->EndFd);
}

void TMqttClient::Stop() {
    End(true);
}

void TMqttClient::End(bool Clean) {
    if (!FLink) return;
    const std::shared_ptr<TLink> L = std::move(FLink);
    {
        std::lock_guard<std::mutex> G(L->Lock);
        L->Owner = nullptr;
        L->Mailbox.clear();
        delete std::exchange(L->Wake, nullptr); // one posted is Qt's to free
        L->Stopping = true;
        L->Clean = Clean;
    }
    TLink::Signal(L->WakeFd);
    if (Clean) GMosquitto.mosquitto_disconnect(L->M);
    const bool Ended = L->Until(L->EndFd, StopWaitMs, [&] { return L->Ended; });
    // A thread still inside a host look-up ends by itself; it holds the link.
    if (Ended)
        FThread.join();
    else
        FThread.detach();
    FRetryInS = 0;
    SetState(TMqttState::Stopped, "");
}

void TMqttClient::RetryNow() {
    if (!FLink) return;
    {
        std::lock_guard<std::mutex> G(FLink->Lock);
        FLink->Retry = true;
    }
    TLink::Signal(FLink->WakeFd);
}

int TMqttClient::Publish(const std::string& Topic, const std::string& Payload, int Qos,
                         bool Retain) {
    if (!FLink || FState != TMqttState::Online) return -1;
    int Mid = -1;
    const int Rc = GMosquitto.mosquitto_publish(FLink->M, &Mid, Topic.c_str(), int(Payload.size()),
                                                Payload.data(), Qos, Retain);
    return Rc == MOSQ_ERR_SUCCESS ? Mid : -1;
}

void TMqttClient::Subscribe(const std::string& Filter, int Qos) {
    FFilters.emplace_back(Filter, Qos);
    if (FLink && FState == TMqttState::Online)
        GMosquitto.mosquitto_subscribe(FLink->M, nullptr, Filter.c_str(), Qos);
}

void TMqttClient::SetState(TMqttState S, const std::string& Why) {
    if (S == FState && Why.empty()) return;
    FState = S;
    FWhy = Why;
    if (OnState) OnState(S, Why);
}

bool TMqttClient::event(QEvent* E) {
    if (E->type() != TLink::WakeType()) return QObject::event(E);
    if (!FLink) return true;
    const std::shared_ptr<TLink> L = FLink;
    std::deque<TNews> News;
    {
        std::lock_guard<std::mutex> G(L->Lock);
        News.swap(L->Mailbox);
        if (!L->Wake) L->Wake = new QEvent(TLink::WakeType());
    }
    // A handler may stop the client: what is left is no longer news.
    for (const TNews& N : News)
        if (FLink == L) Deliver(N);
    return true;
}

void TMqttClient::Deliver(const TNews& N) {
    switch (N.Kind) {
    case TNews::State:
        FRetryInS = N.S == TMqttState::Connecting ? N.Number : 0;
        if (N.S == TMqttState::Connecting) ++FFailedAttempts;
        if (N.S == TMqttState::Online)
            for (const auto& [Filter, Qos] : FFilters)
                GMosquitto.mosquitto_subscribe(FLink->M, nullptr, Filter.c_str(), Qos);
        SetState(N.S, N.Text);
        break;
    case TNews::Published:
        if (OnPublished) OnPublished(N.Number);
        break;
    case TNews::Message:
        if (OnMessage) OnMessage(N.Text, N.Payload);
        break;
    }
}
