// Confinement of stream file names to the web's folder. A name is checked
// and opened in one step: resolved component by component from a
// descriptor of the folder, so no link met on the way and no folder swapped
// for a link while the file is opened can lead outside. The kernel does
// this itself where it can (openat2 with RESOLVE_BENEATH); elsewhere a walk
// with O_NOFOLLOW at every step does the same, following links only while
// they stay inside.
#include "io/stream_path.h"

#include "core/errors.h"
#include "frontend/frontend.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <deque>
#include <filesystem>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace tarvex {

namespace fs = std::filesystem;

namespace {

const char* const REFUSED_ABSOLUTE = "absolute name not allowed";
const char* const REFUSED_OUTSIDE = "outside the web's folder, not allowed";
const char* const NOT_REGULAR = "not a regular file";
const char* const IS_INPUT = "it is the input file";

// Output names a shell user gives for "nowhere" and for the process's own
// streams: kept as they are, and written to whatever they are (once the
// user allows the path, as any absolute name).
const char* const k_special_outputs[] = {"/dev/null", "/dev/stdout", "/dev/stderr"};

// Links followed in one name before giving up, as the kernel's own bound.
constexpr int LINK_HOPS_MAX = 40;

std::string g_web_file;
std::string g_untitled_folder;
// The input file an output may not be, while an output is opened.
struct FileId {
    dev_t dev = 0;
    ino_t ino = 0;
    bool known = false;
} g_input_id;
StreamRefusal g_refusal = REFUSAL_NONE;
bool g_force_walk = false;

bool special_output(const std::string& name) {
    return std::any_of(std::begin(k_special_outputs), std::end(k_special_outputs),
                       [&name](const char* s) { return name == s; });
}

// Closes a descriptor when its owner goes away.
struct Fd {
    int fd = -1;
    explicit Fd(int f = -1) : fd(f) {}
    Fd(Fd&& o) noexcept : fd(o.fd) { o.fd = -1; }
    Fd& operator=(Fd&& o) noexcept {
        std::swap(fd, o.fd);
        return *this;
    }
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
    int release() { return std::exchange(fd, -1); }
};

// The path with every symbolic link of its existing part followed, and the
// rest made plain ("a/../b" is "b"): what the user is shown, and a first
// judgement of where the name leads. The open below is what holds.
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

// The components of a relative name that move somewhere ("" and "." do not).
void push_components(std::deque<std::string>& to, const std::string& name) {
    std::deque<std::string> parts;
    for (size_t at = 0; at <= name.size();) {
        size_t slash = std::min(name.find('/', at), name.size());
        std::string c = name.substr(at, slash - at);
        if (!c.empty() && c != ".") parts.push_back(c);
        at = slash + 1;
    }
    to.insert(to.begin(), parts.begin(), parts.end());
}

// The target of the link name in dir, or false when it is no link.
bool link_target(int dir, const std::string& name, std::string& target) {
    char buf[PATH_MAX];
    ssize_t n = ::readlinkat(dir, name.c_str(), buf, sizeof buf);
    if (n < 0 || n == static_cast<ssize_t>(sizeof buf)) return false;
    target.assign(buf, static_cast<size_t>(n));
    return true;
}

// Opens name below the folder base without the kernel's help. Every
// component is opened with O_NOFOLLOW from the one before; a link is read
// and its target walked in its place. Leaving the folder (a ".." above it,
// an absolute link) fails with EXDEV, as RESOLVE_BENEATH does.
int walk_beneath(int base, const std::string& name, int flags, mode_t mode) {
    std::vector<Fd> dirs; // the folders entered below base
    std::deque<std::string> todo;
    push_components(todo, name);
    int hops = 0;
    while (!todo.empty()) {
        std::string c = std::move(todo.front());
        todo.pop_front();
        if (c == "..") {
            if (dirs.empty()) return errno = EXDEV, -1;
            dirs.pop_back();
            continue;
        }
        int at = dirs.empty() ? base : dirs.back().fd;
        bool last = todo.empty();
        int fd = last ? ::openat(at, c.c_str(), flags | O_NOFOLLOW, mode)
                      : ::openat(at, c.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd >= 0) {
            if (last) return fd;
            dirs.emplace_back(fd);
            continue;
        }
        int err = errno;
        std::string target;
        if ((err != ELOOP && err != ENOTDIR) || !link_target(at, c, target)) return errno = err, -1;
        if (++hops > LINK_HOPS_MAX) return errno = ELOOP, -1;
        if (target.empty() || target[0] == '/') return errno = EXDEV, -1;
        push_components(todo, target);
    }
    // The name ends in a folder ("a/.."): no file to open.
    return errno = EISDIR, -1;
}

// Opens name below base: the kernel's resolution where it has one, the
// walk elsewhere. -1 with errno; EXDEV means the name leads outside.
int open_beneath(int base, const std::string& name, int flags, mode_t mode) {
    if (!g_force_walk) {
        open_how how{};
        how.flags = static_cast<uint64_t>(flags);
        how.mode = (flags & O_CREAT) ? mode : 0;
        how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
        for (int tries = 0; tries < 8; ++tries) {
            long fd = ::syscall(SYS_openat2, base, name.c_str(), &how, sizeof how);
            if (fd >= 0) return static_cast<int>(fd);
            // A rename elsewhere while ".." was resolved: the kernel asks for
            // another try.
            if (errno == EAGAIN) continue;
            // Anything else but a missing or filtered system call is the answer.
            if (errno != ENOSYS && errno != EPERM && errno != EINVAL && errno != E2BIG) return -1;
            break;
        }
    }
    return walk_beneath(base, name, flags, mode);
}

// What a stream file must be: a regular file, so that opening and reading it
// never blocks and never runs on without end. Emptied for output only now.
bool usable(int fd, bool output, bool special, std::string* why) {
    struct stat st;
    if (::fstat(fd, &st) != 0) return *why = std::strerror(errno), false;
    if (special) return true;
    if (!S_ISREG(st.st_mode)) return g_refusal = REFUSAL_NOT_REGULAR, *why = NOT_REGULAR, false;
    // Emptying the input file would lose what the script is to read.
    if (output && g_input_id.known && st.st_dev == g_input_id.dev && st.st_ino == g_input_id.ino)
        return *why = IS_INPUT, false;
    if (output && ::ftruncate(fd, 0) != 0) return *why = std::strerror(errno), false;
    return true;
}

// Opens a stream file: inside the folder unless allowed, a regular file
// unless a special output name. Non-blocking while it is opened, so a FIFO
// cannot hold the open; blocking again for the transfers.
FilePtr open_stream_file(const std::string& name, const std::string& path, bool allowed,
                         bool output, std::string* why) {
    bool special = output && special_output(name);
    int flags = O_NONBLOCK | O_NOCTTY | O_CLOEXEC |
                (!output   ? O_RDONLY
                 : special ? O_WRONLY | O_APPEND
                           : O_WRONLY | O_CREAT);
    Fd fd;
    if (allowed) {
        fd = Fd(::open(path.c_str(), special ? flags : flags | O_NOFOLLOW, 0666));
    } else {
        Fd base(::open(stream_base_folder().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (base.fd >= 0) fd = Fd(open_beneath(base.fd, name, flags, 0666));
    }
    if (fd.fd < 0) {
        // A FIFO without a reader refuses a non-blocking writer.
        *why = errno == EXDEV   ? REFUSED_OUTSIDE
               : errno == ENXIO ? NOT_REGULAR
                                : std::strerror(errno);
        g_refusal = errno == EXDEV   ? REFUSAL_OUTSIDE
                    : errno == ENXIO ? REFUSAL_NOT_REGULAR
                                     : REFUSAL_NONE;
        return nullptr;
    }
    if (!usable(fd.fd, output, special, why)) return nullptr;
    ::fcntl(fd.fd, F_SETFL, ::fcntl(fd.fd, F_GETFL) & ~O_NONBLOCK);
    std::FILE* f = ::fdopen(fd.fd, output ? "wb" : "rb");
    if (!f) return *why = std::strerror(errno), nullptr;
    fd.release();
    // Unbuffered, as every stream file: each block is one system call and a
    // failed write shows at once.
    std::setvbuf(f, nullptr, _IONBF, 0);
    return FilePtr(f);
}

// The file the input setting names, if it opens as an input file would
// (nothing is asked: a name that needs leave is taken as allowed, since an
// output over it must be refused whichever way it was reached).
FileId input_file_id(const std::string& input_setting) {
    FileId id;
    if (input_setting.empty() || input_setting.size() > size_t(FILE_NAME_MAX)) return id;
    std::string name = stream_file_path(input_setting, false);
    std::string why;
    StreamRefusal refusal = g_refusal;
    FilePtr f = open_stream_file(name, name, false, false, &why);
    if (!f && fs::path(name).is_absolute()) f = open_stream_file(name, name, true, false, &why);
    g_refusal = refusal;
    struct stat st;
    if (f && ::fstat(::fileno(f.get()), &st) == 0) id = FileId{st.st_dev, st.st_ino, true};
    return id;
}

} // namespace

std::string stream_base_folder() {
    std::error_code ec;
    if (!g_web_file.empty()) return fs::absolute(g_web_file, ec).parent_path().string();
    return g_untitled_folder.empty() ? fs::current_path(ec).string() : g_untitled_folder;
}

void stream_web_file_set(const std::string& web_file) { g_web_file = web_file; }

void stream_untitled_folder_set(const std::string& folder) { g_untitled_folder = folder; }

std::string stream_file_path(std::string name, bool output) {
    if (output && special_output(name)) return name;
    size_t slash = name.rfind('/');
    size_t start = slash == std::string::npos ? 0 : slash + 1;
    if (name.find('.', start) == std::string::npos) name += ".txt";
    return name;
}

int stream_file_open(const std::string& setting, bool output, FilePtr& file, std::string* shown,
                     std::string* failed, const char* input_setting) {
    g_refusal = REFUSAL_NONE;
    g_input_id = output && input_setting ? input_file_id(input_setting) : FileId{};
    int code = output ? SE_OPEN_OUTPUT : SE_OPEN_INPUT;
    // A cut name would name another file: a name too long is refused whole.
    if (setting.size() > size_t(FILE_NAME_MAX)) {
        *shown = setting;
        if (*failed == setting) return SE_NAME_TOO_LONG;
        *failed = setting;
        return status_error(SE_NAME_TOO_LONG);
    }
    std::string name = stream_file_path(setting, output);
    fs::path given(name);
    bool special = output && special_output(name);
    fs::path base = resolved(stream_base_folder());
    *shown = special ? name : resolved(given.is_absolute() ? given : base / given).string();
    const char* refusal = given.is_absolute()     ? REFUSED_ABSOLUTE
                          : !within(*shown, base) ? REFUSED_OUTSIDE
                                                  : nullptr;
    if (*shown == *failed) return code;
    std::string why;
    if (!refusal) {
        file = open_stream_file(name, *shown, false, output, &why);
        // The folder changed under the name since it was looked at.
        if (!file && g_refusal == REFUSAL_OUTSIDE) refusal = REFUSED_OUTSIDE;
    }
    if (refusal) {
        bool allowed = ask_allow_path(*shown, output);
        g_refusal = allowed ? REFUSAL_NONE : REFUSAL_OUTSIDE;
        why = refusal;
        if (allowed) file = open_stream_file(name, *shown, true, output, &why);
    }
    if (file) return 0;
    *failed = *shown;
    // The reason before the path: a long path is what the status line cuts.
    std::string text = std::string(io_error_text(code)) + " (" + why + "): " + *shown;
    status_flash(text.c_str());
    return code;
}

StreamRefusal stream_path_refusal() { return g_refusal; }

void stream_path_refusal_clear() { g_refusal = REFUSAL_NONE; }

void stream_path_force_walk(bool on) { g_force_walk = on; }

} // namespace tarvex
