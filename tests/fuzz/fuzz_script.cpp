// Fuzz target: arbitrary script text lexed and run in a small web, with the
// run bounded by a statement limit and a few iterations. The web is
// untitled and its folder is a scratch folder of its own, so the files a
// script names land there, and any name leading out of it is refused (the
// frontend allows no path): file input and output are fuzzed too, without
// touching anything else on the machine.
#include "fuzz_support.h"

#include "core/guard.h"
#include "io/output_stream.h"
#include "io/stream_path.h"
#include "script/run_engine.h"
#include "web/cell.h"
#include "web/navigation.h"
#include "webfile/settings.h"
#include "webfile/web_file.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <string_view>

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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::frontend_for_fuzzing().allow_paths = false;
    scratch_empty();
    std::string_view script(reinterpret_cast<const char*>(data), size);
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
