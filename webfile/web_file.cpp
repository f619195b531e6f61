// Starting, opening and saving webs: the file name and display name, the
// save question, and the save itself, which writes a temporary file beside
// the target and renames it over the target only once it is complete and
// synced, so a failed save never costs the previous file.
#include "webfile/web_file.h"

#include "core/errors.h"
#include "core/guard.h"
#include "core/io_file.h"
#include "frontend/frontend.h"
#include "io/input_stream.h"
#include "io/stream_path.h"
#include "web/cell.h"
#include "web/navigation.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tarvex {

namespace {

constexpr int SYMLINK_HOPS_MAX = 40;

std::string g_file_name;
std::vector<WebResetHook> g_reset_hooks;
int g_fail_at = 0;
int g_steps = 0;

// One more step of a save; false when the injection makes it fail.
bool save_step() { return ++g_steps != g_fail_at; }

void set_file_name(const std::string& name) {
    g_file_name = name;
    stream_web_file_set(name);
    set_window_title(web_display_name());
}

void after_reset() {
    streams_reset();
    for (WebResetHook h : g_reset_hooks)
        h();
    relayout();
}

std::string dir_of(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The file a save replaces: the target of a symbolic link (followed link by
// link, so a dangling one names the file to create), else the name itself.
bool resolve_target(const std::string& name, std::string& out) {
    out = name;
    for (int hops = 0; hops < SYMLINK_HOPS_MAX; ++hops) {
        struct stat st;
        if (lstat(out.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return true;
        std::vector<char> buf(PATH_MAX + 1);
        ssize_t n = readlink(out.c_str(), buf.data(), PATH_MAX);
        if (n <= 0) return false;
        std::string link(buf.data(), static_cast<size_t>(n));
        out = link[0] == '/' ? link : dir_of(out) + "/" + link;
    }
    return false;
}

// ---- the temporary file ---------------------------------------------------------

// A save writes ".tarvex-save-<key>-XXXXXX" beside its target, the key
// telling which target the file is for, and holds an exclusive lock on it
// while it lives. A saver killed part-way leaves its file unlocked: the next
// save or open of the same web removes it. A live saver's file is always
// locked, so it is never taken.
constexpr char TEMP_PREFIX[] = ".tarvex-save-";

std::string base_of(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The prefix of the temporary files of target: a hash of its file name
// (the name itself could make the temporary name too long).
std::string temp_prefix(const std::string& target) {
    uint64_t h = 1469598103934665603ull; // FNV-1a
    for (char c : base_of(target)) {
        h ^= static_cast<uint8_t>(c);
        h *= 1099511628211ull;
    }
    char key[17];
    std::snprintf(key, sizeof key, "%016llx", static_cast<unsigned long long>(h));
    return std::string(TEMP_PREFIX) + key + "-";
}

// Removes the temporary files a killed save of target left behind.
void remove_stale_temps(const std::string& target) {
    std::string dir = dir_of(target);
    std::string prefix = temp_prefix(target);
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) return;
    while (dirent* e = readdir(d)) {
        if (std::strncmp(e->d_name, prefix.c_str(), prefix.size()) != 0) continue;
        std::string path = dir + "/" + e->d_name;
        int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        struct stat st;
        // Locked: a save is writing it. The saver checks, once it holds
        // the lock, that its file was not taken before it could lock it.
        if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && flock(fd, LOCK_EX | LOCK_NB) == 0)
            unlink(path.c_str());
        close(fd);
    }
    closedir(d);
}

// Creates and locks a temporary file for target; -1 when none can be had.
int create_temp(const std::string& target, std::string& temp) {
    // A file removed as stale between its creation and its lock is made again.
    constexpr int CREATE_TRIES = 8;
    for (int i = 0; i < CREATE_TRIES; ++i) {
        temp = dir_of(target) + "/" + temp_prefix(target) + "XXXXXX";
        int fd = mkostemp(temp.data(), O_CLOEXEC);
        if (fd < 0) return -1;
        // Where the file system has no locks, no save can lock the file to
        // remove it either: the save goes on without one.
        (void)flock(fd, LOCK_EX);
        struct stat st;
        if (fstat(fd, &st) != 0 || st.st_nlink > 0) return fd;
        close(fd);
    }
    return -1;
}

// Writes one block of the web into the temporary file; each block is one
// step of the save.
size_t temp_write(void* target, const uint8_t* bytes, size_t n) {
    int fd = *static_cast<int*>(target);
    if (!save_step()) return 0;
    size_t done = 0;
    while (done < n) {
        ssize_t k = ::write(fd, bytes + done, n - done);
        if (k < 0 && errno == EINTR) continue;
        if (k <= 0) break;
        done += static_cast<size_t>(k);
    }
    return done;
}

// Fills fd through write, each block one step of the save.
int write_temp(int fd, const FileFiller& write) { return write(temp_write, &fd); }

bool sync_fd(int fd) {
    while (fsync(fd) != 0)
        if (errno != EINTR) return false;
    return true;
}

// Writes name through write: 0, SE_OPEN_WEB or SE_WRITE_WEB. The target
// is replaced only by a complete, synced file; on failure it is untouched and
// the temporary file is gone.
int replace_file(const std::string& name, const FileFiller& write) {
    g_steps = 0;
    std::string target;
    if (name.empty() || name.size() > size_t(FILE_NAME_MAX) || !resolve_target(name, target))
        return SE_OPEN_WEB;
    struct stat old;
    bool exists = stat(target.c_str(), &old) == 0;
    if (exists) {
        // A read-only file stays as it is, even for a user who could write it.
        if (!S_ISREG(old.st_mode) || access(target.c_str(), W_OK) != 0 ||
            (old.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
            return SE_OPEN_WEB;
    }
    std::string dir = dir_of(target);
    remove_stale_temps(target);
    std::string temp;
    int fd = save_step() ? create_temp(target, temp) : -1;
    if (fd < 0) return SE_OPEN_WEB;
    // The lock lasts past the close of fd, until the file has its new name.
    int lock_fd = dup(fd);
    if (lock_fd < 0) {
        unlink(temp.c_str());
        close(fd);
        return SE_OPEN_WEB;
    }

    mode_t mode;
    if (exists) {
        mode = old.st_mode & 07777;
        if (fchown(fd, old.st_uid, old.st_gid) != 0) mode &= ~static_cast<mode_t>(06000);
    } else {
        mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }
    int rc = fchmod(fd, mode) == 0 ? 0 : SE_OPEN_WEB;
    if (rc == 0) rc = write_temp(fd, write);
    if (rc == 0 && (!save_step() || !sync_fd(fd))) rc = SE_WRITE_WEB;
    bool closed = close(fd) == 0;
    if (rc == 0 && (!save_step() || !closed)) rc = SE_WRITE_WEB;
    if (rc == 0 && (!save_step() || std::rename(temp.c_str(), target.c_str()) != 0))
        rc = SE_WRITE_WEB;
    if (rc != 0) unlink(temp.c_str());
    close(lock_fd);
    if (rc != 0) return rc;
    // The rename itself lasts once the folder is synced; a folder that
    // cannot be synced still holds the new name.
    int dfd = open(dir.c_str(), O_RDONLY | O_DIRECTORY);
    if (dfd >= 0) {
        sync_fd(dfd);
        close(dfd);
    }
    return 0;
}

int save_to(const std::string& name) { return replace_file(name, web_write_to); }

// ---- opening a web ----------------------------------------------------------------

bool g_pipes_allowed = false;
WebOpenCheck g_open_check = nullptr;

// Names that stand for a descriptor the process was handed, not for a file
// in a folder.
bool names_a_descriptor(const std::string& name) {
    return name == "/dev/stdin" || name.rfind("/dev/fd/", 0) == 0 ||
           name.rfind("/proc/self/fd/", 0) == 0;
}

// Opens name to read a web from: 0, SE_OPEN_WEB, or SE_WEB_NOT_FILE for a
// device, folder or socket (and a pipe unless allowed). The open never
// waits (a FIFO without a writer would hold it up, and reading a device
// such as /dev/zero would never end), so the type is known before the
// first byte is read. piped tells whether name is a pipe.
int open_web_file(const std::string& name, FilePtr& f, bool& piped) {
    int fd = ::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return SE_OPEN_WEB;
    struct stat st;
    if (fstat(fd, &st) != 0) {
        close(fd);
        return SE_OPEN_WEB;
    }
    piped = S_ISFIFO(st.st_mode);
    if (!S_ISREG(st.st_mode) && !(piped && g_pipes_allowed)) {
        close(fd);
        return SE_WEB_NOT_FILE;
    }
    if (piped) {
        // Until a writer has written or gone, a read would find no writer
        // and take the pipe for an empty web.
        pollfd p{fd, POLLIN, 0};
        while (poll(&p, 1, -1) < 0 && errno == EINTR) {
        }
    }
    int flags = fcntl(fd, F_GETFL);
    std::FILE* raw =
        flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0 ? nullptr : fdopen(fd, "rb");
    if (!raw) {
        close(fd);
        return SE_OPEN_WEB;
    }
    f.reset(raw);
    std::setvbuf(raw, nullptr, _IONBF, 0);
    return 0;
}

// ---- commands without their guard -----------------------------------------------

constexpr WebOutcome k_cancelled{SE_OK, true};

WebOutcome save_as_inner(const char* name);

WebOutcome save_inner() {
    if (g_file_name.empty()) return save_as_inner(nullptr);
    int rc = save_to(g_file_name);
    if (rc != 0) return {status_error(rc)};
    web_set_modified(false);
    return {};
}

WebOutcome save_as_inner(const char* name) {
    std::string chosen = name && *name ? name : ask_save_file_name(web_display_name());
    if (chosen.empty()) return k_cancelled;
    std::string previous = g_file_name;
    set_file_name(chosen);
    WebOutcome rc = save_inner();
    if (!rc.done()) {
        // The web was not written there: it keeps the file it came from.
        set_file_name(previous);
        status_flash("Not Saved");
        return rc;
    }
    status_flash("Saved");
    return {};
}

WebOutcome save_prompt_inner() {
    if (!web_modified()) return {};
    switch (ask_save_changes(web_display_name())) {
    case SAVE_YES: return save_inner();
    case SAVE_NO: return {};
    default: return k_cancelled;
    }
}

// Runs f under the guard; running out of nodes becomes the outcome's code.
template <class F> WebOutcome guarded(F&& f) {
    WebOutcome out;
    int rc = engine_guard([&] {
        out = f();
        return out.code;
    });
    if (rc != out.code) out = WebOutcome{rc};
    return out;
}

} // namespace

int file_replace(const std::string& name, const FileFiller& write) {
    return replace_file(name, write);
}

// ---- names ------------------------------------------------------------------------

const std::string& web_file_name() { return g_file_name; }

std::string web_display_name_of(const std::string& path) {
    size_t start = path.find_last_of("/\\:");
    std::string name = start == std::string::npos ? path : path.substr(start + 1);
    size_t dot = name.find('.');
    if (dot != std::string::npos) name.resize(dot);
    return name;
}

std::string web_display_name() { return web_display_name_of(g_file_name); }

void web_add_reset_hook(WebResetHook hook) {
    if (std::find(g_reset_hooks.begin(), g_reset_hooks.end(), hook) == g_reset_hooks.end())
        g_reset_hooks.push_back(hook);
}

// ---- commands ------------------------------------------------------------------------

WebOutcome web_new() {
    return guarded([] {
        WebOutcome asked = save_prompt_inner();
        if (!asked.done()) return asked;
        set_file_name("");
        web_start_fresh();
        after_reset();
        return WebOutcome{};
    });
}

WebOutcome web_open(const char* name) {
    return guarded([name] {
        WebOutcome asked = save_prompt_inner();
        if (!asked.done()) return asked;
        std::string chosen;
        if (name && *name) {
            chosen = name;
            chosen.erase(std::remove(chosen.begin(), chosen.end(), '"'), chosen.end());
        } else {
            chosen = ask_open_file_name(g_file_name);
        }
        if (chosen.empty()) return k_cancelled;
        FilePtr f;
        bool piped = false;
        int opened =
            chosen.size() <= size_t(FILE_NAME_MAX) ? open_web_file(chosen, f, piped) : SE_OPEN_WEB;
        if (opened != 0) return WebOutcome{status_error(opened)};
        piped = piped || names_a_descriptor(chosen);
        if (g_open_check && !piped) {
            if (int refused = g_open_check(chosen, fileno(f.get())); refused != 0)
                return WebOutcome{status_error(refused)};
        }
        if (std::string target; !piped && resolve_target(chosen, target))
            remove_stale_temps(target);
        // Untitled while the file is read: a save asked for meanwhile (the
        // low-memory question) must not write a half-read web over it.
        std::string previous = g_file_name;
        set_file_name("");
        int rc = web_read(f.get());
        file_close(f);
        if (rc == SE_NOT_A_WEB) {
            set_file_name(previous); // nothing was read: the web is as it was
            return WebOutcome{rc};
        }
        // A bad or partly read web stays untitled, so a later Save cannot
        // overwrite the file with it.
        if (rc == 0 && !piped) set_file_name(chosen);
        after_reset();
        return WebOutcome{rc};
    });
}

WebOutcome web_save() {
    return guarded([] { return save_inner(); });
}

WebOutcome web_save_as(const char* name) {
    return guarded([name] { return save_as_inner(name); });
}

WebOutcome web_save_prompt() {
    return guarded([] { return save_prompt_inner(); });
}

// ---- copies beside the commands -------------------------------------------------------

void web_reset_notify() { after_reset(); }

void web_open_pipes(bool allowed) { g_pipes_allowed = allowed; }
void web_open_set_check(WebOpenCheck check) { g_open_check = check; }

// ---- fault injection -------------------------------------------------------------------

void web_save_fail_at(int n) { g_fail_at = n; }
int web_save_steps() { return g_steps; }

} // namespace tarvex
