// Recovery copies: one name per web, written without touching the web or
// its file, replaced only by a complete copy, and read back under the web's
// own name.
#include "webfile_test_support.h"

#include "web/navigation.h"
#include "webfile/recovery.h"
#include "webfile/settings.h"

#include <optional>

#include <fcntl.h>
#include <sys/stat.h>

namespace tarvex::test {
namespace {

class RecoveryTest : public WebFileTest {
protected:
    void SetUp() override {
        WebFileTest::SetUp();
        for (const char* name : {"XDG_STATE_HOME", "HOME"}) {
            const char* v = std::getenv(name);
            saved_env_.emplace_back(name, v ? std::optional<std::string>(v) : std::nullopt);
        }
        setenv("XDG_STATE_HOME", path("state").c_str(), 1);
    }
    void TearDown() override {
        for (auto& [name, value] : saved_env_) {
            if (value)
                setenv(name, value->c_str(), 1);
            else
                unsetenv(name);
        }
        WebFileTest::TearDown();
    }

    // A saved web of a few cells, then changed without saving.
    std::string changed_web() {
        std::string web = path("web.tvx");
        CellHandle c = cell_create("alpha");
        cell_set_text(c, "saved text");
        EXPECT_TRUE(web_save_as(web.c_str()).done());
        cell_set_text(c, "unsaved & <changed>");
        cell_create("beta");
        settings_set_iterations(7);
        web_set_modified(true);
        return web;
    }

    static std::string folder_listing(const std::string& folder) {
        std::string all;
        std::vector<std::string> names;
        for (auto& e : std::filesystem::directory_iterator(folder))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        for (auto& n : names) all += n + " ";
        return all;
    }

    std::vector<std::pair<const char*, std::optional<std::string>>> saved_env_;
};

TEST_F(RecoveryTest, CopiesLiveInTheStateFolderOneNamePerWeb) {
    EXPECT_EQ(recovery_folder(), path("state") + "/tarvex/recovery");
    EXPECT_EQ(recovery_path_of(""), path("state") + "/tarvex/recovery/untitled.tvx");

    std::string a = recovery_path_of(path("one/web.tvx"));
    std::string b = recovery_path_of(path("two/web.tvx"));
    EXPECT_NE(a, b);
    EXPECT_EQ(a.rfind(recovery_folder() + "/web-", 0), 0u) << a;
    // The same file however it is spelled.
    EXPECT_EQ(recovery_path_of(path("one/../one/./web.tvx")), a);
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(path("").c_str()), 0);
    std::string relative = recovery_path_of("one/web.tvx");
    ASSERT_EQ(chdir(cwd), 0);
    EXPECT_EQ(relative, a);

    // A long or odd file name still gives a short name of plain characters.
    std::string longer = recovery_path_of(path(std::string(200, 'x') + ".tvx"));
    EXPECT_LT(longer.substr(longer.rfind('/') + 1).size(), 80u);
    std::string odd = recovery_path_of(path("a \xc3\xa9;b.c.tvx"));
    EXPECT_EQ(odd.rfind(recovery_folder() + "/a____b-", 0), 0u) << odd;
    EXPECT_EQ(odd.size(), recovery_folder().size() + 1 + 6 + 1 + 16 + 4) << odd;

    // A relative XDG_STATE_HOME is ignored for the default under HOME.
    setenv("XDG_STATE_HOME", "relative/state", 1);
    setenv("HOME", path("home").c_str(), 1);
    EXPECT_EQ(recovery_folder(), path("home") + "/.local/state/tarvex/recovery");
    unsetenv("XDG_STATE_HOME");
    EXPECT_EQ(recovery_folder(), path("home") + "/.local/state/tarvex/recovery");
    expect_no_leak();
}

TEST_F(RecoveryTest, WritingLeavesTheWebAndItsFileAlone) {
    std::string web = changed_web();
    const std::string file_before = file_bytes(web);
    std::string copy = recovery_path_of(web);
    size_t titles = ui.titles.size();

    ASSERT_EQ(recovery_write(copy), 0);
    EXPECT_EQ(file_bytes(web), file_before);
    EXPECT_EQ(web_file_name(), web);
    EXPECT_TRUE(web_modified());
    EXPECT_EQ(ui.titles.size(), titles);
    EXPECT_EQ(listing(), "state web.tvx ");
    EXPECT_EQ(file_bytes(copy), recovery_snapshot());
    EXPECT_NE(file_bytes(copy).find("unsaved &amp; &lt;changed>"), std::string::npos);

    struct stat st;
    ASSERT_EQ(stat(recovery_folder().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(folder_listing(recovery_folder()), copy.substr(copy.rfind('/') + 1) + " ");
    expect_no_leak();
}

TEST_F(RecoveryTest, ReadingBringsBackTheChangesUnderTheWebsOwnName) {
    std::string web = changed_web();
    std::string copy = recovery_path_of(web);
    ASSERT_EQ(recovery_write(copy), 0);

    // The next start opens the saved file, then takes the copy.
    web_set_modified(false);
    ASSERT_TRUE(web_open(web.c_str()).done());
    EXPECT_EQ(cell_text_of("alpha"), "saved text");
    EXPECT_EQ(cell_find("beta"), 0);
    web_add_reset_hook(count_reset);
    g_resets = 0;
    size_t titles = ui.titles.size();

    ASSERT_EQ(recovery_read(copy), 0);
    EXPECT_EQ(cell_text_of("alpha"), "unsaved & <changed>");
    EXPECT_NE(cell_find("beta"), 0);
    EXPECT_EQ(settings_iterations(), 7u);
    EXPECT_EQ(web_file_name(), web);
    EXPECT_EQ(ui.titles.size(), titles);
    EXPECT_TRUE(web_modified());
    EXPECT_EQ(g_resets, 1);
    EXPECT_EQ(current_cell(), cell_find("home"));

    // Saving now writes the recovered web to its own file.
    ASSERT_TRUE(web_save().done());
    EXPECT_NE(file_bytes(web).find("unsaved &amp; &lt;changed>"), std::string::npos);
    expect_no_leak();
}

TEST_F(RecoveryTest, AFailedWriteKeepsThePreviousCopy) {
    std::string web = changed_web();
    for (int i = 0; i < 40; ++i) // a copy of several write blocks
        cell_set_text(cell_create(("bulk" + std::to_string(i)).c_str()), std::string(300, 'q'));
    std::string copy = recovery_path_of(web);
    ASSERT_EQ(recovery_write(copy), 0);
    const std::string old_copy = file_bytes(copy);
    const std::string folder = folder_listing(recovery_folder());

    cell_set_text(cell_find("alpha"), "newer");
    int steps = 0;
    for (int n = 1; n < 100; ++n) {
        web_save_fail_at(n);
        int rc = recovery_write(copy);
        if (rc == 0) {
            steps = n;
            break;
        }
        EXPECT_TRUE(rc == SE_OPEN_WEB || rc == SE_WRITE_WEB) << n;
        EXPECT_EQ(file_bytes(copy), old_copy) << n;
        EXPECT_EQ(folder_listing(recovery_folder()), folder) << n; // no temporary file left
        EXPECT_TRUE(web_modified());
    }
    EXPECT_GT(steps, 5);
    EXPECT_NE(file_bytes(copy).find("<text>newer</text>"), std::string::npos);
    EXPECT_TRUE(web_modified());
    expect_no_leak();
}

TEST_F(RecoveryTest, AMissingOrBadCopyIsReportedAndNotTakenForTheWeb) {
    std::string web = changed_web();
    std::string copy = recovery_path_of(web);
    EXPECT_EQ(recovery_read(copy), SE_OPEN_WEB);
    EXPECT_EQ(cell_text_of("alpha"), "unsaved & <changed>");
    EXPECT_TRUE(web_modified());

    ASSERT_EQ(recovery_write(copy), 0);
    put_file(copy, "<cell><cname> bad</cname></cell>");
    EXPECT_EQ(recovery_read(copy), SE_BAD_WEB_FILE);
    EXPECT_FALSE(web_modified());
    EXPECT_EQ(web_file_name(), web);

    recovery_remove(copy);
    recovery_remove(copy); // already gone
    EXPECT_FALSE(std::filesystem::exists(copy));
    EXPECT_EQ(recovery_write(""), SE_OPEN_WEB); // no folder to write to
    expect_no_leak();
}

TEST_F(RecoveryTest, OnlyACopyNewerThanTheWebFileIsOffered) {
    std::string web = changed_web();
    std::string copy = recovery_path_of(web);
    EXPECT_FALSE(recovery_newer(copy, web)); // no copy
    EXPECT_EQ(recovery_time(copy), 0);
    ASSERT_EQ(recovery_write(copy), 0);

    auto set_mtime = [](const std::string& p, time_t sec) {
        timespec times[2] = {{sec, 0}, {sec, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, p.c_str(), times, 0), 0);
    };
    set_mtime(web, 1'000'000);
    set_mtime(copy, 1'000'100);
    EXPECT_TRUE(recovery_newer(copy, web));
    EXPECT_EQ(recovery_time(copy), 1'000'100);
    set_mtime(copy, 1'000'000); // saved in the same instant: not newer
    EXPECT_FALSE(recovery_newer(copy, web));
    set_mtime(copy, 999'000);
    EXPECT_FALSE(recovery_newer(copy, web));
    // Untitled, or the web file is gone: any copy is worth offering.
    EXPECT_TRUE(recovery_newer(copy, ""));
    std::filesystem::remove(web);
    EXPECT_TRUE(recovery_newer(copy, web));
    expect_no_leak();
}

} // namespace
} // namespace tarvex::test
