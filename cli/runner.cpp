// tarvex-run.
#include "cli/runner.h"

#include "commands/report_command.h"
#include "core/errors.h"
#include "core/guard.h"
#include "engine/engine_start.h"
#include "engine/web_fit.h"
#include "frontend/headless_frontend.h"
#include "io/input_stream.h"
#include "script/compiled_expr.h"
#include "script/run_engine.h"
#include "settings/settings.h"
#include "tarvex_version.h"
#include "web/cell.h"
#include "web/navigation.h"
#include "webfile/web_export.h"
#include "webfile/web_file.h"

#include <cerrno>
#include <charconv>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <getopt.h>
#include <sys/stat.h>
#include <unistd.h>

#ifdef TARVEX_PLOT_PNG
#include "cli/plot_png.h"

#include <dlfcn.h>
#endif

namespace tarvex {

namespace {

bool g_stdout_closed = false;

const char* const k_usage =
    "Usage: tarvex-run [options] WEB.tvx      run a cell of a web file\n"
    "       tarvex-run [options] -e SCRIPT    run SCRIPT as the home cell of a new web\n"
    "\n"
    "  -c, --cell=NAME       the cell to run (default: home)\n"
    "  -n, --iterations=N    iteration count for this run only (the web keeps its own)\n"
    "  -e SCRIPT             the home cell's script, for a new web instead of WEB.tvx\n"
    "      --raw             console bytes unchanged (default: CR LF and lone CR become LF)\n"
    "      --report          produce the web's report (as the Report command) instead of a run\n"
    "      --save            after the run, save the web back to WEB.tvx (not for a\n"
    "                        web read from a pipe: use --save-as)\n"
    "      --save-as=FILE    after the run, save the web to FILE\n"
    "      --plot=FILE.png   after the run, write the plot surface as a PNG image\n"
    "      --export FMT OUT  write the web to OUT as html, md or dot instead of a run\n"
    "      --allow-paths     let the web read and write files outside its folder\n"
    "      --store=N         a node store of N nodes, 10000 (the default) to 65535:\n"
    "                        room for a larger web, and scripts name every cell\n"
    "  -h, --help            this text\n"
    "      --version         the version\n"
    "\n"
    "An option's value may follow it as the next argument or be attached (-chome,\n"
    "--cell=home); long options may be shortened while they stay unambiguous.\n"
    "Options and the web file may come in any order; \"--\" ends the options, so\n"
    "a web file whose name starts with \"-\" can follow it.\n"
    "\n"
    "stdin is the keyboard: a line is read when a script waits for input and typed\n"
    "followed by Enter; the end of stdin types Escape (input aborted). stdout receives\n"
    "the console output; status messages and message boxes go to stderr.\n"
    "\n"
    "WEB.tvx is a regular file or a pipe (cat web.tvx | tarvex-run /dev/stdin), never\n"
    "a device, folder or socket. A file whose first bytes past blanks are not a web's\n"
    "tag (an HTML or Markdown page, a binary) is not a Tarvex web and is not run; an\n"
    "empty file is an empty web. A web read from a pipe, or named /dev/stdin or\n"
    "/dev/fd/N, is untitled: its files are relative to the current folder.\n"
    "\n"
    "--export never replaces a web: OUT is refused when it is the web itself (under\n"
    "any name or link) or any other file that reads as a web; an earlier export\n"
    "(which reads as no web) is replaced.\n"
    "\n"
    "The input and output files a web names are relative to the web file's folder\n"
    "(the current folder with -e). A name that is absolute or leads out of that\n"
    "folder (through .. or a symbolic link, anywhere in the name) is refused, as a\n"
    "file that cannot be opened, unless --allow-paths is given. They must be regular\n"
    "files; --allow-paths lifts the folder rule only, and also takes /dev/null,\n"
    "/dev/stdout and /dev/stderr as output names.\n"
    "\n"
    "Exit status: 0 success (exit included), 1 script error or failed save/output\n"
    "(the console output lost included), 2 nothing run (bad options, unknown cell,\n"
    "unreadable or bad web file, a web larger than the store (the message names the\n"
    "--store it needs), --save of a piped web, an export onto a web).\n";

// The console as stdout: CR LF and a lone CR become LF unless raw. A CR is
// written as LF at once and an LF right after it is dropped, so the bytes
// do not depend on how the console's writes are split, nor on when a
// status message makes us flush. A failed write (a full disk, a closed
// stdout, a reader gone from the pipe) is remembered: the output is lost,
// and the run should not go on producing it.
class ConsoleOut {
  public:
    ConsoleOut(bool raw, bool closed) : raw_(raw), closed_(closed) {}
    void write(std::string_view bytes) {
        if (bytes.empty()) return;
        if (closed_ && !failed_) {
            errno = 0;
            fail();
        }
        if (failed_) return lost();
        if (raw_) return put(bytes);
        std::string out;
        out.reserve(bytes.size());
        for (char c : bytes) {
            bool after_cr = after_cr_;
            after_cr_ = c == '\r';
            if (c == '\n' && after_cr) continue;
            out += c == '\r' ? '\n' : c;
        }
        put(out);
    }
    // Whatever waits in stdio's buffer goes out (before a message on stderr,
    // before stdin is read, at the end).
    void flush() {
        if (!failed_ && std::fflush(stdout) != 0) fail();
    }
    bool failed() const { return failed_; }
    // Called whenever output is lost (the message is written once).
    std::function<void()> on_failure;

  private:
    void put(std::string_view bytes) {
        if (std::fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size()) fail();
    }
    void fail() {
        if (!told_) {
            told_ = true;
            std::fprintf(stderr, "tarvex-run: cannot write the console output: %s\n",
                         errno ? std::strerror(errno) : "stdout is closed");
        }
        failed_ = true;
        lost();
    }
    void lost() {
        if (on_failure) on_failure();
    }
    bool raw_;
    bool closed_;
    bool failed_ = false;
    bool told_ = false;
    bool after_cr_ = false;
};

// stdin as the keyboard: a line is read when input is awaited and the
// queue is empty, then typed as the queue drains, followed by Enter.
class KeyboardIn {
  public:
    void feed(ConsoleOut& console) {
        if (!input_wait()) return;
        if (pending_.empty() && keyboard_count() == 0) {
            console.flush(); // the prompt shows before the line is read
            if (eof_ || !read_line()) {
                eof_ = true;
                keyboard_push(27);
                return;
            }
        }
        size_t n = 0;
        while (n < pending_.size() && keyboard_count() < KEYBOARD_QUEUE_SIZE)
            keyboard_push(static_cast<uint8_t>(pending_[n++]));
        pending_.erase(0, n);
    }

  private:
    bool read_line() {
        char* line = nullptr;
        size_t cap = 0;
        ssize_t len = getline(&line, &cap, stdin);
        if (len < 0) {
            std::free(line);
            return false;
        }
        std::string s(line, static_cast<size_t>(len));
        std::free(line);
        if (!s.empty() && s.back() == '\n') s.pop_back();
        if (!s.empty() && s.back() == '\r') s.pop_back();
        pending_ = s + '\r';
        return true;
    }
    std::string pending_;
    bool eof_ = false;
};

// A count within [1, ITERATIONS_MAX]; digits only, so nothing wraps.
bool parse_count(const char* s, uint32_t* out) {
    const char* end = s + std::strlen(s);
    uint64_t v = 0;
    auto [p, ec] = std::from_chars(s, end, v);
    if (p == s || p != end || ec != std::errc() || v < 1 || v > ITERATIONS_MAX) return false;
    *out = static_cast<uint32_t>(v);
    return true;
}

// How many long options "--given" (or "--given=value") abbreviates.
int long_matches(const char* given, const option* options) {
    std::string_view name = std::string_view(given).substr(2);
    name = name.substr(0, name.find('='));
    int n = 0;
    for (const option* o = options; o->name; ++o)
        if (std::string_view(o->name).substr(0, name.size()) == name) ++n;
    return n;
}

int fail_usage(const std::string& msg) {
    std::fprintf(stderr, "tarvex-run: %s\n(try --help)\n", msg.c_str());
    return RUN_NOTHING;
}

#ifdef TARVEX_PLOT_PNG
// The folders the PNG writer is looked for in: tarvex-run's own (the build
// tree) and the one it is installed to, relative to tarvex-run's.
std::vector<std::string> plot_module_candidates() {
    std::vector<std::string> paths;
    char exe[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe);
    if (n <= 0 || size_t(n) == sizeof exe) return paths; // unknown, or cut short
    std::string dir(exe, static_cast<size_t>(n));
    dir.erase(dir.rfind('/') + 1);
    paths.push_back(dir + PLOT_PNG_MODULE);
    paths.push_back(dir + TARVEX_PLOT_MODULE_DIR "/" + PLOT_PNG_MODULE);
    return paths;
}

// The writer, loaded; null when it cannot be (the reason is written to
// stderr).
PlotPngWriteFn plot_module_writer() {
    std::vector<std::string> paths = plot_module_candidates();
    for (const std::string& path : paths) {
        if (::access(path.c_str(), F_OK) != 0) continue;
        // Every symbol resolved now: a module that does not fit this
        // tarvex-run fails here rather than in the middle of the export.
        void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!module) {
            std::fprintf(stderr, "tarvex-run: --plot: the PNG writer cannot be loaded: %s\n",
                         ::dlerror());
            return nullptr;
        }
        auto version = reinterpret_cast<PlotPngVersionFn>(::dlsym(module, PLOT_PNG_VERSION_ENTRY));
        auto write = reinterpret_cast<PlotPngWriteFn>(::dlsym(module, PLOT_PNG_WRITE_ENTRY));
        if (!version || !write || std::strcmp(version(), TARVEX_VERSION) != 0) {
            std::fprintf(stderr, "tarvex-run: --plot: the PNG writer %s is another version's\n",
                         path.c_str());
            return nullptr;
        }
        return write;
    }
    std::string where;
    for (const std::string& path : paths)
        where += "\n  " + path;
    std::fprintf(stderr, "tarvex-run: --plot needs the PNG writer %s, which is missing%s%s\n",
                 PLOT_PNG_MODULE, where.empty() ? "" : "; looked for:", where.c_str());
    return nullptr;
}

bool write_plot(const std::string& path) {
    PlotPngWriteFn write = plot_module_writer();
    return write && write(path.c_str());
}
#endif

// A web too large for the store: the size it needs, measured by reading the
// file again (a pipe cannot be read again).
void tell_the_store_needed(const std::string& web) {
    struct stat st;
    if (::stat(web.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        std::fprintf(stderr, "tarvex-run: %s does not fit the store of %d nodes: try --store=%d\n",
                     web.c_str(), node_count(), NODE_COUNT_MAX);
        return;
    }
    WebFit fit = web_fit_measure(web);
    if (fit.code != 0) return; // the read itself failed, and said why
    std::string text = web_fit_text(web, fit);
    text += fit.needed != 0 ? ": run it with --store=" + std::to_string(fit.needed)
                            : ": not even with --store=" + std::to_string(NODE_COUNT_MAX);
    std::fprintf(stderr, "tarvex-run: %s\n", text.c_str());
}

} // namespace

bool runner_parse(int argc, char** argv, RunnerOptions* o, int* status) {
    *status = RUN_NOTHING;
    // Values of the options that have no short form.
    enum {
        OPT_RAW = 256,
        OPT_REPORT,
        OPT_SAVE,
        OPT_SAVE_AS,
        OPT_PLOT,
        OPT_EXPORT,
        OPT_ALLOW_PATHS,
        OPT_STORE,
        OPT_VERSION
    };
    static const option k_long[] = {
        {"cell", required_argument, nullptr, 'c'},
        {"iterations", required_argument, nullptr, 'n'},
        {"raw", no_argument, nullptr, OPT_RAW},
        {"report", no_argument, nullptr, OPT_REPORT},
        {"save", no_argument, nullptr, OPT_SAVE},
        {"save-as", required_argument, nullptr, OPT_SAVE_AS},
        {"plot", required_argument, nullptr, OPT_PLOT},
        {"export", required_argument, nullptr, OPT_EXPORT},
        {"allow-paths", no_argument, nullptr, OPT_ALLOW_PATHS},
        {"store", required_argument, nullptr, OPT_STORE},
        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, OPT_VERSION},
        {nullptr, 0, nullptr, 0},
    };
    optind = 0; // a fresh scan, should the options be parsed again
    opterr = 0; // the messages below say what was wrong
    int opt;
    while ((opt = getopt_long(argc, argv, ":c:n:e:h", k_long, nullptr)) != -1) {
        switch (opt) {
        case 'h':
            std::fputs(k_usage, stdout);
            *status = RUN_OK;
            return false;
        case OPT_VERSION:
            std::puts("tarvex-run " TARVEX_VERSION);
            *status = RUN_OK;
            return false;
        case 'e':
            o->have_script = true;
            o->script = optarg;
            break;
        case 'c': o->cell = optarg; break;
        case 'n':
            if (!parse_count(optarg, &o->iterations)) {
                *status = fail_usage("the iteration count must be a whole number from 1 to " +
                                     std::to_string(ITERATIONS_MAX));
                return false;
            }
            break;
        case OPT_RAW: o->raw = true; break;
        case OPT_REPORT: o->report = true; break;
        case OPT_SAVE: o->save = true; break;
        case OPT_SAVE_AS:
            // An empty name would skip the save and still report success.
            if (*optarg == 0) {
                *status = fail_usage("--save-as needs a file name");
                return false;
            }
            o->save_as = optarg;
            break;
        case OPT_PLOT: o->plot = optarg; break;
        case OPT_EXPORT: {
            ExportFormat parsed;
            if (!export_format_parse(optarg, &parsed)) {
                *status = fail_usage(std::string("unknown export format ") + optarg +
                                     " (html, md or dot)");
                return false;
            }
            o->export_format = optarg;
            break;
        }
        case OPT_ALLOW_PATHS: o->allow_paths = true; break;
        case OPT_STORE: {
            uint32_t nodes = 0;
            if (!parse_count(optarg, &nodes) || nodes < NODE_COUNT_DEFAULT ||
                nodes > NODE_COUNT_MAX) {
                *status = fail_usage("the store's size must be a whole number from " +
                                     std::to_string(NODE_COUNT_DEFAULT) + " to " +
                                     std::to_string(NODE_COUNT_MAX));
                return false;
            }
            o->store = static_cast<int>(nodes);
            break;
        }
        case ':': {
            const char* what = optopt == 'c'          ? "a cell name"
                               : optopt == 'n'        ? "a count"
                               : optopt == 'e'        ? "a script"
                               : optopt == OPT_EXPORT ? "a format (html, md or dot)"
                               : optopt == OPT_STORE  ? "a number of nodes"
                                                      : "a file name";
            *status = fail_usage(std::string(argv[optind - 1]) + " needs " + what);
            return false;
        }
        default: // '?': an unknown option, or a value given to one that takes none
            // optopt names a known option only for a long one given a value.
            if (optopt == 'h' || optopt >= OPT_RAW)
                *status = fail_usage(std::string(argv[optind - 1]) + ": the option takes no value");
            else if (optopt != 0)
                *status = fail_usage(std::string("unknown option -") + char(optopt));
            else
                *status = fail_usage(std::string(long_matches(argv[optind - 1], k_long) > 1
                                                     ? "ambiguous option "
                                                     : "unknown option ") +
                                     argv[optind - 1]);
            return false;
        }
    }
    // The export's file comes first among the arguments that are not
    // options (getopt_long moves those to the end, in their order).
    if (!o->export_format.empty()) {
        if (optind >= argc) {
            *status = fail_usage("--export needs a format and a file name");
            return false;
        }
        o->export_path = argv[optind++];
    }
    bool have_web = optind < argc;
    if (argc - optind > 1) {
        *status = fail_usage("only one web file can be given");
        return false;
    }
    if (have_web) o->web = argv[optind];
    if (o->have_script == have_web) {
        *status = fail_usage(have_web ? "give a web file or -e SCRIPT, not both"
                                      : "give a web file or -e SCRIPT");
        return false;
    }
    if (o->have_script && o->save) {
        *status = fail_usage("--save needs a web file (use --save-as with -e)");
        return false;
    }
#ifndef TARVEX_PLOT_PNG
    if (!o->plot.empty()) {
        *status = fail_usage("--plot is not available in this build (no QtGui)");
        return false;
    }
#endif
    return true;
}

void runner_prepare_process() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        int null = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (null >= 0 && null != fd) {
            ::dup2(null, fd);
            ::close(null);
        }
        if (fd == 1) g_stdout_closed = true;
    }
    std::signal(SIGPIPE, SIG_IGN);
}

int runner_main(const RunnerOptions& o) {
    HeadlessFrontend fe;
    fe.record = false; // written as it comes, never hoarded
    fe.allow_paths = o.allow_paths;
    ConsoleOut console(o.raw, g_stdout_closed);
    // Lost output ends the run as Stop would; saving still follows.
    console.on_failure = [] { run_set_stop_request(true); };
    KeyboardIn keyboard;
    fe.on_console = [&](std::string_view bytes) { console.write(bytes); };
    fe.on_message = [&](const std::string& text) {
        console.flush();
        std::fprintf(stderr, "%s\n", text.c_str());
        std::fflush(stderr);
    };
    fe.on_pump = [&] { keyboard.feed(console); };
    frontend_install(&fe);
    node_count_set(o.store != 0 ? o.store : NODE_COUNT_DEFAULT);
    engine_start();
    // TARVEX_REFERENCE_WALKER=1 executes every statement and expression
    // through the walker alone, so that a run can be compared (and timed)
    // against one with compiled code; the output is the same.
    if (const char* walker = std::getenv("TARVEX_REFERENCE_WALKER");
        walker != nullptr && std::strcmp(walker, "1") == 0)
        interp_set_fast_path(false);
    // TARVEX_STEP_CALLS=1 runs every cell call step by step, none on
    // numbers (script/number_calls.h): the same output, for comparing.
    if (const char* steps = std::getenv("TARVEX_STEP_CALLS");
        steps != nullptr && std::strcmp(steps, "1") == 0)
        interp_set_number_calls(false);

    int status = RUN_OK;
    web_open_pipes(true);
    if (o.have_script) {
        engine_guard([&] {
            web_new(); // as File New: a fresh web, every subsystem reset
            cell_set_script(cell_root(), o.script);
        });
    } else if (WebOutcome r = web_open(o.web.c_str()); !r.done()) {
        console.flush();
        if (r.cancelled) std::fprintf(stderr, "tarvex-run: %s was not opened\n", o.web.c_str());
        if (r.code == SE_OUT_OF_MEMORY) tell_the_store_needed(o.web);
        frontend_install(nullptr);
        return RUN_NOTHING;
    }
    if (o.save && !o.have_script && web_file_name().empty()) {
        std::fprintf(stderr,
                     "tarvex-run: --save: %s is a pipe or a descriptor, no file to save to "
                     "(use --save-as)\n",
                     o.web.c_str());
        frontend_install(nullptr);
        return RUN_NOTHING;
    }
    if (!o.export_path.empty()) {
        ExportFormat fmt = EXPORT_HTML;
        export_format_parse(o.export_format, &fmt);
        int r = web_export(fmt, o.export_path);
        if (r != 0)
            std::fprintf(stderr, "tarvex-run: %s: %s\n", export_error_text(r),
                         o.export_path.c_str());
        frontend_install(nullptr);
        return r == 0 ? RUN_OK : r == SE_EXPORT_ONTO_WEB ? RUN_NOTHING : RUN_FAILED;
    }
    CellHandle start = cell_find(o.cell.c_str());
    if (start == 0) {
        std::fprintf(stderr, "tarvex-run: no cell named %s\n", o.cell.c_str());
        frontend_install(nullptr);
        return RUN_NOTHING;
    }
    make_current(start);

    uint32_t own_iterations = settings_iterations();
    if (o.iterations > 0) settings_set_iterations(o.iterations);
    int r = engine_guard([&] { return o.report ? report_command() : run_command(false); });
    settings_set_iterations(own_iterations);
    if (r != 0 && r != SE_EXIT) status = RUN_FAILED;
    LexPosition where;
    if (r != 0 && !o.report && run_error_position(&where)) {
        console.flush();
        std::fprintf(stderr, "in cell %s, line %d, column %d\n",
                     cell_name_string(run_last_error().cell).c_str(), where.line, where.column);
    }

    if (o.save && !web_save().done()) status = RUN_FAILED;
    if (!o.save_as.empty() && !web_save_as(o.save_as.c_str()).done()) status = RUN_FAILED;
    console.flush();
    if (console.failed()) status = RUN_FAILED;
#ifdef TARVEX_PLOT_PNG
    if (!o.plot.empty() && !write_plot(o.plot)) {
        std::fprintf(stderr, "tarvex-run: cannot write the plot to %s\n", o.plot.c_str());
        status = RUN_FAILED;
    }
#endif
    frontend_install(nullptr);
    return status;
}

} // namespace tarvex
