// Web file commands: saving never loses the previous file, the save
// question's three answers, opening, names and titles.
#include "webfile_test_support.h"

#include "core/value.h"
#include "settings/settings.h"
#include "web/navigation.h"

#include "io/stream_path.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>

namespace tarvex::test {
namespace {

class WebSaveTest : public WebFileTest {
  protected:
    // A web whose file is bigger than a few write blocks.
    void make_web(const char* text) {
        for (int i = 0; i < 40; ++i) {
            std::string name = "cell" + std::to_string(i);
            CellHandle c = cell_create(name.c_str());
            cell_set_text(c, std::string(200, 'a' + i % 26) + text);
        }
        web_set_modified(true);
    }
    mode_t mode_of(const std::string& p) {
        struct stat st;
        return ::stat(p.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
    }
};

TEST_F(WebSaveTest, FailureAtEveryStepLeavesTheOldFile) {
    make_web("old");
    std::string target = path("web.tvx");
    ASSERT_TRUE(web_save_as(target.c_str()).done());
    ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
    const std::string old_bytes = file_bytes(target);
    ASSERT_GT(old_bytes.size(), 4u * 2048);

    cell_set_text(cell_find("cell3"), "changed");
    web_set_modified(true);
    int steps = 0;
    for (int n = 1; n < 100; ++n) {
        ui.flashes.clear();
        web_save_fail_at(n);
        int rc = web_save().code;
        if (rc == 0) {
            steps = n;
            break;
        }
        EXPECT_TRUE(rc == SE_OPEN_WEB || rc == SE_WRITE_WEB) << n;
        EXPECT_EQ(last_flash(),
                  rc == SE_OPEN_WEB ? "UNABLE TO OPEN WEB FILE" : "UNABLE TO WRITE TO WEB FILE");
        EXPECT_EQ(file_bytes(target), old_bytes) << n;
        EXPECT_EQ(listing(), "web.tvx ") << n;
        EXPECT_TRUE(web_modified());
    }
    // create, at least five blocks, sync, close, rename
    EXPECT_GT(steps, 8);
    EXPECT_EQ(web_save_steps(), steps - 1); // the injected step never came
    EXPECT_NE(file_bytes(target), old_bytes);
    EXPECT_NE(file_bytes(target).find("<text>changed</text>"), std::string::npos);
    EXPECT_EQ(mode_of(target), 0640u);
    EXPECT_FALSE(web_modified());
    EXPECT_EQ(listing(), "web.tvx ");
}

TEST_F(WebSaveTest, FailedSaveAsKeepsTheOldNameAndSaysNotSaved) {
    make_web("x");
    ASSERT_TRUE(web_save_as(path("first.tvx").c_str()).done());
    EXPECT_EQ(last_flash(), "Saved");
    web_save_fail_at(3);
    EXPECT_EQ(web_save_as(path("second.tvx").c_str()).code, SE_WRITE_WEB);
    EXPECT_EQ(last_flash(), "Not Saved");
    EXPECT_EQ(web_file_name(), path("first.tvx"));
    EXPECT_EQ(ui.titles.back(), "first");
    EXPECT_EQ(listing(), "first.tvx ");

    // The dialog: cancelled, then a name; it is offered the display name.
    web_save_fail_at(0);
    EXPECT_TRUE(web_save_as(nullptr).cancelled);
    EXPECT_EQ(ui.save_prefill, "first");
    ui.save_names.push_back(path("third.tvx"));
    EXPECT_TRUE(web_save_as("").done());
    EXPECT_EQ(web_file_name(), path("third.tvx"));
}

TEST_F(WebSaveTest, ReadOnlyOrOddTargetsAreRefused) {
    make_web("x");
    std::string target = path("ro.tvx");
    put_file(target, "precious");
    ASSERT_EQ(::chmod(target.c_str(), 0444), 0);
    EXPECT_EQ(web_save_as(target.c_str()).code, SE_OPEN_WEB);
    EXPECT_EQ(ui.flashes[ui.flashes.size() - 2], "UNABLE TO OPEN WEB FILE");
    EXPECT_EQ(last_flash(), "Not Saved");
    EXPECT_EQ(file_bytes(target), "precious");
    EXPECT_EQ(mode_of(target), 0444u);

    std::filesystem::create_directory(path("folder"));
    EXPECT_EQ(web_save_as(path("folder").c_str()).code, SE_OPEN_WEB);
    EXPECT_EQ(web_save_as(path("missing/x.tvx").c_str()).code, SE_OPEN_WEB);
    EXPECT_EQ(web_save_as((path("") + std::string(300, 'n')).c_str()).code, SE_OPEN_WEB);
    EXPECT_EQ(listing(), "folder ro.tvx ");
    EXPECT_TRUE(web_modified());
}

TEST_F(WebSaveTest, SymbolicLinkKeepsPointingAtTheSavedFile) {
    std::filesystem::create_directory(path("real"));
    std::string real = path("real/web.tvx");
    put_file(real, "<cname>home</cname><text>before</text>");
    ASSERT_EQ(::chmod(real.c_str(), 0604), 0);
    std::filesystem::create_symlink("real/web.tvx", path("link.tvx"));
    ASSERT_TRUE(web_open(path("link.tvx").c_str()).done());
    cell_set_text(cell_find("home"), "after");
    ASSERT_TRUE(web_save().done());
    EXPECT_TRUE(std::filesystem::is_symlink(path("link.tvx")));
    EXPECT_NE(file_bytes(real).find("<text>after</text>"), std::string::npos);
    EXPECT_EQ(mode_of(real), 0604u);
    EXPECT_EQ(listing(), "link.tvx real ");
    EXPECT_EQ(listing(path("real")), "web.tvx ");

    // A dangling link names the file to create.
    std::filesystem::create_symlink("real/new.tvx", path("dangling.tvx"));
    EXPECT_TRUE(web_save_as(path("dangling.tvx").c_str()).done());
    EXPECT_TRUE(std::filesystem::is_symlink(path("dangling.tvx")));
    EXPECT_NE(file_bytes(path("real/new.tvx")).find("<text>after</text>"), std::string::npos);
}

TEST_F(WebSaveTest, SavingNeedsNoNodesAndChangesNothing) {
    make_web("x");
    CellHandle c = cell_find("cell1");
    cell_set_value(c, value_new_number(1.0 / 3.0));
    std::string with_nodes = saved("a.tvx");
    uint16_t in_use = nodes_in_use();
    node_fail_after(0);
    EXPECT_TRUE(web_save_as(path("b.tvx").c_str()).done());
    node_fail_after(-1);
    EXPECT_EQ(file_bytes(path("b.tvx")), with_nodes);
    EXPECT_EQ(nodes_in_use(), in_use);
    EXPECT_EQ(value_text(cell_value(c)), 0);
    EXPECT_EQ(value_flags(cell_value(c)), 0);
}

TEST_F(WebSaveTest, SaveQuestionHasThreeAnswers) {
    make_web("x");
    // Cancel: nothing happens.
    ui.save_answers = {SAVE_CANCEL};
    EXPECT_TRUE(web_new().cancelled);
    EXPECT_NE(cell_find("cell1"), 0);
    EXPECT_EQ(ui.boxes.back().text, "Save current changes in (untitled)?");
    EXPECT_EQ(ui.boxes.back().kind, "yesnocancel");
    // Yes on an untitled web whose save dialog is cancelled: cancelled.
    ui.save_answers = {SAVE_YES};
    EXPECT_TRUE(web_new().cancelled);
    EXPECT_NE(cell_find("cell1"), 0);
    // Yes with a failing save: the failure is shown and the New stops.
    std::string ro = path("ro.tvx");
    put_file(ro, "keep");
    ::chmod(ro.c_str(), 0444);
    ui.save_answers = {SAVE_YES};
    ui.save_names = {ro};
    EXPECT_EQ(web_new().code, SE_OPEN_WEB);
    EXPECT_NE(cell_find("cell1"), 0);
    EXPECT_TRUE(web_modified());
    EXPECT_EQ(file_bytes(ro), "keep");
    // The question is asked before Open too, and Cancel leaves the web.
    put_file(path("other.tvx"), "<cname>other</cname>");
    ui.save_answers = {SAVE_CANCEL};
    EXPECT_TRUE(web_open(path("other.tvx").c_str()).cancelled);
    EXPECT_NE(cell_find("cell1"), 0);
    // Yes saves, then opens.
    ui.save_answers = {SAVE_YES};
    ui.save_names = {path("mine.web.tvx")};
    EXPECT_TRUE(web_open(path("other.tvx").c_str()).done());
    EXPECT_NE(cell_find("other"), 0);
    EXPECT_NE(file_bytes(path("mine.web.tvx")).find("<cname>cell1</cname>"), std::string::npos);
    // No goes on without saving; the question names the file.
    cell_set_text(cell_find("other"), "edited");
    web_set_modified(true);
    ui.save_answers = {SAVE_NO};
    EXPECT_TRUE(web_save_prompt().done());
    EXPECT_EQ(ui.boxes.back().text, "Save current changes in other?");
    ui.save_answers = {SAVE_NO};
    EXPECT_TRUE(web_new().done());
    EXPECT_EQ(cell_find("other"), 0);
    EXPECT_EQ(file_bytes(path("other.tvx")), "<cname>other</cname>");
    // An unmodified web is not asked about.
    size_t boxes = ui.boxes.size();
    EXPECT_TRUE(web_new().done());
    EXPECT_EQ(ui.boxes.size(), boxes);
}

TEST_F(WebSaveTest, OpenResetsTheWebWhateverTheReadGives) {
    web_add_reset_hook(count_reset);
    put_file(path("good.tvx"), "<ndec>4</ndec><cname>home</cname><cname>g</cname>");
    ASSERT_EQ(::chmod(path("good.tvx").c_str(), 0444), 0);
    int resets = g_resets;
    int layouts = ui.relayouts;
    ASSERT_TRUE(web_open(path("good.tvx").c_str()).done());
    EXPECT_EQ(g_resets, resets + 1);
    EXPECT_EQ(ui.relayouts, layouts + 1);
    EXPECT_EQ(web_file_name(), path("good.tvx"));
    EXPECT_EQ(ui.titles.back(), "good");
    EXPECT_EQ(current_cell(), cell_find("home"));
    EXPECT_FALSE(web_modified());
    EXPECT_EQ(file_bytes(path("good.tvx")), "<ndec>4</ndec><cname>home</cname><cname>g</cname>");

    // A file that cannot be opened leaves the web and its name alone.
    EXPECT_EQ(web_open(path("nothing.tvx").c_str()).code, SE_OPEN_WEB);
    EXPECT_EQ(last_flash(), "UNABLE TO OPEN WEB FILE");
    EXPECT_NE(cell_find("g"), 0);
    EXPECT_EQ(web_file_name(), path("good.tvx"));
    EXPECT_EQ(g_resets, resets + 1);

    // A read error (a regular file whose first read fails): the web is
    // replaced, reset and untitled.
    EXPECT_EQ(web_open("/proc/self/mem").code, SE_READ_WEB);
    EXPECT_EQ(last_flash(), "UNABLE TO READ FROM WEB FILE");
    EXPECT_EQ(cell_find("g"), 0);
    EXPECT_EQ(web_file_name(), "");
    EXPECT_EQ(ui.titles.back(), "");
    EXPECT_EQ(g_resets, resets + 2);
    EXPECT_EQ(settings_decimals(), 2);

    // The dialog: offered the current name, cancelled; quotes are dropped
    // from a given name.
    ASSERT_TRUE(web_open(path("good.tvx").c_str()).done());
    WebOutcome cancelled = web_open(nullptr);
    EXPECT_TRUE(cancelled.cancelled);
    EXPECT_EQ(cancelled.code, SE_OK); // the user's choice, not a failure
    EXPECT_FALSE(cancelled.done());
    EXPECT_EQ(ui.open_prefill, path("good.tvx"));
    EXPECT_TRUE(web_open(("\"" + path("good.tvx") + "\"").c_str()).done());
    ui.open_names = {path("good.tvx")};
    EXPECT_TRUE(web_open("").done());
}

// Runs f in a child process killed after a few seconds, so that a call
// that would hang fails the test instead of holding it up.
template <class F> void in_child_within_seconds(F f) {
    EXPECT_EXIT(
        {
            ::alarm(5);
            f();
            ::_exit(::testing::Test::HasFailure() ? 1 : 0);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(WebSaveTest, OnlyARegularFileOrATakenPipeOpensAsAWebAndNothingWaits) {
    ASSERT_EQ(open_bytes("<cname>mine</cname>", "mine.tvx"), 0);
    std::filesystem::create_directory(path("dir.tvx"));
    std::string fifo = path("fifo.tvx");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    in_child_within_seconds([&] {
        for (const std::string& name :
             {std::string("/dev/zero"), std::string("/dev/null"), path("dir.tvx"), fifo}) {
            EXPECT_EQ(web_open(name.c_str()).code, SE_WEB_NOT_FILE) << name;
            EXPECT_EQ(last_flash(), "Not a web file (a device, folder, socket or pipe)");
            EXPECT_NE(cell_find("mine"), 0) << name;
            EXPECT_EQ(web_file_name(), path("mine.tvx"));
        }
        // Where pipes are taken, a device still is not; a pipe's web is
        // untitled, and the writer may come after the open.
        web_open_pipes(true);
        EXPECT_EQ(web_open("/dev/zero").code, SE_WEB_NOT_FILE);
        if (::fork() == 0) {
            ::usleep(200 * 1000);
            put_file(fifo, "<cname>piped</cname>");
            ::_exit(0);
        }
        EXPECT_EQ(web_open(fifo.c_str()).code, 0);
        EXPECT_NE(cell_find("piped"), 0);
        EXPECT_EQ(web_file_name(), "");
        EXPECT_EQ(stream_base_folder(), std::filesystem::current_path().string());
        // A regular file named through a descriptor has no name of its own.
        int fd = ::open(path("mine.tvx").c_str(), O_RDONLY);
        EXPECT_EQ(web_open(("/dev/fd/" + std::to_string(fd)).c_str()).code, 0);
        EXPECT_NE(cell_find("mine"), 0);
        EXPECT_EQ(web_file_name(), "");
        ::close(fd);
    });
}

TEST_F(WebSaveTest, DisplayNames) {
    const std::pair<const char*, const char*> names[] = {
        {"/home/u/webs/Newton.v2.tvx", "Newton"},
        {"C:\\webs\\tour.tvx", "tour"},
        {"a:b", "b"},
        {"plain", "plain"},
        {"/dir.d/.hidden", ""},
        {"", ""},
    };
    for (const auto& [file, name] : names)
        EXPECT_EQ(web_display_name_of(file), name) << file;
    EXPECT_EQ(web_display_name(), "");
    EXPECT_EQ(ui.titles.back(), "");
}

} // namespace
} // namespace tarvex::test
