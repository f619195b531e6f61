// Shared by the stream and file tests: a fixture with the builtin tree (for
// eof) and both streams reset; temporary folders and files come from
// temp_files.h.
#pragma once

#include "engine_fixture.h"

#include "builtins/builtins.h"
#include "io/input_stream.h"
#include "io/output_stream.h"
#include "temp_files.h"

namespace tarvex::test {

class IoTest : public EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        builtins_init();
        streams_reset();
    }
    void TearDown() override {
        streams_reset();
        output_pump_interval(5);
        EngineTest::TearDown();
    }
};

} // namespace tarvex::test
