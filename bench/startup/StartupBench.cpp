// SPDX-License-Identifier: GPL-3.0-or-later
// Start-up to the first drawing, whole process, seen from the X server: the
// time from starting a program to the first damage of one of its top-level
// windows after that window was mapped, i.e. the first pixels it put on the
// screen. The same observer times every program alike: the console
// (vorta-display, an everyday start: the warm-up start writes its settings),
// a minimal widgets window of the console's size (a label and a button), a
// floor (startup_controls_floor: the console's controls as plain Qt widgets,
// in its fonts, with no logic), and CuteCom when it is installed. Each round
// starts all of them in turn, the order rotating, on one Xvfb of this
// benchmark's own; figures are medians.
//
//   startup_bench [--rounds N] [--also PROGRAM]...
//
// --also times another build of the console (or any program) in the same
// rounds, e.g. the one before a change, so that the two compare side by side.
#include "XServer.h"

#include <xcb/damage.h>
#include <xcb/xcb.h>

#include <poll.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

using namespace bench_x;

namespace {

struct TProgram {
    std::string Name;
    std::vector<std::string> Argv;
    std::vector<double> Ms;
};

double Median(std::vector<double> V) {
    std::sort(V.begin(), V.end());
    return V.empty() ? 0 : V[V.size() / 2];
}

class TObserver {
  public:
    explicit TObserver(const std::string& Display) {
        FConn = xcb_connect(Display.c_str(), nullptr);
        if (xcb_connection_has_error(FConn)) return;
        const xcb_query_extension_reply_t* Ext = xcb_get_extension_data(FConn, &xcb_damage_id);
        if (!Ext || !Ext->present) return;
        FDamageEvent = Ext->first_event + XCB_DAMAGE_NOTIFY;
        free(xcb_damage_query_version_reply(FConn, xcb_damage_query_version(FConn, 1, 1), nullptr));
        FRoot = xcb_setup_roots_iterator(xcb_get_setup(FConn)).data->root;
        const uint32_t Mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(FConn, FRoot, XCB_CW_EVENT_MASK, &Mask);
        xcb_flush(FConn);
        FOk = true;
    }
    ~TObserver() { xcb_disconnect(FConn); }
    bool Ok() const { return FOk; }

    // Milliseconds from starting Argv to its first drawing (-1: none in 20 s).
    double Time(const std::vector<std::string>& Argv, const std::vector<std::string>& Env) {
        Drain(0.2);
        std::set<xcb_window_t> Mapped;
        const double T0 = NowSeconds();
        const pid_t Pid = Spawn(Argv, Env);
        double Result = -1;
        while (Pid > 0 && Result < 0 && NowSeconds() - T0 < 20) {
            xcb_generic_event_t* E = Next(0.1);
            if (!E) continue;
            const uint8_t Type = E->response_type & 0x7F;
            if (Type == XCB_CREATE_NOTIFY) {
                auto* C = reinterpret_cast<xcb_create_notify_event_t*>(E);
                if (C->parent == FRoot) {
                    xcb_damage_create(FConn, xcb_generate_id(FConn), C->window,
                                      XCB_DAMAGE_REPORT_LEVEL_NON_EMPTY);
                    xcb_flush(FConn);
                }
            } else if (Type == XCB_MAP_NOTIFY) {
                Mapped.insert(reinterpret_cast<xcb_map_notify_event_t*>(E)->window);
            } else if (Type == FDamageEvent) {
                auto* D = reinterpret_cast<xcb_damage_notify_event_t*>(E);
                if (Mapped.count(D->drawable)) Result = (NowSeconds() - T0) * 1000;
            }
            free(E);
        }
        Stop(Pid);
        return Result;
    }

  private:
    xcb_generic_event_t* Next(double Timeout) {
        if (xcb_generic_event_t* E = xcb_poll_for_event(FConn)) return E;
        pollfd P{xcb_get_file_descriptor(FConn), POLLIN, 0};
        if (poll(&P, 1, int(Timeout * 1000)) <= 0) return nullptr;
        return xcb_poll_for_event(FConn);
    }
    // Events of the program before, such as its windows' destruction.
    void Drain(double Seconds) {
        const double End = NowSeconds() + Seconds;
        while (NowSeconds() < End)
            free(Next(0.02));
    }
    xcb_connection_t* FConn = nullptr;
    xcb_window_t FRoot = 0;
    uint8_t FDamageEvent = 0;
    bool FOk = false;
};

} // namespace

int main(int argc, char** argv) {
    int Rounds = 15;
    std::vector<std::string> Also;
    for (int i = 1; i + 1 < argc; ++i) {
        if (!std::strcmp(argv[i], "--rounds")) Rounds = std::atoi(argv[i + 1]);
        if (!std::strcmp(argv[i], "--also")) Also.push_back(argv[i + 1]);
    }
    if (chdir(VORTA_SOURCE_DIR) != 0) return 1; // the console finds img/ there
    TXServer X;
    if (X.Display().empty()) {
        std::printf("startup_bench: Xvfb is not installed (apt-get install xvfb); nothing "
                    "measured\n");
        return 0;
    }
    TObserver Observer(X.Display());
    if (!Observer.Ok()) {
        std::printf("startup_bench: no X connection with the DAMAGE extension\n");
        return 1;
    }
    std::vector<TProgram> Programs{
        {"vorta-display", {VORTA_DISPLAY}, {}},
        {"minimal window", {MINIMAL_WINDOW}, {}},
        {"controls floor",
         {CONTROLS_FLOOR, VORTA_SOURCE_DIR "/tests/app/data/window-layout.txt"},
         {}}};
    if (access("/usr/bin/cutecom", X_OK) == 0)
        Programs.push_back({"CuteCom", {"/usr/bin/cutecom"}, {}});
    else
        std::printf("CuteCom is not installed (apt-get install cutecom): its column is left "
                    "out\n");
    for (const std::string& A : Also)
        Programs.push_back({A, {A}, {}});
    std::printf("platform: %s\n", X.Platform().c_str());
    for (auto& P : Programs) // warm the file cache; the console writes its settings
        Observer.Time(P.Argv, X.QtEnv());
    for (int r = 0; r < Rounds; ++r)
        for (size_t k = 0; k < Programs.size(); ++k) {
            TProgram& P = Programs[(k + size_t(r)) % Programs.size()];
            const double Ms = Observer.Time(P.Argv, X.QtEnv());
            if (Ms < 0) {
                std::printf("%s drew nothing within 20 s\n", P.Name.c_str());
                return 1;
            }
            P.Ms.push_back(Ms);
        }
    std::printf("start-up to the first drawing on the X server, median of %d rounds:\n", Rounds);
    const double Ours = Median(Programs[0].Ms);
    for (const auto& P : Programs)
        std::printf("  %-16s %7.1f ms  (lowest %.1f, highest %.1f)\n", P.Name.c_str(), Median(P.Ms),
                    *std::min_element(P.Ms.begin(), P.Ms.end()),
                    *std::max_element(P.Ms.begin(), P.Ms.end()));
    const double Minimal = Median(Programs[1].Ms), Floor = Median(Programs[2].Ms);
    std::printf("vorta-display / minimal window: %.2fx  [target: <= 1.3x]\n", Ours / Minimal);
    std::printf("floor: the console's controls as plain Qt widgets / minimal window: %.2fx; "
                "vorta-display / that floor: %.2fx\n",
                Floor / Minimal, Ours / Floor);
    for (size_t k = Programs.size() - Also.size(); k < Programs.size(); ++k)
        std::printf("vorta-display / %s: %.2fx\n", Programs[k].Name.c_str(),
                    Ours / Median(Programs[k].Ms));
    if (Programs.size() > 3 + Also.size())
        std::printf("vorta-display / CuteCom: %.2fx  [target: below 1]\n",
                    Ours / Median(Programs[3].Ms));
    return 0;
}
