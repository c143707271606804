/*
 * version_values.cpp - reply collection and the text of the Version Info box
 * (see version_values.h).
 */
#include "version_values.h"

#include <stdio.h>

int CollectReplyWith(int *reply, int wanted, int (*get_byte)(void),
                     void (*sleep_ms)(unsigned int ms))
{
    sleep_ms(1000);
    for (int i = 0; i < wanted; ++i) {
        reply[i] = get_byte();
        for (int retry = 0; reply[i] < 0 && retry < 9; ++retry) {
            sleep_ms(100);
            reply[i] = get_byte();
        }
        if (reply[i] < 0)
            return i;
    }
    return wanted;
}

static uint32_t Byte(const int *reply, int i)
{
    return static_cast<uint32_t>(reply[i]) & 0xFFu;
}

uint32_t VersionUsbFirmware(const int *reply)
{
    return Byte(reply, 4) | Byte(reply, 5) << 8;
}

uint32_t VersionEngine(const int *reply)
{
    return Byte(reply, 0) | Byte(reply, 1) << 8 | Byte(reply, 2) << 16 | Byte(reply, 3) << 24;
}

uint32_t VersionBootMonitor(const int *reply)
{
    return Byte(reply, 0) | Byte(reply, 1) << 8;
}

void FormatVersionText(char *out, size_t size, int boot_monitor_mode,
                       const int *reply, int collected, int eprom)
{
    unsigned int eprom_word = static_cast<unsigned int>(eprom);
    if (boot_monitor_mode && collected == VERSION_REPLY_BOOT)
        snprintf(out, size, "Boot Monitor: 0x%x\nEprom Firmware: 0x%x",
                 static_cast<unsigned int>(VersionBootMonitor(reply)), eprom_word);
    else if (!boot_monitor_mode && collected == VERSION_REPLY_NORMAL)
        snprintf(out, size, "Morvox USB Firmware: 0x%x\nMorvox Engine: 0x%x\nEprom Firmware: 0x%x",
                 static_cast<unsigned int>(VersionUsbFirmware(reply)),
                 static_cast<unsigned int>(VersionEngine(reply)), eprom_word);
    else
        snprintf(out, size, "Eprom Firmware: 0x%x", eprom_word);
}
