// Fuzz target: arbitrary bytes read as a web file; whatever is read must be
// saved again without a fault.
#include "fuzz_support.h"

#include "core/guard.h"
#include "webfile/web_file.h"

#include <cstdio>

using namespace tarvex;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::frontend_for_fuzzing();
    std::FILE* in = fmemopen(const_cast<uint8_t*>(data), size, "rb");
    if (in == nullptr) return 0;
    engine_guard([&] { web_read(in); });
    std::fclose(in);
    std::FILE* out = std::tmpfile();
    if (out != nullptr) {
        engine_guard([&] { return web_write(out); });
        std::fclose(out);
    }
    fuzz::check_no_leak();
    return 0;
}
