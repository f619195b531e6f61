// tarvex-run's entry point.
#include "cli/runner.h"

int main(int argc, char** argv) {
    tarvex::RunnerOptions opts;
    int status = 0;
    if (!tarvex::runner_parse(argc, argv, &opts, &status)) return status;
    return tarvex::runner_main(opts);
}
