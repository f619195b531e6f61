// Times the web map's two costs on a web file: reading the link graph (what
// every idle tick does while the map is shown) and laying it out with
// Graphviz (only when the graph changed). With --links K, K extra links per
// cell (to pseudo-random cells, the same every run) are added to the graph
// before the layout, to see how the layout grows with the links:
//   tarvex_web_map_bench [--links K] WEB.tvx
#include "engine/engine_start.h"
#include "frontend/headless_frontend.h"
#include "shell/web_map.h"
#include "webfile/web_export.h"
#include "webfile/web_file.h"

#include <QGuiApplication>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

using namespace tarvex;

int main(int argc, char** argv) {
    int links = 0;
    const char* web = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--links") == 0 && i + 1 < argc)
            links = std::atoi(argv[++i]);
        else
            web = argv[i];
    }
    if (!web) {
        std::fprintf(stderr, "usage: tarvex_web_map_bench [--links K] WEB.tvx\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    HeadlessFrontend fe;
    frontend_install(&fe);
    engine_start();
    if (!web_open(web).done()) {
        std::fprintf(stderr, "cannot open %s\n", web);
        return 2;
    }
    constexpr int READS = 20;
    auto start = std::chrono::steady_clock::now();
    WebGraph graph;
    for (int i = 0; i < READS; ++i)
        graph = web_graph();
    double read_ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count() /
        READS;
    MapLayoutInput in = web_map_input(graph);
    uint32_t n = uint32_t(in.boxes.size()), seed = 12345;
    for (uint32_t from = 0; from < n && links > 0; ++from)
        for (int k = 0; k < links; ++k) {
            seed = seed * 1103515245u + 12345u;
            in.edges.push_back({from, (seed >> 8) % n, k % 2 == 1});
        }
    MapLayout layout = web_map_layout(in);
    std::printf("%u cells, %zu links: graph read %.1f ms, layout (%s) %.0f ms\n", n,
                in.edges.size(), read_ms, layout.engine, layout.milliseconds);
    frontend_install(nullptr);
    return layout.nodes.size() == n ? 0 : 1;
}
