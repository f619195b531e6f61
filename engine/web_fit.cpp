// Measuring a web file against the node store.
#include "engine/web_fit.h"

#include "core/errors.h"
#include "core/node_store.h"
#include "engine/engine_start.h"
#include "frontend/headless_frontend.h"
#include "webfile/web_file.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tarvex {

namespace {

// What the child reports through the pipe.
struct Measured {
    int code;
    int peak;
};

// In the child: a silent engine with the largest store reads the file.
Measured measure_here(const std::string& path) {
    static HeadlessFrontend silent;
    silent.record = false;
    frontend_install(&silent);
    web_open_set_check(nullptr); // measured here, not again
    node_count_set(NODE_COUNT_MAX);
    engine_start();
    node_track_low_water();
    WebOutcome r = web_open(path.c_str());
    return {r.code, NODE_COUNT_MAX - node_low_water()};
}

bool read_all(int fd, void* to, size_t n) {
    auto* p = static_cast<char*>(to);
    while (n > 0) {
        ssize_t got = ::read(fd, p, n);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        p += got;
        n -= static_cast<size_t>(got);
    }
    return true;
}

// Room to work: a quarter more than reading took, at least STORE_ROOM_MIN,
// rounded up to whole thousands; 0 past the largest store.
int store_for(int peak) {
    long want = peak + std::max(peak / 4, STORE_ROOM_MIN);
    want = (want + 999) / 1000 * 1000;
    if (peak + LOW_NODE_THRESHOLD > NODE_COUNT_MAX) return 0;
    return static_cast<int>(std::clamp<long>(want, NODE_COUNT_DEFAULT, NODE_COUNT_MAX));
}

std::string g_refused_name;
WebFit g_refused;

} // namespace

int web_fit_check(const std::string& name, int fd) {
    g_refused_name.clear();
    std::string path = "/proc/self/fd/" + std::to_string(fd);
    if (web_file_surely_fits(path)) return 0;
    WebFit fit = web_fit_measure(path);
    if (fit.code != 0 || fit.fits) return 0; // a failure is the read's to report
    g_refused_name = name;
    g_refused = fit;
    return SE_WEB_PAST_STORE;
}

bool web_fit_refused(std::string* name, WebFit* fit) {
    if (g_refused_name.empty()) return false;
    *name = g_refused_name;
    *fit = g_refused;
    g_refused_name.clear();
    return true;
}

bool web_file_surely_fits(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return true; // the open says why
    long bound = static_cast<long>(st.st_size) * 2 / 5;
    return engine_start_in_use() + bound + LOW_NODE_THRESHOLD < node_count();
}

WebFit web_fit_measure(const std::string& path) {
    WebFit fit;
    fit.code = SE_READ_WEB;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return fit;
    pid_t pid = ::fork();
    if (pid < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        return fit;
    }
    if (pid == 0) {
        ::close(fds[0]);
        Measured m = measure_here(path);
        bool sent = ::write(fds[1], &m, sizeof m) == static_cast<ssize_t>(sizeof m);
        ::_exit(sent ? 0 : 1); // nothing of this process's own is run on the way out
    }
    ::close(fds[1]);
    Measured m{};
    bool got = read_all(fds[0], &m, sizeof m);
    ::close(fds[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!got) return fit;
    fit.peak = m.peak;
    fit.code = m.code == SE_OUT_OF_MEMORY ? 0 : m.code;
    fit.needed = m.code == SE_OUT_OF_MEMORY ? 0 : store_for(m.peak);
    fit.fits = fit.code == 0 && fit.needed != 0 && m.peak + LOW_NODE_THRESHOLD < node_count();
    return fit;
}

std::string web_fit_text(const std::string& path, const WebFit& fit) {
    if (fit.needed == 0)
        return path + " does not fit even the largest store (" + std::to_string(NODE_COUNT_MAX) +
               " nodes)";
    return path + " needs a store of " + std::to_string(fit.needed) + " nodes; this one has " +
           std::to_string(node_count());
}

} // namespace tarvex
