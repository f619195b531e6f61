// The block writer of the web and output files.
#include "io/buffered_writer.h"

#include "core/errors.h"

namespace tarvex {

void writer_start(BufferedWriter& w, std::FILE* f) {
    w.file = f;
    w.count = 0;
    w.error = 0;
}

int writer_flush(BufferedWriter& w) {
    if (w.error != 0) return w.error;
    if (w.count == 0) return 0;
    size_t want = static_cast<size_t>(w.count);
    size_t done = w.file ? std::fwrite(w.block, 1, want, w.file) : 0;
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

int writer_write(BufferedWriter& w, std::string_view bytes) {
    for (char c : bytes) {
        int rc = writer_put(w, static_cast<uint8_t>(c));
        if (rc != 0) return rc;
    }
    return 0;
}

} // namespace tarvex
