// The block reader with the line-end rule of the web and input files.
#include "io/byte_reader.h"

#include "core/errors.h"

namespace tarvex {

void byte_reader_start(ByteReader& r, std::FILE* f) {
    r.file = f;
    r.count = 0;
    r.pos = 0;
    r.prev_cr = false;
    r.pending_lf = false;
    r.at_end = f == nullptr;
    r.error = 0;
}

namespace {
bool fill(ByteReader& r) {
    if (r.at_end) return false;
    size_t n = std::fread(r.block, 1, IO_BLOCK_SIZE, r.file);
    if (n == 0) {
        r.at_end = true;
        if (std::ferror(r.file)) r.error = status_error(SE_READ_WEB);
        return false;
    }
    // A short block that also saw an error still delivers what it read; the
    // next fill reports the error.
    r.count = static_cast<int>(n);
    r.pos = 0;
    return true;
}
} // namespace

int byte_reader_next(ByteReader& r) {
    if (r.pending_lf) {
        r.pending_lf = false;
        return '\n';
    }
    if (r.pos >= r.count && !fill(r)) return BYTE_END;
    uint8_t b = r.block[r.pos++];
    bool after_cr = r.prev_cr;
    r.prev_cr = b == '\r';
    if (b == '\n' && !after_cr) {
        r.pending_lf = true;
        return '\r';
    }
    return b;
}

} // namespace tarvex
