// Cells: names, tree and table, deletion and re-creation, cloning, value
// histories, pane commits and the user-level commands.
#include "engine_fixture.h"

#include "core/value.h"
#include "settings/settings.h"
#include "tokens/token_list.h"
#include "web/cell.h"
#include "web/links.h"
#include "web/navigation.h"

#include <string>
#include <vector>

namespace tarvex::test {
namespace {

class CellTest : public EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        cell_create("home");
        navigation_reset();
    }
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

} // namespace
} // namespace tarvex::test
