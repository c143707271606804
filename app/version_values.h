/*
 * version_values.h - the values and the text of the Version Info box, built
 * from the reply bytes, and the collection of those bytes.
 *
 * Plain C++ with no Windows calls: the utility passes GetLocalIndex and Sleep
 * in, so the same code is built natively and tested with sanitizers.
 */
#ifndef VERSION_VALUES_H
#define VERSION_VALUES_H

#include <stddef.h>
#include <stdint.h>

#define VERSION_REPLY_NORMAL 6 /* '?' in normal mode: engine (4 bytes), USB firmware (2) */
#define VERSION_REPLY_BOOT   2 /* 'Q' in boot monitor mode: boot monitor version */
#define VERSION_TEXT_SIZE    160

/* Collects up to wanted reply bytes into reply: sleeps 1000 ms, then for each
 * slot tries get_byte once and up to 9 more times after 100 ms each. A
 * negative result means no byte yet. Returns the number collected (0 to
 * wanted); collection stops at the first slot that stays empty. */
int CollectReplyWith(int *reply, int wanted, int (*get_byte)(void),
                     void (*sleep_ms)(unsigned int ms));

/* USB firmware version: b4 + 256*b5 (each byte its low 8 bits). */
uint32_t VersionUsbFirmware(const int *reply);
/* Engine version: b0 .. b3, least significant byte first. */
uint32_t VersionEngine(const int *reply);
/* Boot monitor version: b0 + 256*b1. */
uint32_t VersionBootMonitor(const int *reply);

/* Writes the box text into out (size bytes, VERSION_TEXT_SIZE is enough):
 * all values when collected equals the bytes wanted in the mode, otherwise
 * the Eprom line alone. eprom is shown as an unsigned 32-bit number, so a
 * failed request (-1) shows as ffffffff. */
void FormatVersionText(char *out, size_t size, int boot_monitor_mode,
                       const int *reply, int collected, int eprom);

#endif /* VERSION_VALUES_H */
