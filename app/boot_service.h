/*
 * boot_service.h - the boot monitor and boot strap commands of the Send Text
 * dialog: "{bootmonitor}", "{normal}", "{read}", "{bootstrap}".
 *
 * Each is called on the main thread from the dialog's send step, after its
 * driver check, with the dialog window and the typed text (at most 255
 * characters). Each either leaves the dialog open or ends it with result 0,
 * and shows its messages owned by the dialog with the Send Text caption.
 */
#ifndef MXUAPP_BOOT_SERVICE_H
#define MXUAPP_BOOT_SERVICE_H

#include <windows.h>

void RunBootMonitorCommand(HWND dialog);
void RunNormalCommand(HWND dialog);
void RunReadCommand(HWND dialog, const char *text);
void RunBootstrapCommand(HWND dialog);

#endif /* MXUAPP_BOOT_SERVICE_H */
