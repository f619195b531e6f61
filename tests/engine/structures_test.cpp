// Handle stacks and name trees.
#include "engine_fixture.h"

#include "core/handle_stack.h"
#include "core/name_tree.h"

#include <string>
#include <vector>

namespace tarvex::test {
namespace {

class HandleStackTest : public EngineTest {};

TEST_F(HandleStackTest, BlocksComeAndGoWithEighteenHandles) {
    NodeHandle s = hstack_new();
    EXPECT_EQ(hstack_pop(s), 0);
    EXPECT_EQ(hstack_count(s), 0u);
    uint16_t base = nodes_in_use();
    for (NodeHandle h = 1; h <= 18; ++h)
        hstack_push(s, static_cast<NodeHandle>(100 + h));
    EXPECT_EQ(nodes_in_use(), base + 1);
    hstack_push(s, 119);
    EXPECT_EQ(nodes_in_use(), base + 2);
    EXPECT_EQ(hstack_peek(s), 119);
    EXPECT_EQ(hstack_pop(s), 119);
    EXPECT_EQ(nodes_in_use(), base + 1);
    for (NodeHandle h = 118; h >= 101; --h)
        EXPECT_EQ(hstack_pop(s), h);
    EXPECT_EQ(nodes_in_use(), base); // emptied: only the header is left
    EXPECT_EQ(hstack_pop(s), 0);
    EXPECT_EQ(hstack_peek(s), 0);
    EXPECT_EQ(nodes_in_use(), base);
    hstack_push(s, 7); // a new bottom block
    EXPECT_EQ(nodes_in_use(), base + 1);
    EXPECT_EQ(hstack_peek(s), 7);
    hstack_cursor_reset(s);
    EXPECT_EQ(hstack_cursor_next(s), 7);
    EXPECT_EQ(hstack_cursor_next(s), 0);
    EXPECT_EQ(hstack_pop(s), 7);
    EXPECT_EQ(nodes_in_use(), base);
    hstack_free(s);
    EXPECT_EQ(hstack_pop(0), 0);
}

TEST_F(HandleStackTest, CursorWalksTopDownWithoutPopping) {
    NodeHandle s = hstack_new();
    for (NodeHandle h = 1; h <= 40; ++h)
        hstack_push(s, h);
    hstack_cursor_reset(s);
    for (NodeHandle h = 40; h >= 1; --h)
        ASSERT_EQ(hstack_cursor_next(s), h);
    EXPECT_EQ(hstack_cursor_next(s), 0);
    EXPECT_EQ(hstack_count(s), 40u);
    // Popping below a resting cursor never leaves it on a released block.
    hstack_cursor_reset(s);
    for (int i = 0; i < 25; ++i)
        hstack_pop(s);
    std::vector<NodeHandle> rest;
    for (NodeHandle h = hstack_cursor_next(s); h; h = hstack_cursor_next(s))
        rest.push_back(h);
    ASSERT_EQ(rest.size(), 15u);
    EXPECT_EQ(rest.front(), 15);
    EXPECT_EQ(rest.back(), 1);
    keep([s] { hstack_mark(s); });
    expect_no_leak();
    forget_all();
    hstack_free(s);
}

// A charged stack takes from the store what a handle stack holding the same
// entries takes, at every push and pop.
TEST_F(HandleStackTest, ChargedStackCountsAsAHandleStack) {
    static ChargedStack<NodeHandle, 100> charged;
    uint16_t base = nodes_in_use();
    NodeHandle real = hstack_new();
    cstack_open(charged);
    EXPECT_EQ(nodes_in_use(), base + 2);
    // Up and down across block boundaries, down to empty and up again.
    const int moves[] = {+1, -1, +18, +1, -1, -1, +20, -25, -12, +40, -40, +3};
    NodeHandle next = 1;
    for (int m : moves) {
        for (int i = 0; i < (m > 0 ? m : -m); ++i) {
            int before = nodes_in_use();
            NodeHandle h = 0;
            if (m > 0)
                hstack_push(real, next);
            else
                h = hstack_pop(real);
            int between = nodes_in_use();
            if (m > 0) {
                cstack_push(charged, next++);
            } else {
                NodeHandle c = 0;
                ASSERT_TRUE(cstack_pop(charged, &c));
                EXPECT_EQ(c, h);
            }
            ASSERT_EQ(nodes_in_use() - between, between - before) << "move " << m << " step " << i;
            ASSERT_EQ(cstack_peek(charged), hstack_peek(real));
        }
        ASSERT_EQ(charged.count, hstack_count(real));
        EXPECT_EQ(nodes_in_use() - base, 2 * cstack_charges(charged));
    }
    NodeHandle h = 0;
    while (cstack_pop(charged, &h))
        hstack_pop(real);
    EXPECT_FALSE(cstack_pop(charged, &h));
    EXPECT_EQ(cstack_peek(charged), 0);
    EXPECT_EQ(nodes_in_use(), base + 2); // both emptied: their headers
    cstack_push(charged, NodeHandle{7});
    cstack_close(charged); // header and block, whatever it still holds
    hstack_free(real);
    EXPECT_EQ(nodes_in_use(), base);
    EXPECT_EQ(node_charged(), 0u);
}

class NameTreeTest : public EngineTest {
  protected:
    NodeHandle root = 0;
    NodeHandle add(const char* n, uint16_t kind = NK_CELL) {
        return tree_insert(text_from_cstring(n), &root, kind);
    }
    void TearDown() override {
        tree_walk_post(root, [](NodeHandle e) {
            text_free(entry_name(e));
            node_free(e);
        });
        EngineTest::TearDown();
    }
    std::vector<std::string> in_order() {
        std::vector<std::string> names;
        for (NodeHandle e = tree_first(root); e; e = tree_next(e))
            names.push_back(text_to_string(entry_name(e)));
        return names;
    }
};

TEST_F(NameTreeTest, ShapeAndOrder) {
    NodeHandle beta = add("beta"), alpha = add("alpha"), gamma = add("gamma");
    EXPECT_EQ(root, beta);
    EXPECT_EQ(tree_left(beta), alpha);
    EXPECT_EQ(tree_right(beta), gamma);
    EXPECT_EQ(tree_parent(alpha), beta);
    EXPECT_EQ(in_order(), (std::vector<std::string>{"alpha", "beta", "gamma"}));
    EXPECT_EQ(tree_next(gamma), 0);
    EXPECT_EQ(tree_prev(alpha), 0);
    EXPECT_EQ(tree_prev(gamma), beta);
    EXPECT_EQ(tree_first(0), 0);
    EXPECT_EQ(tree_last(root), gamma);
}

TEST_F(NameTreeTest, FindFoldsCaseAndUnderscore) {
    NodeHandle alpha = add("alpha"), al_pha = add("al_pha");
    EXPECT_EQ(tree_find("ALPHA", root), alpha);
    EXPECT_EQ(tree_find("al pha", root), al_pha);
    Text key = text_from_cstring("AL PHA");
    EXPECT_EQ(tree_find_text(key, root), al_pha);
    text_free(key);
    EXPECT_EQ(tree_find("beta", root), 0);
}

TEST_F(NameTreeTest, DeletedEntriesAreRevived) {
    NodeHandle c = tree_find_or_create("cell", &root, NK_CELL);
    ASSERT_NE(c, 0);
    EXPECT_EQ(tree_find_or_create("CELL", &root, NK_CELL), 0);
    tree_mark_deleted(c);
    EXPECT_EQ(tree_find_or_create("Cell", &root, NK_CELL), c);
    EXPECT_EQ(entry_kind(c), NK_CELL);
    Text other = text_from_cstring("cell");
    EXPECT_EQ(tree_find_or_insert_kind(other, &root, NK_BUILTIN), 0); // kind differs
    EXPECT_EQ(tree_find_or_insert_kind(other, &root, NK_CELL), c);
    text_free(other);
}

TEST_F(NameTreeTest, SortedInsertionMakesADeepChainThatWalksIteratively) {
    for (int i = 0; i < 3000; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "n%05d", i);
        add(name);
    }
    EXPECT_EQ(in_order().size(), 3000u);
    keep([this] { tree_mark(root, nullptr); });
    expect_no_leak();
    forget_all();
}

} // namespace
} // namespace tarvex::test
