// Fuzz target: arbitrary script text lexed and run in a small web, with the
// run bounded by a statement limit and a few iterations.
#include "fuzz_support.h"

#include "core/guard.h"
#include "io/output_stream.h"
#include "script/run_engine.h"
#include "web/cell.h"
#include "web/navigation.h"
#include "webfile/settings.h"
#include "webfile/web_file.h"

#include <cctype>
#include <initializer_list>
#include <string>
#include <string_view>

using namespace tarvex;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::frontend_for_fuzzing();
    std::string_view script(reinterpret_cast<const char*>(data), size);
    // Scripts that could name files are skipped: a fuzzed output name could
    // be any path on the machine. The streams have targets of their own.
    std::string folded(script);
    for (char& c : folded) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const char* word : {"type", "name"})
        if (folded.find(word) != std::string::npos) return 0;
    engine_guard([&] {
        web_start_fresh();
        // A few cells to name, call and subscript.
        for (const char* name : {"a", "b", "c", "x", "y"}) cell_create(name);
        cell_set_script(cell_find("b"), "%1 + 1");
        cell_set_text(cell_find("c"), "1 2 'three' four");
        settings_set_iterations(2);
        cell_set_script(cell_root(), script);
        make_current(cell_root());
    });
    run_set_step_limit(20000);
    engine_guard([] { return run_command(false); });
    run_set_step_limit(0);
    streams_reset();
    fuzz::check_no_leak();
    return 0;
}
