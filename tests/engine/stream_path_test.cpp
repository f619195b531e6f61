// Where a web's stream files may be: beside the web, never outside its
// folder unless the user allowed the path; and a refused name touches
// nothing.
#include "io_test_support.h"

#include "core/guard.h"
#include "io/stream_path.h"
#include "script/run_engine.h"
#include "web/cell.h"
#include "web/navigation.h"
#include "webfile/settings.h"
#include "webfile/web_file.h"

#include <filesystem>
#include <string>
#include <vector>

namespace tarvex::test {
namespace {

namespace fs = std::filesystem;
using V = std::vector<std::string>;

// A web saved in dir/webs, with a file beside the folder that no web
// should be able to reach.
class StreamPathTest : public IoTest {
  protected:
    void SetUp() override {
        IoTest::SetUp();
        ui.allow_paths = false;
        fs::create_directories(dir.path() / "webs");
        put_file(dir.file("victim.txt"), "keep");
        web_start_fresh();
        ASSERT_TRUE(web_save_as(webs("w.tvx").c_str()).done());
        ui.flashes.clear();
        settings_set_output_dest(OUT_FILE);
        settings_set_input_type(IN_FILE);
    }
    void TearDown() override {
        streams_reset();
        web_set_modified(false);
        web_new(); // untitled again, for the tests that follow
        IoTest::TearDown();
    }
    std::string webs(const std::string& name) const { return dir.file("webs/" + name); }
    int open_output(const std::string& name) {
        output_close();
        settings_set_output_name(name.c_str());
        return output_open();
    }

    TempDir dir;
};

TEST_F(StreamPathTest, RelativeNamesResolveBesideTheWeb) {
    ASSERT_NE(fs::current_path(), dir.path() / "webs");
    EXPECT_EQ(stream_base_folder(), (dir.path() / "webs").string());
    EXPECT_EQ(open_output("result"), 0);
    output_text("7 8");
    EXPECT_EQ(output_close(), 0);
    EXPECT_EQ(file_bytes(webs("result.txt")), "7 8");
    EXPECT_EQ(output_file_name(), webs("result.txt"));
    // Down and back up stays inside.
    fs::create_directories(dir.path() / "webs/sub");
    EXPECT_EQ(open_output("sub/../sub/deeper"), 0);
    EXPECT_EQ(output_close(), 0);
    EXPECT_TRUE(fs::exists(webs("sub/deeper.txt")));
    // Input the same way.
    settings_set_input_name("result");
    EXPECT_EQ(take_values(3), (V{"num:7", "num:8", "none"}));
    EXPECT_TRUE(ui.paths_asked.empty());
    EXPECT_EQ(ui.flashes, V{"End Of File on Input"});
}

TEST_F(StreamPathTest, NamesLeavingTheFolderAreRefusedAndTouchNothing) {
    fs::create_symlink(dir.file("victim.txt"), webs("link.txt"));
    fs::create_symlink(dir.path(), webs("up"));
    fs::create_symlink(dir.file("created.txt"), webs("dangling.txt"));
    struct Case {
        std::string name, path, reason;
    } cases[] = {
        {"../victim", dir.file("victim.txt"), "outside the web's folder, not allowed"},
        {"nosuch/../../victim.txt", dir.file("victim.txt"),
         "outside the web's folder, not allowed"},
        {"link.txt", dir.file("victim.txt"), "outside the web's folder, not allowed"},
        {"up/victim.txt", dir.file("victim.txt"), "outside the web's folder, not allowed"},
        {dir.file("victim.txt"), dir.file("victim.txt"), "absolute name not allowed"},
        // Absolute is refused even when it names a file beside the web.
        {webs("mine.txt"), webs("mine.txt"), "absolute name not allowed"},
    };
    for (const Case& c : cases) {
        ui.flashes.clear();
        ui.paths_asked.clear();
        EXPECT_EQ(open_output(c.name), SE_OPEN_OUTPUT) << c.name;
        EXPECT_EQ(output_text("x"), SE_OPEN_OUTPUT);
        EXPECT_FALSE(output_is_open());
        EXPECT_EQ(ui.flashes, V{"UNABLE TO OPEN OUTPUT FILE (" + c.reason + "): " + c.path})
            << c.name;
        EXPECT_EQ(ui.paths_asked, V{c.path});
    }
    EXPECT_EQ(file_bytes(dir.file("victim.txt")), "keep");
    EXPECT_FALSE(fs::exists(webs("mine.txt")));
    // A link that leads nowhere yet is not followed to create its target.
    ui.flashes.clear();
    EXPECT_EQ(open_output("dangling.txt"), SE_OPEN_OUTPUT);
    EXPECT_FALSE(fs::exists(dir.file("created.txt")));
    ASSERT_EQ(ui.flashes.size(), 1u);
    EXPECT_NE(ui.flashes[0].find(webs("dangling.txt")), std::string::npos);

    // Allowed by the user: written.
    ui.allow_paths = true;
    EXPECT_EQ(open_output(dir.file("victim.txt")), 0);
    output_text("replaced");
    EXPECT_EQ(output_close(), 0);
    EXPECT_EQ(file_bytes(dir.file("victim.txt")), "replaced");
}

TEST_F(StreamPathTest, RefusedInputGivesNoValue) {
    put_file(dir.file("victim.txt"), "42");
    settings_set_input_name("../victim.txt");
    EXPECT_EQ(take_value(), "none");
    EXPECT_EQ(ui.flashes, (V{"UNABLE TO OPEN INPUT FILE (outside the web's folder, not allowed): " +
                                 dir.file("victim.txt"),
                             "Unable to open input"}));
    input_close();
    ui.allow_paths = true;
    EXPECT_EQ(take_value(), "num:42");
}

TEST_F(StreamPathTest, RunThatNamesAFileOutsideEndsWithTheOpenFailure) {
    cell_set_script(cell_root(), "set outname '../victim' out('lost')");
    make_current(cell_root());
    int r = engine_guard([] { return run_command(false); });
    EXPECT_EQ(r, SE_CELL_IO_MEMORY); // the reopen after the new name failed
    EXPECT_EQ(file_bytes(dir.file("victim.txt")), "keep");
    // Shown once, though the run's error report tried to write as well.
    int shown = 0;
    for (const std::string& f : ui.flashes)
        shown += f.rfind("UNABLE TO OPEN OUTPUT FILE (outside", 0) == 0;
    EXPECT_EQ(shown, 1);

    // The next run shows it again.
    ui.flashes.clear();
    settings_set_output_name("../victim");
    cell_set_script(cell_root(), "out('lost')");
    r = engine_guard([] { return run_command(false); });
    EXPECT_NE(r, 0);
    ASSERT_FALSE(ui.flashes.empty());
    EXPECT_EQ(ui.flashes[0].rfind("UNABLE TO OPEN OUTPUT FILE (outside", 0), 0u);
    EXPECT_EQ(file_bytes(dir.file("victim.txt")), "keep");
}

TEST_F(StreamPathTest, UntitledWebsUseTheProcessFolderOrTheOneSet) {
    web_set_modified(false);
    web_new();
    EXPECT_EQ(stream_base_folder(), fs::current_path().string());
    settings_set_output_dest(OUT_FILE);
    stream_untitled_folder_set(dir.path().string());
    EXPECT_EQ(open_output("plain"), 0);
    EXPECT_EQ(output_close(), 0);
    stream_untitled_folder_set("");
    EXPECT_TRUE(fs::exists(dir.file("plain.txt")));
    EXPECT_EQ(stream_base_folder(), fs::current_path().string());
}

// The runner does not keep what it writes: a long run's memory stays flat.
TEST_F(IoTest, HeadlessFrontendWithoutRecordingStillCountsAndTells) {
    ui.record = false;
    std::string seen, told;
    ui.on_console = [&](std::string_view b) { seen.append(b); };
    ui.on_message = [&](const std::string& m) { told += m + ";"; };
    settings_set_output_dest(OUT_SCREEN);
    output_text("hello");
    output_close();
    status_flash("one");
    warn_box("two");
    EXPECT_EQ(seen, "hello");
    EXPECT_EQ(told, "one;two;");
    EXPECT_EQ(console_length(), 5);
    EXPECT_TRUE(ui.console.empty());
    EXPECT_TRUE(ui.flashes.empty());
    EXPECT_TRUE(ui.boxes.empty());
}

} // namespace
} // namespace tarvex::test
