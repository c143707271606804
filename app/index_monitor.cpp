/*
 * index_monitor.cpp - the IndexMonitorThread: takes one received byte per
 * pass, from the library or (after {regindexes}) from the LocalIndexRing,
 * keeps it in the ring for the service operations and shows it in the index
 * line.
 */
#include "index_monitor.h"

#include "app_state.h"
#include "mxusb_protocol.h"
#include "mxusbd.h"

/* Waited on for 30 ms in every pass; nothing signals it. Created at start-up,
 * closed by the monitor thread as it ends (or by start-up when the thread
 * cannot be created). */
static HANDLE MonitorWakeEvent;

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
        if (!MonitorPassMayRun(&MonitorPaused))
            continue;

        int value = NotifyRegistered ? GetLocalIndex() : USBMX_ReadByte();
        unsigned int byte = (unsigned int)value & 0xFFu;
        if (byte != SYNTH_NO_BYTE) { /* 0xFF (and -1) stands for no byte */
            if (!NotifyRegistered)
                PutLocalIndex((int32_t)byte);
            if (!DisplaySuppressed)
                ShowIndexByte(byte);
        }
        Sleep(5);
    }
    CloseMonitorWakeEvent();
    return 0;
}
