/*
 * sim_demo.cpp - runs the speak example against the simulated synthesizer:
 * loads the shipped library through the in-process host (which routes its
 * device requests to the simulator), runs the example, then prints what the
 * simulated unit spoke.
 */
#include <stdio.h>
#include <string>
#include <windows.h>

#include "inproc_host.h"

extern "C" int speak_use_module(HMODULE module);
extern "C" int speak_main(int argc, char **argv);

int main(int argc, char **argv)
{
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(NULL, path, MAX_PATH);
    std::wstring dll(path, n);
    dll.resize(dll.find_last_of(L"\\/") + 1);
    dll += sizeof(void *) == 8 ? L"mxusbd64.dll" : L"mxusbd.dll";

    HMODULE module = inproc_load_library(dll.c_str());
    if (!module || !speak_use_module(module)) {
        fprintf(stderr, "mxspeak_sim: cannot load %ls (error %lu)\n", dll.c_str(), GetLastError());
        return 1;
    }
    int rc = speak_main(argc, argv);

    inproc_lock();
    SimModel *m = inproc_model();
    printf("simulated unit's transcript (%u bytes):\n%.*s\n", m->transcript_length,
           (int)m->transcript_length, (const char *)m->transcript);
    inproc_unlock();
    FreeLibrary(module);
    return rc;
}
