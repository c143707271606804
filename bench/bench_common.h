/* bench_common.h - loading the shipped library through the in-process
 * simulator for the benchmarks. */
#ifndef MX_BENCH_COMMON_H
#define MX_BENCH_COMMON_H

#include <windows.h>
#include <stdio.h>
#include <string>

#include "inproc_host.h"

/* Loads the shipped library beside the benchmark: through the in-process
 * simulator, or (patch false) as is, so that it talks to whatever serves
 * \\.\mxusb-0 - the driver host when it runs. */
static inline HMODULE BenchLoadLibrary(bool patch = true)
{
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(NULL, path, MAX_PATH);
    std::wstring dll(path, n);
    dll.resize(dll.find_last_of(L"\\/") + 1);
    dll += sizeof(void *) == 8 ? L"mxusbd64.dll" : L"mxusbd.dll";
    HMODULE module = patch ? inproc_load_library(dll.c_str()) : LoadLibraryW(dll.c_str());
    if (!module)
        fprintf(stderr, "cannot load %ls (error %lu)\n", dll.c_str(), GetLastError());
    return module;
}

template <typename F> static inline F BenchExport(HMODULE module, const char *name)
{
    F f = (F)(void *)GetProcAddress(module, name);
    if (!f)
        fprintf(stderr, "export %s missing\n", name);
    return f;
}

static inline double BenchSeconds(void)
{
    LARGE_INTEGER c, f;
    QueryPerformanceCounter(&c);
    QueryPerformanceFrequency(&f);
    return (double)c.QuadPart / (double)f.QuadPart;
}

#endif
