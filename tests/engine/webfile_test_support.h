// Shared by the web file tests: a fixture with a fresh untitled web and a
// temporary folder removed afterwards, helpers to write, read and open
// files, the acceptance webs every whole-web test walks, and a counter of
// web resets.
#pragma once

#include "engine_fixture.h"

#include "core/errors.h"
#include "core/guard.h"
#include "temp_files.h"
#include "web/cell.h"
#include "webfile/web_file.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace tarvex::test {

class WebFileTest : public EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        web_set_modified(false);
        ASSERT_TRUE(web_new().done());
    }
    void TearDown() override {
        web_save_fail_at(0);
        // Untitled again: the folder the web was in goes with the test.
        web_set_modified(false);
        web_new();
        EngineTest::TearDown();
    }

    std::string path(const std::string& name) const { return dir_.file(name); }

    // Names in the folder (the test's own by default), sorted.
    std::string listing(const std::string& folder = "") const {
        std::vector<std::string> names;
        for (auto& e :
             std::filesystem::directory_iterator(folder.empty() ? dir_.path().string() : folder))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        std::string all;
        for (auto& n : names)
            all += n + " ";
        return all;
    }

    // Opens a file holding bytes; web_open's code.
    int open_bytes(const std::string& bytes, const std::string& name = "in.tvx") {
        put_file(path(name), bytes);
        web_set_modified(false); // what the last open left is not the point here
        WebOutcome o = web_open(path(name).c_str());
        return o.cancelled ? 1 : o.code; // a cancel is never taken for an open
    }

    // Saves the web to a fresh file and returns its bytes.
    std::string saved(const std::string& name = "out.tvx") {
        EXPECT_TRUE(web_save_as(path(name).c_str()).done());
        return file_bytes(path(name));
    }

    TempDir dir_{"tarvex-web"};
};

// The acceptance webs: every .tvx in tests/webs and examples, sorted so the
// order (and the parameterised test names) stay the same from run to run.
inline std::vector<std::string> acceptance_webs() {
    std::vector<std::string> webs;
    for (const char* dir : {"tests/webs", "examples"})
        for (const auto& e :
             std::filesystem::directory_iterator(std::filesystem::path(TARVEX_SOURCE_DIR) / dir))
            if (e.path().extension() == ".tvx") webs.push_back(e.path().string());
    std::sort(webs.begin(), webs.end());
    return webs;
}

// The web as a save writes it, without a file.
inline std::string web_bytes() {
    char* buf = nullptr;
    size_t len = 0;
    std::FILE* out = open_memstream(&buf, &len);
    EXPECT_EQ(engine_guard([&] { return web_write(out); }), 0);
    std::fclose(out);
    std::string bytes(buf, len);
    std::free(buf);
    return bytes;
}

// Reads bytes as a web file: web_read's code (-1 for no bytes at all).
inline int read_web_bytes(std::string bytes) {
    std::FILE* in = fmemopen(bytes.data(), bytes.size(), "rb");
    if (in == nullptr) return -1;
    int rc = engine_guard([&] { return web_read(in); });
    std::fclose(in);
    return rc;
}

// How many times the web was reset, once count_reset is added as a hook.
inline int g_resets = 0;
inline void count_reset() { ++g_resets; }

// How many times part occurs in s, overlaps included.
inline size_t occurrences(const std::string& s, const std::string& part) {
    size_t n = 0;
    for (size_t at = s.find(part); at != std::string::npos; at = s.find(part, at + 1))
        ++n;
    return n;
}

// The names of the web's cells in name order, each followed by a space.
inline std::string cells_of() {
    std::string names;
    web_for_each_cell([&](CellHandle c) {
        names += cell_name_string(c) + " ";
        return true;
    });
    return names;
}

inline std::string cell_text_of(const char* name) {
    CellHandle c = cell_find(name);
    return c ? text_to_string(cell_text(c)) : "<none>";
}

inline std::string cell_script_of(const char* name) {
    CellHandle c = cell_find(name);
    return c ? text_to_string(cell_script(c)) : "<none>";
}

} // namespace tarvex::test
