// Fuzz target: arbitrary script text lexed and run in a small web, with the
// run bounded by a statement limit and a few iterations. The web is
// untitled and its folder is a scratch folder of its own, so the files a
// script names land there, and any name leading out of it is refused (the
// frontend allows no path): file input and output are fuzzed too, without
// touching anything else on the machine. Each script runs twice, through
// the expression walker alone and with compiled expressions, and the two
// runs must show the same: a difference aborts.
#include "fuzz_support.h"

#include "builtins/builtins.h"
#include "core/guard.h"
#include "io/output_stream.h"
#include "io/stream_path.h"
#include "script/compiled_expr.h"
#include "script/run_engine.h"
#include "settings/settings.h"
#include "web/cell.h"
#include "web/navigation.h"
#include "webfile/web_file.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include <unistd.h>

using namespace tarvex;

namespace {

const std::filesystem::path& scratch_folder() {
    static const std::filesystem::path folder = [] {
        // In the working folder, which tools/fuzz.sh removes afterwards: a
        // fuzzer that stops on its time limit skips the exit handlers.
        std::string templ = (std::filesystem::current_path() / "tarvex-fuzz-XXXXXX").string();
        if (!::mkdtemp(templ.data())) {
            std::perror("tarvex fuzz: scratch folder");
            std::abort();
        }
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(scratch_folder(), ec);
        });
        stream_untitled_folder_set(templ);
        return std::filesystem::path(templ);
    }();
    return folder;
}

// What the last input wrote, gone before the next.
void scratch_empty() {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(scratch_folder(), ec))
        std::filesystem::remove_all(entry.path(), ec);
}

// What a run showed, with the store's free count at every console write
// (what mem() would have said there) and at every statement.
struct Seen {
    int result = 0;
    int error_code = 0;
    int error_index = -1;
    std::string console;
    std::vector<std::string> messages;
    std::vector<uint16_t> free_counts;
    std::vector<uint16_t> free_at_statements; // none made by calls on numbers
    uint16_t in_use = 0;
    bool operator==(const Seen&) const = default;
};

// fast: compiled code; on_numbers: calls on numbers too, which run only
// without a step limit (a run the limit did not stop ends without it).
// Runs that go on longer are stopped (and not run again with calls on
// numbers, which run only without a step limit).
constexpr uint64_t STEP_LIMIT = 20000;

Seen run_script(std::string_view script, bool fast, bool on_numbers = false) {
    HeadlessFrontend& fe = fuzz::frontend_for_fuzzing();
    fe.allow_paths = false;
    scratch_empty();
    engine_guard([&] {
        web_start_fresh();
        // A few cells to name, call and subscript.
        for (const char* name : {"a", "b", "c", "x", "y"})
            cell_create(name);
        cell_set_script(cell_find("b"), "%1 + 1");
        cell_set_text(cell_find("c"), "1 2 'three' four");
        settings_set_iterations(2);
        cell_set_script(cell_root(), script);
        make_current(cell_root());
    });
    rand_reset();
    interp_set_fast_path(fast);
    interp_set_number_calls(on_numbers);
    run_set_step_limit(on_numbers ? 0 : STEP_LIMIT);
    Seen seen;
    fe.on_console = [&seen](std::string_view) { seen.free_counts.push_back(nodes_free()); };
    fe.on_pump_pending = [&seen] { seen.free_at_statements.push_back(nodes_free()); };
    output_pump_interval(0);
    seen.result = engine_guard([] { return run_command(false); });
    output_pump_interval(5);
    fe.on_console = nullptr;
    fe.on_pump_pending = nullptr;
    run_set_step_limit(0);
    interp_set_fast_path(true);
    interp_set_number_calls(true);
    seen.error_code = run_last_error().code;
    seen.error_index = run_last_error().token_index;
    streams_reset();
    fuzz::check_no_leak();
    seen.console = fe.console;
    seen.messages = fe.flashes;
    for (const auto& box : fe.boxes)
        seen.messages.push_back(box.text);
    seen.in_use = nodes_in_use();
    return seen;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view script(reinterpret_cast<const char*>(data), size);
    Seen walker = run_script(script, false);
    Seen fast = run_script(script, true);
    if (!(walker == fast)) {
        std::fprintf(stderr, "compiled expressions differ from the walker:\n%s\n---\n%s\n",
                     walker.console.c_str(), fast.console.c_str());
        std::abort();
    }
    if (walker.error_code == SE_HALTED) return 0;
    Seen numbers = run_script(script, true, true);
    numbers.free_at_statements = walker.free_at_statements;
    if (!(walker == numbers)) {
        std::fprintf(stderr, "calls on numbers differ from the walker:\n%s\n---\n%s\n",
                     walker.console.c_str(), numbers.console.c_str());
        std::abort();
    }
    return 0;
}
