/* bench_common.h - what the benchmarks share: the shipped library and its
 * exports, the driver host's devices, clocks (the performance counter and
 * the kernel's per-thread CPU clock of this Wine process), and the rows of
 * the table that scripts/bench.sh prints. */
#ifndef MX_BENCH_COMMON_H
#define MX_BENCH_COMMON_H

#include <windows.h>
#include <stdint.h>
#include <stdio.h>
#include <string>
#include <vector>

/* --- the library --- */

/* The shipped library beside the benchmark (mxusbd64.dll or mxusbd.dll). */
std::wstring BenchLibraryPath(void);

template <typename F> static inline F BenchExport(HMODULE module, const char *name)
{
    F f = (F)(void *)GetProcAddress(module, name);
    if (!f)
        fprintf(stderr, "export %s missing\n", name);
    return f;
}

/* The exports the application-side benchmarks call. */
struct BenchApi {
    HMODULE module;
    int(WINAPI *open)(void);
    void(WINAPI *close)(void);
    int(WINAPI *write_byte)(int);
    int(WINAPI *write_string)(const unsigned char *, int);
    int(WINAPI *read_byte)(void);
    void(WINAPI *halt_indexes)(int);
    void(WINAPI *resume_indexes)(int);
    int(WINAPI *register_window)(HWND, UINT);
};

/* Loads the library as shipped, so that it talks to whatever serves
 * \\.\mxusb-0 (the driver host). False, with a message, when it or an export
 * is missing. */
bool BenchLoadApi(BenchApi *api);

/* "64" or "32": the build this program belongs to. */
static inline const char *BenchBuild(void) { return sizeof(void *) == 8 ? "64" : "32"; }

/* --- the driver host --- */

/* \\.\mxusb-0 opened as an application would, or INVALID_HANDLE_VALUE. */
HANDLE BenchOpenDevice(void);

/* One request on the driver host's control device (\\.\mxsim-control);
 * false on failure. */
bool BenchControl(uint32_t code, const void *in, DWORD in_len, void *out = NULL,
                  DWORD out_len = 0, DWORD *returned = NULL);

/* The simulated unit's transcript length and the length of the text it is
 * still collecting; false when the state cannot be read. */
bool BenchSpoken(uint32_t *transcript_length, uint32_t *text_length);

/* Requests that have reached the product device since the driver started
 * (of every process); 0 when the state cannot be read. */
uint32_t BenchRequests(void);

/* --- clocks --- */

static inline double BenchSeconds(void)
{
    LARGE_INTEGER c, f;
    QueryPerformanceCounter(&c);
    QueryPerformanceFrequency(&f);
    return (double)c.QuadPart / (double)f.QuadPart;
}

/* The kernel's per-thread clock of this process, read from the Linux side.
 * Wine opens files in its server process, so /proc/self would be the
 * server's: the Linux PID of this process comes from MX_BENCH_PID, which the
 * launcher (scripts/bench.sh) sets before it execs Wine, and is checked
 * against /proc/PID/cmdline. Thread ids are Linux TIDs, found by listing
 * /proc/PID/task before and after threads start. */
bool BenchLinuxPidInit(void);
std::vector<int> BenchTasks(void);
/* TIDs in `after` and not in `before`. */
std::vector<int> BenchNewTasks(const std::vector<int> &before, const std::vector<int> &after);
/* CPU time the thread has used (schedstat's first field), ns; -1 if gone. */
int64_t BenchThreadCpuNs(int tid);

/* --- results --- */

/* One row of the table: what is measured, the build, the library's figure,
 * the reference it is set against, their ratio, the goal and whether the
 * goal is met ("" = a note without a goal). */
void BenchRow(const char *measure, const char *library, const char *reference, const char *ratio,
              const char *goal, const char *verdict);
/* A line under the table. */
void BenchNote(const char *format, ...);

/* printf into a std::string. */
std::string BenchFormat(const char *format, ...);

/* The q-quantile (0..1) of the values, nearest rank; 0 when there are none. */
double BenchQuantile(std::vector<double> values, double q);

/* The sections of mxbench (each returns 0 when it could measure). */
int BenchIdleCpu(const BenchApi &api);
int BenchIndexLatency(const BenchApi &api, int count);
int BenchThroughput(const BenchApi &api);

#endif
