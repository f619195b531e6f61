// Differential tests: long seeded runs of random operations on Texts and
// handle stacks, checked step by step against std::string and std::vector,
// with the reclaim walk in the middle and at the end of every run.
#include "engine_fixture.h"

#include "core/handle_stack.h"
#include "core/text.h"

#include <random>
#include <string>
#include <vector>

namespace tarvex::test {
namespace {

constexpr int RUN_OPS = 3000;
const unsigned SEEDS[] = {1, 7, 2024};

class Differential : public EngineTest {};

std::string random_bytes(std::mt19937& rng, size_t max) {
    std::uniform_int_distribution<size_t> len(0, max);
    std::uniform_int_distribution<int> byte(1, 255); // a zero byte ends a read
    std::string s(len(rng), ' ');
    for (char& c : s)
        c = static_cast<char>(byte(rng));
    return s;
}

// The model of one Text: its handle and the bytes it must hold.
struct TextModel {
    Text t = 0;
    std::string s;
};

void check(const TextModel& m, int step) {
    ASSERT_EQ(text_length(m.t), m.s.size()) << "step " << step;
    ASSERT_EQ(text_to_string(m.t), m.s) << "step " << step;
}

TEST_F(Differential, TextsFollowStdString) {
    uint16_t baseline = nodes_in_use();
    for (unsigned seed : SEEDS) {
        SCOPED_TRACE(seed);
        std::mt19937 rng(seed);
        std::vector<TextModel> texts(6);
        for (TextModel& m : texts)
            m.t = text_from_bytes(m.s);
        keep([&texts] {
            for (const TextModel& m : texts)
                text_mark(m.t);
        });
        auto pick = [&] { return std::uniform_int_distribution<size_t>(0, texts.size() - 1)(rng); };
        auto replace = [](TextModel& m, Text t, std::string s) {
            text_free(m.t);
            m.t = t;
            m.s = std::move(s);
        };
        for (int step = 0; step < RUN_OPS; ++step) {
            TextModel& m = texts[pick()];
            TextModel& other = texts[pick()];
            switch (std::uniform_int_distribution<int>(0, 8)(rng)) {
            case 0: { // replace with fresh bytes, often across chunk borders
                std::string s = random_bytes(rng, 3 * TEXT_CHUNK + 2);
                replace(m, text_from_bytes(s), s);
                break;
            }
            case 1: { // append bytes
                if (m.t == 0) break;
                std::string s = random_bytes(rng, 2 * TEXT_CHUNK);
                text_append_bytes(m.t, s);
                m.s += s;
                break;
            }
            case 2: { // append another Text, or itself
                if (m.t == 0 || m.s.size() > 2000) break;
                std::string add = other.s;
                text_append(m.t, other.t);
                m.s += add;
                break;
            }
            case 3: { // copy
                std::string s = other.s;
                replace(m, text_copy(other.t), s);
                break;
            }
            case 4: { // substring, with positions past either end
                TextLen n = static_cast<TextLen>(other.s.size());
                TextLen from = std::uniform_int_distribution<TextLen>(0, n + 2)(rng);
                TextLen to = std::uniform_int_distribution<TextLen>(0, n + 2)(rng);
                TextLen f = from == 0 ? 1 : from, e = to > n ? n : to;
                std::string s = e < f ? std::string() : other.s.substr(f - 1, e - f + 1);
                replace(m, text_substring(other.t, from, to), s);
                break;
            }
            case 5: { // insert: head + bytes + tail, as the editor's changes are made
                TextLen n = static_cast<TextLen>(m.s.size());
                TextLen at = std::uniform_int_distribution<TextLen>(0, n)(rng);
                std::string add = random_bytes(rng, TEXT_CHUNK + 5);
                Text t = text_substring(m.t, 1, at);
                if (t == 0) t = text_from_bytes("");
                text_append_bytes(t, add);
                Text tail = text_substring(m.t, at + 1, n);
                if (tail != 0) text_append(t, tail);
                text_free(tail);
                replace(m, t, m.s.substr(0, at) + add + m.s.substr(at));
                break;
            }
            case 6: { // delete a range
                TextLen n = static_cast<TextLen>(m.s.size());
                if (n == 0) break;
                TextLen from = std::uniform_int_distribution<TextLen>(1, n)(rng);
                TextLen to = std::uniform_int_distribution<TextLen>(from, n)(rng);
                Text t = text_substring(m.t, 1, from - 1);
                Text tail = text_substring(m.t, to + 1, n);
                if (t == 0) {
                    t = tail;
                } else if (tail != 0) {
                    text_append(t, tail);
                    text_free(tail);
                }
                std::string s = m.s.substr(0, from - 1) + m.s.substr(to);
                replace(m, t, s);
                break;
            }
            case 7: { // read the characters back one by one
                text_read_start(m.t);
                std::string read;
                for (int c; (c = text_read_char()) >= 0;)
                    read += static_cast<char>(c);
                EXPECT_EQ(read, m.s) << "step " << step;
                EXPECT_EQ(text_read_char(), TEXT_NONE);
                break;
            }
            case 8: { // compare, as folded bytes
                auto folded = [](const std::string& s) {
                    std::string f;
                    for (char c : s)
                        f += static_cast<char>(text_fold(static_cast<uint8_t>(c)));
                    return f;
                };
                int want = folded(m.s).compare(folded(other.s));
                int got = text_compare(m.t, other.t);
                EXPECT_EQ(got < 0, want < 0) << "step " << step;
                EXPECT_EQ(got == 0, want == 0) << "step " << step;
                break;
            }
            }
            check(m, step);
            if (HasFatalFailure()) return;
            if (step % 500 == 0) expect_no_leak();
        }
        for (const TextModel& m : texts)
            check(m, RUN_OPS);
        expect_no_leak();
        forget_all();
        for (TextModel& m : texts)
            text_free(m.t);
        EXPECT_EQ(nodes_in_use(), baseline);
        expect_no_leak();
    }
}

TEST_F(Differential, HandleStacksFollowStdVector) {
    uint16_t baseline = nodes_in_use();
    for (unsigned seed : SEEDS) {
        SCOPED_TRACE(seed);
        std::mt19937 rng(seed);
        NodeHandle s = hstack_new();
        keep([&s] { hstack_mark(s); });
        std::vector<NodeHandle> model;
        // Where the model's cursor stands (how many handles it has still to
        // give); unknown after a push or pop in the middle of a walk.
        size_t cursor_left = 0;
        bool cursor_known = true;
        for (int step = 0; step < RUN_OPS; ++step) {
            // Pushes outweigh pops early on, so the stack spans many blocks.
            int op = std::uniform_int_distribution<int>(0, 9)(rng);
            if (op <= 3 || (op == 4 && step < RUN_OPS / 3)) {
                NodeHandle h =
                    static_cast<NodeHandle>(std::uniform_int_distribution<int>(1, 0xFFFF)(rng));
                hstack_push(s, h);
                model.push_back(h);
                // A push puts the cursor on the new top: still right only
                // when it stood on the old top.
                cursor_known = cursor_known && cursor_left + 1 == model.size();
                cursor_left = model.size();
            } else if (op <= 6) {
                NodeHandle want = model.empty() ? 0 : model.back();
                ASSERT_EQ(hstack_pop(s), want) << "step " << step;
                if (!model.empty()) model.pop_back();
                if (cursor_left > model.size()) cursor_left = model.size();
            } else if (op == 7) {
                ASSERT_EQ(hstack_peek(s), model.empty() ? 0 : model.back()) << "step " << step;
            } else if (op == 8) {
                hstack_cursor_reset(s);
                cursor_left = model.size();
                cursor_known = true;
            } else if (cursor_known) {
                NodeHandle want = cursor_left == 0 ? 0 : model[cursor_left - 1];
                ASSERT_EQ(hstack_cursor_next(s), want) << "step " << step;
                if (cursor_left > 0) --cursor_left;
            }
            ASSERT_EQ(hstack_count(s), model.size()) << "step " << step;
            if (step % 500 == 0) expect_no_leak();
        }
        // A full walk from the top gives the model in reverse.
        hstack_cursor_reset(s);
        for (size_t i = model.size(); i > 0; --i)
            ASSERT_EQ(hstack_cursor_next(s), model[i - 1]);
        EXPECT_EQ(hstack_cursor_next(s), 0);
        expect_no_leak();
        forget_all();
        hstack_free(s);
        EXPECT_EQ(nodes_in_use(), baseline);
        expect_no_leak();
    }
}

} // namespace
} // namespace tarvex::test
