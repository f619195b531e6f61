// Recovery copies: one key per web file however it is reached, one copy
// per instance, written private and sealed without touching the web or its
// file, replaced only by a complete copy, read back under the web's own name
// only when whole, and offered only once the instance that wrote it ended.
#include "webfile_test_support.h"

#include "settings/settings.h"
#include "web/navigation.h"
#include "webfile/recovery.h"

#include <optional>
#include <random>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

namespace tarvex::test {
namespace {

void set_mtime(const std::string& p, time_t sec) {
    timespec times[2] = {{sec, 0}, {sec, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, p.c_str(), times, 0), 0);
}

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

    std::vector<std::pair<const char*, std::optional<std::string>>> saved_env_;
};

TEST_F(RecoveryTest, CopiesLiveInTheStateFolderOneKeyPerWebFile) {
    EXPECT_EQ(recovery_folder(), path("state") + "/tarvex/recovery");
    const std::string mine = "." + recovery_instance() + ".tvx";
    EXPECT_EQ(recovery_path_of(""), path("state") + "/tarvex/recovery/untitled" + mine);

    std::filesystem::create_directories(path("one"));
    std::filesystem::create_directories(path("two"));
    put_file(path("one/web.tvx"), "");
    std::string a = recovery_key_of(path("one/web.tvx"));
    EXPECT_NE(a, recovery_key_of(path("two/web.tvx")));
    EXPECT_EQ(recovery_path_of(path("one/web.tvx")), recovery_folder() + "/" + a + mine);
    EXPECT_EQ(a.rfind("web-", 0), 0u) << a;

    // The same file however it is reached: spelled otherwise, relative,
    // through a linked folder (also for a file not yet written), or
    // through a link to the file itself.
    std::filesystem::create_directory_symlink(path("one"), path("alias"));
    std::filesystem::create_symlink(path("one/web.tvx"), path("two/link.tvx"));
    for (std::string same : {"one/../one/./web.tvx", "alias/web.tvx", "two/link.tvx"})
        EXPECT_EQ(recovery_key_of(path(same)), a) << same;
    EXPECT_EQ(recovery_key_of(path("alias/new.tvx")), recovery_key_of(path("one/new.tvx")));
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(path("alias").c_str()), 0);
    std::string relative = recovery_key_of("web.tvx");
    ASSERT_EQ(chdir(cwd), 0);
    EXPECT_EQ(relative, a);

    // A long or odd file name still gives a short key of plain characters.
    std::string longer = recovery_path_of(path(std::string(200, 'x') + ".tvx"));
    EXPECT_LT(longer.substr(longer.rfind('/') + 1).size(), 100u);
    std::string odd = recovery_key_of(path("a \xc3\xa9;b.c.tvx"));
    EXPECT_EQ(odd.rfind("a____b-", 0), 0u) << odd;
    EXPECT_EQ(odd.size(), 6 + 1 + 16u) << odd;

    // A relative XDG_STATE_HOME is ignored for the default under HOME.
    setenv("XDG_STATE_HOME", "relative/state", 1);
    setenv("HOME", path("home").c_str(), 1);
    EXPECT_EQ(recovery_folder(), path("home") + "/.local/state/tarvex/recovery");
    unsetenv("XDG_STATE_HOME");
    EXPECT_EQ(recovery_folder(), path("home") + "/.local/state/tarvex/recovery");
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
    // The web's bytes, then the seal line the reader never gets to.
    std::string snapshot = recovery_snapshot();
    EXPECT_EQ(file_bytes(copy).substr(0, snapshot.size()), snapshot);
    EXPECT_EQ(
        file_bytes(copy).find("\ntarvex-recovery-copy " + std::to_string(snapshot.size()) + " "),
        snapshot.size());
    EXPECT_NE(file_bytes(copy).find("unsaved &amp; &lt;changed>"), std::string::npos);
    EXPECT_EQ(recovery_check(copy), COPY_WHOLE);
    // The copy opened as a web is the web it holds.
    web_set_modified(false);
    ASSERT_TRUE(web_open(copy.c_str()).done());
    EXPECT_EQ(cell_text_of("alpha"), "unsaved & <changed>");
    EXPECT_EQ(listing(recovery_folder()),
              recovery_instance() + ".lock " + copy.substr(copy.rfind('/') + 1) + " ");
}

// Whatever the umask, and whatever a folder or copy made before had, the
// copy is the user's alone; a folder this writes is too.
TEST_F(RecoveryTest, CopiesArePrivateWhateverTheUmask) {
    struct Case {
        mode_t mask;
        int folder_before; // its mode, or -1: not there
        int copy_before;
    } cases[] = {{022, -1, -1},   {0, -1, -1},       {077, -1, -1},  {0277, -1, -1},
                 {022, 0755, -1}, {022, 0755, 0644}, {0, 0777, 0666}};
    std::string web = changed_web();
    for (const Case& c : cases) {
        std::filesystem::remove_all(path("state"));
        std::string copy = recovery_path_of(web);
        if (c.folder_before >= 0) {
            std::filesystem::create_directories(recovery_folder());
            ASSERT_EQ(chmod(recovery_folder().c_str(), mode_t(c.folder_before)), 0);
        }
        if (c.copy_before >= 0) {
            put_file(copy, "old");
            ASSERT_EQ(chmod(copy.c_str(), mode_t(c.copy_before)), 0);
        }
        mode_t saved = umask(c.mask);
        int rc = recovery_write(copy);
        umask(saved);
        ASSERT_EQ(rc, 0) << c.mask;
        struct stat st;
        ASSERT_EQ(stat(copy.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0600u) << c.mask << " " << c.copy_before;
        ASSERT_EQ(stat(recovery_folder().c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, c.folder_before >= 0 ? mode_t(c.folder_before) : 0700u)
            << c.mask;
        if (c.folder_before < 0) {
            ASSERT_EQ(stat(path("state").c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 07777, 0700u) << c.mask;
        }
        EXPECT_EQ(recovery_check(copy), COPY_WHOLE);
    }
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
}

TEST_F(RecoveryTest, AFailedWriteKeepsThePreviousCopy) {
    std::string web = changed_web();
    for (int i = 0; i < 40; ++i) // a copy of several write blocks
        cell_set_text(cell_create(("bulk" + std::to_string(i)).c_str()), std::string(300, 'q'));
    std::string copy = recovery_path_of(web);
    ASSERT_EQ(recovery_write(copy), 0);
    const std::string old_copy = file_bytes(copy);
    const std::string folder = listing(recovery_folder());

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
        EXPECT_EQ(listing(recovery_folder()), folder) << n; // no temporary file left
        EXPECT_TRUE(web_modified());
    }
    EXPECT_GT(steps, 5);
    EXPECT_NE(file_bytes(copy).find("<text>newer</text>"), std::string::npos);
    EXPECT_TRUE(web_modified());
}

TEST_F(RecoveryTest, OnlyAWholeCopyIsTakenForTheWeb) {
    std::string web = changed_web();
    std::string copy = recovery_path_of(web);
    EXPECT_EQ(recovery_read(copy), SE_OPEN_WEB);
    EXPECT_EQ(recovery_check(copy), COPY_NONE);
    EXPECT_EQ(cell_text_of("alpha"), "unsaved & <changed>");
    EXPECT_TRUE(web_modified());

    ASSERT_EQ(recovery_write(copy), 0);
    const std::string whole = file_bytes(copy);
    const size_t body = recovery_snapshot().size();
    std::mt19937 random(26);
    std::string noise(2000, '\0');
    for (char& ch : noise)
        ch = char(random());
    std::string flipped = whole;
    flipped[body / 2] ^= 0x20;
    std::string resealed = whole.substr(0, body / 2) + whole.substr(body);
    struct Case {
        const char* what;
        std::string bytes;
    } damaged[] = {
        {"random bytes", noise},
        {"cut in the web", whole.substr(0, body / 2)},
        {"cut before the seal", whole.substr(0, body)},
        {"cut in the seal", whole.substr(0, whole.size() - 3)},
        {"seal without its line end", whole.substr(0, whole.size() - 1)},
        {"a byte changed", flipped},
        {"a part missing under the old seal", resealed},
        {"bytes after the seal", whole + "x\n"},
        {"a web without a seal", "\n<cell>\n<cname>home</cname><text>t</text></cell></eof>"},
    };
    for (const Case& c : damaged) {
        put_file(copy, c.bytes);
        EXPECT_EQ(recovery_check(copy), COPY_DAMAGED) << c.what;
        EXPECT_EQ(recovery_read(copy), SE_BAD_WEB_FILE) << c.what;
        // The web is untouched.
        EXPECT_EQ(cell_text_of("alpha"), "unsaved & <changed>") << c.what;
        EXPECT_TRUE(web_modified()) << c.what;
    }
    put_file(copy, whole);
    EXPECT_EQ(recovery_check(copy), COPY_WHOLE);

    // Sealed, but no web: the reader's own refusal.
    put_file(path("bad.tvx"), "<cell><cname> bad</cname></cell>");
    web_set_modified(false);
    ASSERT_EQ(web_open(path("bad.tvx").c_str()).code, SE_BAD_WEB_FILE);
    ASSERT_TRUE(web_open(web.c_str()).done());
    const std::string bad = "<cell><cname> bad</cname></cell>";
    ASSERT_EQ(recovery_write(copy, bad), 0);
    EXPECT_EQ(recovery_check(copy), COPY_WHOLE);
    EXPECT_EQ(recovery_read(copy), SE_BAD_WEB_FILE);
    EXPECT_FALSE(web_modified());

    recovery_remove(copy);
    recovery_remove(copy); // already gone
    EXPECT_FALSE(std::filesystem::exists(copy));
    EXPECT_EQ(recovery_write(""), SE_OPEN_WEB); // no folder to write to
}

// Only copies of ended instances are found, whatever their age against the
// web file; a running one's stay untouched, damaged ones are set aside,
// empty ones (an instance ended before its first write) and lock files
// nobody needs go.
TEST_F(RecoveryTest, FindingGivesTheCopiesOfEndedInstancesOnly) {
    std::string web = changed_web();
    const std::string folder = recovery_folder();
    const std::string key = recovery_key_of(web);
    ASSERT_EQ(recovery_write(recovery_path_of(web)), 0); // this instance's
    const std::string whole = file_bytes(recovery_path_of(web));
    auto copy_of = [&](const std::string& k, const std::string& instance) {
        return folder + "/" + k + "." + instance + ".tvx";
    };
    // A running instance holds its lock; an ended one left its lock file,
    // or none (a pid no process has).
    put_file(folder + "/1-running.lock", "");
    int held = open((folder + "/1-running.lock").c_str(), O_RDONLY);
    ASSERT_EQ(flock(held, LOCK_EX), 0);
    put_file(folder + "/2-ended.lock", "");
    put_file(folder + "/3-ended.lock", ""); // no copies left
    struct Left {
        std::string name;
        std::string bytes;
        time_t time;
    } left[] = {
        {copy_of(key, "1-running"), whole, 3'000'000},
        {copy_of(key, "2-ended"), whole, 1'000'000}, // older than the web
        {copy_of(key, "99999999-gone"), whole, 2'000'000},
        {copy_of(key, "99999998-gone"), whole.substr(0, 100), 2'000'000},
        {copy_of(key, "99999997-gone"), "", 2'000'000},
        {copy_of(recovery_key_of(path("other.tvx")), "99999999-gone"), whole, 2'000'000},
    };
    for (const Left& l : left) {
        put_file(l.name, l.bytes);
        set_mtime(l.name, l.time);
    }
    set_mtime(web, 1'500'000);

    RecoveryFinds finds = recovery_find(web);
    EXPECT_EQ(finds.copies, (std::vector<std::string>{left[2].name, left[1].name}));
    EXPECT_EQ(finds.damaged, std::vector<std::string>{left[3].name + ".damaged"});
    EXPECT_EQ(file_bytes(left[3].name + ".damaged"), left[3].bytes);
    EXPECT_FALSE(recovery_newer(left[1].name, web)); // offered all the same
    for (const Left& l : left)
        EXPECT_EQ(std::filesystem::exists(l.name), &l != &left[3] && &l != &left[4]) << l.name;
    EXPECT_TRUE(std::filesystem::exists(recovery_path_of(web)));
    EXPECT_TRUE(std::filesystem::exists(folder + "/1-running.lock"));
    EXPECT_TRUE(std::filesystem::exists(folder + "/2-ended.lock"));
    EXPECT_FALSE(std::filesystem::exists(folder + "/3-ended.lock"));

    // A second damaged copy of the same name is kept beside the first; once
    // the running instance ends, its copy is found too.
    put_file(left[3].name, "damaged again");
    close(held);
    finds = recovery_find(web);
    EXPECT_EQ(finds.damaged, std::vector<std::string>{left[3].name + "-1.damaged"});
    EXPECT_EQ(finds.copies, (std::vector<std::string>{left[0].name, left[2].name, left[1].name}));
    EXPECT_EQ(recovery_read(finds.copies[0]), 0);
    EXPECT_EQ(cell_text_of("alpha"), "unsaved & <changed>");
}

TEST_F(RecoveryTest, ACopyIsToldNewerOrOlderThanTheWebFile) {
    std::string web = changed_web();
    std::string copy = recovery_path_of(web);
    EXPECT_FALSE(recovery_newer(copy, web)); // no copy
    EXPECT_EQ(recovery_time(copy), 0);
    ASSERT_EQ(recovery_write(copy), 0);

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
}

} // namespace
} // namespace tarvex::test
