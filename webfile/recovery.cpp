// Recovery copies of unsaved webs: where they live and what they are named,
// which instance wrote each and whether it still runs, writing one sealed
// through the save's own atomic path, and reading one back in place of the
// web without taking its name.
#include "webfile/recovery.h"

#include "core/errors.h"
#include "core/guard.h"
#include "core/io_file.h"
#include "web/cell.h"
#include "webfile/web_file.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <pwd.h>
#include <random>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarvex {

namespace {

// A copy is named KEY.INSTANCE.tvx: the key has no dot, so the first dot
// ends it. An instance's lock file is INSTANCE.lock.
constexpr const char* UNTITLED_KEY = "untitled";
constexpr const char* COPY_SUFFIX = ".tvx";
constexpr const char* LOCK_SUFFIX = ".lock";
constexpr const char* DAMAGED_SUFFIX = ".damaged";
// The readable part of a key; the hash beside it keeps keys apart, and the
// whole name stays far below the file name limit.
constexpr size_t READABLE_NAME_MAX = 40;
// The seal is the copy's last line: the tag, the length of what precedes
// the line, and the checksum of those bytes. The reader stops at the web's
// end tag, so a copy opened as a web reads as the web it holds.
constexpr const char* SEAL_TAG = "\ntarvex-recovery-copy ";
// A seal line is far shorter than this; a longer last line is no seal.
constexpr size_t SEAL_MAX = 64;
// Damaged copies of one name that may be kept aside side by side.
constexpr int DAMAGED_KEPT_MAX = 100;

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

uint64_t fnv1a(const char* bytes, size_t n) {
    uint64_t h = 14695981039346656037ull;
    for (size_t i = 0; i < n; ++i) {
        h ^= static_cast<unsigned char>(bytes[i]);
        h *= 1099511628211ull;
    }
    return h;
}

std::string hex64(uint64_t v) {
    char buf[17];
    std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(v));
    return buf;
}

bool ends_with(const std::string& s, const char* tail) {
    size_t n = std::strlen(tail);
    return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

std::string folder_of(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// Creates every missing folder of path with owner-only access, as the XDG
// rules ask for the folders they name (set after the mkdir, so no umask
// can widen or narrow it).
bool make_folders(const std::string& path) {
    for (size_t i = 1; i <= path.size(); ++i) {
        if (i < path.size() && path[i] != '/') continue;
        std::string part = path.substr(0, i);
        if (mkdir(part.c_str(), 0700) == 0)
            chmod(part.c_str(), 0700);
        else if (errno != EEXIST)
            return false;
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

// The web file's full name with every link resolved: the file's own when it
// exists, else its folder's and the name (a web not yet or no longer on
// disk), else the name made absolute.
std::string canonical_of(const std::string& web_path) {
    char buf[PATH_MAX];
    if (realpath(web_path.c_str(), buf)) return buf;
    std::error_code ec;
    std::filesystem::path full = std::filesystem::absolute(web_path, ec);
    if (ec) return web_path;
    full = full.lexically_normal();
    if (realpath(full.parent_path().c_str(), buf))
        return (std::filesystem::path(buf) / full.filename()).string();
    return full.string();
}

// ---- instances ----------------------------------------------------------------
//
// Each instance that writes copies holds an exclusive flock on its lock file
// for as long as it runs. The kernel lets go of the lock when the process
// ends, however it ends (kill -9 included), and the lock belongs to the open
// file, not to a process id, so a later process given the same id never
// passes for the instance. The name also carries the pid, for file systems
// that have no locks: there an instance counts as running while a process
// of that id exists, which errs on the side of keeping its copies.

std::string g_instance;
int g_lock_fd = -1;
std::string g_lock_path;

std::string make_instance_name() {
    std::random_device rd;
    char buf[40];
    std::snprintf(buf, sizeof buf, "%ld-%08x", static_cast<long>(getpid()), rd());
    return buf;
}

bool names_file(const std::string& path, int fd) {
    struct stat held, named;
    return fstat(fd, &held) == 0 && stat(path.c_str(), &named) == 0 &&
           held.st_ino == named.st_ino && held.st_dev == named.st_dev;
}

// Takes this instance's lock in folder (once, and again should its file
// have been removed). A scan that finds the file
// unlocked between its creation and the lock may remove it: the lock is
// then on a file without a name, so another is made.
bool claim_instance(const std::string& folder) {
    std::string path = folder + "/" + recovery_instance() + LOCK_SUFFIX;
    // Held already, under the name others look for.
    if (g_lock_fd >= 0 && path == g_lock_path && names_file(path, g_lock_fd)) return true;
    constexpr int CLAIM_TRIES = 8;
    for (int i = 0; i < CLAIM_TRIES; ++i) {
        int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0) return false;
        if (flock(fd, LOCK_EX) != 0) {
            // No locks here: the pid in the name tells that the instance runs.
            close(fd);
            return true;
        }
        if (names_file(path, fd)) {
            if (g_lock_fd >= 0) close(g_lock_fd);
            g_lock_fd = fd;
            g_lock_path = path;
            return true;
        }
        close(fd);
    }
    return false;
}

// Whether the instance named name still runs; its lock file is in folder.
// When it has ended, its lock file is left locked by this process in
// held_fd (so the caller may remove it), or -1.
bool instance_runs(const std::string& folder, const std::string& name, int* held_fd = nullptr) {
    if (held_fd) *held_fd = -1;
    if (name == recovery_instance()) return true;
    std::string path = folder + "/" + name + LOCK_SUFFIX;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd >= 0) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
            if (held_fd)
                *held_fd = fd;
            else
                close(fd);
            return false;
        }
        int err = errno;
        close(fd);
        if (err == EWOULDBLOCK) return true;
    }
    // No lock file, or no locks: by the process id (none, for a copy of a
    // name without one, which no instance writes any more).
    long pid = std::strtol(name.c_str(), nullptr, 10);
    return pid > 0 && (kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
}

// ---- the seal -------------------------------------------------------------------

std::string seal_of(const std::string& body) {
    return SEAL_TAG + std::to_string(body.size()) + " " + hex64(fnv1a(body.data(), body.size())) +
           "\n";
}

// The bytes before the seal when the copy is whole.
bool unseal(const std::string& copy, std::string& body) {
    if (copy.empty() || copy.back() != '\n') return false;
    size_t line = copy.rfind(SEAL_TAG, copy.size() - 1);
    if (line == std::string::npos || copy.size() - line > SEAL_MAX) return false;
    body = copy.substr(0, line);
    return copy.compare(line, std::string::npos, seal_of(body)) == 0;
}

bool read_whole(const std::string& path, std::string& out) {
    FilePtr f = file_open(path, "rb");
    if (!f) return false;
    out.clear();
    char buf[IO_BLOCK_SIZE];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f.get())) > 0)
        out.append(buf, n);
    return !std::ferror(f.get());
}

// Renames a damaged copy to a name no scan offers, never over another.
std::string set_aside(const std::string& path) {
    for (int i = 0; i < DAMAGED_KEPT_MAX; ++i) {
        std::string aside = path + (i ? "-" + std::to_string(i) : "") + DAMAGED_SUFFIX;
        if (link(path.c_str(), aside.c_str()) == 0) {
            unlink(path.c_str());
            return aside;
        }
        if (errno != EEXIST) break;
    }
    return path;
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

const std::string& recovery_instance() {
    if (g_instance.empty()) g_instance = make_instance_name();
    return g_instance;
}

std::string recovery_key_of(const std::string& web_path) {
    if (web_path.empty()) return UNTITLED_KEY;
    std::string key = canonical_of(web_path);
    std::string readable;
    for (char c : web_display_name_of(key)) {
        if (readable.size() == READABLE_NAME_MAX) break;
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                     c == '-' || c == '_';
        readable.push_back(plain ? c : '_');
    }
    return readable + "-" + hex64(fnv1a(key.data(), key.size()));
}

std::string recovery_path_of(const std::string& web_path) {
    std::string folder = recovery_folder();
    if (folder.empty()) return {};
    return folder + "/" + recovery_key_of(web_path) + "." + recovery_instance() + COPY_SUFFIX;
}

int recovery_write(const std::string& path) { return recovery_write(path, recovery_snapshot()); }

int recovery_write(const std::string& path, const std::string& snapshot) {
    if (path.empty()) return SE_OPEN_WEB;
    std::string folder = folder_of(path);
    if (!make_folders(folder) || !claim_instance(folder)) return SE_OPEN_WEB;
    // The save keeps the mode of the file it replaces: a copy that does not
    // exist yet is made first, empty and private, whatever the umask.
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return SE_OPEN_WEB;
    struct stat st;
    bool fresh = fstat(fd, &st) == 0 && st.st_size == 0;
    bool private_mode = fchmod(fd, 0600) == 0;
    close(fd);
    const std::string sealed = snapshot + seal_of(snapshot);
    auto fill = [&sealed](WriterSink sink, void* target) {
        const auto* bytes = reinterpret_cast<const uint8_t*>(sealed.data());
        for (size_t at = 0; at < sealed.size(); at += IO_BLOCK_SIZE) {
            size_t n = std::min(sealed.size() - at, size_t(IO_BLOCK_SIZE));
            if (sink(target, bytes + at, n) != n) return int(SE_WRITE_WEB);
        }
        return 0;
    };
    int rc = private_mode ? file_replace(path, fill) : SE_OPEN_WEB;
    if (rc != 0 && fresh) unlink(path.c_str());
    return rc;
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

RecoveryCopyState recovery_check(const std::string& path) {
    std::string copy, body;
    if (path.empty() || !read_whole(path, copy) || copy.empty()) return COPY_NONE;
    return unseal(copy, body) ? COPY_WHOLE : COPY_DAMAGED;
}

int recovery_read(const std::string& path) {
    std::string copy, body;
    if (!read_whole(path, copy)) return SE_OPEN_WEB;
    if (!unseal(copy, body)) return SE_BAD_WEB_FILE;
    return engine_guard([&body]() -> int {
        // The reader takes a file: the checked bytes, without the seal.
        FilePtr f(fmemopen(body.data(), body.size(), "rb"));
        if (!f) return SE_OPEN_WEB;
        int rc = web_read(f.get());
        file_close(f);
        if (rc == 0) web_set_modified(true);
        web_reset_notify();
        return rc;
    });
}

RecoveryFinds recovery_find(const std::string& web_path) {
    RecoveryFinds finds;
    std::string folder = recovery_folder();
    if (folder.empty()) return finds;
    std::string prefix = recovery_key_of(web_path) + ".";
    std::vector<std::string> names;
    if (DIR* d = opendir(folder.c_str())) {
        while (dirent* e = readdir(d))
            names.emplace_back(e->d_name);
        closedir(d);
    }
    std::vector<std::pair<timespec, std::string>> whole;
    for (const std::string& name : names) {
        size_t suffix = std::strlen(COPY_SUFFIX);
        if (name.size() <= prefix.size() + suffix || name.compare(0, prefix.size(), prefix) != 0 ||
            !ends_with(name, COPY_SUFFIX))
            continue;
        std::string instance = name.substr(prefix.size(), name.size() - prefix.size() - suffix);
        if (instance_runs(folder, instance)) continue;
        std::string path = folder + "/" + name;
        switch (recovery_check(path)) {
        case COPY_NONE: unlink(path.c_str()); break; // holds nothing
        case COPY_DAMAGED: finds.damaged.push_back(set_aside(path)); break;
        case COPY_WHOLE: {
            timespec t{};
            mtime_of(path, t);
            whole.emplace_back(t, path);
            break;
        }
        }
    }
    std::sort(whole.begin(), whole.end(), [](const auto& a, const auto& b) {
        return a.first.tv_sec != b.first.tv_sec ? a.first.tv_sec > b.first.tv_sec
                                                : a.first.tv_nsec > b.first.tv_nsec;
    });
    for (auto& w : whole)
        finds.copies.push_back(std::move(w.second));

    // The lock files of ended instances that left no copy go.
    for (const std::string& name : names) {
        if (!ends_with(name, LOCK_SUFFIX)) continue;
        std::string instance = name.substr(0, name.size() - std::strlen(LOCK_SUFFIX));
        int fd = -1;
        if (instance_runs(folder, instance, &fd)) continue;
        std::string mark = "." + instance + COPY_SUFFIX;
        bool has_copy = std::any_of(names.begin(), names.end(), [&](const std::string& n) {
            return ends_with(n, mark.c_str()) && access((folder + "/" + n).c_str(), F_OK) == 0;
        });
        if (!has_copy && fd >= 0) unlink((folder + "/" + name).c_str());
        if (fd >= 0) close(fd);
    }
    return finds;
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

void recovery_release() {
    if (g_lock_fd < 0) return;
    std::string folder = folder_of(g_lock_path);
    std::string mark = "." + recovery_instance() + COPY_SUFFIX;
    bool has_copy = false;
    if (DIR* d = opendir(folder.c_str())) {
        while (dirent* e = readdir(d))
            has_copy = has_copy || ends_with(e->d_name, mark.c_str());
        closedir(d);
    }
    if (!has_copy) unlink(g_lock_path.c_str());
    close(g_lock_fd);
    g_lock_fd = -1;
    g_lock_path.clear();
}

} // namespace tarvex
