// The web's modified mark.
#include "settings/modified_mark.h"

namespace tarvex {

namespace {
bool g_modified = false;
}

bool web_modified() { return g_modified; }
void web_set_modified(bool on) { g_modified = on; }

} // namespace tarvex
