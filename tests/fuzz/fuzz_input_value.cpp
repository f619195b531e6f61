// Fuzz target: arbitrary text read value by value through the input stream
// from a cell, as the in statement reads it.
#include "fuzz_support.h"

#include "core/value.h"
#include "settings/settings.h"
#include "web/cell.h"

#include <string_view>

using namespace tarvex;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    return fuzz::on_fresh_web([&] {
        cell_set_text(cell_create("source"), text);
        settings_set_input_type(IN_CELL);
        settings_set_input_name("source");
        settings_set_echo(size > 0 && data[0] & 1);
        for (int i = 0; i < 5000; ++i) {
            NodeHandle v = input_value();
            if (v == 0) break;
            value_to_number(v);
            value_free(v);
        }
        input_close();
    });
}
