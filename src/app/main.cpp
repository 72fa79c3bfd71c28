// Program entry: the console's one main window and the message loop.
#include "Application.h"
#include "UVORTA_Display.h"

#include <QTimer>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

const char* Usage =
    "Usage: vorta-display [options]\n"
    "  --port NAME         port to connect to: a name below /dev without a leading\n"
    "                      \"tty\" (USB0, S0, pts/3), COM<n>, or a device path\n"
    "  --connect           press Connect once the window is shown\n"
    "  --read              then press #READ (with --connect)\n"
    "  --screenshot FILE   save the window as a PNG after --delay ms and exit\n"
    "  --delay MS          time before the screenshot (default 1500)\n"
    "  --help              show this text\n";

} // namespace

int main(int argc, char** argv) {
    TFKAVROOptions Options;
    std::string Screenshot;
    bool Connect = false, Read = false;
    int Delay = 1500;
    for (int i = 1; i < argc; ++i) {
        const std::string A = argv[i];
        auto Next = [&]() -> std::string {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "vorta-display: %s needs a value\n%s", A.c_str(), Usage);
                std::exit(2);
            }
            return argv[++i];
        };
        if (A == "--help" || A == "-h") {
            std::fputs(Usage, stdout);
            return 0;
        } else if (A == "--port") {
            Options.PortOverride = Next();
        } else if (A == "--connect") {
            Connect = true;
        } else if (A == "--read") {
            Read = true;
        } else if (A == "--screenshot") {
            Screenshot = Next();
        } else if (A == "--delay") {
            Delay = std::atoi(Next().c_str());
        } else {
            std::fprintf(stderr, "vorta-display: unknown option %s\n%s", A.c_str(), Usage);
            return 2;
        }
    }

    TApplication App(argc, argv);
    TFKAVRO FKAVRO(Options);
    FKAVRO.show();
    if (Connect)
        QTimer::singleShot(100, &FKAVRO, [&] {
            FKAVRO.Button3->click();
            if (Read && FKAVRO.Connected == 1 && !FKAVRO.Closing()) FKAVRO.btREAD->click();
        });
    if (!Screenshot.empty()) {
        QTimer::singleShot(Delay, &FKAVRO, [&] {
            const bool Ok = FKAVRO.grab().save(QString::fromStdString(Screenshot), "PNG");
            if (!Ok) std::fprintf(stderr, "vorta-display: cannot write %s\n", Screenshot.c_str());
            FKAVRO.close();
            App.exit(Ok ? 0 : 1);
        });
    }
    return App.exec();
}
