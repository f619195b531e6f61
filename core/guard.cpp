// Guard bookkeeping: nesting depth, the pending reclaim, abandon hooks.
#include "core/guard.h"

#include "core/notices.h"
#include "core/text.h"

#include <algorithm>
#include <exception>
#include <vector>

namespace tarvex {

namespace {
const char* const LOW_MEMORY_QUESTION = "Short On Memory--Save And Exit?";

int g_depth = 0;
bool g_reclaim_pending = false;
int g_last_reclaimed = 0;
std::vector<AbandonHook> g_hooks;
} // namespace

void guard_register_abandon(AbandonHook hook) {
    if (std::find(g_hooks.begin(), g_hooks.end(), hook) == g_hooks.end()) g_hooks.push_back(hook);
}

int guard_depth() { return g_depth; }
void guard_request_reclaim() { g_reclaim_pending = true; }
int guard_last_reclaimed() { return g_last_reclaimed; }

namespace detail {

void guard_enter() { ++g_depth; }

void guard_exhausted() {
    building_chain_release();
    text_cursors_reset();
    g_reclaim_pending = true;
    status_error(SE_OUT_OF_MEMORY);
}

void guard_leave() {
    if (--g_depth != 0) return;
    if (g_reclaim_pending) {
        g_reclaim_pending = false;
        for (AbandonHook h : g_hooks)
            h();
        g_last_reclaimed = node_reclaim_unreachable();
    }
    // Nothing of the engine is active now: the one place where the user may
    // be asked, and where saving and exiting is safe. The question runs
    // under a guard of its own, since saving allocates.
    if (std::uncaught_exceptions() == 0 && node_low_take())
        engine_guard([] {
            if (core_notices().ask_ok_cancel(LOW_MEMORY_QUESTION, "Tarvex"))
                core_notices().exit_procedure();
        });
}

} // namespace detail
} // namespace tarvex
