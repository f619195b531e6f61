// What the Values and Call Stack docks cost a running script: the real main
// window (on the platform Qt picks: offscreen, or an X server such as Xvfb)
// runs a counting loop that writes every number to the console, in a web of
// CELLS further cells with values, once with the docks shown and once with
// them hidden, ROUNDS times each, alternating; prints the process CPU
// seconds of each run and the medians.
//   tarvex_docks_bench [ROUNDS] [COUNT] [CELLS]
// BENCH_FLOAT=1 floats the docks beside the window instead of docking them.
#include "engine/engine_start.h"
#include "frontend/frontend.h"
#include "script/run_engine.h"
#include "settings/settings.h"
#include "shell/commands.h"
#include "shell/main_window.h"
#include "shell/panes.h"
#include "shell/qt_frontend.h"
#include "shell/workbench_docks.h"
#include "web/cell.h"
#include "web/navigation.h"

#include <QApplication>
#include <QDockWidget>
#include <Qsci/qsciscintilla.h>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace tarvex;

namespace {

double cpu_seconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void settle() {
    for (int i = 0; i < 20; ++i)
        QApplication::processEvents();
}

} // namespace

int main(int argc, char** argv) {
    int rounds = argc > 1 ? std::atoi(argv[1]) : 5;
    int count = argc > 2 ? std::atoi(argv[2]) : 20000;
    int cells = argc > 3 ? std::atoi(argv[3]) : 200;
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("TARVEX_INSTANCE", "docks-bench");
    QApplication app(argc, argv);
    QtFrontend fe;
    frontend_install(&fe);
    engine_start();
    auto* window = new MainWindow;
    window->resize(1200, 800);
    window->show();
    startup_message("");
    settle();
    settings_set_ask_before_create(0);
    // The loop's cells first: a script reaches only the first
    // CELL_TABLE_SIZE cells by name.
    cell_create("n");
    cell_create("m");
    for (int i = 0; i < cells; ++i) {
        CellHandle c = cell_create(("c" + std::to_string(i)).c_str());
        cell_set_value_text(c, i % 2 ? "a string value of a cell" : std::to_string(i * 7));
    }
    // Texts and scripts naming other cells, for the Links dock's walk.
    for (int i = 0; i < cells; ++i) {
        std::string next = "c" + std::to_string((i + 1) % cells),
                    far = "c" + std::to_string((i * 7 + 3) % cells);
        std::string text = "This cell leads to " + next + " and to " + far + ". ";
        std::string script = "# adds up along the chain\r\n";
        for (int k = 0; k < 6; ++k) {
            text += "Some words of a longer text that names no cell at all, " + next + ". ";
            script += "set " + next + " to " + far + " + " + std::to_string(k) + " * 2\r\n";
        }
        CellHandle c = cell_find(("c" + std::to_string(i)).c_str());
        cell_set_text(c, text);
        cell_set_script(c, script);
    }
    cell_list_refill();
    // A for loop counts to a million at most: longer runs repeat it.
    int inner = std::min(count, 1000000), outer = std::max(1, count / inner);
    count = inner * outer;
    cell_set_script(cell_root(), "for (m = 1 to " + std::to_string(outer) + ") {for (n = 1 to " +
                                     std::to_string(inner) + ") {out(n, '\\n')}}");
    reshow_current();
    dispatch_command(CMD_VIEW_CONS);
    settle();

    QDockWidget* docks[] = {workbench_dock("values_dock"), workbench_dock("stack_dock")};
    // Floating docks leave the console its width, so only the docks' own
    // work differs between the two runs.
    if (qEnvironmentVariableIntValue("BENCH_FLOAT"))
        for (QDockWidget* d : docks)
            d->setFloating(true);
    std::vector<double> shown, hidden;
    for (int r = 0; r < 2 * rounds; ++r) {
        bool show = r % 2 == 0;
        for (QDockWidget* d : docks)
            d->setVisible(show);
        dispatch_command(CMD_VIEW_CONS);
        settle();
        double before = cpu_seconds();
        dispatch_command(CMD_RUN);
        settle();
        double spent = cpu_seconds() - before;
        (show ? shown : hidden).push_back(spent);
        std::printf("round %d, docks %s: %.3f s (console %lld bytes, run result %d)\n", r / 2 + 1,
                    show ? "shown " : "hidden", spent, static_cast<long long>(console_length()),
                    run_last_error().code);
        std::fflush(stdout);
        console_clear();
        settle();
    }
    std::printf("%d numbers written, %d cells: CPU seconds, median of %d: docks shown %.3f, "
                "hidden %.3f (%+.1f%%)\n",
                count, cells + 3, rounds, median(shown), median(hidden),
                100.0 * (median(shown) - median(hidden)) / median(hidden));

    // The cost of one refresh, as a run pays it at most every
    // DOCK_RUN_REFRESH_MS: nothing changed, or every value changed since the
    // last one (the value changes are timed with the docks hidden too and
    // taken off).
    std::vector<CellHandle> all;
    for (int i = 0; i < cells; ++i)
        all.push_back(cell_find(("c" + std::to_string(i)).c_str()));
    constexpr int REFRESHES = 200;
    auto per_refresh = [&](bool show, bool change) {
        for (QDockWidget* d : docks)
            d->setVisible(show);
        settle();
        double before = cpu_seconds();
        for (int i = 0; i < REFRESHES; ++i) {
            if (change)
                for (CellHandle c : all)
                    cell_set_value_text(c, "value " + std::to_string(i));
            workbench_docks_changed();
            QApplication::processEvents();
        }
        return (cpu_seconds() - before) * 1000.0 / REFRESHES;
    };
    double same = per_refresh(true, false) - per_refresh(false, false);
    double changed = per_refresh(true, true) - per_refresh(false, true);
    std::printf("one refresh of the shown docks: %.3f ms with no value changed, %.3f ms with all "
                "%d changed (at most %d a second during a run)\n",
                same, changed, cells, 1000 / DOCK_RUN_REFRESH_MS);

    // A move to another cell: the panes and, with the docks shown, the
    // Links dock's walk over every text and script.
    auto per_visit = [&](bool show) {
        for (QDockWidget* d : docks)
            d->setVisible(show);
        workbench_dock("links_dock")->setVisible(show);
        settle();
        double before = cpu_seconds();
        for (int i = 0; i < REFRESHES; ++i) {
            make_current(all[size_t(i) % all.size()]);
            QApplication::processEvents();
        }
        return (cpu_seconds() - before) * 1000.0 / REFRESHES;
    };
    double visit_hidden = per_visit(false), visit_shown = per_visit(true);
    std::printf("a move to another cell: %.3f ms with the docks shown, %.3f ms hidden\n",
                visit_shown, visit_hidden);
    web_set_modified(false);
    delete window;
    frontend_install(nullptr);
    return 0;
}
