// Owned C stdio files for the stream and web file code: closed when their
// owner goes away, or explicitly when the close result matters.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

namespace tarvex {

// File names are kept up to this many bytes, the longest name most file
// systems take for one component, and a safe bound for a whole path here.
constexpr int FILE_NAME_MAX = 255;

// Transfers go through the callers' own 2,048-byte blocks.
constexpr int IO_BLOCK_SIZE = 2048;

struct FileCloser {
    void operator()(std::FILE* f) const {
        if (f) std::fclose(f);
    }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Opens path with the stdio mode and no stdio buffering, so every block
// handed to the file is one system call and a failed write shows at once.
inline FilePtr file_open(const std::string& path, const char* mode) {
    FilePtr f(std::fopen(path.c_str(), mode));
    if (f) std::setvbuf(f.get(), nullptr, _IONBF, 0);
    return f;
}

// Closes f (if any); false when the close reported an error.
inline bool file_close(FilePtr& f) {
    std::FILE* raw = f.release();
    return raw == nullptr || std::fclose(raw) == 0;
}

} // namespace tarvex
