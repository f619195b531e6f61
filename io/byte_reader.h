// The byte reader shared by the web file reader and the input stream: a file
// read in 2,048-byte blocks, every LF that does not follow a CR delivered as
// CR then LF, and a read error reported once and then taken as the end.
#pragma once

#include "core/io_file.h"

#include <cstdint>
#include <cstdio>

namespace tarvex {

constexpr int BYTE_END = -1;

struct ByteReader {
    std::FILE* file = nullptr; // not owned
    uint8_t block[IO_BLOCK_SIZE];
    int count = 0;           // bytes in the block
    int pos = 0;             // next byte of the block
    bool prev_cr = false;    // the last byte taken from the file was a CR
    bool pending_lf = false; // a CR was delivered for a lone LF; the LF is next
    bool at_end = false;
    int error = 0; // SE_READ_WEB after a read error
};

void byte_reader_start(ByteReader& r, std::FILE* f);
// The next byte (0..255), or BYTE_END at the end of the file and after a read
// error; the first read error flashes "UNABLE TO READ FROM WEB FILE".
int byte_reader_next(ByteReader& r);

} // namespace tarvex
