// Recovery copies of unsaved webs: where they live and what they are named,
// writing one through the save's own atomic path, and reading one back in
// place of the web without taking its name.
#include "webfile/recovery.h"

#include "core/guard.h"
#include "core/errors.h"
#include "io/io_file.h"
#include "web/cell.h"
#include "webfile/web_file.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarvex {

namespace {

constexpr const char* UNTITLED_COPY = "untitled.tvx";
// The readable part of a copy's name; the hash beside it keeps names apart,
// and the whole name stays far below the file name limit.
constexpr size_t READABLE_NAME_MAX = 40;

std::string absolute_env(const char* name) {
    const char* v = std::getenv(name);
    // Relative values are invalid by the XDG rules and are ignored.
    return v && v[0] == '/' ? std::string(v) : std::string();
}

std::string home_folder() {
    std::string home = absolute_env("HOME");
    if (!home.empty()) return home;
    const passwd* pw = getpwuid(getuid());
    return pw && pw->pw_dir && pw->pw_dir[0] == '/' ? std::string(pw->pw_dir) : std::string();
}

uint64_t fnv1a(const std::string& s) {
    uint64_t h = 14695981039346656037ull;
    for (unsigned char c : s) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return h;
}

// Creates every missing folder of path with owner-only access, as the XDG
// rules ask for the folders they name.
bool make_folders(const std::string& path) {
    for (size_t i = 1; i <= path.size(); ++i) {
        if (i < path.size() && path[i] != '/') continue;
        std::string part = path.substr(0, i);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool mtime_of(const std::string& path, timespec& out) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return false;
    out = st.st_mtim;
    return true;
}

} // namespace

std::string recovery_folder() {
    std::string base = absolute_env("XDG_STATE_HOME");
    if (base.empty()) {
        std::string home = home_folder();
        if (home.empty()) return {};
        base = home + "/.local/state";
    }
    return base + "/tarvex/recovery";
}

std::string recovery_path_of(const std::string& web_path) {
    std::string folder = recovery_folder();
    if (folder.empty()) return {};
    if (web_path.empty()) return folder + "/" + UNTITLED_COPY;
    std::error_code ec;
    std::filesystem::path full = std::filesystem::absolute(web_path, ec);
    std::string key = ec ? web_path : full.lexically_normal().string();
    std::string readable;
    for (char c : web_display_name_of(key)) {
        if (readable.size() == READABLE_NAME_MAX) break;
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                     c == '-' || c == '_';
        readable.push_back(plain ? c : '_');
    }
    char hash[17];
    std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(fnv1a(key)));
    return folder + "/" + readable + "-" + hash + ".tvx";
}

int recovery_write(const std::string& path) {
    if (path.empty()) return SE_OPEN_WEB;
    size_t slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0 && !make_folders(path.substr(0, slash)))
        return SE_OPEN_WEB;
    return file_replace(path, web_write_to);
}

std::string recovery_snapshot() {
    std::string bytes;
    web_write_to(
        [](void* target, const uint8_t* b, size_t n) {
            static_cast<std::string*>(target)->append(reinterpret_cast<const char*>(b), n);
            return n;
        },
        &bytes);
    return bytes;
}

int recovery_read(const std::string& path) {
    return engine_guard([&path]() -> int {
        FilePtr f = file_open(path, "rb");
        if (!f) return SE_OPEN_WEB;
        int rc = web_read(f.get());
        file_close(f);
        if (rc == 0) web_set_modified(true);
        web_reset_notify();
        return rc;
    });
}

bool recovery_newer(const std::string& path, const std::string& web_path) {
    timespec copy{}, web{};
    if (path.empty() || !mtime_of(path, copy)) return false;
    if (web_path.empty() || !mtime_of(web_path, web)) return true;
    return copy.tv_sec != web.tv_sec ? copy.tv_sec > web.tv_sec : copy.tv_nsec > web.tv_nsec;
}

std::time_t recovery_time(const std::string& path) {
    timespec t{};
    return path.empty() || !mtime_of(path, t) ? 0 : t.tv_sec;
}

void recovery_remove(const std::string& path) {
    if (!path.empty()) unlink(path.c_str());
}

} // namespace tarvex
