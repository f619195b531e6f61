// The buffered writer shared by the web file writer and the output stream:
// bytes wait in a 2,048-byte block and go to the file a block at a time. A
// short write stops the writer: that write and every later one fail with
// SE_WRITE_WEB (-4).
#pragma once

#include "core/io_file.h"

#include <cstdint>
#include <cstdio>
#include <string_view>

namespace tarvex {

// Where the blocks go: writes n bytes and returns how many it wrote (fewer
// means the write failed).
using WriterSink = size_t (*)(void* target, const uint8_t* bytes, size_t n);

struct BufferedWriter {
    WriterSink sink = nullptr;
    void* target = nullptr; // not owned
    uint8_t block[IO_BLOCK_SIZE];
    int count = 0;
    int error = 0;
};

// Writes to a stdio file (nullptr: every block falls short).
void writer_start(BufferedWriter& w, std::FILE* f);
// Writes through sink, one call per block.
void writer_start_sink(BufferedWriter& w, WriterSink sink, void* target);
// 0, or SE_WRITE_WEB once a write has fallen short.
int writer_put(BufferedWriter& w, uint8_t ch);
int writer_write(BufferedWriter& w, std::string_view bytes);
// Writes the waiting bytes.
int writer_flush(BufferedWriter& w);

} // namespace tarvex
