/*
 * bench_main.cpp - mxbench: what an application feels of the library, through
 * the driver host (scripts/simdrv.sh up first; scripts/bench.sh runs it in
 * both builds and prints the table).
 *
 *   mxbench [idle] [latency] [throughput] [--count N]
 *
 * Without a section name all three run: idle CPU, index latency (N bytes
 * each way, default 500), speech throughput. Prints ROW and NOTE lines
 * (tab-separated) for the table; diagnostics go to stderr. Exit status 0 when
 * every section could measure (whether or not its goal is met).
 */
#include <stdlib.h>
#include <string.h>

#include "bench_common.h"
#include "mxsim_control.h"

int main(int argc, char **argv)
{
    bool idle = false, latency = false, throughput = false;
    int count = 500;
    for (int i = 1; i < argc; ++i) {
        if (!strcmp(argv[i], "idle"))
            idle = true;
        else if (!strcmp(argv[i], "latency"))
            latency = true;
        else if (!strcmp(argv[i], "throughput"))
            throughput = true;
        else if (!strcmp(argv[i], "--count") && i + 1 < argc)
            count = atoi(argv[++i]);
        else {
            fprintf(stderr, "usage: mxbench [idle] [latency] [throughput] [--count N]\n");
            return 2;
        }
    }
    if (!idle && !latency && !throughput)
        idle = latency = throughput = true;
    /* A fresh unit before the library opens it: nothing pending, no schedule. */
    if (!BenchControl(MXSIM_IOCTL_RESET, NULL, 0))
        return 1;
    BenchApi api;
    if (!BenchLoadApi(&api))
        return 1;
    int failed = 0;
    if (idle)
        failed += BenchIdleCpu(api) != 0;
    if (latency)
        failed += BenchIndexLatency(api, count) != 0;
    if (throughput)
        failed += BenchThroughput(api) != 0;
    FreeLibrary(api.module);
    return failed ? 1 : 0;
}
