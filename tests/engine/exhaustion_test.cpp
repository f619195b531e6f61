// Running out of nodes anywhere: every acceptance web is run with the store
// made to run out at allocation points spread over the whole run. Each run
// must end cleanly or with "OUT OF MEMORY", leave every node accounted for,
// and leave a web that still runs, saves and reopens.
#include "webfile_test_support.h"

#include "builtins/builtins.h"
#include "core/guard.h"
#include "io/input_stream.h"
#include "io/keyboard_queue.h"
#include "script/run_engine.h"
#include "settings/settings.h"
#include "web/cell.h"
#include "web/navigation.h"
#include "webfile/web_file.h"

#include <filesystem>
#include <string>
#include <vector>

namespace tarvex::test {
namespace {

namespace fs = std::filesystem;

// Injection points per web: every point for short runs, an even stride
// over the whole run for long ones.
constexpr uint64_t POINTS_PER_WEB = 150;

class Exhaustion : public EngineTest, public ::testing::WithParamInterface<std::string> {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        builtins_init();
        ui.on_pump = [] { keyboard_push(KEY_ESCAPE); };
        fs::current_path(work);
    }
    void TearDown() override {
        streams_reset();
        fs::current_path(old_dir);
        EngineTest::TearDown();
    }
    int open_web(const std::string& path) {
        web_set_modified(false);
        return web_open(path.c_str()).code;
    }
    fs::path old_dir = fs::current_path();
    TempDir tmp{"tarvex_exhaust"};
    const fs::path& work = tmp.path();
};

TEST_P(Exhaustion, EveryRunEndsCleanlyAndLeavesAUsableWeb) {
    // A copy in the scratch folder: the files a web names are written
    // beside it, not into the sources.
    const std::string web = (work / fs::path(GetParam()).filename()).string();
    fs::copy_file(GetParam(), web);
    ASSERT_EQ(open_web(web), 0) << web;
    uint64_t before = node_allocations();
    const int unexhausted = run_again();
    uint64_t total = node_allocations() - before;
    uint64_t stride = total / POINTS_PER_WEB + 1;
    int exhausted = 0;
    for (uint64_t k = 0; k <= total; k += stride) {
        ASSERT_EQ(open_web(web), 0) << web;
        ui.flashes.clear();
        node_fail_after(static_cast<long>(k));
        int r = run_again();
        node_fail_after(-1);
        bool oom = false;
        for (const std::string& f : ui.flashes)
            oom = oom || f == "OUT OF MEMORY" || f == "Out of memory";
        if (r == SE_OUT_OF_MEMORY || oom) ++exhausted;
        // Running out ends the run with the memory error, or is told and the
        // run carries on to the result it has without running out.
        ASSERT_TRUE(r == SE_OUT_OF_MEMORY || (oom && r <= 0) || r == unexhausted)
            << web << " at allocation " << k << ": " << r
            << " (without running out: " << unexhausted << ")";
        expect_no_leak();
        if (HasFailure()) return;
        // Still usable: a script runs, the web saves and reopens.
        ui.console.clear();
        settings_set_iterations(1); // the web's own settings may have changed them
        settings_set_auto_output(AUTO_NONE);
        settings_set_output_dest(OUT_SCREEN);
        cell_set_script(cell_root(), "out(1 + 1)");
        EXPECT_EQ(run_again(), 0);
        EXPECT_TRUE(ui.console == "2" || ui.console == "2.000") << web << " at allocation " << k;
        std::string saved = (work / "saved.tvx").string();
        EXPECT_TRUE(web_save_as(saved.c_str()).done());
        EXPECT_EQ(open_web(saved), 0);
        EXPECT_NE(cell_find("home"), 0);
        if (HasFailure()) return;
    }
    EXPECT_GT(exhausted, 0) << web << ": no injection point was reached";
}

INSTANTIATE_TEST_SUITE_P(Webs, Exhaustion, ::testing::ValuesIn(acceptance_webs()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             return fs::path(info.param).stem().string();
                         });

} // namespace
} // namespace tarvex::test
