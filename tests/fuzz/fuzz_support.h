// Shared by the fuzz targets: the engine started once, a headless frontend
// that aborts any keyboard wait, and the leak check after every input.
#pragma once

#include "core/guard.h"
#include "core/node_store.h"
#include "engine/engine_start.h"
#include "frontend/headless_frontend.h"
#include "io/input_stream.h"
#include "io/keyboard_queue.h"
#include "webfile/web_file.h"

#include <cstdio>
#include <cstdlib>

namespace tarvex::fuzz {

inline HeadlessFrontend& frontend_for_fuzzing() {
    static HeadlessFrontend* fe = [] {
        auto* f = new HeadlessFrontend;
        f->on_pump = [] { keyboard_push(KEY_ESCAPE); }; // any keyboard wait is aborted
        frontend_install(f);
        engine_start();
        return f;
    }();
    // Keep the recorded messages from growing without bound.
    fe->flashes.clear();
    fe->boxes.clear();
    fe->console.clear();
    fe->console_styles.clear();
    return *fe;
}

// Every node must be owned by the web or free after an input.
inline void check_no_leak() {
    int freed = node_reclaim_unreachable();
    ReclaimFaults f = reclaim_last_faults();
    if (freed != 0 || f.reached_twice != 0 || f.reached_free != 0) {
        std::fprintf(stderr, "reclaim walk: %d leaked, %d reached twice, %d reached free\n", freed,
                     f.reached_twice, f.reached_free);
        std::abort();
    }
}

// One input worked on a fresh web inside the engine's guard, then the
// streams closed and the leak check.
template <class Body> int on_fresh_web(Body body) {
    frontend_for_fuzzing();
    engine_guard([&] {
        web_start_fresh();
        body();
    });
    streams_reset();
    check_no_leak();
    return 0;
}

} // namespace tarvex::fuzz
