// tarvex-run: a cell of a web file (or a script given on the command line)
// run as the Run command runs it, with stdin as the keyboard, stdout as the
// console, and status messages and message boxes on stderr.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarvex {

struct RunnerOptions {
    std::string web;           // the web file, "" with -e
    bool have_script = false;  // -e given
    std::string script;        // -e SCRIPT
    std::string cell = "home"; // -c
    uint32_t iterations = 0;   // -n, 0 = the web's own
    bool raw = false;          // --raw
    bool report = false;       // --report
    bool save = false;         // --save
    std::string save_as;       // --save-as
    std::string plot;          // --plot
    std::string export_format; // --export FMT OUT: the web exported instead of a run
    std::string export_path;
    bool allow_paths = false; // --allow-paths
    int store = 0;            // --store: the node store's size, 0 = the default
};

// The largest -n: the iteration setting is a 32-bit count.
constexpr uint64_t ITERATIONS_MAX = 4294967295u;

// Exit statuses.
constexpr int RUN_OK = 0;
constexpr int RUN_FAILED = 1;  // a script error, a failed save or output write
constexpr int RUN_NOTHING = 2; // bad options, unknown cell, bad web file

// Parses argv; on a problem writes the message to stderr and returns
// RUN_NOTHING (or RUN_OK after --help / --version) through *exit_status.
bool runner_parse(int argc, char** argv, RunnerOptions* opts, int* exit_status);
int runner_main(const RunnerOptions& opts);

// Before anything else: a standard stream the runner was started without is
// opened on /dev/null, so no file the run opens can take its place (and
// receive the console), and the console knows its bytes are lost. A broken
// pipe becomes a failed write instead of a signal.
void runner_prepare_process();

} // namespace tarvex
