// Confinement of stream file names to the web's folder.
#include "io/stream_path.h"

#include "core/errors.h"
#include "frontend/frontend.h"
#include "webfile/web_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include <fcntl.h>
#include <unistd.h>

namespace tarvex {

namespace fs = std::filesystem;

namespace {

const char* const REFUSED_ABSOLUTE = "absolute name not allowed";
const char* const REFUSED_OUTSIDE = "outside the web's folder, not allowed";

std::string g_untitled_folder;

// The path with every symbolic link of its existing part followed, and the
// rest made plain ("a/../b" is "b"): the place the system would really use.
fs::path resolved(const fs::path& p) {
    std::error_code ec;
    fs::path r = fs::weakly_canonical(p, ec);
    return ec ? p.lexically_normal() : r;
}

bool within(const fs::path& p, const fs::path& folder) {
    auto [f, q] = std::mismatch(folder.begin(), folder.end(), p.begin(), p.end());
    // A trailing "/" of the folder shows as an empty last element.
    return f == folder.end() || (std::next(f) == folder.end() && f->empty());
}

} // namespace

std::string stream_base_folder() {
    std::error_code ec;
    const std::string& web = web_file_name();
    if (!web.empty()) return fs::absolute(web, ec).parent_path().string();
    return g_untitled_folder.empty() ? fs::current_path(ec).string() : g_untitled_folder;
}

void stream_untitled_folder_set(const std::string& folder) {
    g_untitled_folder = folder;
}

StreamPath stream_path_resolve(const std::string& name) {
    fs::path given(name);
    fs::path base = resolved(stream_base_folder());
    StreamPath p;
    p.path = resolved(given.is_absolute() ? given : base / given).string();
    p.refusal = given.is_absolute()     ? REFUSED_ABSOLUTE
                : !within(p.path, base) ? REFUSED_OUTSIDE
                                        : nullptr;
    return p;
}

FilePtr stream_path_open(const StreamPath& p, bool output, std::string* why) {
    if (p.refusal && !ask_allow_path(p.path, output)) {
        *why = p.refusal;
        return nullptr;
    }
    int flags = (output ? O_WRONLY | O_CREAT | O_TRUNC : O_RDONLY) | O_NOFOLLOW | O_CLOEXEC;
    int fd = ::open(p.path.c_str(), flags, 0666);
    std::FILE* f = fd < 0 ? nullptr : ::fdopen(fd, output ? "wb" : "rb");
    if (!f) {
        *why = std::strerror(errno);
        if (fd >= 0) ::close(fd);
        return nullptr;
    }
    // Unbuffered, as every stream file: each block is one system call and a
    // failed write shows at once.
    std::setvbuf(f, nullptr, _IONBF, 0);
    return FilePtr(f);
}

int stream_path_report(int code, const std::string& path, const std::string& why) {
    // The reason before the path: a long path is what the status line cuts.
    std::string text = std::string(io_error_text(code)) + " (" + why + "): " + path;
    status_flash(text.c_str());
    return code;
}

} // namespace tarvex
