// SPDX-License-Identifier: GPL-3.0-or-later
// Publishing readings to an MQTT broker, whole processes: `vorta-cli stream
// --mqtt` on the simulated sensor's stream against mosquitto_pub -l, the
// broker's own command-line publisher, fed the same messages at the same rate
// on its standard input, one a line, retained, at the same QoS. The messages
// are those vorta-cli published in a first run, caught from the broker.
// Counted: the publisher's processor time over the seconds after it settled,
// per message; rounds take turns, which goes first alternating; medians.
//
// vorta-cli's time is per frame the sensor sent (see IoCount), the peer's per
// line it was given.
//
//   mqtt_bench [--rate 100] [--seconds 10] [--rounds 3] [--qos 0]
#include "LoopbackPort.h"
#include "XServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

using namespace bench_x;

namespace {

double Median(std::vector<double> V) {
    std::sort(V.begin(), V.end());
    return V.empty() ? 0 : V[V.size() / 2];
}

struct TSim {
    pid_t Pid = -1;
    int Out = -1;
    std::string Device;
    explicit TSim(int Rate) {
        int Pipe[2];
        if (pipe(Pipe) != 0) return;
        Pid = Spawn({VORTA_SIM, "--rate", std::to_string(Rate)}, {}, Pipe[1]);
        close(Pipe[1]);
        Out = Pipe[0];
        for (char C; read(Out, &C, 1) == 1 && C != '\n';)
            Device += C;
    }
    ~TSim() {
        Stop(Pid);
        close(Out);
    }
};

} // namespace

int main(int argc, char** argv) {
    int Rate = 100, Rounds = 3, Qos = 0;
    double Seconds = 10;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--rate")) Rate = std::max(1, std::atoi(argv[i + 1]));
        if (!std::strcmp(argv[i], "--seconds")) Seconds = std::atof(argv[i + 1]);
        if (!std::strcmp(argv[i], "--rounds")) Rounds = std::atoi(argv[i + 1]);
        if (!std::strcmp(argv[i], "--qos")) Qos = std::atoi(argv[i + 1]);
    }
    if (access("/usr/bin/mosquitto_pub", X_OK) != 0 ||
        access("/usr/bin/mosquitto_sub", X_OK) != 0 || access("/usr/sbin/mosquitto", X_OK) != 0) {
        std::printf("mqtt_bench: mosquitto or mosquitto-clients is not installed (apt-get "
                    "install mosquitto mosquitto-clients); nothing measured\n");
        return 0;
    }
    char Dir[] = "/tmp/mqtt_bench.XXXXXX";
    if (!mkdtemp(Dir)) return 1;
    const std::string D = Dir;
    const int Port = FreePort();
    std::ofstream(D + "/mosquitto.conf") << "user root\nlistener " << Port << " 127.0.0.1\n"
                                         << "allow_anonymous true\nlog_dest none\n";
    const pid_t Broker = Spawn({"/usr/sbin/mosquitto", "-c", D + "/mosquitto.conf"});
    for (int i = 0; i < 500 && !Accepts(Port); ++i)
        Sleep(0.01);
    const std::string Url = "mqtt://127.0.0.1:" + std::to_string(Port), P = std::to_string(Port);
    const int Null = open("/dev/null", O_WRONLY);

    // The messages: what vorta-cli publishes, caught from the broker.
    std::vector<std::string> Lines;
    {
        TSim Sim(Rate);
        const int Caught = open((D + "/caught").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const pid_t Sub = Spawn({"/usr/bin/mosquitto_sub", "-h", "127.0.0.1", "-p", P, "-t",
                                 "vorta/bench/reading", "-C", "200"},
                                {}, Caught);
        const pid_t Cli = Spawn({VORTA_CLI, "--port", Sim.Device, "stream", "--mqtt", Url,
                                 "--topic", "vorta/bench", "--no-discovery"},
                                {}, Null);
        for (int i = 0; i < 3000 && waitpid(Sub, nullptr, WNOHANG) == 0; ++i)
            Sleep(0.01);
        Stop(Sub);
        Stop(Cli);
        close(Caught);
        std::ifstream F(D + "/caught");
        for (std::string L; std::getline(F, L);)
            if (!L.empty()) Lines.push_back(L);
    }
    if (Lines.empty()) {
        std::printf("mqtt_bench: vorta-cli published nothing\n");
        Stop(Broker);
        return 1;
    }

    std::vector<double> Ours, Peer;
    const double Messages = Rate * Seconds;
    for (int r = 0; r < Rounds; ++r)
        for (const bool Mine : {r % 2 == 0, r % 2 != 0}) {
            if (Mine) {
                TSim Sim(Rate);
                const pid_t Cli =
                    Spawn({VORTA_CLI, "--port", Sim.Device, "stream", "--mqtt", Url, "--topic",
                           "vorta/bench", "--no-discovery", "--qos", std::to_string(Qos)},
                          {}, Null);
                Sleep(2);
                const double C0 = CpuSeconds(Cli), F0 = IoCount(Sim.Pid, "syscw");
                Sleep(Seconds);
                const double Frames = IoCount(Sim.Pid, "syscw") - F0;
                Ours.push_back((CpuSeconds(Cli) - C0) / std::max(1.0, Frames) * 1e6);
                Stop(Cli);
            } else {
                int Pipe[2];
                if (pipe(Pipe) != 0) return 1;
                // The peer reads its standard input; Spawn gives it our pipe's end.
                const int Saved = dup(0);
                dup2(Pipe[0], 0);
                const pid_t Pub =
                    Spawn({"/usr/bin/mosquitto_pub", "-h", "127.0.0.1", "-p", P, "-t",
                           "vorta/peer/reading", "-l", "-r", "-q", std::to_string(Qos)});
                dup2(Saved, 0);
                close(Saved);
                close(Pipe[0]);
                const double Start = NowSeconds();
                double C0 = -1;
                for (long n = 0;; ++n) {
                    const double Due = Start + double(n) / Rate;
                    if (Due > Start + 2 + Seconds) break;
                    if (C0 < 0 && Due >= Start + 2) C0 = CpuSeconds(Pub);
                    const double Wait = Due - NowSeconds();
                    if (Wait > 0) Sleep(Wait);
                    const std::string& L = Lines[size_t(n) % Lines.size()];
                    const std::string Line = L + "\n";
                    if (write(Pipe[1], Line.data(), Line.size()) < 0) break;
                }
                Peer.push_back((CpuSeconds(Pub) - C0) / Messages * 1e6);
                close(Pipe[1]);
                Stop(Pub);
            }
        }
    close(Null);
    Stop(Broker);
    const double O = Median(Ours), M = Median(Peer);
    std::printf("MQTT publishing, %d readings/s, QoS %d, %d rounds of %.0f s, medians:\n"
                "  vorta-cli stream --mqtt %.1f us a reading (from the port to the broker); "
                "peer mosquitto_pub -l, same messages %.1f us; ratio %.2f\n",
                Rate, Qos, Rounds, Seconds, O, M, O / M);
    return 0;
}
