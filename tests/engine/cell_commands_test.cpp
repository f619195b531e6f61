// The engine side of the cell commands (New Cell, Forward, go-to-name,
// Delete, Open, the cell-name box's list, Stop, Print), and the pane state a
// cell keeps for its panes.
#include "io_test_support.h"

#include "commands/cell_commands.h"
#include "core/errors.h"
#include "core/guard.h"
#include "core/value.h"
#include "io/keyboard_queue.h"
#include "script/run_engine.h"
#include "settings/settings.h"
#include "temp_files.h"
#include "web/navigation.h"
#include "web/pane_state.h"

#include <string>

namespace tarvex::test {
namespace {

const char* const EXISTS_LINKING = "Cell already exists, linking to it";

class CellCommandsTest : public IoTest {
  protected:
    void SetUp() override {
        IoTest::SetUp();
        cell_create("home");
        navigation_reset();
    }
    std::string cur() { return cell_name_string(current_cell()); }
    // Runs f while the input stream waits for a typed line, then ends the wait.
    template <class F> void while_waiting_for_input(F f) {
        settings_set_input_type(IN_KEYBOARD);
        bool done = false;
        ui.on_pump = [&] {
            if (!done) {
                done = true;
                ASSERT_TRUE(commands_locked_out());
                f();
            }
            keyboard_push(KEY_ESCAPE);
        };
        input_char();
        ui.on_pump = nullptr;
        input_close();
    }
};

// A pane state as {first line, selection start, selection end}.
std::vector<uint32_t> state(CellHandle c, CellField field) {
    PaneState s = pane_state_get(c, field);
    return {s.first_line, s.sel_start, s.sel_end};
}
using S = std::vector<uint32_t>;

TEST_F(CellCommandsTest, PaneStateStartsAtTheTopAndIsKeptPerField) {
    CellHandle c = cell_create("a");
    EXPECT_EQ(state(c, CF_SCRIPT_PANE), (S{1, 0, 0}));
    EXPECT_NE(cell_get(c, CF_SCRIPT_PANE), 0);
    EXPECT_EQ(cell_get(c, CF_TEXT_PANE), 0);

    pane_state_put(c, CF_TEXT_PANE, {7, 3, 9});
    pane_state_set_selection(c, CF_TEXT_PANE, 4, 5);
    EXPECT_EQ(state(c, CF_TEXT_PANE), (S{7, 4, 5}));
    EXPECT_EQ(state(c, CF_SCRIPT_PANE), (S{1, 0, 0}));

    // Setting the selection of a cell without a state creates it first.
    CellHandle b = cell_create("b");
    pane_state_set_selection(b, CF_SCRIPT_PANE, 2, 6);
    EXPECT_EQ(state(b, CF_SCRIPT_PANE), (S{1, 2, 6}));
}

TEST_F(CellCommandsTest, PaneStateGoesWithACloneAndAwayWithTheCell) {
    CellHandle a = cell_create("a");
    visit_new(a);
    pane_state_put(a, CF_SCRIPT_PANE, {2, 10, 12});
    CellHandle b = cell_clone("b");
    ASSERT_NE(b, 0);
    EXPECT_NE(cell_get(b, CF_SCRIPT_PANE), cell_get(a, CF_SCRIPT_PANE));
    pane_state_set_selection(a, CF_SCRIPT_PANE, 0, 0);
    EXPECT_EQ(state(b, CF_SCRIPT_PANE), (S{2, 10, 12}));
    cell_delete(a); // its states are freed: the leak check at the end sees it
}

TEST_F(CellCommandsTest, NewCellFromTheBox) {
    new_cell_from_box("fresh");
    EXPECT_EQ(cur(), "fresh");
    EXPECT_TRUE(web_modified());

    // An existing or invalid name asks; the dialog's answer decides.
    ui.cell_names = {"other"};
    new_cell_from_box("home");
    EXPECT_EQ(cur(), "other");
    ui.cell_names = {"fresh"};
    new_cell_from_box("1bad");
    EXPECT_EQ(cur(), "fresh");
    EXPECT_EQ(last_flash(), EXISTS_LINKING);
    new_cell_from_box("home"); // dialog cancelled
    EXPECT_EQ(cur(), "fresh");

    // The dialog takes at most the typed limit.
    std::string typed = "n" + std::string(CELL_NAME_MAX + 10, 'x');
    ui.cell_names = {typed};
    new_cell_asking();
    EXPECT_EQ(cur(), typed.substr(0, CELL_NAME_TYPED_MAX));
}

TEST_F(CellCommandsTest, NewCellFromASelection) {
    new_cell_from_selection("  9abc_def__ ");
    EXPECT_EQ(cur(), "abc_def");
    new_cell_from_selection("___");
    EXPECT_EQ(last_flash(), "Invalid Cellname");
    new_cell_from_selection("a b");
    EXPECT_EQ(last_flash(), "Invalid Cellname");
    EXPECT_EQ(cell_find("a"), 0);
    ui.flashes.clear();
    new_cell_from_selection("home");
    EXPECT_EQ(cur(), "home");
    EXPECT_EQ(last_flash(), EXISTS_LINKING);
    // Nothing selected asks.
    ui.cell_names = {"asked"};
    new_cell_from_selection("");
    EXPECT_EQ(cur(), "asked");
}

TEST_F(CellCommandsTest, ForwardFromTheBox) {
    visit_new(cell_create("p"));
    go_back();
    EXPECT_EQ(cur(), "home");

    // A name, whether the box took it, and the cell current then; the
    // current name goes forward.
    for (auto [name, taken, now] : {std::tuple{"_x", false, "home"},
                                    {"HOME", true, "p"},
                                    {"home", true, "home"},
                                    {"made", true, "made"}}) {
        EXPECT_EQ(forward_from_box(name), taken) << name;
        EXPECT_EQ(cur(), now) << name;
    }
    EXPECT_EQ(ui.boxes.size(), 0u); // created without a question
}

TEST_F(CellCommandsTest, ForwardFromASelection) {
    visit_new(cell_create("p"));
    go_back();
    forward_from_selection("");
    EXPECT_EQ(cur(), "p");
    forward_from_selection(" home ");
    EXPECT_EQ(cur(), "home");
    go_back();
    EXPECT_EQ(cur(), "p");
    forward_from_selection("__"); // normalises to nothing: forward
    EXPECT_EQ(cur(), "home");
    forward_from_selection("a-b");
    EXPECT_EQ(last_flash(), "Invalid Cellname");
    EXPECT_EQ(cur(), "home");

    // A missing name is offered for creation.
    settings_set_ask_before_create(1);
    ui.answers = {false};
    forward_from_selection("missing");
    EXPECT_EQ(cell_find("missing"), 0);
    ui.answers = {true};
    forward_from_selection("missing");
    EXPECT_EQ(cur(), "missing");
}

TEST_F(CellCommandsTest, ForwardCreatesNothingWhileLockedOut) {
    cell_create("there");
    EXPECT_FALSE(commands_locked_out());
    while_waiting_for_input([&] { // which checks the lock-out inside the wait
        EXPECT_TRUE(forward_from_box("nowhere"));
        forward_from_selection("nowhere2");
        EXPECT_EQ(cell_find("nowhere"), 0);
        EXPECT_EQ(cell_find("nowhere2"), 0);
        EXPECT_EQ(last_flash(), LOCKED_OUT_TEXT);
        // Going to a cell that exists is still allowed.
        forward_from_box("there");
        EXPECT_EQ(cur(), "there");
    });
    EXPECT_FALSE(commands_locked_out());
}

TEST_F(CellCommandsTest, GoToName) {
    EXPECT_FALSE(go_to_name_from_box("9"));
    EXPECT_EQ(last_flash(), "Invalid cellname");
    EXPECT_TRUE(go_to_name_from_box("q"));
    EXPECT_EQ(cur(), "q");
    EXPECT_TRUE(go_to_name_from_box("home"));
    EXPECT_EQ(cur(), "home");
    int loads = ui.loads;
    EXPECT_TRUE(go_to_name_from_box("Home")); // the current cell: nothing
    EXPECT_EQ(ui.loads, loads);
}

TEST_F(CellCommandsTest, DeleteRefusesHomeAndAsksFirst) {
    EXPECT_FALSE(delete_current_cell());
    EXPECT_EQ(last_flash(), "Can't Delete Home");
    EXPECT_TRUE(ui.boxes.empty());
    visit_new(cell_create("gone"));
    web_set_modified(false);
    ui.answers = {false};
    EXPECT_FALSE(delete_current_cell());
    EXPECT_EQ(cur(), "gone");
    EXPECT_FALSE(web_modified());
    ui.answers = {true};
    EXPECT_TRUE(delete_current_cell());
    EXPECT_EQ(cell_find("gone"), 0);
    EXPECT_EQ(ui.boxes.back().text, "Delete current cell?");
    EXPECT_EQ(ui.list_removes, 1);
    EXPECT_TRUE(web_modified());
}

TEST_F(CellCommandsTest, OpenTellsWhetherTheOldWebIsGone) {
    TempDir dir("tarvex-open");
    put_file(dir.file("good.tvx"), "<cname>home</cname><cname>b</cname></eof>");
    put_file(dir.file("bad.tvx"), "<cname>b</cname><cname> home</cname></eof>");
    put_file(dir.file("none.tvx"), "no web here");
    const struct {
        const char* file;
        bool gone;
    } cases[] = {{"", false},
                 {"missing.tvx", false},
                 {"none.tvx", false},
                 {"bad.tvx", true},
                 {"good.tvx", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        CellHandle old = cell_find("old") ? cell_find("old") : cell_create("old");
        visit_new(old);
        web_set_modified(false);
        std::string name = *c.file ? dir.file(c.file) : "";
        WebOutcome opened;
        EXPECT_EQ(open_web_command(*c.file ? name.c_str() : nullptr, opened), c.gone);
        EXPECT_EQ(cell_find("old") == 0, c.gone);
        if (c.gone) {
            EXPECT_EQ(cur(), "home");
            EXPECT_EQ(back_count(), 0);
        }
    }
    web_new(); // the folder goes: the web must not be named in it
}

TEST_F(CellCommandsTest, StartupOpensTheFileOrStartsANewWeb) {
    TempDir dir("tarvex-start");
    put_file(dir.file("w.tvx"), "<cname>home</cname><cname>kept</cname></eof>");
    EXPECT_TRUE(open_startup_web(dir.file("w.tvx")));
    EXPECT_NE(cell_find("kept"), 0);
    web_set_modified(false);
    for (const std::string& name : {std::string(), dir.file("missing.tvx")}) {
        EXPECT_FALSE(open_startup_web(name));
        EXPECT_EQ(cell_find("kept"), 0);
        EXPECT_EQ(cur(), "home");
        EXPECT_EQ(web_file_name(), "");
    }
}

TEST_F(CellCommandsTest, NameBoxListsTheTrailOrTheCallStack) {
    EXPECT_EQ(name_box_list(), std::vector<std::string>{"home"});
    visit_new(cell_create("a"));
    visit_new(cell_create("b"));
    EXPECT_EQ(name_box_list(), (std::vector<std::string>{"b", "a", "home"}));
    name_box_picked("home");
    EXPECT_EQ(cur(), "home");
    EXPECT_EQ(back_count(), 0);
    make_current(cell_find("b"));
    EXPECT_EQ(name_box_list(), (std::vector<std::string>{"b", "home"})); // the trail misses home

    // Paused: the stack from the top, a name repeated in a row once; a
    // pick makes that level current.
    cell_set_script(cell_find("a"), "brk(0)");
    cell_set_script(cell_find("b"), "a! a!");
    cell_set_script(cell_find("home"), "b!");
    std::vector<std::string> listed;
    std::string picked;
    ui.on_pump = [&] {
        listed = name_box_list();
        name_box_picked("b");
        picked = cur();
        run_set_resume_request(true);
    };
    make_current(cell_find("home"));
    engine_guard([] { return run_command(true); });
    ui.on_pump = nullptr;
    EXPECT_EQ(listed, (std::vector<std::string>{"a", "b", "home"}));
    EXPECT_EQ(picked, "b");
}

TEST_F(CellCommandsTest, StopEndsAnInputWaitElseTheRun) {
    while_waiting_for_input([] {
        stop_command();
        EXPECT_FALSE(run_stop_request());
    });
    stop_command();
    EXPECT_TRUE(run_stop_request());
    run_set_stop_request(false);
}

TEST_F(CellCommandsTest, PrintWritesOneFieldAndKeepsTheOutputSettingOrWaitsForTheOutput) {
    CellHandle c = cell_create("c");
    cell_set_text(c, "the text");
    cell_set_script(c, "out(1)");
    cell_set_value_text(c, "forty");
    settings_set_output_dest(OUT_FILE);
    web_set_modified(false);

    for (auto [view, shown] : {std::pair{VIEW_TEXT, "the text"}, std::pair{VIEW_SCRIPT, "out(1)"},
                               std::pair{VIEW_VALUE, "forty"}}) {
        EXPECT_EQ(print_cell_field(c, view), 0);
        EXPECT_EQ(ui.console, shown);
    }
    EXPECT_EQ(settings_output_dest(), OUT_FILE);
    EXPECT_FALSE(output_is_open());
    EXPECT_FALSE(web_modified()); // the borrowed setting is no edit of the web

    // While the output is open a print changes nothing.
    settings_set_output_dest(OUT_SCREEN);
    ASSERT_EQ(output_open(), 0);
    output_text("run");
    EXPECT_EQ(print_cell_field(c, VIEW_TEXT), SE_OUTPUT_IN_USE);
    EXPECT_EQ(settings_output_dest(), OUT_SCREEN);
    output_close();
    EXPECT_EQ(ui.console, "run");
}

} // namespace
} // namespace tarvex::test
