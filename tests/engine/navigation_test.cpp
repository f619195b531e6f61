// Navigation: the visit rings, back and forward, previous and next cell,
// and the text link lists with the pointer walks.
#include "engine_fixture.h"

#include "lexer/lexer.h"
#include "reports/pointers.h"
#include "web/cell.h"
#include "web/links.h"
#include "web/navigation.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace tarvex::test {
namespace {

using Names = std::vector<std::string>;

class NavigationTest : public EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        cell_create("home");
        navigation_reset();
    }
    CellHandle make(const char* n) { return cell_create(n); }
    // Makes each cell and visits it, in order.
    void visit_made(std::initializer_list<const char*> ns) {
        for (const char* n : ns)
            visit_new(make(n));
    }
    std::string cur() { return cell_name_string(current_cell()); }
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
    go_back_to("a"); // third most recent
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
