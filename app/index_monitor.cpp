/*
 * index_monitor.cpp - the utility's shared flags, the LocalIndexRing, the
 * index display text and the IndexMonitorThread that fills them.
 */
#include "index_monitor.h"

#include "app_state.h"
#include "index_text.h"
#include "local_index_ring.h"
#include "mxusbd.h"

HINSTANCE AppInstance;
HWND MainWindow;

std::atomic<int32_t> QuitFlag;
std::atomic<int32_t> MonitorPaused;
std::atomic<int32_t> NotifyRegistered;
std::atomic<int32_t> DisplaySuppressed;
std::atomic<int32_t> BootMonitorMode;

/* Producer: the monitor (NotifyRegistered clear) or the window procedure
 * (message 1280). Consumer: the service operations, or the monitor. */
static LocalRing LocalIndexRing;

/* Written by the monitor (appends) and the main thread (resets); read by
 * WM_PAINT on the main thread. Its last byte is always zero. */
static IndexDisplay Display;

/* Waited on for 30 ms in every pass; nothing signals it. Created at start-up,
 * closed by the monitor thread as it ends (or by start-up when the thread
 * cannot be created). */
static HANDLE MonitorWakeEvent;

const RECT IndexTextRect = { 10, 10, 400, 30 };

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

const char *IndexDisplayLine(void)
{
    return IndexTextCurrentLine(Display.text);
}

BOOL CreateMonitorWakeEvent(void)
{
    MonitorWakeEvent = CreateEventA(NULL, FALSE, FALSE, NULL);
    return MonitorWakeEvent != NULL;
}

void CloseMonitorWakeEvent(void)
{
    if (MonitorWakeEvent) {
        CloseHandle(MonitorWakeEvent);
        MonitorWakeEvent = NULL;
    }
}

DWORD WINAPI IndexMonitorThread(LPVOID)
{
    SetIndexDisplayLabel();
    while (!QuitFlag) {
        WaitForSingleObject(MonitorWakeEvent, 30);
        if (MonitorPaused)
            continue;

        int value = NotifyRegistered ? GetLocalIndex() : USBMX_ReadByte();
        unsigned int byte = (unsigned int)value & 0xFFu;
        if (byte != 0xFFu) { /* 0xFF (and -1) stands for no byte */
            if (!NotifyRegistered)
                PutLocalIndex((int32_t)byte);
            if (!DisplaySuppressed) {
                IndexTextAppendByte(&Display, byte);
                RepaintIndexLine();
            }
        }
        Sleep(5);
    }
    CloseMonitorWakeEvent();
    return 0;
}
