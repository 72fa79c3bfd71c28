// SPDX-License-Identifier: GPL-3.0-or-later
// A fleet on one machine: N simulated sensors on N pseudo-terminals, one
// `vorta-cli stream --mqtt --qos 1` publisher each, one broker (the system's
// mosquitto on a free port of 127.0.0.1) and one `vorta-cli watch --json`.
// A program printing figures, not a timed test:
//   fleet_bench [--sensors 50] [--rate 10] [--duration 60]
// It reports the readings printed by the publishers against those the
// watcher received (lost, duplicated), the processor time per published
// reading (publishers, broker, watcher), and the latency from a reading's
// time stamp (taken when its frame arrives from the sensor) to the watcher's
// line, median and 99th percentile. Exit status 1 when a reading was lost.
#include "LoopbackPort.h"
#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <set>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

struct TChild {
    pid_t Pid = -1;
    int Out = -1; // our end of its stdout, when piped
};

// Starts Args; stdout to a pipe (OutFile empty) or to OutFile, stderr to ErrFile.
TChild Spawn(std::vector<std::string> Args, const std::string& OutFile = "",
             const std::string& ErrFile = "/dev/null") {
    std::vector<char*> Argv;
    for (auto& A : Args)
        Argv.push_back(A.data());
    Argv.push_back(nullptr);
    posix_spawn_file_actions_t Fa;
    posix_spawn_file_actions_init(&Fa);
    int Pipe[2] = {-1, -1};
    if (OutFile.empty()) {
        if (pipe2(Pipe, O_CLOEXEC) != 0) std::exit(2);
        posix_spawn_file_actions_adddup2(&Fa, Pipe[1], 1);
    } else {
        posix_spawn_file_actions_addopen(&Fa, 1, OutFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
    }
    posix_spawn_file_actions_addopen(&Fa, 2, ErrFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    TChild C;
    if (posix_spawn(&C.Pid, Argv[0], &Fa, nullptr, Argv.data(), environ) != 0) {
        std::fprintf(stderr, "fleet_bench: cannot start %s\n", Argv[0]);
        std::exit(2);
    }
    posix_spawn_file_actions_destroy(&Fa);
    if (Pipe[1] >= 0) close(Pipe[1]);
    C.Out = Pipe[0];
    return C;
}

std::string ReadLine(int Fd, int TimeoutMs) {
    std::string L;
    for (;;) {
        pollfd P{Fd, POLLIN, 0};
        if (poll(&P, 1, TimeoutMs) <= 0) return L;
        char C;
        if (read(Fd, &C, 1) != 1 || C == '\n') return L;
        L += C;
    }
}

double Cpu(const rusage& U) {
    return U.ru_utime.tv_sec + U.ru_stime.tv_sec + (U.ru_utime.tv_usec + U.ru_stime.tv_usec) / 1e6;
}

double Stop(TChild& C, int Sig = SIGTERM) {
    if (C.Pid <= 0) return 0;
    kill(C.Pid, Sig);
    int Status;
    rusage U{};
    wait4(C.Pid, &Status, 0, &U);
    C.Pid = -1;
    if (C.Out >= 0) close(C.Out);
    return Cpu(U);
}

size_t CountLines(const std::string& File) {
    std::ifstream In(File);
    size_t N = 0;
    std::string L;
    while (std::getline(In, L))
        N += !L.empty();
    return N;
}

} // namespace

int main(int argc, char** argv) {
    int Sensors = 50, Duration = 60;
    double Rate = 10;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string A = argv[i];
        if (A == "--sensors")
            Sensors = std::max(1, std::atoi(argv[i + 1]));
        else if (A == "--duration")
            Duration = std::max(1, std::atoi(argv[i + 1]));
        else if (A == "--rate")
            Rate = std::max(0.1, std::atof(argv[i + 1]));
        else {
            std::fprintf(stderr, "usage: fleet_bench [--sensors N] [--rate HZ] [--duration S]\n");
            return 2;
        }
    }
    QTemporaryDir Dir;
    const std::string D = Dir.path().toStdString();
    const int Port = FreePort();
    const std::string Url = "mqtt://127.0.0.1:" + std::to_string(Port);
    std::ofstream(D + "/mosquitto.conf") << "user root\nlistener " << Port << " 127.0.0.1\n"
                                         << "allow_anonymous true\nmax_queued_messages 1000000\n";
    TChild Broker = Spawn({"/usr/sbin/mosquitto", "-c", D + "/mosquitto.conf"}, D + "/broker.out",
                          D + "/broker.err");
    for (int i = 0; i < 500 && !Accepts(Port); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (!Accepts(Port)) {
        std::fprintf(stderr, "fleet_bench: the broker does not start\n");
        return 2;
    }

    // The watcher's lines with their time of arrival.
    TChild Watch = Spawn({VORTA_CLI_PATH, "watch", "--mqtt", Url, "--qos", "1", "--json"}, "",
                         D + "/watch.err");
    std::vector<std::pair<qint64, std::string>> Arrived;
    std::mutex ArrivedMutex;
    std::thread Reader([&] {
        std::string Line;
        char Buf[65536];
        ssize_t N;
        while ((N = read(Watch.Out, Buf, sizeof Buf)) > 0) {
            const qint64 Now = QDateTime::currentMSecsSinceEpoch();
            std::lock_guard<std::mutex> L(ArrivedMutex);
            for (ssize_t i = 0; i < N; ++i) {
                if (Buf[i] != '\n')
                    Line += Buf[i];
                else
                    Arrived.emplace_back(Now, std::move(Line)), Line.clear();
            }
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(500));

    std::vector<TChild> Sims, Pubs;
    for (int i = 0; i < Sensors; ++i) {
        Sims.push_back(Spawn({VORTA_SIM_PATH, "--rate", std::to_string(Rate)}));
        const std::string Path = ReadLine(Sims.back().Out, 5000);
        if (Path.empty()) {
            std::fprintf(stderr, "fleet_bench: vorta-sim prints no path\n");
            return 2;
        }
        Pubs.push_back(Spawn(
            {VORTA_CLI_PATH, "--port", Path, "stream", "--mqtt", Url, "--qos", "1", "--duration",
             std::to_string(Duration), "--topic", "vorta/fleet/s" + std::to_string(i)},
            D + "/pub" + std::to_string(i) + ".out", D + "/pub" + std::to_string(i) + ".err"));
    }
    double PubCpu = 0;
    for (auto& P : Pubs) {
        int Status;
        rusage U{};
        wait4(P.Pid, &Status, 0, &U);
        P.Pid = -1;
        PubCpu += Cpu(U);
    }
    // The watcher gets what is still on its way.
    size_t Seen = 0;
    for (;;) {
        std::this_thread::sleep_for(std::chrono::seconds(2));
        std::lock_guard<std::mutex> L(ArrivedMutex);
        if (Arrived.size() == Seen) break;
        Seen = Arrived.size();
    }
    const double WatchCpu = Stop(Watch);
    Reader.join();
    const double BrokerCpu = Stop(Broker);
    for (auto& S : Sims)
        Stop(S);

    size_t Sent = 0;
    for (int i = 0; i < Sensors; ++i)
        Sent += CountLines(D + "/pub" + std::to_string(i) + ".out");
    std::set<std::pair<std::string, QString>> Unique;
    std::vector<qint64> Latency;
    size_t Readings = 0;
    for (const auto& [Ms, Line] : Arrived) {
        const QJsonObject O = QJsonDocument::fromJson(QByteArray::fromStdString(Line)).object();
        const std::string Topic = O["topic"].toString().toStdString();
        if (Topic.size() < 8 || Topic.compare(Topic.size() - 8, 8, "/reading") != 0) continue;
        ++Readings;
        const QString Time = O["payload"].toObject()["time"].toString();
        if (!Unique.insert({Topic, Time}).second) continue;
        Latency.push_back(Ms - QDateTime::fromString(Time, Qt::ISODateWithMs).toMSecsSinceEpoch());
    }
    std::sort(Latency.begin(), Latency.end());
    auto Pct = [&](double P) {
        return Latency.empty() ? 0 : Latency[size_t(P * double(Latency.size() - 1))];
    };
    const size_t Lost = Sent > Unique.size() ? Sent - Unique.size() : 0;
    std::printf("fleet: %d sensors at %g readings/s for %d s, QoS 1\n", Sensors, Rate, Duration);
    std::printf("readings printed by the publishers: %zu\n", Sent);
    std::printf("readings received by the watcher:   %zu (%zu unique, %zu duplicates)\n", Readings,
                Unique.size(), Readings - Unique.size());
    std::printf("lost: %zu\n", Lost);
    if (Sent > 0) {
        std::printf("processor time per published reading: publishers %.1f us, broker %.1f us, "
                    "watcher %.1f us\n",
                    PubCpu * 1e6 / double(Sent), BrokerCpu * 1e6 / double(Sent),
                    WatchCpu * 1e6 / double(Sent));
        std::printf("publishers in all: %.2f s of processor time (%.1f %% of one core)\n", PubCpu,
                    100.0 * PubCpu / Duration);
    }
    std::printf("latency from the frame's arrival to the watcher's line: median %lld ms, p99 %lld "
                "ms, max %lld ms\n",
                static_cast<long long>(Pct(0.5)), static_cast<long long>(Pct(0.99)),
                static_cast<long long>(Latency.empty() ? 0 : Latency.back()));
    return Lost == 0 && Sent > 0 ? 0 : 1;
}
