// The short-text paths of the string operations: the same characters and the
// same chunk counts whatever way a text is spread over its chunks, and the
// exact nodes each string builtin and each concatenation takes at its peak
// and leaves behind (which fix what mem() reports and where the store runs
// out, seen from scripts in the node count tests).
#include "builtin_test_support.h"

#include "core/guard.h"
#include "core/text.h"
#include "core/value.h"
#include "script/run_engine.h"
#include "web/cell.h"
#include "web/navigation.h"

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace tarvex::test {
namespace {

int chunks(Text t) {
    int n = 0;
    for (; t; t = chain_next(t))
        ++n;
    return n;
}

// The arguments as a chain of values.
NodeHandle args_chain(const std::vector<Arg>& args) {
    NodeHandle head = 0, tail = 0;
    for (const Arg& a : args)
        chain_append(&head, &tail, make_args({a}));
    return head;
}

// A Text whose chunks hold exactly the given pieces, empty ones included,
// as appends and cuts can leave it; the unused bytes of each chunk hold old
// characters, which no operation may take.
Text text_of_pieces(const std::vector<std::string>& pieces) {
    Text head = 0, tail = 0;
    for (const std::string& p : pieces) {
        NodeHandle c = node_alloc(ChainNode);
        std::memset(node_ref(c) + CHAIN_PAYLOAD, '~', TEXT_CHUNK);
        std::memcpy(node_ref(c) + CHAIN_PAYLOAD, p.data(), p.size());
        node_set_aux(c, static_cast<uint8_t>(p.size()));
        chain_append(&head, &tail, c);
    }
    return head;
}

std::string joined(const std::vector<std::string>& pieces) {
    std::string s;
    for (const std::string& p : pieces)
        s += p;
    return s;
}

std::string letters(int n, char from = 'a') {
    std::string s;
    for (int i = 0; i < n; ++i)
        s += static_cast<char>(from + i % 26);
    return s;
}

// The chunk layouts a text of these characters may have.
std::vector<std::vector<std::string>> layouts() {
    std::string s36 = letters(36), s40 = letters(40);
    return {
        {""},
        {"a"},
        {letters(35)},
        {s36, ""},
        {s36},
        {s36, s40.substr(36)},
        {"ab", "", "cde", ""},
        {"", letters(30)},
        {letters(10), letters(36, 'A'), letters(5)},
        {letters(35), letters(36, 'A')}, // 71: one short of a third chunk
        {letters(36), letters(36, 'A'), letters(36, 'a'), ""},
    };
}

class StringPaths : public Builtins {};

TEST_F(StringPaths, SubstringsAndCopiesAgreeWithTheCharactersOnEveryLayout) {
    for (const auto& pieces : layouts()) {
        Text t = text_of_pieces(pieces);
        const std::string s = joined(pieces);
        const TextLen n = static_cast<TextLen>(s.size());
        SCOPED_TRACE(s);
        for (TextLen from = 0; from <= n + 2; ++from) {
            for (TextLen to = 0; to <= n + 2; ++to) {
                Text r = text_substring(t, from, to);
                TextLen a = from == 0 ? 1 : from, b = to > n ? n : to;
                if (n == 0 || b < a) {
                    EXPECT_EQ(r, 0) << from << ".." << to;
                    continue;
                }
                TextLen k = b - a + 1;
                EXPECT_EQ(text_to_string(r), s.substr(a - 1, k)) << from << ".." << to;
                EXPECT_EQ(chunks(r), static_cast<int>(k / TEXT_CHUNK + 1)) << from << ".." << to;
                EXPECT_EQ(text_length(r), k);
                text_free(r);
            }
        }
        Text c = text_copy(t);
        if (s.empty()) {
            EXPECT_EQ(c, 0);
        } else {
            EXPECT_EQ(text_to_string(c), s);
            EXPECT_EQ(chunks(c), static_cast<int>(s.size() / TEXT_CHUNK + 1));
        }
        text_free(c);
        text_free(t);
    }
}

TEST_F(StringPaths, AppendsFillTheLastChunkThenAddChunks) {
    for (const auto& left : layouts()) {
        for (const auto& right : layouts()) {
            Text a = text_of_pieces(left), b = text_of_pieces(right);
            std::string want = joined(left) + joined(right);
            int tail_room = TEXT_CHUNK - static_cast<int>(left.back().size());
            int extra = static_cast<int>(joined(right).size()) - tail_room;
            int want_chunks = chunks(a) + (extra > 0 ? (extra + TEXT_CHUNK - 1) / TEXT_CHUNK : 0);
            EXPECT_EQ(text_append(a, b), a);
            EXPECT_EQ(text_to_string(a), want);
            EXPECT_EQ(chunks(a), want_chunks) << want;
            EXPECT_EQ(text_to_string(b), joined(right)) << "the source is left as it was";
            text_free(a);
            text_free(b);
        }
    }
    // A text appended to itself takes its characters as they were before.
    for (int n : {3, 30, 36, 50, 80}) {
        Text t = text_from_cstring(letters(n).c_str());
        text_append(t, t);
        EXPECT_EQ(text_to_string(t), letters(n) + letters(n));
        text_free(t);
    }
}

// What an operation takes: the most nodes in use at once beyond what it
// started with, and what it leaves in use. The peak is found as the fewest
// free nodes with which the operation does not run out.
struct Footprint {
    int peak = 0;
    int net = 0;
    bool operator==(const Footprint& o) const { return peak == o.peak && net == o.net; }
};

void PrintTo(const Footprint& f, std::ostream* os) {
    *os << "{peak " << f.peak << ", net " << f.net << "}";
}

// setup builds the operands and returns them as a chain of values; op uses
// them and returns what it leaves, a chain of values it hands back.
Footprint footprint(const std::function<NodeHandle()>& setup,
                    const std::function<NodeHandle(NodeHandle)>& op) {
    Footprint f;
    NodeHandle in = setup();
    int before = nodes_in_use();
    NodeHandle out = op(in);
    f.net = nodes_in_use() - before;
    valuelist_free(out);
    NodeHandle hog = 0;
    keep([&hog] { chain_mark(hog); });
    for (int spare = 0;; ++spare) {
        NodeHandle args = setup();
        while (nodes_free() > FREE_COUNT_WHEN_EMPTY + spare) {
            NodeHandle h = node_alloc(ChainNode);
            chain_set_next(h, hog);
            hog = h;
        }
        NodeHandle left = 0;
        int r = engine_guard([&] { left = op(args); });
        chain_free(hog);
        hog = 0;
        if (r == 0) {
            valuelist_free(left);
            f.peak = spare;
            break;
        }
        EXPECT_EQ(r, SE_OUT_OF_MEMORY);
        EXPECT_EQ(node_charged(), 0u) << "a charge outlived the abandoned call";
        if (spare > 20) break;
    }
    forget_all();
    return f;
}

// A builtin's result, through builtin_call or through the common sequence
// of builtin_invoke with the builtin's entry point.
NodeHandle result_of(const char* name, NodeHandle in, bool common, int* status = nullptr) {
    NodeHandle entry = tree_find(name, builtin_root());
    EXPECT_NE(entry, 0) << name;
    NodeHandle result = 0;
    int s =
        common ? builtin_invoke(builtin_fn(entry), in, &result) : builtin_call(entry, in, &result);
    if (status) *status = s;
    return result;
}

Footprint builtin_footprint(const char* name, const std::vector<Arg>& args, bool common = false) {
    return footprint([args] { return args_chain(args); },
                     [name, common](NodeHandle in) { return result_of(name, in, common); });
}

Outcome outcome(const char* name, const std::vector<Arg>& args, bool common) {
    int status = 0;
    NodeHandle result = result_of(name, args_chain(args), common, &status);
    return outcome_of(status, result);
}

// A number whose Text is left from the 40-character string it was read
// from: it is no longer the number's display text.
Arg stale_number() { return {Arg::String, 0.0, "1234567890123456789012345678901234567890"}; }

TEST_F(StringPaths, CutsTakeTheResultAndItsChunksThenReleaseTheArguments) {
    const std::string s40 = letters(40);
    // The result value, then its text, one chunk per 36 characters and
    // one more; the arguments go after: a string with its chunks, a count.
    EXPECT_EQ(builtin_footprint("first", {str("HELLO"), num(2)}), (Footprint{2, 2 - 3}));
    EXPECT_EQ(builtin_footprint("first", {str(s40), num(35)}), (Footprint{2, 2 - 4}));
    EXPECT_EQ(builtin_footprint("first", {str(s40), num(36)}), (Footprint{3, 3 - 4}));
    EXPECT_EQ(builtin_footprint("butfirst", {str(s40), num(3)}), (Footprint{3, 3 - 4}));
    EXPECT_EQ(builtin_footprint("butlast", {str(s40), num(5)}), (Footprint{2, 2 - 4}));
    EXPECT_EQ(builtin_footprint("last", {str(s40), num(4)}), (Footprint{2, 2 - 4}));
    // No characters: the result alone.
    EXPECT_EQ(builtin_footprint("last", {str("HELLO"), num(7)}), (Footprint{1, 1 - 3}));
    EXPECT_EQ(builtin_footprint("first", {str(""), num(3)}), (Footprint{1, 1 - 3}));
    EXPECT_EQ(builtin_footprint("first", {empty(), num(3)}), (Footprint{1, 1 - 2}));
    // A number's display text is made in its argument before the cut.
    EXPECT_EQ(builtin_footprint("first", {num(12345), num(2)}), (Footprint{3, 3 - 3}));
    // A missing count: the result is made and released again.
    EXPECT_EQ(builtin_footprint("first", {str("HELLO")}), (Footprint{1, -2}));
}

TEST_F(StringPaths, LengthsMakeOnlyANumbersDisplayText) {
    EXPECT_EQ(builtin_footprint("slen", {str("HELLO")}), (Footprint{1, 1 - 2}));
    EXPECT_EQ(builtin_footprint("slen", {str(letters(80))}), (Footprint{1, 1 - 4}));
    EXPECT_EQ(builtin_footprint("slen", {empty()}), (Footprint{1, 1 - 1}));
    EXPECT_EQ(builtin_footprint("slen", {num(0.5)}), (Footprint{2, 2 - 2}));
    // A stale text is released before the display text is made.
    Footprint f = footprint(
        [] {
            NodeHandle v = make_args({stale_number()});
            value_to_number(v);
            value_add(v, v); // clears VF_DUAL, keeps the old Text
            return v;
        },
        [](NodeHandle in) {
            NodeHandle result = result_of("slen", in, false);
            EXPECT_EQ(value_number(result), 7.0); // "2.5e+23"
            return result;
        });
    EXPECT_EQ(f, (Footprint{1, 1 - 2 + 1 - 2}));
}

// The string builtins make their first argument's node the result; the
// common sequence makes a new one. Both give the same result and count the
// same nodes.
TEST_F(StringPaths, BothCallingSequencesAgree) {
    struct Case {
        const char* name;
        std::vector<Arg> args;
    };
    const std::string s40 = letters(40);
    const std::vector<Case> cases = {
        {"first", {str("HELLO"), num(2)}},
        {"first", {str(s40), num(36)}},
        {"last", {str("HELLO"), num(7)}},
        {"last", {num(12345), num(2)}},
        {"butfirst", {str(s40), num(3)}},
        {"butfirst", {str("HELLO"), num(-1)}},
        {"butlast", {str("HELLO"), num(2)}},
        {"butlast", {flagged(), num(1)}},
        {"first", {str("HELLO")}},
        {"first", {}},
        {"first", {str("x"), num(70000)}},
        {"slen", {str(s40)}},
        {"slen", {flagged()}},
        {"slen", {}},
        {"slen", {num(0.5), str("more")}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Outcome a = outcome(c.name, c.args, false), b = outcome(c.name, c.args, true);
        EXPECT_EQ(a.status, b.status);
        EXPECT_EQ(a.kind, b.kind);
        EXPECT_EQ(a.flags, b.flags);
        EXPECT_EQ(a.shown, b.shown);
        EXPECT_EQ(builtin_footprint(c.name, c.args), builtin_footprint(c.name, c.args, true));
    }
    // The result is a fresh value whatever its argument held: a flagged
    // number's display text is cut, and the flag stays with the argument.
    Outcome o = call("first", {flagged(), num(2)});
    EXPECT_EQ(o.kind, VK_STRING);
    EXPECT_EQ(o.flags, 0);
    EXPECT_EQ(o.shown, "{N");
    o = call("slen", {flagged()});
    EXPECT_EQ(o.kind, VK_NUMBER);
    EXPECT_EQ(o.flags, 0);
    EXPECT_EQ(o.number, 5.0);
}

Footprint concat_footprint(Arg left, Arg right) {
    return footprint(
        [left, right] {
            return make_args({left, right});
        },
        [](NodeHandle in) {
            value_concat(in, chain_next(in));
            return in;
        });
}

TEST_F(StringPaths, ConcatenationGrowsTheLeftTextOnlyWhenItsLastChunkIsFull) {
    EXPECT_EQ(concat_footprint(str(letters(33)), str("xyz")), (Footprint{0, 0}));
    EXPECT_EQ(concat_footprint(str(letters(35)), str("xyz")), (Footprint{1, 1}));
    EXPECT_EQ(concat_footprint(str(letters(36)), str("xyz")), (Footprint{0, 0}));
    EXPECT_EQ(concat_footprint(str(letters(30)), str(letters(50))), (Footprint{2, 2}));
    // An empty left side takes the right side's Text; its own empty chunk goes.
    EXPECT_EQ(concat_footprint(str(""), str("xyz")), (Footprint{0, -1}));
    EXPECT_EQ(concat_footprint(empty(), str("xyz")), (Footprint{0, 0}));
    EXPECT_EQ(concat_footprint(str("ab"), str("")), (Footprint{0, 0}));
    // Numbers are given their display texts first.
    EXPECT_EQ(concat_footprint(num(7), str("x")), (Footprint{1, 1}));
    EXPECT_EQ(concat_footprint(str("ab"), num(5)), (Footprint{1, 1}));
    EXPECT_EQ(concat_footprint(empty(), num(5)), (Footprint{1, 1}));
    EXPECT_EQ(concat_footprint(str(letters(35)), num(12)), (Footprint{2, 2}));
}

} // namespace
} // namespace tarvex::test
