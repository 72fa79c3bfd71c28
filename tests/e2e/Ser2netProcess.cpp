#include "Ser2netProcess.h"

#include <csignal>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

int FreeTcpPort() {
    const int S = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in A{};
    A.sin_family = AF_INET;
    A.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t Len = sizeof A;
    if (S < 0 || bind(S, reinterpret_cast<sockaddr*>(&A), sizeof A) != 0 ||
        getsockname(S, reinterpret_cast<sockaddr*>(&A), &Len) != 0)
        throw std::runtime_error("no free TCP port");
    close(S);
    return ntohs(A.sin_port);
}

// Listening, as the kernel's socket table says: a test connection would
// open the device through ser2net and hold it for a moment.
static bool Listening(int Port) {
    char Hex[8];
    std::snprintf(Hex, sizeof Hex, ":%04X", Port);
    std::ifstream In("/proc/net/tcp");
    std::string Line;
    while (std::getline(In, Line)) {
        std::istringstream W(Line);
        std::string Slot, Local, Remote, State;
        W >> Slot >> Local >> Remote >> State;
        if (State == "0A" && Local.size() > 5 && Local.compare(Local.size() - 5, 5, Hex) == 0)
            return true;
    }
    return false;
}

TSer2netProcess::TSer2netProcess(const std::string& Device, bool Rfc2217)
    : FRfc2217(Rfc2217), FPort(FreeTcpPort()) {
    char Template[] = "/tmp/vorta-e2e-ser2net-XXXXXX";
    const int Fd = mkstemp(Template);
    if (Fd < 0) throw std::runtime_error("no temporary configuration file");
    close(Fd);
    FConfig = Template;
    FPidFile = FConfig + ".pid";
    std::ofstream Out(FConfig);
    Out << "%YAML 1.1\n---\nconnection: &sensor\n  accepter: "
        << (Rfc2217 ? "telnet(rfc2217),tcp," : "tcp,") << "127.0.0.1," << FPort
        << "\n  connector: serialdev," << Device << ",9600n81,local\n";
    Out.close();
    Start();
}

TSer2netProcess::~TSer2netProcess() {
    Kill();
    std::remove(FConfig.c_str());
    std::remove(FPidFile.c_str());
}

void TSer2netProcess::Start() {
    // -n: stays in the foreground, our child; -u: no UUCP lock files.
    std::vector<std::string> All{"ser2net", "-n", "-u", "-c", FConfig, "-P", FPidFile};
    std::vector<char*> Argv;
    for (auto& A : All)
        Argv.push_back(A.data());
    Argv.push_back(nullptr);
    if (posix_spawnp(&FPid, "ser2net", nullptr, nullptr, Argv.data(), environ) != 0) {
        FPid = -1;
        throw std::runtime_error("ser2net does not start (is the ser2net package installed?)");
    }
    for (int i = 0; i < 1000 && !Listening(FPort); ++i) {
        int Status;
        if (waitpid(FPid, &Status, WNOHANG) == FPid) {
            FPid = -1;
            throw std::runtime_error("ser2net ended at once; configuration " + FConfig);
        }
        poll(nullptr, 0, 10);
    }
    if (!Listening(FPort)) throw std::runtime_error("ser2net does not listen");
}

void TSer2netProcess::Kill() {
    if (FPid <= 0) return;
    kill(FPid, SIGKILL);
    int Status;
    waitpid(FPid, &Status, 0);
    FPid = -1;
}
