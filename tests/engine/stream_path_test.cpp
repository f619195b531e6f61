// Paths through the engine: where a web's stream files may be (beside the
// web, never outside its folder unless the user allowed the path, and a
// refused name touches nothing); and the short-text paths of the string
// operations: the same characters and the same chunk counts whatever way a
// text is spread over its chunks, and the exact nodes each string builtin and
// each concatenation takes at its peak and leaves behind (which fix what mem()
// reports and where the store runs out, seen from scripts in the node count
// tests).
#include "builtin_test_support.h"
#include "io_test_support.h"

#include "core/guard.h"
#include "core/text.h"
#include "core/value.h"
#include "io/stream_path.h"
#include "script/run_engine.h"
#include "settings/settings.h"
#include "web/cell.h"
#include "web/navigation.h"
#include "webfile/web_file.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <future>
#include <random>
#include <string>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <thread>
#include <vector>

namespace tarvex::test {
namespace {

namespace fs = std::filesystem;
using V = std::vector<std::string>;

// A web saved in dir/webs, with a file beside the folder that no web
// should be able to reach. Each test runs twice: with the kernel resolving
// names beneath the folder, and with the descriptor walk.
class StreamPathTest : public IoTest, public ::testing::WithParamInterface<bool> {
  protected:
    void SetUp() override {
        IoTest::SetUp();
        stream_path_force_walk(GetParam());
        ui.allow_paths = false;
        fs::create_directories(dir.path() / "webs");
        put_file(dir.file("victim.txt"), "keep");
        web_start_fresh();
        ASSERT_TRUE(web_save_as(webs("w.tvx").c_str()).done());
        ui.flashes.clear();
        settings_set_output_dest(OUT_FILE);
        settings_set_input_type(IN_FILE);
    }
    void TearDown() override {
        stream_path_force_walk(false);
        streams_reset();
        web_set_modified(false);
        web_new(); // untitled again, for the tests that follow
        IoTest::TearDown();
    }
    std::string webs(const std::string& name) const { return dir.file("webs/" + name); }
    int open_output(const std::string& name) {
        output_close();
        settings_set_output_name(name.c_str());
        return output_open();
    }
    // The first value of the input file of that name.
    std::string read_first(const std::string& name) {
        input_close();
        settings_set_input_name(name.c_str());
        return take_value();
    }
};

TEST_P(StreamPathTest, RelativeNamesResolveBesideTheWeb) {
    ASSERT_NE(fs::current_path(), dir.path() / "webs");
    EXPECT_EQ(stream_base_folder(), (dir.path() / "webs").string());
    EXPECT_EQ(open_output("result"), 0);
    output_text("7 8");
    EXPECT_EQ(output_close(), 0);
    EXPECT_EQ(file_bytes(webs("result.txt")), "7 8");
    EXPECT_EQ(output_file_name(), webs("result.txt"));
    // Down and back up stays inside.
    fs::create_directories(dir.path() / "webs/sub");
    EXPECT_EQ(open_output("sub/../sub/deeper"), 0);
    EXPECT_EQ(output_close(), 0);
    EXPECT_TRUE(fs::exists(webs("sub/deeper.txt")));
    // Input the same way.
    settings_set_input_name("result");
    EXPECT_EQ(take_values(3), (V{"num:7", "num:8", "none"}));
    EXPECT_TRUE(ui.paths_asked.empty());
    EXPECT_EQ(ui.flashes, V{"End Of File on Input"});
}

TEST_P(StreamPathTest, NamesLeavingTheFolderAreRefusedAndTouchNothing) {
    fs::create_symlink(dir.file("victim.txt"), webs("link.txt"));
    fs::create_symlink(dir.path(), webs("up"));
    fs::create_symlink(dir.file("created.txt"), webs("dangling.txt"));
    const std::string victim = dir.file("victim.txt");
    const std::string outside = "outside the web's folder, not allowed";
    const std::string absolute = "absolute name not allowed";
    struct Case {
        std::string name, path, reason;
    } cases[] = {
        {"../victim", victim, outside},
        {"nosuch/../../victim.txt", victim, outside},
        {"link.txt", victim, outside},
        {"up/victim.txt", victim, outside},
        {victim, victim, absolute},
        // Absolute is refused even when it names a file beside the web.
        {webs("mine.txt"), webs("mine.txt"), absolute},
    };
    for (const Case& c : cases) {
        ui.flashes.clear();
        ui.paths_asked.clear();
        EXPECT_EQ(open_output(c.name), SE_OPEN_OUTPUT) << c.name;
        EXPECT_EQ(output_text("x"), SE_OPEN_OUTPUT);
        EXPECT_FALSE(output_is_open());
        EXPECT_EQ(ui.flashes, V{"UNABLE TO OPEN OUTPUT FILE (" + c.reason + "): " + c.path})
            << c.name;
        EXPECT_EQ(ui.paths_asked, V{c.path});
    }
    EXPECT_EQ(file_bytes(dir.file("victim.txt")), "keep");
    EXPECT_FALSE(fs::exists(webs("mine.txt")));
    // A link that leads nowhere yet is not followed to create its target.
    ui.flashes.clear();
    EXPECT_EQ(open_output("dangling.txt"), SE_OPEN_OUTPUT);
    EXPECT_FALSE(fs::exists(dir.file("created.txt")));
    ASSERT_EQ(ui.flashes.size(), 1u);
    EXPECT_NE(ui.flashes[0].find(webs("dangling.txt")), std::string::npos);

    // Allowed by the user: written.
    ui.allow_paths = true;
    EXPECT_EQ(open_output(dir.file("victim.txt")), 0);
    output_text("replaced");
    EXPECT_EQ(output_close(), 0);
    EXPECT_EQ(file_bytes(dir.file("victim.txt")), "replaced");
}

TEST_P(StreamPathTest, RunThatNamesAFileOutsideEndsWithTheOpenFailure) {
    int r = run_in_home("set outname '../victim' out('lost')");
    EXPECT_EQ(r, SE_CELL_IO_MEMORY); // the reopen after the new name failed
    EXPECT_EQ(file_bytes(dir.file("victim.txt")), "keep");
    // Shown once, though the run's error report tried to write as well.
    int shown = 0;
    for (const std::string& f : ui.flashes)
        shown += f.rfind("UNABLE TO OPEN OUTPUT FILE (outside", 0) == 0;
    EXPECT_EQ(shown, 1);

    // The next run shows it again.
    ui.flashes.clear();
    settings_set_output_name("../victim");
    r = run_in_home("out('lost')");
    EXPECT_NE(r, 0);
    ASSERT_FALSE(ui.flashes.empty());
    EXPECT_EQ(ui.flashes[0].rfind("UNABLE TO OPEN OUTPUT FILE (outside", 0), 0u);
    EXPECT_EQ(file_bytes(dir.file("victim.txt")), "keep");
}

TEST_P(StreamPathTest, UntitledWebsUseTheProcessFolderOrTheOneSet) {
    web_set_modified(false);
    web_new();
    EXPECT_EQ(stream_base_folder(), fs::current_path().string());
    settings_set_output_dest(OUT_FILE);
    stream_untitled_folder_set(dir.path().string());
    EXPECT_EQ(open_output("plain"), 0);
    EXPECT_EQ(output_close(), 0);
    stream_untitled_folder_set("");
    EXPECT_TRUE(fs::exists(dir.file("plain.txt")));
    EXPECT_EQ(stream_base_folder(), fs::current_path().string());
}

// A folder outside the web's, with files no name in the web may reach, and
// links in the web's folder that lead there.
class EscapeTest : public StreamPathTest {
  protected:
    void SetUp() override {
        StreamPathTest::SetUp();
        fs::create_directories(dir.path() / "outside");
        fs::create_directories(dir.path() / "webs/sub/deep");
        put_file(dir.file("outside/victim.txt"), "keep");
        put_file(dir.file("outside/secret.txt"), "13");
        put_file(webs("sub/mine.txt"), "'w'");
        fs::create_symlink("../outside", webs("evil"));
        fs::create_symlink("/", webs("root"));
        fs::create_symlink("sub", webs("inner"));
        fs::create_symlink(dir.path() / "outside", webs("abs"));
    }
    // What the outside folder holds: it must never change.
    std::string outside_listing() const {
        std::string all;
        for (auto& e : fs::directory_iterator(dir.path() / "outside"))
            all += e.path().filename().string() + "=" + file_bytes(e.path().string()) + ";";
        return all;
    }
};

TEST_P(EscapeTest, LinksAnywhereInTheNameNeverLeadOut) {
    const std::string before = outside_listing();
    const std::string via_root = "nx/../root" + dir.file("outside/new.txt");
    for (std::string name : {"nx/../evil/victim.txt", "nx/../evil/new.txt", "evil/victim.txt",
                             "sub/../evil/victim.txt", "inner/../evil/new.txt",
                             "nx/../abs/victim.txt", via_root.c_str()}) {
        EXPECT_NE(open_output(name), 0) << name;
        output_text("PWNED");
        output_close();
    }
    for (const char* name :
         {"../outside/secret.txt", "nx/../evil/secret.txt", "evil/secret.txt",
          "nx/../abs/secret.txt", "nx/../root/etc/host.conf", "nx/../root/etc/hostname"})
        EXPECT_EQ(read_first(name), "none") << name;
    EXPECT_EQ(outside_listing(), before);
    // A link that stays inside is followed.
    EXPECT_EQ(read_first("inner/mine.txt"), "str:w");
    EXPECT_EQ(read_first("inner/deep/../mine.txt"), "str:w");
    EXPECT_EQ(open_output("inner/deep/made"), 0);
    EXPECT_EQ(output_close(), 0);
    EXPECT_TRUE(fs::exists(webs("sub/deep/made.txt")));

    // The same names set by a script.
    EXPECT_NE(run_in_home("set outtype 'file' set outname 'nx/../evil/victim.txt' out('PWNED')"),
              0);
    settings_set_output_dest(OUT_SCREEN);
    EXPECT_NE(
        run_in_home("set intype 'file' set inname 'nx/../evil/secret.txt' in(home) out(home)"), 0);
    EXPECT_EQ(ui.console.find("13"), std::string::npos);
    EXPECT_EQ(outside_listing(), before);
}

// A folder of the name exchanged with a link to outside while the name is
// opened again and again: no open may land outside.
TEST_P(EscapeTest, FolderSwappedForALinkDuringTheOpen) {
    const std::string before = outside_listing();
    fs::create_directories(webs("swap"));
    fs::create_symlink("../outside", webs("lure"));
    std::atomic<bool> done{false};
    std::thread swapper([&] {
        const std::string a = webs("swap"), b = webs("lure");
        while (!done)
            ::syscall(SYS_renameat2, AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), 2 /* exchange */);
    });
    int opened = 0;
    for (int i = 0; i < 400; ++i) {
        opened += open_output("swap/victim.txt") == 0;
        output_text("PWNED");
        output_close();
        EXPECT_EQ(read_first("swap/secret.txt"), "none");
        streams_reset();
    }
    done = true;
    swapper.join();
    EXPECT_EQ(outside_listing(), before);
    EXPECT_GT(opened, 0); // the race was run: the real folder was met too
}

// Links whose target ends inside the folder but passes outside on the way,
// or names it by an absolute path: the resolution leaves the folder, so the
// name needs the user's leave, and then opens where the link leads.
TEST_P(EscapeTest, LinksThatLeaveOnTheirWayNeedLeave) {
    fs::create_symlink("../../webs/sub", webs("sub/back"));
    fs::create_symlink(webs("sub"), webs("absin"));
    const std::string refused =
        "UNABLE TO OPEN INPUT FILE (outside the web's folder, not allowed): " +
        webs("sub/mine.txt");
    for (const char* name : {"sub/back/mine.txt", "absin/mine.txt"}) {
        ui.paths_asked.clear();
        ui.flashes.clear();
        ui.allow_paths = false;
        EXPECT_EQ(read_first(name), "none") << name;
        EXPECT_EQ(ui.flashes, (V{refused, "Unable to open input"})) << name;
        EXPECT_EQ(ui.paths_asked, V{webs("sub/mine.txt")}) << name;
        ui.allow_paths = true;
        EXPECT_EQ(read_first(name), "str:w") << name;
    }
}

// Names made at random from the folder's links and steps, output and input:
// nothing outside is ever created, changed or read.
TEST_P(EscapeTest, RandomNamesStayInside) {
    fs::create_symlink("..", webs("sub/up"));
    fs::create_symlink("../../outside/secret.txt", webs("sub/deep/leak.txt"));
    const std::string before = outside_listing();
    const char* parts[] = {"sub", "deep", "up", "evil",     "root",       "inner",     "abs",
                           "..",  ".",    "nx", "leak.txt", "secret.txt", "victim.txt"};
    std::mt19937 rng(GetParam() ? 7 : 11);
    for (int i = 0; i < 1500; ++i) {
        std::string name;
        for (int n = 1 + int(rng() % 5); n > 0; --n)
            name += std::string(name.empty() ? "" : "/") + parts[rng() % std::size(parts)];
        if (open_output(name) == 0) output_text("w");
        output_close();
        std::string v = read_first(name);
        EXPECT_TRUE(v == "none" || v == "str:w") << name << " gave " << v;
        streams_reset();
    }
    EXPECT_EQ(outside_listing(), before);
}

// Runs body on a thread and waits a while: a stream open that blocks fails
// the test instead of hanging it (the FIFO's other end is then opened to
// let it go).
template <class F> void completes(F body, const std::string& fifo) {
    auto done = std::async(std::launch::async, body);
    if (done.wait_for(std::chrono::seconds(5)) == std::future_status::ready) return done.get();
    ADD_FAILURE() << "blocked on " << fifo;
    int fd = ::open(fifo.c_str(), O_RDWR | O_NONBLOCK);
    done.wait();
    ::close(fd);
}

TEST_P(StreamPathTest, OnlyRegularFilesAreStreamFiles) {
    ASSERT_EQ(::mkfifo(webs("pipe.txt").c_str(), 0600), 0);
    completes([&] { EXPECT_EQ(open_output("pipe.txt"), SE_OPEN_OUTPUT); }, webs("pipe.txt"));
    completes([&] { EXPECT_EQ(read_first("pipe.txt"), "none"); }, webs("pipe.txt"));
    // A reader waiting on the FIFO does not make it a file either.
    int reader = ::open(webs("pipe.txt").c_str(), O_RDONLY | O_NONBLOCK);
    EXPECT_EQ(open_output("pipe.txt"), SE_OPEN_OUTPUT);
    ::close(reader);
    EXPECT_EQ(ui.flashes[0],
              "UNABLE TO OPEN OUTPUT FILE (not a regular file): " + webs("pipe.txt"));
    EXPECT_EQ(ui.flashes[1], "UNABLE TO OPEN INPUT FILE (not a regular file): " + webs("pipe.txt"));

    // Allowing a path lifts the folder rule only.
    ui.allow_paths = true;
    EXPECT_EQ(read_first("/dev/zero"), "none");
    fs::create_symlink("/dev/zero", webs("zero.txt"));
    EXPECT_EQ(open_output("zero.txt"), SE_OPEN_OUTPUT);
    EXPECT_EQ(last_flash(), "UNABLE TO OPEN OUTPUT FILE (not a regular file): /dev/zero");
    // ... but "nowhere" and the process's own streams are outputs a shell
    // user gives, kept without ".txt".
    EXPECT_EQ(open_output("/dev/null"), 0);
    EXPECT_EQ(output_text("gone"), 0);
    EXPECT_EQ(output_close(), 0);
    EXPECT_EQ(output_file_name(), "/dev/null");
    ui.allow_paths = false;
    ui.flashes.clear();
    EXPECT_EQ(open_output("/dev/null"), SE_OPEN_OUTPUT);
    EXPECT_EQ(ui.flashes, V{"UNABLE TO OPEN OUTPUT FILE (absolute name not allowed): /dev/null"});
}

// The output is never the input file, however it is named: opening it
// would empty what the script is to read.
TEST_P(StreamPathTest, OutputThatIsTheInputIsRefused) {
    put_file(webs("data.txt"), "1 2");
    fs::create_directories(webs("sub"));
    fs::create_symlink("../data.txt", webs("sub/alias.txt"));
    for (const char* input : {"data", "./data.txt", "sub/alias.txt"}) {
        settings_set_input_name(input);
        for (const char* output : {"data", "sub/../data.txt", "sub/alias.txt"}) {
            ui.flashes.clear();
            EXPECT_EQ(open_output(output), SE_OPEN_OUTPUT) << input << " " << output;
            EXPECT_EQ(ui.flashes.at(0),
                      "UNABLE TO OPEN OUTPUT FILE (it is the input file): " + webs("data.txt"));
        }
    }
    EXPECT_EQ(file_bytes(webs("data.txt")), "1 2");
    // Input from the keyboard, or another file: the name is free.
    settings_set_input_name("other");
    EXPECT_EQ(open_output("data"), 0);
    EXPECT_EQ(output_close(), 0);
    put_file(webs("data.txt"), "1 2");
    settings_set_input_name("data");
    settings_set_input_type(IN_KEYBOARD);
    EXPECT_EQ(open_output("data"), 0);
    EXPECT_EQ(output_close(), 0);
    EXPECT_EQ(file_bytes(webs("data.txt")), "");
}

// A name too long for a file, read from a web, is kept whole and refused
// when the stream opens: nothing is written anywhere, and a save keeps it.
TEST_P(StreamPathTest, OverlongNameIsKeptAndRefused) {
    const std::string name(300, 'n');
    settings_set_output_name(name.c_str());
    settings_set_input_name(name.c_str());
    EXPECT_EQ(settings_output_name(), name);
    EXPECT_EQ(ui.flashes, V(2, "FILE NAME TOO LONG"));
    ui.flashes.clear();
    EXPECT_NE(run_in_home("out(1)"), 0);
    EXPECT_EQ(ui.flashes.at(0), "FILE NAME TOO LONG");
    EXPECT_EQ(take_value(), "none");
    for (auto& e : fs::directory_iterator(dir.path() / "webs"))
        EXPECT_EQ(e.path().filename(), "w.tvx");
    ASSERT_TRUE(web_save().done());
    std::string saved = file_bytes(webs("w.tvx"));
    EXPECT_NE(saved.find("<oname>" + name + "</oname>"), std::string::npos);
    EXPECT_NE(saved.find("<iname>" + name + "</iname>"), std::string::npos);
}

// A name refused by the folder rule in a script keeps the code scripts
// have always seen; the status line says why.
TEST_P(StreamPathTest, RefusedNameSaysWhyOnTheStatusLine) {
    struct Case {
        const char* script;
        const char* status;
    } cases[] = {
        {"set inname '../victim.txt'", "Input file outside the web's folder"},
        {"set outtype 'file' set outname '../victim.txt'", "Output file outside the web's folder"},
        {"set inname 'pipe.txt'", "Input file not a regular file"},
        {"set intype 'cell'", "Insufficient memory for cell I/O"}, // no reason left over
        {"set inname 'missing.txt'", "Insufficient memory for cell I/O"},
    };
    ASSERT_EQ(::mkfifo(webs("pipe.txt").c_str(), 0600), 0);
    for (const Case& c : cases) {
        streams_reset();
        settings_set_input_type(IN_FILE);
        settings_set_output_dest(OUT_SCREEN);
        ui.flashes.clear();
        ui.console.clear();
        EXPECT_EQ(run_in_home(c.script), SE_CELL_IO_MEMORY);
        EXPECT_EQ(last_flash(), c.status) << c.script;
    }
    EXPECT_NE(ui.console.find("Insufficient memory for cell I/O IN CELL home"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(KernelAndWalk, StreamPathTest, ::testing::Values(false, true));
INSTANTIATE_TEST_SUITE_P(KernelAndWalk, EscapeTest, ::testing::Values(false, true));

// The runner does not keep what it writes: a long run's memory stays flat.
TEST_F(IoTest, HeadlessFrontendWithoutRecordingStillCountsAndTells) {
    ui.record = false;
    std::string seen, told;
    ui.on_console = [&](std::string_view b) { seen.append(b); };
    ui.on_message = [&](const std::string& m) { told += m + ";"; };
    settings_set_output_dest(OUT_SCREEN);
    output_text("hello");
    output_close();
    status_flash("one");
    warn_box("two");
    EXPECT_EQ(seen, "hello");
    EXPECT_EQ(told, "one;two;");
    EXPECT_EQ(console_length(), 5);
    EXPECT_TRUE(ui.console.empty());
    EXPECT_TRUE(ui.flashes.empty());
    EXPECT_TRUE(ui.boxes.empty());
}

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
