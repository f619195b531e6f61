// The web's modified mark.
#include "settings/modified_mark.h"

namespace tarvex {

namespace {
bool g_modified = false;
unsigned g_changes = 0;
} // namespace

bool web_modified() { return g_modified; }
void web_set_modified(bool on) {
    g_modified = on;
    ++g_changes;
}
unsigned web_modified_changes() { return g_changes; }

} // namespace tarvex
