// Shared by the stream and file tests: a fixture with the builtin tree (for
// eof), both streams reset and a temporary folder of the test's own.
#pragma once

#include "engine_fixture.h"

#include "builtins/builtins.h"
#include "core/text.h"
#include "core/value.h"
#include "io/input_stream.h"
#include "io/output_stream.h"
#include "temp_files.h"

#include <cstdio>
#include <string>
#include <vector>

namespace tarvex::test {

// What input_value gave: "none", "empty", "num:<number>" or "str:<text>".
inline std::string take_value() {
    NodeHandle v = input_value();
    if (v == 0) return "none";
    std::string s;
    if (value_kind(v) == VK_EMPTY) {
        s = "empty";
    } else if (value_kind(v) == VK_NUMBER) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "num:%g", value_number(v));
        s = buf;
    } else {
        s = "str:" + text_to_string(value_text(v));
    }
    value_free(v);
    return s;
}

inline std::vector<std::string> take_values(int n) {
    std::vector<std::string> got;
    for (int i = 0; i < n; ++i)
        got.push_back(take_value());
    return got;
}

class IoTest : public EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        builtins_init();
        streams_reset();
        // These tests are about the streams, not about where their files
        // may be: temporary files have absolute names.
        ui.allow_paths = true;
    }
    void TearDown() override {
        streams_reset();
        output_pump_interval(5);
        EngineTest::TearDown();
    }
    TempDir dir;
};

} // namespace tarvex::test
