// tarvex [web.tvx]: the desktop application. Start-up runs the engine's
// steps, claims the single instance, shows the main window, and opens the
// web once the event loop runs.
#include "engine/engine_start.h"
#include "shell/commands.h"
#include "shell/instance.h"
#include "shell/main_window.h"
#include "shell/qt_frontend.h"
#include "shell/recovery.h"

#include <QApplication>
#include <QTimer>

#include <clocale>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    using namespace tarvex;
    QApplication app(argc, argv);
    // Qt takes the process locale from the environment; numbers stay in C.
    std::setlocale(LC_NUMERIC, "C");
    QApplication::setApplicationName("Tarvex");
    QApplication::setWindowIcon(QIcon(":/tarvex/tarvex.png"));

    static QtFrontend frontend;
    frontend_install(&frontend);
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
