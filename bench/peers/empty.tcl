# Nothing: the start-up alone, subtracted from the other workloads.
