// Failure paths that users meet at the edges: read errors, output files
// that cannot be created or filled, the limits of scripts and names.
#include "engine_fixture.h"
#include "temp_files.h"

#include "builtins/builtins.h"
#include "core/errors.h"
#include "core/guard.h"
#include "core/value.h"
#include "io/input_stream.h"
#include "io/keyboard_queue.h"
#include "io/output_stream.h"
#include "script/run_engine.h"
#include "settings/settings.h"
#include "web/cell.h"
#include "web/navigation.h"
#include "webfile/web_file.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace tarvex::test {
namespace {

namespace fs = std::filesystem;

class Reliability : public EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        builtins_init();
        ui.on_pump = [] { keyboard_push(KEY_ESCAPE); };
        web_start_fresh();
    }
    void TearDown() override {
        streams_reset();
        EngineTest::TearDown();
    }
    bool flashed(const char* text) {
        for (const auto& f : ui.flashes)
            if (f == text) return true;
        return false;
    }
    TempDir tmp{"tarvex_rel"};
    const fs::path& dir = tmp.path();
};

// A file whose reads fail after a number of bytes.
struct FailingRead {
    std::string data;
    size_t pos = 0, fail_at = 0;
};

ssize_t failing_read(void* cookie, char* buf, size_t size) {
    auto* f = static_cast<FailingRead*>(cookie);
    if (f->pos >= f->fail_at) {
        errno = EIO;
        return -1;
    }
    size_t n = std::min(size, std::min(f->fail_at, f->data.size()) - f->pos);
    std::memcpy(buf, f->data.data() + f->pos, n);
    f->pos += n;
    return static_cast<ssize_t>(n);
}

TEST_F(Reliability, ReadErrorMidFileIsReported) {
    FailingRead source;
    for (int i = 0; i < 200; ++i)
        source.data +=
            "<cell><cname>c" + std::to_string(i) + "</cname><text>some text</text></cell>\n";
    source.fail_at = 3000; // past the first 2,048-byte block
    cookie_io_functions_t io{failing_read, nullptr, nullptr, nullptr};
    std::FILE* f = fopencookie(&source, "r", io);
    ASSERT_NE(f, nullptr);
    int r = engine_guard([&] { return web_read(f); });
    std::fclose(f);
    EXPECT_EQ(r, SE_READ_WEB);
    EXPECT_TRUE(flashed("UNABLE TO READ FROM WEB FILE"));
    EXPECT_NE(cell_find("home"), 0); // a usable web remains
    EXPECT_EQ(run_in_home("out(1 + 1)"), 0);
}

// An out statement that cannot write ends the run, the failure told once.
TEST_F(Reliability, OutputFileThatCannotBeMadeOrFilled) {
    ui.allow_paths = true; // absolute names: the places are impossible, not forbidden
    settings_set_output_dest(OUT_FILE);
    settings_set_output_name("/nonexistent/folder/out");
    EXPECT_EQ(run_in_home("out('lost')"), SE_OPERATION_ABORTED);
    EXPECT_TRUE(flashed("UNABLE TO OPEN OUTPUT FILE (No such file or directory): "
                        "/nonexistent/folder/out.txt"));
    settings_set_output_name((dir / "full.txt").c_str());
    FileSizeLimit disk(4096);
    EXPECT_NE(run_in_home("for (home = 1 to 3000) {out('a line of output\\n')}"), 0);
    EXPECT_TRUE(flashed("UNABLE TO WRITE TO WEB FILE"));
}

TEST_F(Reliability, ScriptAtTheLengthLimit) {
    // 4,095 characters run whole; one more and nothing of it runs, on every
    // run, not only the first after the edit.
    std::string script = "out('x')";
    script += std::string(4095 - script.size() - 6, ' ') + "out(1)";
    ASSERT_EQ(script.size(), 4095u);
    EXPECT_EQ(run_in_home(script), 0);
    EXPECT_EQ(ui.console, "x1");
    ui.console.clear();
    script += "2";
    EXPECT_EQ(run_in_home(script), SE_SCRIPT_TOO_LONG);
    EXPECT_EQ(ui.console,
              "\nSCRIPT ERROR\nScript too long (at most 4095 characters) IN CELL home\n");
    ui.console.clear();
    EXPECT_EQ(run_again(), SE_SCRIPT_TOO_LONG);
    EXPECT_EQ(ui.console.find('x'), std::string::npos);
    // A called cell too long to run stops its caller.
    CellHandle big = cell_create("big");
    cell_set_script(big, std::string(5000, ' ') + "out(3)");
    EXPECT_EQ(run_in_home("out('a') big! out('b')"), SE_SCRIPT_TOO_LONG);
    EXPECT_EQ(ui.console,
              "a\nSCRIPT ERROR\nScript too long (at most 4095 characters) IN CELL big\n");
}

// A file name in a script longer than a token keeps is refused, not cut;
// one of 255 bytes is taken.
TEST_F(Reliability, FileNamesTooLongAreRefusedNotCut) {
    ui.allow_paths = true; // absolute names in a scratch folder
    std::string fits = (dir / "out").string();
    settings_set_output_name(fits.c_str());
    settings_set_input_name(fits.c_str());
    settings_set_output_dest(OUT_FILE);
    std::string quoted = "'" + (dir / std::string(300, 'n')).string() + "'";
    EXPECT_EQ(run_in_home("set outname to " + quoted + " out(1)"), SE_NAME_TOO_LONG);
    EXPECT_EQ(run_in_home("set inname to " + quoted), SE_NAME_TOO_LONG);
    EXPECT_EQ(std::string(settings_output_name()), fits);
    EXPECT_EQ(std::string(settings_input_name()), fits);
    streams_reset();
    for (auto& e : fs::directory_iterator(dir)) // nothing under a name not given
        EXPECT_NE(e.path().filename().string()[0], 'n');
    std::string at_limit = (dir / "").string();
    at_limit += std::string(255 - at_limit.size(), 'm');
    EXPECT_EQ(run_in_home("set outname to '" + at_limit + "'"), 0);
    EXPECT_EQ(std::string(settings_output_name()), at_limit);
}

TEST_F(Reliability, NamesAtFortyEightCharacters) {
    std::string name = "n" + std::string(46, 'x') + "1";
    ASSERT_EQ(name.size(), 48u);
    ASSERT_NE(cell_create(name.c_str()), 0);
    EXPECT_EQ(run_in_home("set " + name + " to 5 out(" + name + " * 2)"), 0);
    EXPECT_EQ(ui.console, "10");
    std::string longer = name + "z";
    name_normalize(longer);
    EXPECT_EQ(longer, name);
}

} // namespace
} // namespace tarvex::test
