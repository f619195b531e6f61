// tarvex [web.tvx]: the desktop application. Start-up runs the engine's
// steps, claims the single instance, shows the main window, and opens the
// web once the event loop runs.
#include "core/node_store.h"
#include "engine/engine_start.h"
#include "shell/commands.h"
#include "shell/instance.h"
#include "shell/main_window.h"
#include "shell/preferences.h"
#include "shell/qt_frontend.h"
#include "shell/recovery.h"
#include "tarvex_version.h"

#include <QApplication>
#include <QTimer>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const char* const USAGE = "usage: tarvex [WEB]\n"
                          "Opens the web file WEB (.tvx or .qlt) in the desktop application, or\n"
                          "hands it to the Tarvex window already open in this session.\n"
                          "  -h, --help     this text\n"
                          "      --version  the version\n"
                          "tarvex-run runs webs without a window (tarvex-run --help).\n";

// --help and --version answer without a display; every other argument is
// the web to open (Qt takes its own options, such as -platform, first).
bool answered_on_terminal(int argc, char** argv) {
    if (argc != 2) return false;
    if (std::strcmp(argv[1], "--version") == 0) {
        std::printf("tarvex %s\n", TARVEX_VERSION);
        return true;
    }
    if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        std::fputs(USAGE, stdout);
        return true;
    }
    return false;
}

} // namespace

int main(int argc, char** argv) {
    using namespace tarvex;
    if (answered_on_terminal(argc, argv)) return 0;
    QApplication app(argc, argv);
    // Qt takes the process locale from the environment; numbers stay in C.
    std::setlocale(LC_NUMERIC, "C");
    QApplication::setApplicationName("Tarvex");
    QApplication::setWindowIcon(QIcon(":/tarvex/tarvex.png"));

    static QtFrontend frontend;
    frontend_install(&frontend);
    node_count_set(store_preferred_nodes());
    engine_start();
    recovery_install(&app);

    std::string file = argc > 1 ? argv[1] : "";
    // A later start hands its file to the running instance, which opens it.
    if (!instance_claim(&app, file, instance_serve)) return EXIT_ALREADY_RUNNING;
    std::atexit(instance_release);

    MainWindow window;
    window.show();
    QTimer::singleShot(0, &window, [file] {
        startup_message(file);
        recovery_offer(file);
    });
    int code = QApplication::exec();
    recovery_finish();
    instance_release();
    return code;
}
