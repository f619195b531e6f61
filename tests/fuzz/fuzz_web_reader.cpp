// Fuzz target: arbitrary bytes read as a web file; whatever is read must be
// saved again without a fault, and when it read without error, what is
// saved must read back to a web that saves to the very same bytes.
#include "fuzz_support.h"

#include "core/guard.h"
#include "webfile/web_file.h"

#include <cstdio>
#include <cstdlib>
#include <string>

using namespace tarvex;

namespace {

// Reads bytes as a web file: web_read's code.
int read_web(const void* data, size_t size) {
    std::FILE* in = fmemopen(const_cast<void*>(data), size, "rb");
    if (in == nullptr) std::abort();
    int rc = engine_guard([&] { return web_read(in); });
    std::fclose(in);
    return rc;
}

std::string write_web() {
    char* buf = nullptr;
    size_t len = 0;
    std::FILE* out = open_memstream(&buf, &len);
    if (out == nullptr) std::abort();
    int rc = engine_guard([&] { return web_write(out); });
    std::fclose(out);
    std::string bytes(buf, len);
    std::free(buf);
    if (rc != 0) std::abort();
    return bytes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::frontend_for_fuzzing();
    if (size == 0) return 0; // fmemopen takes no empty buffer
    int rc = read_web(data, size);
    std::string first = write_web();
    if (rc == 0) {
        if (read_web(first.data(), first.size()) != 0) {
            std::fprintf(stderr, "a saved web does not read back\n");
            std::abort();
        }
        std::string second = write_web();
        if (second != first) {
            std::fprintf(stderr, "write, read, write gives other bytes\n");
            std::abort();
        }
    }
    fuzz::check_no_leak();
    return 0;
}
