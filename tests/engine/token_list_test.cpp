// Token lists: appending across chunks, the cursor, seek, saved positions,
// the current script list, and releasing the literal values.
#include "engine_fixture.h"

#include "core/value.h"
#include "tokens/token_list.h"

namespace tarvex::test {
namespace {

class TokenLists : public EngineTest {};

// A kind-2 list of n NUMBER tokens holding 0..n-1, then END_OF_FILE.
TokenList numbers_list(int n) {
    TokenList l = tokens_create(TL_SCRIPT, 0);
    for (int i = 0; i < n; ++i)
        token_set(tokens_append(l), NUMBER, 0, value_new_number(i));
    token_set(tokens_append(l), END_OF_FILE, 0, 0);
    return l;
}

double number_at(Token t) { return value_number(token_value(t)); }

TEST_F(TokenLists, WalkCrossesChunksAndStopsAfterLastChunk) {
    TokenList l = tokens_create(TL_SCRIPT, 0);
    EXPECT_EQ(tokens_first(l), nullptr);
    EXPECT_EQ(tokens_next(l), nullptr);
    EXPECT_EQ(tokens_current(l), nullptr);
    tokens_free(l);

    l = numbers_list(20); // 21 tokens: three chunks, the last one part-filled
    Token t = tokens_first(l);
    for (int i = 0; i < 20; ++i) {
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(token_kind(t), NUMBER);
        EXPECT_EQ(number_at(t), i);
        EXPECT_EQ(tokens_current_index(l), i);
        EXPECT_EQ(tokens_current(l), t);
        t = tokens_next(l);
    }
    EXPECT_EQ(token_kind(t), END_OF_FILE);
    // The rest of the last chunk is zeroed slots; past it there is nothing.
    for (int i = 21; i < 24; ++i) {
        t = tokens_next(l);
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(token_kind(t), NO_TOKEN);
    }
    EXPECT_EQ(tokens_next(l), nullptr);
    EXPECT_EQ(tokens_current_index(l), 23);
    tokens_free(l);
}

TEST_F(TokenLists, SeekAndRestoreAcrossChunkBoundaries) {
    TokenList l = numbers_list(30);
    tokens_first(l);
    tokens_next(l);
    tokens_next(l);
    Token t = tokens_seek(l, 13);
    EXPECT_EQ(tokens_current_index(l), 13);
    EXPECT_EQ(number_at(t), 13);

    TokenCursor at7 = {}, at16 = {};
    tokens_first(l);
    tokens_seek(l, 7); // the last slot of the first chunk
    at7 = tokens_save(l);
    tokens_seek(l, 16); // the first slot of the third chunk
    at16 = tokens_save(l);
    tokens_seek(l, 25);

    t = tokens_restore(l, at7);
    EXPECT_EQ(number_at(t), 7);
    EXPECT_EQ(tokens_current_index(l), 7);
    t = tokens_next(l);
    EXPECT_EQ(number_at(t), 8);
    EXPECT_EQ(tokens_current_index(l), 8);
    t = tokens_restore(l, at16);
    EXPECT_EQ(number_at(t), 16);
    EXPECT_EQ(number_at(tokens_seek(l, 24)), 24);

    // In the last chunk (24..31): the end token's own slot is reached at
    // once, the empty slot after it stops at the end token.
    tokens_restore(l, at16);
    EXPECT_EQ(token_kind(tokens_seek(l, 30)), END_OF_FILE);
    EXPECT_EQ(tokens_current_index(l), 30);
    tokens_restore(l, at16);
    EXPECT_EQ(token_kind(tokens_seek(l, 31)), END_OF_FILE);
    EXPECT_EQ(tokens_current_index(l), 30);
    // A target past the end stops at END_OF_FILE.
    t = tokens_seek(l, 500);
    EXPECT_EQ(token_kind(t), END_OF_FILE);
    EXPECT_EQ(tokens_current_index(l), 30);
    tokens_free(l);
}

TEST_F(TokenLists, SeekStopsAtEmptySlotOfListWithoutEnd) {
    TokenList l = tokens_create(TL_LINKS, 0);
    for (int i = 0; i < 3; ++i)
        token_set(tokens_append(l), CELLNAME, 0, static_cast<uint16_t>(i));
    tokens_first(l);
    Token t = tokens_seek(l, 100);
    EXPECT_EQ(token_kind(t), NO_TOKEN);
    EXPECT_EQ(tokens_current_index(l), 3);
    tokens_free(l);
}

TEST_F(TokenLists, CurrentScriptListFollowsKindTwoReadsAndIsForgottenOnFree) {
    TokenList script = numbers_list(2);
    TokenList links = tokens_create(TL_LINKS, 7);
    EXPECT_EQ(tokens_owner(links), 7);
    EXPECT_EQ(tokens_kind(script), TL_SCRIPT);
    tokens_first(script);
    EXPECT_EQ(tokens_current_script_list(), script);
    tokens_first(links);
    tokens_next(links);
    EXPECT_EQ(tokens_current_script_list(), script);
    tokens_free(script);
    EXPECT_EQ(tokens_current_script_list(), 0);
    tokens_free(links);
}

TEST_F(TokenLists, FreeReleasesLiteralValuesWithTheirTexts) {
    uint16_t before = nodes_in_use();
    TokenList l = tokens_create(TL_SCRIPT, 0);
    for (int i = 0; i < 12; ++i) {
        NodeHandle v = value_new();
        token_set(tokens_append(l), i % 2 ? STRING : NUMBER, 0, v);
        value_set_cstring(v, "a literal long enough to need a second text chunk");
    }
    token_set(tokens_append(l), STRING, 0, 0); // a slot whose value was never made
    token_set(tokens_append(l), END_OF_FILE, 0, 0);
    EXPECT_GT(nodes_in_use(), before + 12);
    tokens_free(l);
    EXPECT_EQ(nodes_in_use(), before);
}

} // namespace
} // namespace tarvex::test
