// The one guard around every entry into the engine from outside (command
// handlers, slots, the runner's steps). It catches node exhaustion, reports
// it, and, once the outermost guard is left, recovers what the abandoned
// operation held by running the reclaim walk. Leaving the outermost guard is
// also where the user is asked to save and exit when the store ran low
// meanwhile: once per command or run, not once per allocation.
#pragma once

#include "core/errors.h"
#include "core/node_store.h"

#include <type_traits>
#include <utility>

namespace tarvex {

// State that must be reset before an abandoned operation's nodes are
// reclaimed (cursors, flags, half-built records); run by the outermost guard.
using AbandonHook = void (*)();
void guard_register_abandon(AbandonHook hook);

int guard_depth();

namespace detail {
void guard_enter();
void guard_exhausted(); // reports "OUT OF MEMORY" and remembers to reclaim
void guard_leave();     // outermost: abandon hooks, reclaim walk, low-memory question
struct GuardScope {
    GuardScope() { guard_enter(); }
    ~GuardScope() { guard_leave(); }
    GuardScope(const GuardScope&) = delete;
    GuardScope& operator=(const GuardScope&) = delete;
};
} // namespace detail

// Runs f under the guard. Returns f's result (0 when f returns nothing), or
// SE_OUT_OF_MEMORY when the store ran out while f was running.
template <class F> int engine_guard(F&& f) {
    detail::GuardScope scope;
    try {
        if constexpr (std::is_void_v<std::invoke_result_t<F>>) {
            std::forward<F>(f)();
            return 0;
        } else {
            return static_cast<int>(std::forward<F>(f)());
        }
    } catch (const NodeExhausted&) {
        detail::guard_exhausted();
        return SE_OUT_OF_MEMORY;
    }
}

// An operation that handled exhaustion itself (the run engine ends the run)
// asks the outermost guard to reclaim what the unwound code held.
void guard_request_reclaim();

// How many nodes the last outermost reclaim freed (tests).
int guard_last_reclaimed();

} // namespace tarvex
