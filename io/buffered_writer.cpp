// The block writer of the web and output files.
#include "io/buffered_writer.h"

#include "core/errors.h"

#include <algorithm>
#include <cstring>

namespace tarvex {

namespace {
size_t file_sink(void* target, const uint8_t* bytes, size_t n) {
    return std::fwrite(bytes, 1, n, static_cast<std::FILE*>(target));
}
} // namespace

void writer_start_sink(BufferedWriter& w, WriterSink sink, void* target) {
    w.sink = sink;
    w.target = target;
    w.count = 0;
    w.error = 0;
}

void writer_start(BufferedWriter& w, std::FILE* f) {
    writer_start_sink(w, f ? file_sink : nullptr, f);
}

int writer_flush(BufferedWriter& w) {
    if (w.error != 0) return w.error;
    if (w.count == 0) return 0;
    size_t want = static_cast<size_t>(w.count);
    size_t done = w.sink ? w.sink(w.target, w.block, want) : 0;
    w.count = 0;
    if (done != want) w.error = SE_WRITE_WEB;
    return w.error;
}

int writer_put(BufferedWriter& w, uint8_t ch) {
    if (w.error != 0) return w.error;
    if (w.count == IO_BLOCK_SIZE && writer_flush(w) != 0) return w.error;
    w.block[w.count++] = ch;
    return 0;
}

// What writer_put would do byte by byte, a block's worth at a time.
int writer_write(BufferedWriter& w, std::string_view bytes) {
    while (!bytes.empty()) {
        if (w.error != 0) return w.error;
        if (w.count == IO_BLOCK_SIZE && writer_flush(w) != 0) return w.error;
        size_t k = std::min(bytes.size(), static_cast<size_t>(IO_BLOCK_SIZE - w.count));
        std::memcpy(w.block + w.count, bytes.data(), k);
        w.count += static_cast<int>(k);
        bytes.remove_prefix(k);
    }
    return 0;
}

} // namespace tarvex
