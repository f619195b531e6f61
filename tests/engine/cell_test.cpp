// Cells: names, tree and table, deletion and re-creation, cloning, value
// histories and pane commits; the cell commands (New Cell, Forward, go-to,
// Delete, Open, the name box's list, Stop, Print) and the pane state a cell
// keeps; renaming a cell and its undo; the web modified mark, which follows
// what a save would record; and navigation: the visit rings, previous and
// next cell, and the text link lists with the pointer walks.
#include "io_test_support.h"
#include "webfile_test_support.h"

#include "builtins/builtins.h"
#include "commands/cell_commands.h"
#include "commands/rename_cell.h"
#include "core/errors.h"
#include "core/guard.h"
#include "core/value.h"
#include "io/keyboard_queue.h"
#include "lexer/lexer.h"
#include "reports/pointers.h"
#include "script/run_engine.h"
#include "settings/settings.h"
#include "tokens/token_list.h"
#include "web/cell.h"
#include "web/links.h"
#include "web/navigation.h"
#include "web/pane_state.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace tarvex::test {
namespace {

// A web of home alone, visited.
template <class Base> class WithHome : public Base {
  protected:
    void SetUp() override {
        Base::SetUp();
        cell_create("home");
        navigation_reset();
    }
    std::string cur() { return cell_name_string(current_cell()); }
};

class CellTest : public WithHome<EngineTest> {
  protected:
    std::vector<std::string> table() {
        std::vector<std::string> names;
        for (int i = 0; i < cell_table_count(); ++i)
            names.push_back(cell_name_string(cell_table_at(i)));
        return names;
    }
    std::string value_of(CellHandle c) { return value_display(cell_value(c)); }
};

TEST_F(CellTest, NamesNormaliseAndValidate) {
    for (const char* bad : {"a_", "_a", "1a", "", "a b"})
        EXPECT_FALSE(name_is_valid(bad)) << bad;
    for (const char* good : {"a1", "x_y", "Z"})
        EXPECT_TRUE(name_is_valid(good)) << good;
    auto normalized = [](std::string s) {
        name_normalize(s);
        return s;
    };
    EXPECT_EQ(normalized("  _a_ "), "a");
    // Cut to 48, then the trailing '_' goes.
    EXPECT_EQ(normalized(std::string(47, 'b') + "_cdefghijkl"), std::string(47, 'b'));
    EXPECT_EQ(normalized("123"), "");
}

TEST_F(CellTest, TableFollowsNameOrderAndMarksScriptsForRelexing) {
    CellHandle k = cell_create("k");
    CellHandle p = cell_create("p");
    EXPECT_EQ(table(), (std::vector<std::string>{"home", "k", "p"}));
    EXPECT_EQ(cell_table_index_of(p), 2);
    cell_take_script_changed(p);
    cell_take_script_changed(k);
    cell_create("m");
    EXPECT_EQ(cell_table_index_of(p), 3);
    EXPECT_TRUE(cell_take_script_changed(p));
    EXPECT_TRUE(cell_take_script_changed(k));
    EXPECT_FALSE(cell_take_script_changed(k));
    EXPECT_EQ(cell_find("PRICE"), 0);
    CellHandle price = cell_create("Price");
    EXPECT_EQ(cell_find("PRICE"), price);
    EXPECT_EQ(cell_create("price"), 0);
    CellHandle my = cell_create("my_cell");
    EXPECT_EQ(cell_find("my cell"), my);
    EXPECT_EQ(cell_table_at(-1), 0);
    EXPECT_EQ(cell_table_at(cell_table_count()), 0);
    EXPECT_EQ(cell_table_at(999), 0);
    EXPECT_EQ(cell_table_index_of(0), -1);
    EXPECT_TRUE(cell_is_home(cell_root()));
    cell_delete(cell_root()); // home is never deleted
    EXPECT_NE(cell_find("home"), 0);
}

TEST_F(CellTest, DeleteReleasesEverythingAndReusesTheEntry) {
    CellHandle a = cell_create("alpha");
    cell_create("beta");
    cell_set_text(a, "a text naming beta");
    cell_set_script(a, "set x = 1");
    cell_set_value(a, value_new_number(5));
    text_links_get(a);
    make_current(a);
    cell_delete(a);
    EXPECT_EQ(cell_find("alpha"), 0);
    EXPECT_EQ(current_cell(), cell_root()); // previous in name order
    EXPECT_EQ(table(), (std::vector<std::string>{"beta", "home"}));
    CellHandle again = cell_create("ALPHA");
    EXPECT_EQ(again, a); // same entry, empty cell
    EXPECT_EQ(cell_text(again), 0);
    EXPECT_EQ(cell_value(again), 0);
    EXPECT_EQ(cell_name_string(again), "alpha");
    // Deleting the first cell wraps to the last.
    make_current(again);
    cell_delete(again);
    EXPECT_EQ(cell_name_string(current_cell()), "home");
}

// A cell past the table is made; the status line names the cell scripts
// lost (the new one, or the one it pushed out) once a web.
TEST_F(CellTest, CellsPastTheTableAreMadeAndSaidOnceAWeb) {
    auto fill = [] {
        for (int i = 1; i < CELL_TABLE_SIZE; ++i) {
            char name[16];
            std::snprintf(name, sizeof name, "c%03d", i);
            ASSERT_NE(cell_create(name), 0) << name;
        }
    };
    const std::string why = ": only the first 256 cells in name order can be named in scripts; a "
                            "larger store lifts this";
    fill();
    EXPECT_EQ(cell_table_count(), CELL_TABLE_SIZE);
    EXPECT_TRUE(ui.flashes.empty()); // a full table is no news
    ASSERT_NE(cell_create("a_first"), 0);
    EXPECT_EQ(cell_table_index_of(cell_root()), -1);
    ASSERT_EQ(ui.flashes.size(), 1u);
    EXPECT_EQ(last_flash(), "home" + why);
    CellHandle extra = cell_create("zzz");
    ASSERT_NE(extra, 0);
    EXPECT_EQ(ui.flashes.size(), 1u);
    EXPECT_EQ(cell_table_count(), CELL_TABLE_SIZE);
    EXPECT_EQ(cell_table_index_of(extra), -1);
    cell_set_text(cell_root(), "zzz c001");
    TokenList links = text_links_get(cell_root());
    tokens_first(links);
    EXPECT_EQ(token_kind(tokens_current(links)), CELLNAME); // c001 only: zzz is past the table
    EXPECT_EQ(token_kind(tokens_next(links)), END_OF_FILE);

    web_clear();
    cell_create("home");
    navigation_reset();
    fill();
    ASSERT_NE(cell_create("one_too_many"), 0);
    ASSERT_EQ(ui.flashes.size(), 2u);
    EXPECT_EQ(last_flash(), "one_too_many" + why);
}

TEST_F(CellTest, ValueHistoryKeepsDepthEarlierValues) {
    CellHandle c = cell_create("v");
    cell_set_history_depth(c, 2);
    for (int i = 1; i <= 4; ++i)
        cell_set_value(c, value_new_number(i));
    std::vector<double> got;
    for (NodeHandle v = cell_value(c); v; v = chain_next(v))
        got.push_back(value_number(v));
    EXPECT_EQ(got, (std::vector<double>{4, 3, 2}));
    cell_histories_reset();
    EXPECT_EQ(chain_next(cell_value(c)), 0);
    EXPECT_EQ(cell_history_depth(c), 0);
    cell_set_value(c, value_new_number(9));
    EXPECT_EQ(value_of(c), "9");
}

TEST_F(CellTest, PaneCommitsReplaceFieldsAndClassifyValues) {
    CellHandle c = cell_create("c");
    cell_set_value_text(c, "  -4.50");
    EXPECT_EQ(value_kind(cell_value(c)), VK_NUMBER);
    EXPECT_EQ(value_number(cell_value(c)), -4.5);
    EXPECT_EQ(value_of(c), "  -4.50"); // the typed text is kept as it was
    cell_set_value_text(c, "x1");
    EXPECT_EQ(value_kind(cell_value(c)), VK_STRING);
    cell_set_value_text(c, "");
    EXPECT_EQ(cell_value(c), 0);
    cell_set_script(c, "out(1)");
    EXPECT_TRUE(cell_take_script_changed(c));
    EXPECT_EQ(text_to_string(cell_script(c)), "out(1)");
    cell_set_text(c, "home");
    TokenList first = text_links_get(c);
    EXPECT_NE(first, 0);
    cell_set_text(c, "");
    EXPECT_EQ(cell_get(c, CF_TEXT_LINKS), 0); // discarded with the old text
    EXPECT_EQ(cell_text(c), 0);
}

TEST_F(CellTest, CloneCopiesFieldsAndVisits) {
    CellHandle src = cell_create("src");
    visit_new(src);
    cell_set_text(src, "text");
    cell_set_script(src, "script");
    cell_set_history_depth(src, 1);
    cell_set_value(src, value_new_number(1));
    cell_set_value(src, value_new_number(2));
    CellHandle copy = cell_clone("dst");
    ASSERT_NE(copy, 0);
    EXPECT_EQ(current_cell(), copy);
    EXPECT_EQ(text_to_string(cell_text(copy)), "text");
    EXPECT_NE(cell_text(copy), cell_text(src));
    EXPECT_EQ(value_number(chain_next(cell_value(copy))), 1);
    EXPECT_EQ(cell_history_depth(copy), 0);
    EXPECT_TRUE(web_modified());
    back_iterate_start();
    EXPECT_EQ(back_iterate_next(), src);
}

TEST_F(CellTest, CommandsAskWithTheExactTexts) {
    ui.cell_names.push_back("  _new_cell_");
    EXPECT_EQ(ui.boxes.size(), 0u);
    CellHandle c = cell_new_command(nullptr);
    ASSERT_NE(c, 0);
    EXPECT_EQ(cell_name_string(c), "new_cell");
    EXPECT_EQ(current_cell(), c);
    EXPECT_TRUE(web_modified());

    cell_new_command("new_cell"); // exists: asked, answered No
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, "Cell already exists, go there?");

    cell_new_command("_");
    EXPECT_EQ(ui.boxes.back().text, "Bad cell name supplied");
    ui.cell_names.push_back("two words");
    EXPECT_EQ(cell_new_command(nullptr), 0);
    EXPECT_EQ(ui.boxes.back().text, "Bad cell name supplied");
    EXPECT_EQ(ui.boxes.back().caption, "");

    cell_go_command("missing"); // asked, answered No: nothing created
    EXPECT_EQ(ui.boxes.back().text, "No such cell. Create it?");
    EXPECT_EQ(cell_find("missing"), 0);
    ui.answers.push_back(true);
    cell_go_command("missing");
    EXPECT_EQ(cell_name_string(current_cell()), "missing");

    settings_set_ask_before_create(0);
    size_t asked = ui.boxes.size();
    cell_ensure_command("quiet");
    EXPECT_EQ(ui.boxes.size(), asked);
    EXPECT_NE(cell_find("quiet"), 0);
    EXPECT_EQ(cell_name_string(current_cell()), "missing");

    cell_clone_command("quiet");
    EXPECT_EQ(ui.boxes.back().text, "Duplicate cell name supplied");
    cell_new_command(nullptr); // dialog cancelled: nothing happens
    EXPECT_EQ(cell_name_string(current_cell()), "missing");
}

TEST_F(CellTest, WebClearReleasesTheWholeTree) {
    for (const char* n : {"b", "a", "c"}) {
        CellHandle c = cell_create(n);
        cell_set_text(c, "some text");
        cell_set_value(c, value_new_number(1));
    }
    cell_delete(cell_find("a"));
    web_clear();
    EXPECT_EQ(cell_root(), 0);
    EXPECT_EQ(cell_table_count(), 0);
    EXPECT_EQ(current_cell(), 0);
    EXPECT_EQ(nodes_in_use(), 0);
}

const char* const EXISTS_LINKING = "Cell already exists, linking to it";

class CellCommandsTest : public WithHome<IoTest> {
  protected:
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

TEST_F(CellCommandsTest, PaneStateStartsAtTheTopIsKeptPerFieldAndGoesWithAClone) {
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

    // A clone gets copies; a deleted cell's states are freed (the leak check
    // at the end sees it).
    visit_new(c);
    pane_state_put(c, CF_SCRIPT_PANE, {2, 10, 12});
    CellHandle d = cell_clone("d");
    ASSERT_NE(d, 0);
    EXPECT_NE(cell_get(d, CF_SCRIPT_PANE), cell_get(c, CF_SCRIPT_PANE));
    pane_state_set_selection(c, CF_SCRIPT_PANE, 0, 0);
    EXPECT_EQ(state(d, CF_SCRIPT_PANE), (S{2, 10, 12}));
    cell_delete(c);
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

class RenameCellTest : public WebFileTest {
  protected:
    void SetUp() override {
        WebFileTest::SetUp();
        builtins_init();
    }
    CellHandle make(const char* name, const std::string& text = {},
                    const std::string& script = {}) {
        CellHandle c = cell_create(name);
        cell_set_text(c, text);
        cell_set_script(c, script);
        return c;
    }
    std::string field(const char* cell, CellField f) {
        return text_to_string(cell_get(cell_find(cell), f));
    }
    std::vector<std::string> in_order() {
        std::vector<std::string> names;
        for (NodeHandle e = tree_first(cell_root()); e != 0; e = tree_next(e))
            names.push_back(cell_name_string(e) + (entry_kind(e) == NK_CELL ? "" : "-"));
        return names;
    }
};

TEST_F(RenameCellTest, EveryNameOfTheCellFollowsAndNothingElse) {
    struct Case {
        CellField field;
        const char* before;
        const char* after;
    };
    const Case cases[] = {
        {CF_TEXT, "rate and Rate, rates, rate_x and 9rate.",
         "speed and speed, rates, rate_x and 9speed."},
        {CF_TEXT, "nothing here", "nothing here"},
        {CF_SCRIPT, "rate = rate + home # rate\nout('rate')",
         "speed = speed + home # rate\nout('rate')"},
        {CF_SCRIPT, "x = previous(\"RATE\", 2) + maxrate", "x = previous(\"RATE\", 2) + maxrate"},
        {CF_SCRIPT, "out(rate#rate\n, rate.5, 'a#rate')", "out(speed#rate\n, speed.5, 'a#rate')"},
    };
    CellHandle rate = make("rate", "rate", "rate!");
    std::vector<std::string> names;
    for (size_t i = 0; i < std::size(cases); ++i) {
        names.push_back("c" + std::to_string(i));
        bool text = cases[i].field == CF_TEXT;
        make(names.back().c_str(), text ? cases[i].before : "", text ? "" : cases[i].before);
    }
    RenamePlan plan = rename_plan(rate, "speed");
    ASSERT_EQ(plan.refusal, nullptr);
    EXPECT_EQ(plan.strings, 2); // 'rate' and "RATE"; the one cut by a comment is no string of it
    std::vector<std::string> preview = rename_preview(plan);
    const std::vector<std::string> expected = {"c0 text: 3 links",    "c2 script: 2 names",
                                               "c4 script: 2 names",  "rate text: 1 link",
                                               "rate script: 1 name", "also named in 2 strings"};
    EXPECT_EQ(preview, expected);
    ASSERT_TRUE(rename_apply(plan));
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(field(names[i].c_str(), cases[i].field), cases[i].after) << i;
    EXPECT_EQ(cell_find("speed"), rate);
    EXPECT_EQ(field("speed", CF_SCRIPT), "speed!");
    EXPECT_EQ(cell_find("rate"), 0);
    EXPECT_TRUE(web_modified());
}

TEST_F(RenameCellTest, SettingsNamingTheCellFollow) {
    struct Case {
        const char* plot;
        uint8_t input_type;
        const char* input;
        const char* plot_after;
        const char* input_after;
    };
    const Case cases[] = {
        {"rate,home", IN_CELL, "RATE", "speed,home", "speed"},
        {"home,rate", IN_FILE, "rate", "home,speed", "rate"},
        {"rate,rate", IN_CELL, "other", "speed,speed", "other"},
        {"rated,home", IN_KEYBOARD, "rate", "rated,home", "rate"},
    };
    for (const Case& k : cases) {
        web_set_modified(false);
        web_new();
        CellHandle rate = make("rate");
        settings_set_plot_cells(k.plot);
        settings_set_input_type(k.input_type);
        settings_set_input_name(k.input);
        RenamePlan plan = rename_plan(rate, "speed");
        ASSERT_TRUE(rename_apply(plan)) << k.plot;
        EXPECT_STREQ(settings_plot_cells(), k.plot_after);
        EXPECT_STREQ(settings_input_name(), k.input_after);
        ASSERT_TRUE(rename_undo());
        EXPECT_STREQ(settings_plot_cells(), k.plot);
        EXPECT_STREQ(settings_input_name(), k.input);
    }
}

TEST_F(RenameCellTest, RefusedNamesChangeNothing) {
    struct Case {
        const char* cell;
        const char* typed;
        const char* refusal;
        const char* becomes;
    };
    const Case cases[] = {
        {"rate", "home", DUPLICATE_CELL_NAME_TEXT, nullptr},
        {"rate", "OTHER", DUPLICATE_CELL_NAME_TEXT, nullptr},
        {"rate", "1_", BAD_CELL_NAME_TEXT, nullptr},
        {"rate", "While", RENAME_SCRIPT_WORD_TEXT, nullptr},
        {"rate", "max", RENAME_SCRIPT_WORD_TEXT, nullptr},
        {"rate", "pi", RENAME_SCRIPT_WORD_TEXT, nullptr},
        {"rate", "", BAD_CELL_NAME_TEXT, nullptr},
        {"home", "house", RENAME_HOME_TEXT, nullptr},
        {"rate", " _speed_ ", nullptr, "speed"},
        {"rate", "RATE", nullptr, "RATE"},
    };
    for (const Case& k : cases) {
        web_set_modified(false);
        web_new();
        make("rate", "rate");
        make("other");
        RenamePlan plan = rename_plan(cell_find(k.cell), k.typed);
        EXPECT_STREQ(plan.refusal, k.refusal) << k.typed;
        EXPECT_EQ(rename_apply(plan), k.becomes != nullptr) << k.typed;
        // The cell keeps its place and its self-link follows it.
        const char* now = k.becomes ? k.becomes : k.cell;
        EXPECT_NE(cell_find(now), 0) << k.typed;
        if (std::string(now) != "home") {
            EXPECT_EQ(field(now, CF_TEXT), k.becomes ? now : "rate");
        }
    }
}

TEST_F(RenameCellTest, UndoPutsTheSavedWebBackByteForByte) {
    // Names inserted so that the renamed entries have two, one and no
    // children, and a deleted cell holds the new name of one of them.
    for (const char* n : {"m", "f", "t", "a", "h", "p", "w", "g", "gone"})
        make(n, std::string("m f t a h p w g ") + n, std::string("out(m + 'm' + ") + n + ")");
    settings_set_plot_cells("m,t");
    cell_delete(cell_find("gone"));
    CellHandle f = cell_find("f");
    cell_set_value_text(f, "42");
    pane_state_set_selection(f, CF_TEXT_PANE, 3, 4);
    text_links_get(f); // caches are rebuilt, never counted twice
    const std::string before = saved("before.tvx");
    struct Case {
        const char* from;
        const char* to;
    };
    for (Case k : {Case{"f", "zz"}, Case{"t", "b"}, Case{"a", "gone"}, Case{"m", "n"}}) {
        CellHandle c = cell_find(k.from);
        int free_before = nodes_free();
        ASSERT_TRUE(rename_apply(rename_plan(c, k.to))) << k.from;
        EXPECT_EQ(cell_find(k.to), c);
        EXPECT_NE(saved("renamed.tvx"), before);
        std::vector<std::string> order = in_order();
        EXPECT_TRUE(std::is_sorted(order.begin(), order.end())) << k.from;
        ASSERT_TRUE(rename_can_undo());
        ASSERT_TRUE(rename_undo());
        EXPECT_FALSE(rename_can_undo());
        EXPECT_EQ(cell_find(k.from), c);
        EXPECT_EQ(saved("undone.tvx"), before) << k.from;
        text_links_get(f);
        EXPECT_EQ(nodes_free(), free_before) << k.from;
    }
    EXPECT_EQ(value_display(cell_value(f)), "42");
    EXPECT_EQ(pane_state_get(f, CF_TEXT_PANE).sel_start, 3u);
    EXPECT_EQ(in_order().size(), 10u); // the deleted entry is still there, no new one
}

// A store that runs out at any allocation of a rename leaves what Undo
// Rename takes back to the web as it was saved.
TEST_F(RenameCellTest, ARenameCutShortByTheStoreIsUndone) {
    bool finished = false;
    for (long n = 0; !finished && n < 200; ++n) {
        web_set_modified(false);
        web_new();
        for (const char* name : {"rate", "a", "b", "c"})
            make(name, std::string("rate of ") + name, std::string("out(rate + 1) # ") + name);
        settings_set_plot_cells("rate,a");
        const std::string before = saved("before.tvx");
        RenamePlan plan = rename_plan(cell_find("rate"), "speed");
        node_fail_after(n);
        try {
            finished = rename_apply(plan);
        } catch (const NodeExhausted&) {
        }
        node_fail_after(-1);
        if (finished) break;
        if (cell_find("speed") != 0) {
            ASSERT_TRUE(rename_undo()) << n;
        }
        EXPECT_EQ(saved("undone.tvx"), before) << n;
    }
    EXPECT_TRUE(finished);
}

// Undo Rename clears the modified mark only when it puts back the web as
// it last stood unmodified: not after a later edit, a save, or a rename of
// an already modified web.
TEST_F(RenameCellTest, UndoClearsTheModifiedMarkOnlyWhereNothingHappenedBetween) {
    make("rate", "rate");
    make("a", "rate");
    CellHandle rate = cell_find("rate");
    struct Case {
        bool modified_before;
        int between; // 0 nothing, 1 an edit (as the panes mark one), 2 a save
        bool modified_after;
    };
    for (Case k :
         {Case{false, 0, false}, Case{true, 0, true}, Case{false, 1, true}, Case{false, 2, true}}) {
        web_set_modified(k.modified_before);
        ASSERT_TRUE(rename_apply(rename_plan(rate, "speed")));
        EXPECT_TRUE(web_modified());
        if (k.between == 1) web_set_modified(true);
        if (k.between == 2) web_set_modified(false);
        ASSERT_TRUE(rename_undo());
        EXPECT_EQ(web_modified(), k.modified_after) << k.modified_before << k.between;
    }
}

TEST_F(RenameCellTest, UndoKeepsLaterEditsAndNeedsTheOldNameFree) {
    make("rate", "rate");
    make("a", "rate");
    CellHandle rate = cell_find("rate");
    ASSERT_TRUE(rename_apply(rename_plan(rate, "speed")));
    cell_set_text(cell_find("a"), "edited");
    make("rate");
    EXPECT_FALSE(rename_can_undo());
    EXPECT_FALSE(rename_undo());
    cell_delete(cell_find("rate"));
    ASSERT_TRUE(rename_undo());
    EXPECT_EQ(field("a", CF_TEXT), "edited");
    EXPECT_EQ(field("rate", CF_TEXT), "rate");
    ASSERT_TRUE(rename_apply(rename_plan(rate, "speed")));
    web_set_modified(false);
    web_new();
    EXPECT_FALSE(rename_can_undo());
}

class ModifiedMark : public RenameCellTest {
  protected:
    void SetUp() override {
        RenameCellTest::SetUp();
        settings_set_auto_output(AUTO_NONE);
        web_set_modified(false);
    }
    // Runs script in home from an unmodified web; whether the run marked it.
    bool run_marks(const char* script) {
        web_set_modified(false);
        EXPECT_EQ(run_in_home(script), 0) << script;
        return web_modified();
    }
};

TEST_F(ModifiedMark, ARunMarksTheWebOnlyWhenAValueChanges) {
    cell_create("x");
    cell_create("y");
    cell_set_script(cell_find("y"), "x + 1");
    EXPECT_FALSE(run_marks("out(1 + 2)"));
    EXPECT_TRUE(run_marks("set x 4"));
    EXPECT_EQ(value_of("x"), "4");
    // The same value again records nothing new.
    EXPECT_FALSE(run_marks("set x 4"));
    // A value given by a called cell's script counts as well.
    EXPECT_TRUE(run_marks("y()"));
    EXPECT_EQ(value_of("y"), "5");
    EXPECT_FALSE(run_marks("y()"));
    // A loop leaves its cell changed.
    EXPECT_TRUE(run_marks("for (x = 1 to 3) { out(x) }"));
}

TEST_F(ModifiedMark, MatrixBuiltinsChangingCellsInPlaceMarkTheWeb) {
    int i = 0;
    for (double v : {2.0, 0.0, 0.0, 4.0})
        cell_set_value(cell_create(("m" + std::to_string(++i)).c_str()), value_new_number(v));
    cell_table_rebuild();
    EXPECT_TRUE(run_marks("rref('m1', 2, 2)"));
    EXPECT_EQ(value_of("m1"), "1");
    EXPECT_EQ(value_of("m4"), "1");
}

TEST_F(ModifiedMark, StoredSettingsMarkTheWebWhenTheyChange) {
    EXPECT_TRUE(run_marks("set numdec 3"));
    EXPECT_FALSE(run_marks("set numdec 3"));

    // Whether f marks an unmodified web.
    auto marks = [](void (*f)()) {
        web_set_modified(false);
        f();
        return web_modified();
    };
    EXPECT_FALSE(marks([] {
        settings_set_iterations(settings_iterations());
        settings_set_report_format(settings_report_format());
        settings_set_xmax_text(settings_xmax_text());
    }));
    EXPECT_TRUE(marks([] { settings_set_iterations(settings_iterations() + 1); }));
    EXPECT_TRUE(marks([] { settings_set_report_format("\\T"); }));
    EXPECT_TRUE(marks([] { settings_set_ymin_text("-7"); }));
    EXPECT_TRUE(marks([] { settings_set_plot_x_cell("m1"); }));
    // Settings the file does not hold are not changes to the web, nor is what
    // a search last looked for.
    EXPECT_FALSE(marks([] {
        settings_set_zoom(settings_zoom() + 3);
        settings_set_create_on_double_click(!settings_create_on_double_click());
        settings_set_font_name("Courier");
        settings_set_search_text("needle");
        settings_set_replace_text("thread");
    }));
    // A limit that reads back as the same stored text changes nothing.
    settings_set_decimals(1);
    settings_set_xmax_text("7.26");
    web_set_modified(false);
    settings_set_xmax_text("7.3");
    EXPECT_FALSE(web_modified());
}

TEST_F(ModifiedMark, StartingAndOpeningClearItAndDefaultsKeepIt) {
    settings_set_iterations(7);
    ASSERT_TRUE(web_modified());
    std::string file = path("marked.tvx");
    ASSERT_TRUE(web_save_as(file.c_str()).done());
    EXPECT_FALSE(web_modified());
    // Reading applies every stored setting, and leaves the web unmodified.
    ASSERT_EQ(web_open(file.c_str()).code, 0);
    EXPECT_EQ(settings_iterations(), 7u);
    EXPECT_FALSE(web_modified());
    // A reset to the defaults is no edit either way.
    settings_defaults();
    EXPECT_FALSE(web_modified());
    web_set_modified(true);
    settings_defaults();
    EXPECT_TRUE(web_modified());
    web_set_modified(false);
    ASSERT_EQ(web_open(file.c_str()).code, 0);
    ASSERT_TRUE(web_new().done());
    EXPECT_FALSE(web_modified());
}

using Names = std::vector<std::string>;

class NavigationTest : public CellTest {
  protected:
    CellHandle make(const char* n) { return cell_create(n); }
    // Makes each cell and visits it, in order.
    void visit_made(std::initializer_list<const char*> ns) {
        for (const char* n : ns)
            visit_new(make(n));
    }
    // The back ring, most recent first, at most `most` entries.
    std::vector<CellHandle> back_ring(size_t most = SIZE_MAX) {
        std::vector<CellHandle> ring;
        back_iterate_start();
        while (ring.size() < most) {
            CellHandle c = back_iterate_next();
            if (c == 0) break;
            ring.push_back(c);
        }
        return ring;
    }
    Names names(const std::vector<CellHandle>& cs) {
        std::vector<std::string> r;
        for (CellHandle c : cs)
            r.push_back(cell_name_string(c));
        return r;
    }
};

TEST_F(NavigationTest, BackAndForward) {
    visit_made({"p", "q", "r"});
    go_back();
    go_back();
    EXPECT_EQ(cur(), "p");
    go_forward();
    EXPECT_EQ(cur(), "q");
    EXPECT_GT(forward_count(), 0);
    visit_made({"s"});
    EXPECT_EQ(forward_count(), 0);
    for (int i = 0; i < 3; ++i)
        go_back();
    EXPECT_EQ(cur(), "home");
    go_back(); // empty: goes home
    EXPECT_EQ(cur(), "home");
}

TEST_F(NavigationTest, RingKeepsThirtyOneAndNoRepeats) {
    std::vector<CellHandle> cells;
    for (int i = 0; i < 40; ++i) {
        char n[8];
        std::snprintf(n, sizeof n, "c%02d", i);
        cells.push_back(make(n));
    }
    for (CellHandle c : cells)
        visit_new(c);
    EXPECT_EQ(back_count(), 31);
    EXPECT_EQ(back_ring(1), std::vector<CellHandle>{cells[38]});
    back_push(cells[0]);
    back_push(cells[0]);
    EXPECT_EQ(back_count(), 31);
    EXPECT_EQ(back_ring(2), (std::vector<CellHandle>{cells[0], cells[38]}));
    // Removing closes the gaps.
    back_remove_all(cells[0]);
    back_remove_all(cells[38]);
    EXPECT_EQ(back_count(), 29);
    EXPECT_EQ(back_ring(1), std::vector<CellHandle>{cells[37]});
}

TEST_F(NavigationTest, GoBackToPopsToTheNamedEntry) {
    visit_made({"a", "b", "c", "d"}); // back ring: home a b c
    go_back_to("a");                  // third most recent
    EXPECT_EQ(cur(), "a");
    EXPECT_EQ(back_count(), 1);
    EXPECT_EQ(forward_count(), 1); // d only: the repeats are not recorded
    go_back_to("A");               // names match exactly
    EXPECT_EQ(cur(), "a");
    visit_new(cell_find("b"));
    go_back_to("home");
    EXPECT_EQ(cur(), "home");
    EXPECT_TRUE(back_ring().empty());
    go_back_to("home"); // home not in the ring: empties it and goes home
    EXPECT_EQ(cur(), "home");
}

TEST_F(NavigationTest, PreviousAndNextWrapOverDeletedEntries) {
    CellHandle a = make("a"), b = make("b");
    make("zed");
    make_current(a);
    next_cell();
    EXPECT_EQ(cur(), "b");
    make_current(b);
    CellHandle h = make("h");
    cell_delete(h); // a deleted entry between b and zed... and home
    next_cell();
    EXPECT_EQ(cur(), "home");
    next_cell();
    EXPECT_EQ(cur(), "zed");
    next_cell();
    EXPECT_EQ(cur(), "a"); // wraps to the first
    previous_cell();
    EXPECT_EQ(cur(), "zed");    // wraps to the last
    EXPECT_EQ(back_count(), 0); // neither touches the rings
}

TEST_F(NavigationTest, DeletedCellsLeaveBothRings) {
    CellHandle a = make("a"), b = make("b");
    visit_new(a);
    visit_new(b);
    visit_new(a);
    go_back(); // b current, a on the forward ring
    cell_delete(a);
    for (CellHandle c : back_ring())
        EXPECT_NE(c, a);
    EXPECT_EQ(forward_count(), 0);
}

TEST_F(NavigationTest, TextLinksAndPointers) {
    CellHandle x = make("x"), y = make("y"), lives = make("lives"), home = cell_root();
    cell_set_text(home, "see x, then x again and y; 9lives _y unknown");
    EXPECT_EQ(names(out_pointers(home, PS_TEXT_LINKS)),
              (Names{"x", "x", "y", "lives", "y"})); // '_' is skipped
    cell_set_text(y, "back to home and x");
    EXPECT_EQ(names(in_pointers(x, PS_TEXT_LINKS)), (Names{"home", "y"}));
    EXPECT_TRUE(in_pointers(lives, PS_SCRIPT_TOKENS).empty());
    cell_set_text(x, "");
    EXPECT_EQ(text_links_get(x), 0);
    text_links_discard_all();
    EXPECT_EQ(cell_get(home, CF_TEXT_LINKS), 0);
}

// A text's links are read from its first LINK_TEXT_MAX characters, by
// every walk: a name ending at the mark counts, one after it does not.
TEST_F(NavigationTest, LinksStopAtTheMarkInEveryWalk) {
    make("x");
    CellHandle home = cell_root(), y = make("y");
    cell_set_text(home, std::string(LINK_TEXT_MAX - 1, ' ') + "x y");
    for (PointerSource from : {PS_TEXT_LINKS, PS_FIELDS}) {
        EXPECT_EQ(names(out_pointers(home, from)), (Names{"x"})) << from;
        EXPECT_TRUE(in_pointers(y, from).empty()) << from;
    }
    text_links_discard_all();
}

// Reading the fields directly finds what the two cached lists hold, in the
// same order, while building and caching nothing.
TEST_F(NavigationTest, FieldPointersMatchTheCachedListsAndAllocateNothing) {
    CellHandle home = cell_root(), a = make("a"), b = make("b_2"), sin_cell = make("sin");
    // home names itself (home!), and only home names b_2.
    cell_set_text(home, "a then B 2 and b_2, a");
    cell_set_script(home, "b_2 = a + 1 # a comment naming home\r\nout('a', sin(1))\r\nhome!");
    cell_set_text(a, "nothing here");
    cell_set_script(a, "a = a + 1");
    cell_set_script(b, "x = 'b_2'");
    const std::vector<CellHandle> cells{home, a, b, sin_cell};

    uint16_t before = nodes_in_use();
    std::vector<std::vector<std::string>> out_fields, in_fields;
    for (CellHandle c : cells) {
        out_fields.push_back(names(out_pointers(c, PS_FIELDS)));
        in_fields.push_back(names(in_pointers(c, PS_FIELDS)));
    }
    EXPECT_EQ(nodes_in_use(), before);
    for (CellHandle c : cells) {
        EXPECT_EQ(cell_get(c, CF_TEXT_LINKS), 0);
        EXPECT_EQ(cell_get(c, CF_SCRIPT_TOKENS), 0);
    }
    // Comments and strings name nothing; sin( names the cell, as the lexer reads it.
    EXPECT_EQ(out_fields[0], (Names{"a", "b_2", "a", "b_2", "a", "sin", "home"}));
    EXPECT_EQ(in_fields[1], (Names{"a", "home"})); // itself, once
    EXPECT_EQ(in_fields[2], (Names{"home"}));
    EXPECT_EQ(in_fields[0], (Names{"home"}));

    for (size_t i = 0; i < cells.size(); ++i) {
        std::vector<std::string> both = names(out_pointers(cells[i], PS_TEXT_LINKS));
        for (const std::string& n : names(out_pointers(cells[i], PS_SCRIPT_TOKENS)))
            both.push_back(n);
        EXPECT_EQ(out_fields[i], both) << i;
        std::vector<std::string> text_in = names(in_pointers(cells[i], PS_TEXT_LINKS));
        std::vector<std::string> script_in = names(in_pointers(cells[i], PS_SCRIPT_TOKENS));
        for (const std::string& n : in_fields[i])
            EXPECT_TRUE(std::count(text_in.begin(), text_in.end(), n) +
                        std::count(script_in.begin(), script_in.end(), n))
                << n;
        EXPECT_GE(in_fields[i].size(), std::max(text_in.size(), script_in.size())) << i;
    }
    text_links_discard_all();
}

// A script lexed before the cell it names existed holds no link to it; the
// fields are read as they stand.
TEST_F(NavigationTest, FieldPointersSeeCellsMadeAfterALex) {
    CellHandle home = cell_root();
    cell_set_script(home, "later = 1");
    relex_cell(home);
    CellHandle later = make("later");
    EXPECT_EQ(names(out_pointers(home, PS_FIELDS)), (Names{"later"}));
    EXPECT_EQ(names(in_pointers(later, PS_FIELDS)), (Names{"home"}));
}

} // namespace
} // namespace tarvex::test
