// The core's notices, with the answers of a program that shows nothing.
#include "core/notices.h"

#include <cstdlib>

namespace tarvex {

namespace {
void show_nothing(const char*) {}
bool answer_cancel(const char*, const char*) { return false; }
void do_nothing() {}
void plain_exit(int code) { std::exit(code); }

// Constant-initialised, so the defaults hold before any constructor runs.
CoreNotices g_notices{show_nothing, answer_cancel, do_nothing, plain_exit};
} // namespace

void core_set_notices(const CoreNotices& notices) { g_notices = notices; }
const CoreNotices& core_notices() { return g_notices; }

} // namespace tarvex
