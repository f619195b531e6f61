// The node store at the size chosen at start-up; a web larger than the
// handheld's store, whose cell table then holds every cell, so that
// scripts, links and exports reach the last one; and a web file measured
// against the store before it is opened.
#include "builtin_test_support.h"
#include "webfile_test_support.h"

#include "builtins/builtins.h"
#include "engine/engine_start.h"
#include "engine/web_fit.h"
#include "script/compiled_expr.h"
#include "script/interpreter.h"
#include "tokens/token_list.h"
#include "web/links.h"
#include "web/navigation.h"
#include "webfile/web_export.h"

#include <cstdio>
#include <string>

namespace tarvex::test {
namespace {

class SizedStore : public EngineTest, public ::testing::WithParamInterface<int> {
  protected:
    int store_nodes() const override { return GetParam(); }
};

// Slot 0 is never handed out, so a store of N nodes hands out N - 1; the
// low mark is noted once, as the 100th-last free node goes.
TEST_P(SizedStore, RunsOutWhenEverySlotIsTakenAndTheWalkGivesThemBack) {
    const int n = GetParam();
    EXPECT_EQ(node_count(), n);
    int taken = 0, noted_at = 0, notes = 0;
    try {
        for (;;) {
            node_alloc(PlainNode);
            ++taken;
            if (node_low_take()) {
                ++notes;
                noted_at = taken;
            }
        }
    } catch (const NodeExhausted&) {
    }
    EXPECT_EQ(taken, n - 1);
    EXPECT_EQ(nodes_in_use(), n - 1);
    EXPECT_EQ(notes, 1);
    EXPECT_EQ(noted_at, n - LOW_NODE_THRESHOLD + 1);
    EXPECT_EQ(node_reclaim_unreachable(), n - 1);
    EXPECT_EQ(nodes_in_use(), 0);
}

TEST_P(SizedStore, SizesOutsideTheRangeAreRefused) {
    for (int wrong : {NODE_COUNT_DEFAULT - 1, NODE_COUNT_MAX + 1, 0, -1})
        EXPECT_FALSE(node_count_set(wrong)) << wrong;
    node_init();
    EXPECT_EQ(node_count(), GetParam());
}

INSTANTIATE_TEST_SUITE_P(Sizes, SizedStore, STORE_SIZES, store_size_name);

// c0001 ... cNNNN with values 1 ... N, then home, in name order.
void make_cells(int n) {
    for (int k = 1; k <= n; ++k) {
        char name[16];
        std::snprintf(name, sizeof name, "c%04d", k);
        CellHandle c = cell_create_unlimited(name, false);
        cell_set_value(c, value_new_number(k));
    }
    cell_table_rebuild();
}

class LargeWeb : public Builtins, public ::testing::WithParamInterface<int> {
  protected:
    int store_nodes() const override { return GetParam(); }
    void SetUp() override {
        Builtins::SetUp();
        cell_create_unlimited("home");
        navigation_reset();
        NumberFormat whole; // numbers in full, not to two significant digits
        whole.decimals = 8;
        format_set_current(whole);
    }
    std::string run(const std::string& script) {
        ui.console.clear();
        int r = run_in_home(script);
        return r == 0 ? ui.console : "error " + std::to_string(r);
    }
};

// The handheld's table stops at the 256th cell in name order; the largest
// store's holds all 5,001, so cell 5,000 is read, assigned, called and
// subscripted as cell 1 is, by the compiled code and by the walker.
TEST_P(LargeWeb, ScriptsNameEveryCellTheTableHolds) {
    const bool largest = GetParam() == NODE_COUNT_MAX;
    make_cells(largest ? 5000 : 300);
    EXPECT_EQ(cell_table_count(), largest ? 5001 : CELL_TABLE_SIZE);
    EXPECT_EQ(cell_table_index_of(cell_find("c0256")), 255);
    EXPECT_EQ(cell_table_index_of(cell_find(largest ? "c5000" : "c0300")), largest ? 4999 : -1);
    EXPECT_EQ(cell_table_index_of(cell_find("home")), largest ? 5000 : -1);
    if (largest) cell_set_script(cell_find("c4999"), "%1 * 2");
    for (bool compiled : {true, false}) {
        SCOPED_TRACE(compiled ? "compiled" : "walker");
        interp_set_fast_path(compiled);
        EXPECT_EQ(run("out(c0001[255])"), "256");
        if (!largest) {
            EXPECT_EQ(run("out(c0001[256])"), "error " + std::to_string(SE_SUBSCRIPT_RANGE));
            EXPECT_EQ(run("out(c0300)"), "error " + std::to_string(SE_LEXICAL));
            continue;
        }
        EXPECT_EQ(run("out(c5000, ' ', c0001[4999], ' ', c4999(21))"), "5000 5000 42");
        EXPECT_EQ(run("set c5000 to c0700 + 1 out(c5000) set c5000 to 5000"), "701");
        EXPECT_EQ(run("for (c4800 = 1 to 3) {out(c4800)} set c4800 to 4800"), "123");
    }
    interp_set_fast_path(true);
}

// Links past the 700th name, and the export's anchors, reach every cell of
// the larger table.
TEST_P(LargeWeb, LinksAndExportsReachTheLastCell) {
    const bool largest = GetParam() == NODE_COUNT_MAX;
    make_cells(largest ? 5000 : 900);
    cell_set_text(cell_root(), largest ? "see c0100, c0800 and c5000" : "see c0100, c0800");
    std::vector<int> linked;
    TokenList l = text_links_get(cell_root());
    for (Token t = tokens_first(l); t != nullptr && token_kind(t) == CELLNAME; t = tokens_next(l))
        linked.push_back(token_value(t));
    EXPECT_EQ(linked, largest ? std::vector<int>({99, 799, 4999}) : std::vector<int>({99}));
    if (!largest) return;
    TempDir dir("tarvex-large");
    std::string page = dir.file("web.html");
    ASSERT_EQ(web_export(EXPORT_HTML, page), 0);
    std::string html = file_bytes(page);
    EXPECT_NE(html.find("see <a href=\"#cell-c0100\">c0100</a>, <a href=\"#cell-c0800\">c0800</a> "
                        "and <a href=\"#cell-c5000\">c5000</a>"),
              std::string::npos);
    EXPECT_NE(html.find("<section class=\"cell\" id=\"cell-c5000\">"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Sizes, LargeWeb, STORE_SIZES, store_size_name);

// A web file of n cells with texts of text_length characters.
std::string web_of(int n, size_t text_length) {
    std::string web =
        "<cell><cname>home</cname><script>out(c" + std::to_string(n) + ")</script></cell>\n";
    std::string text(text_length, 't');
    for (int k = 1; k <= n; ++k)
        web += "<cell><cname>c" + std::to_string(k) + "</cname><text>" + text + "</text><val>" +
               std::to_string(k) + "</val></cell>\n";
    return web;
}

class WebFitTest : public WebFileTest {
  protected:
    void SetUp() override {
        WebFileTest::SetUp();
        builtins_init();
    }
    void TearDown() override {
        WebFileTest::TearDown();
        node_count_set(NODE_COUNT_DEFAULT);
    }
};

// The measure leaves the web of this process as it was, finds a store that
// holds the web, and the engine restarted at that size opens and runs it.
TEST_F(WebFitTest, AWebPastTheStoreIsMeasuredAndOpensAtTheSizeFound) {
    cell_set_text(cell_root(), "kept");
    web_set_modified(true);
    put_file(path("big.tvx"), web_of(3000, 100));
    EXPECT_FALSE(web_file_surely_fits(path("big.tvx")));
    WebFit fit = web_fit_measure(path("big.tvx"));
    EXPECT_EQ(fit.code, 0);
    EXPECT_FALSE(fit.fits);
    EXPECT_GT(fit.peak, NODE_COUNT_DEFAULT);
    EXPECT_GE(fit.needed, fit.peak + STORE_ROOM_MIN);
    EXPECT_EQ(fit.needed % 1000, 0);
    EXPECT_EQ(web_fit_text("big.tvx", fit), "big.tvx needs a store of " +
                                                std::to_string(fit.needed) +
                                                " nodes; this one has 10000");
    EXPECT_EQ(text_to_string(cell_text(cell_root())), "kept");
    EXPECT_TRUE(web_modified());

    engine_restart(fit.needed);
    frontend_install(&ui);
    EXPECT_EQ(node_count(), fit.needed);
    ASSERT_TRUE(web_open(path("big.tvx").c_str()).done());
    EXPECT_LE(nodes_in_use(), fit.peak);
    ui.console.clear();
    EXPECT_EQ(run_again(), 0);
    EXPECT_EQ(ui.console, "3000");
    EXPECT_TRUE(web_fit_measure(path("big.tvx")).fits);
}

// Small files fit by their size alone: a web never takes more than a node
// for every two and a half bytes of its file, even one of the smallest
// cells; a web past the largest store is named as such.
TEST_F(WebFitTest, TheSizeBoundHoldsAndNoStoreHoldsAHugeWeb) {
    put_file(path("empty.tvx"), "<cell><cname>home</cname></cell>");
    WebFit empty = web_fit_measure(path("empty.tvx"));
    ASSERT_EQ(empty.code, 0);
    EXPECT_TRUE(empty.fits);
    std::string tiny;
    for (int k = 0; k < 2000; ++k)
        tiny += "<cell><cname>c" + std::to_string(k) + "</cname><val>" + std::to_string(k) +
                "</val></cell>";
    put_file(path("tiny.tvx"), tiny);
    WebFit fit = web_fit_measure(path("tiny.tvx"));
    ASSERT_EQ(fit.code, 0);
    EXPECT_LE(fit.peak - empty.peak, static_cast<long>(tiny.size()) * 2 / 5);
    EXPECT_GT(fit.peak - empty.peak, static_cast<long>(tiny.size()) / 20);

    put_file(path("huge.tvx"), web_of(600, 4000));
    WebFit huge = web_fit_measure(path("huge.tvx"));
    EXPECT_EQ(huge.code, 0);
    EXPECT_FALSE(huge.fits);
    EXPECT_EQ(huge.needed, 0);
    EXPECT_EQ(web_fit_text("huge.tvx", huge),
              "huge.tvx does not fit even the largest store (65535 nodes)");
    put_file(path("page.tvx"), "<!DOCTYPE html><html></html>");
    EXPECT_EQ(web_fit_measure(path("page.tvx")).code, SE_NOT_A_WEB);
}

} // namespace
} // namespace tarvex::test
