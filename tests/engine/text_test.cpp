// Texts: chunk layout, substrings, appends, folding comparisons, cursors,
// conversions, and texts longer than a 16-bit count.
#include "engine_fixture.h"

#include "core/text.h"

#include <string>

namespace tarvex::test {
namespace {

class TextTest : public EngineTest {};

int chunks(Text t) {
    int n = 0;
    for (; t; t = chain_next(t))
        ++n;
    return n;
}

TEST_F(TextTest, ChunkLayoutFollowsLength) {
    Text empty = text_from_cstring("");
    EXPECT_EQ(chunks(empty), 1);
    EXPECT_EQ(text_length(empty), 0u);
    EXPECT_EQ(text_compare(empty, 0), 0);
    std::string s36(36, 'x'), s37(37, 'y');
    Text t36 = text_from_cstring(s36.c_str()), t37 = text_from_cstring(s37.c_str());
    EXPECT_EQ(chunks(t36), 2);
    EXPECT_EQ(node_aux(chain_next(t36)), 0);
    EXPECT_EQ(chunks(t37), 2);
    EXPECT_EQ(node_aux(t37), 36);
    EXPECT_EQ(node_aux(chain_next(t37)), 1);
    // The same characters spread differently over chunks compare equal.
    Text built = text_from_cstring("");
    text_append(built, t36);
    EXPECT_EQ(text_compare(built, t36), 0);
    EXPECT_EQ(text_to_string(built), s36);
    for (Text t : {empty, t36, t37, built})
        text_free(t);
}

TEST_F(TextTest, FoldingComparisonsAgree) {
    struct Case {
        const char *a, *b;
        int sign;
    } cases[] = {{"abc", "ABC", 0},   {"my_cell", "MY CELL", 0},
                 {"ab", "abc", -1},   {"abd", "abc", 1},
                 {"", "a", -1},       {"Z", "a", 1},
                 {"\xC3\xA9", "z", 1}}; // bytes above 0x7F order above ASCII
    for (const Case& c : cases) {
        Text ta = text_from_cstring(c.a), tb = text_from_cstring(c.b);
        auto sign = [](int v) { return v < 0 ? -1 : v > 0 ? 1 : 0; };
        EXPECT_EQ(sign(text_compare(ta, tb)), c.sign) << c.a << " vs " << c.b;
        EXPECT_EQ(sign(text_compare_cstring(ta, c.b)), c.sign) << c.a << " vs " << c.b;
        EXPECT_EQ(sign(cstring_compare(c.a, c.b)), c.sign) << c.a << " vs " << c.b;
        text_free(ta);
        text_free(tb);
    }
    Text d = text_from_cstring("abd"), c = text_from_cstring("abc");
    EXPECT_EQ(text_compare(d, c), 'D' - 'C');
    text_free(d);
    text_free(c);
}

TEST_F(TextTest, ReaderKeepsHighBytesApartFromEndMarkers) {
    Text t = text_from_cstring("A\xFE\xFF"
                               "B");
    text_read_start(t);
    EXPECT_EQ(text_read_char(), 'A');
    EXPECT_EQ(text_read_char(), 0xFE);
    EXPECT_EQ(text_read_char(), 0xFF);
    EXPECT_EQ(text_read_char(), 'B');
    EXPECT_EQ(text_read_char(), TEXT_END);
    EXPECT_EQ(text_read_char(), TEXT_NONE);
    text_read_start(0);
    EXPECT_EQ(text_read_char(), TEXT_NONE);
    text_free(t);
}

TEST_F(TextTest, WriterGrowsChunks) {
    Text t = text_write_start();
    for (int i = 0; i < 80; ++i)
        text_write_char(static_cast<uint8_t>('0' + i % 10));
    text_write_reset();
    text_write_char('!'); // ignored: nothing is being written
    EXPECT_EQ(text_length(t), 80u);
    EXPECT_EQ(chunks(t), 3);
    text_free(t);
}

TEST_F(TextTest, BufferCopyIsCutAndTerminated) {
    Text t = text_from_cstring("123456789012345678901234567890");
    char buf[25];
    EXPECT_EQ(text_to_buffer(buf, t, 24), 24u);
    EXPECT_STREQ(buf, "123456789012345678901234");
    EXPECT_EQ(text_to_buffer(buf, 0, 24), 0u);
    EXPECT_STREQ(buf, "");
    text_free(t);
}

TEST_F(TextTest, LengthBeyondSixteenBits) {
    std::string big(70000, 'k');
    Text t = text_from_bytes(big);
    EXPECT_EQ(text_length(t), 70000u);
    Text tail = text_substring(t, 69990, 70000);
    EXPECT_EQ(text_to_string(tail), std::string(11, 'k'));
    text_free(tail);
    text_free(t);
}

} // namespace
} // namespace tarvex::test
