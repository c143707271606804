/*
 * app_state.cpp - the utility's shared flags, the LocalIndexRing and the
 * index display (see app_state.h for who uses them from which thread).
 */
#include "app_state.h"

#include "index_text.h"
#include "local_index_ring.h"

HINSTANCE AppInstance;
HWND MainWindow;

std::atomic<int32_t> QuitFlag;
std::atomic<int32_t> NotifyRegistered;
std::atomic<int32_t> DisplaySuppressed;
std::atomic<int32_t> BootMonitorMode;
MonitorPause MonitorPaused;

/* Longest wait for the monitor to see a pause: a pass takes 35 ms and one
 * library call. */
#define HOLD_MONITOR_BOUND_MS 500

/* Producer: the monitor (NotifyRegistered clear) or the window procedure
 * (message 1280). Consumer: the service operations, or the monitor. */
static LocalRing LocalIndexRing;

/* Appended to by the monitor, reset and painted by the main thread. */
static IndexDisplay Display;

const RECT IndexTextRect = { 10, 10, 400, 30 };

static void SleepMs(unsigned int ms)
{
    Sleep(ms);
}

void HoldMonitor(void)
{
    MonitorPauseAndWait(&MonitorPaused, SleepMs, HOLD_MONITOR_BOUND_MS);
}

void ReleaseMonitor(void)
{
    MonitorPauseClear(&MonitorPaused);
}

void PutLocalIndex(int32_t value)
{
    LocalRingPut(&LocalIndexRing, value);
}

int32_t GetLocalIndex(void)
{
    return LocalRingGet(&LocalIndexRing);
}

/* Has the main window repaint the index line when it next dispatches
 * messages; safe from any thread, never blocks. */
static void RepaintIndexLine(void)
{
    if (MainWindow)
        InvalidateRect(MainWindow, &IndexTextRect, TRUE);
}

void ClearIndexDisplay(void)
{
    LocalRingReset(&LocalIndexRing);
    IndexTextClear(&Display);
    RepaintIndexLine();
}

void SetIndexDisplayLabel(void)
{
    IndexTextSetLabel(&Display);
    RepaintIndexLine();
}

void ShowIndexByte(unsigned int byte)
{
    IndexTextAppendByte(&Display, byte);
    RepaintIndexLine();
}

void CopyIndexDisplayLine(char *out, size_t size)
{
    IndexTextShownLine(&Display, out, size);
}
