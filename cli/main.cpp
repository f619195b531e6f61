// tarvex-run's entry point.
#include "cli/runner.h"

#include <cstdio>

int main(int argc, char** argv) {
    tarvex::runner_prepare_process();
    tarvex::RunnerOptions opts;
    int status = 0;
    if (!tarvex::runner_parse(argc, argv, &opts, &status)) {
        // --help and --version promise their text: not written is a failure.
        if (status == tarvex::RUN_OK && (std::fflush(stdout) != 0 || std::ferror(stdout)))
            status = tarvex::RUN_FAILED;
        return status;
    }
    return tarvex::runner_main(opts);
}
