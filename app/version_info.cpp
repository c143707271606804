/*
 * version_info.cpp - the version query (command 104): the Eprom firmware word
 * from the driver and the versions the unit returns to a service query, in
 * one message box. Runs on the main thread and sleeps there; the reply bytes
 * come through the IndexMonitorThread into the LocalIndexRing.
 */
#include <windows.h>

#include "app_state.h"
#include "dialog_common.h"
#include "mxusb_protocol.h"
#include "mxusbd.h"
#include "services.h"
#include "version_values.h"

static int NextLocalIndex(void) { return GetLocalIndex(); }
static void SleepMs(unsigned int ms) { Sleep(ms); }

/* Collects up to wanted reply bytes from the LocalIndexRing; returns how many
 * came in time (see CollectReplyWith). */
static int CollectReply(int *reply, int wanted)
{
    return CollectReplyWith(reply, wanted, NextLocalIndex, SleepMs);
}

void RunVersionQuery(void)
{
    int eprom = USBMX_GetFirmwareVersion();

    /* Stop and reset with the monitor held off (no byte it took before may
     * pass for a reply), then let it copy the reply into the ring without
     * showing it. */
    HoldMonitor();
    USBMX_ShutUp();
    DisplaySuppressed = 1;
    ClearIndexDisplay();
    ReleaseMonitor();

    USBMX_RawWriteByte(SYNTH_CMD_LEAD);
    USBMX_RawWriteByte(SYNTH_CMD_SERVICE);
    int reply[VERSION_REPLY_NORMAL];
    int boot_monitor = BootMonitorMode ? 1 : 0;
    int collected;
    if (boot_monitor) {
        USBMX_RawWriteByte(SYNTH_SVC_BOOT_VERSION);
        collected = CollectReply(reply, VERSION_REPLY_BOOT);
    } else {
        USBMX_RawWriteByte(SYNTH_SVC_VERSION);
        collected = CollectReply(reply, VERSION_REPLY_NORMAL);
    }

    char text[VERSION_TEXT_SIZE];
    FormatVersionText(text, sizeof text, boot_monitor, reply, collected, eprom);
    ShowMessage(MainWindow, "Morvox Utility - Version Info", text, MB_ICONINFORMATION | MB_OK);
    DisplaySuppressed = 0;
}
