// Micro benchmarks of the engine's hot paths: node allocation, value
// arithmetic, text append, lexing a 4,000-character script, statement
// dispatch, and reading and writing the largest web the store loads.
#include "core/node_store.h"
#include "core/text.h"
#include "core/value.h"
#include "engine/engine_start.h"
#include "frontend/headless_frontend.h"
#include "lexer/lexer.h"
#include "script/run_engine.h"
#include "tokens/token_list.h"
#include "web/cell.h"
#include "webfile/web_file.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

using namespace tarvex;

namespace {

HeadlessFrontend g_frontend;

// A fresh engine with an empty web, as the runner has after start-up.
void engine_fresh() {
    frontend_install(&g_frontend);
    engine_start();
    web_start_fresh();
}

CellHandle make_cell(const char* name, const char* script = "") {
    CellHandle c = cell_create(name);
    if (*script) cell_set_script(c, script);
    return c;
}

void BM_NodeAllocFree(benchmark::State& state) {
    engine_fresh();
    for (auto _ : state) {
        NodeHandle h = node_alloc(PlainNode);
        benchmark::DoNotOptimize(h);
        node_free(h);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_NodeAllocFree);

// A thousand live nodes at once: the free list is walked, not one node reused.
void BM_NodeAllocFreeBatch(benchmark::State& state) {
    engine_fresh();
    std::vector<NodeHandle> held(1000);
    for (auto _ : state) {
        for (auto& h : held)
            h = node_alloc(ChainNode);
        for (auto h : held)
            node_free(h);
    }
    state.SetItemsProcessed(state.iterations() * 1000);
}
BENCHMARK(BM_NodeAllocFreeBatch);

void BM_ValueArithmetic(benchmark::State& state) {
    engine_fresh();
    NodeHandle a = value_new_number(1.5);
    NodeHandle b = value_new_number(2.25);
    for (auto _ : state) {
        value_add(a, b);
        value_mul(a, b);
        value_div(a, b);
        value_sub(a, b);
        benchmark::DoNotOptimize(value_compare(a, b));
    }
    state.SetItemsProcessed(state.iterations() * 5);
    value_free(a);
    value_free(b);
}
BENCHMARK(BM_ValueArithmetic);

// The interpreter's pattern: a fresh value per operand, copied from a cell.
void BM_ValueNewCopyFree(benchmark::State& state) {
    engine_fresh();
    NodeHandle cell_value = value_new_number(42);
    for (auto _ : state) {
        NodeHandle v = value_new();
        value_copy(v, cell_value);
        value_add(v, cell_value);
        value_free(v);
    }
    state.SetItemsProcessed(state.iterations());
    value_free(cell_value);
}
BENCHMARK(BM_ValueNewCopyFree);

// Builds a text of range(0) characters by appends of 10 bytes, then frees it.
void BM_TextAppend(benchmark::State& state) {
    engine_fresh();
    const int appends = static_cast<int>(state.range(0)) / 10;
    for (auto _ : state) {
        Text t = text_from_cstring("");
        for (int i = 0; i < appends; ++i)
            t = text_append_bytes(t, "0123456789");
        text_free(t);
    }
    state.SetBytesProcessed(state.iterations() * appends * 10);
}
BENCHMARK(BM_TextAppend)->Arg(100)->Arg(1000)->Arg(10000);

// Appends a short text to a 30-character one: what `cat` does in a loop.
void BM_TextAppendText(benchmark::State& state) {
    engine_fresh();
    Text tail = text_from_cstring("xyz");
    for (auto _ : state) {
        Text t = text_from_cstring("abcdefghijklmnopqrstuvwxyz0123");
        t = text_append(t, tail);
        text_free(t);
    }
    state.SetItemsProcessed(state.iterations());
    text_free(tail);
}
BENCHMARK(BM_TextAppendText);

std::string script_of_length(size_t length) {
    const std::string block = "set n to n + 1 if (n > 10) {out('big: ', n, '\\n')} "
                              "else {set total to total * 2 - sqrt(n) % 3}\r\n";
    std::string s;
    while (s.size() + block.size() <= length)
        s += block;
    return s;
}

void BM_Lex4000(benchmark::State& state) {
    engine_fresh();
    make_cell("n");
    make_cell("total");
    std::string source = script_of_length(4000);
    Text script = text_from_bytes(source);
    CellHandle owner = cell_root();
    for (auto _ : state) {
        TokenList l = lex(script, owner);
        benchmark::DoNotOptimize(l);
        tokens_free(l);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(source.size()));
    text_free(script);
}
BENCHMARK(BM_Lex4000);

// Runs home's script once an iteration; a run does `items` items of work.
void run_home_script(benchmark::State& state, std::string_view script, int items) {
    CellHandle home = cell_root();
    cell_set_script(home, script);
    for (auto _ : state) {
        if (run(home) != 0) state.SkipWithError("the run failed");
    }
    state.SetItemsProcessed(state.iterations() * items);
}

// 200 straight-line statements run as one cell call: dispatch and `set`.
void BM_StatementDispatch(benchmark::State& state) {
    engine_fresh();
    make_cell("n");
    std::string script;
    for (int i = 0; i < 200; ++i)
        script += "set n to 1\r\n";
    run_home_script(state, script, 200);
}
BENCHMARK(BM_StatementDispatch);

// A while loop of 1,000 rounds: jumps, conditions, assignment, arithmetic.
void BM_WhileLoop(benchmark::State& state) {
    engine_fresh();
    make_cell("n");
    run_home_script(state, "set n to 0 while (n < 1000) {set n to n + 1}", 1000);
}
BENCHMARK(BM_WhileLoop);

// One cell calling another with an argument.
void BM_CellCall(benchmark::State& state) {
    engine_fresh();
    make_cell("k");
    make_cell("twice", "%1 * 2");
    run_home_script(state, "for (k = 1 to 100) {twice(k)}", 100);
}
BENCHMARK(BM_CellCall);

// ---- web files --------------------------------------------------------------

std::string big_web(int cells) {
    std::string s =
        "<opts><nfmt>general</nfmt><ndec>8</ndec></opts>\n<cell><cname>home</cname></cell>\n";
    char buf[64];
    for (int k = 1; k <= cells; ++k) {
        std::string text = "Cell " + std::to_string(k) + " of the big web: a &lt; b &amp; c > d; ";
        while (text.size() < 120)
            text += "lorem ipsum dolor sit amet ";
        std::snprintf(buf, sizeof buf, "<cell><cname>c%05d</cname><text>", k);
        s += buf;
        s += text.substr(0, 110);
        std::snprintf(buf, sizeof buf, "</text><val>%d.5</val></cell>\n", k);
        s += buf;
    }
    return s + "</eof>\n";
}

int read_web(const std::string& file) {
    std::FILE* f = fmemopen(const_cast<char*>(file.data()), file.size(), "r");
    int rc = web_read(f);
    std::fclose(f);
    return rc;
}

// Loaded without an error and without running low on nodes.
bool web_fits(const std::string& file) {
    g_frontend.boxes.clear();
    return read_web(file) == 0 && g_frontend.boxes.empty();
}

// The largest web of the generated kind that the store loads.
const std::string& largest_web() {
    static std::string file;
    if (file.empty()) {
        engine_fresh();
        int lo = 1, hi = 4000;
        while (hi - lo > 1) {
            int mid = (lo + hi) / 2;
            (web_fits(big_web(mid)) ? lo : hi) = mid;
        }
        file = big_web(lo);
    }
    return file;
}

void BM_WebRead(benchmark::State& state) {
    const std::string& file = largest_web();
    engine_fresh();
    for (auto _ : state) {
        if (read_web(file) != 0) state.SkipWithError("the web did not load");
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(file.size()));
    state.counters["nodes_in_use"] = nodes_in_use();
}
BENCHMARK(BM_WebRead)->Unit(benchmark::kMillisecond);

void BM_WebWrite(benchmark::State& state) {
    const std::string& file = largest_web();
    engine_fresh();
    read_web(file);
    std::vector<char> out(2 * file.size() + 65536);
    for (auto _ : state) {
        std::FILE* f = fmemopen(out.data(), out.size(), "w");
        if (web_write(f) != 0) state.SkipWithError("the web was not written");
        std::fclose(f);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(file.size()));
}
BENCHMARK(BM_WebWrite)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
