/*
 * dictionary_download.cpp - the Download User Dictionary dialog
 * (IicDownloadDict, command 106): checks a .dic file, switches the unit to
 * the chosen language, sends the file behind its two-byte length, compares
 * the unit's two reply bytes with the 16-bit sum of the file, commits the
 * dictionary and waits for the unit's 'f'.
 *
 * Everything runs inside the dialog procedure on the main thread and waits
 * by sleeping there. The replies reach it through the IndexMonitorThread,
 * which copies what the library receives into the LocalIndexRing; the
 * download is that ring's only reader while it waits.
 */
#include <windows.h>
#include <stdio.h>

#include "app_state.h"
#include "dialog_common.h"
#include "dictionary_check.h"
#include "mxusb_protocol.h"
#include "mxusbd.h"
#include "resource.h"
#include "services.h"

#define DOWNLOAD_CAPTION "Morvox USB  -  Download User Dictionary"

/* The whole file, and the count of bytes in it; one download at a time on
 * the main thread uses it (kept out of the stack for its size). */
static unsigned char DictImage[DICT_IMAGE_SIZE];

static int NextLocalIndex(void) { return GetLocalIndex(); }
static void SleepMs(unsigned int ms) { Sleep(ms); }
static const ReplyWaitOps WaitOps = {NextLocalIndex, SleepMs, SimpleBeep};

static void Say(HWND dialog, const char *text, UINT style)
{
    ShowMessage(dialog, DOWNLOAD_CAPTION, text, style);
}

/* The language of the highest-numbered checked button; 0 when none is. */
static int ChosenLanguage(HWND dialog)
{
    int language = 0;
    for (int id = IDC_LANG_US_ENGLISH; id <= IDC_LANG_GERMAN; ++id) {
        if (IsDlgButtonChecked(dialog, id) == BST_CHECKED)
            language = id - IDC_LANG_US_ENGLISH;
    }
    return language;
}

/* Steps after the file has been read and checked: language, announce, data,
 * reply against the sum, commit. Ends the dialog on every outcome. */
static void SendDictionary(HWND dialog, uint32_t count)
{
    int language = ChosenLanguage(dialog);
    USBMX_ShutUp();
    USBMX_RawWriteByte(SYNTH_CMD_LEAD);
    USBMX_RawWriteByte(SYNTH_CMD_LANGUAGE);
    USBMX_RawWriteByte('0' + language); /* languages 0 to 5 as digits */
    Sleep(3000);

    /* The replies come through the monitor into the LocalIndexRing, shown
     * nowhere. The monitor is held while the ring is emptied, so that no
     * byte it took before passes for the first reply. */
    NotifyRegistered = 0;
    DisplaySuppressed = 1;
    HoldMonitor();
    USBMX_ShutUp();
    ClearIndexDisplay();
    ReleaseMonitor();

    USBMX_RawWriteByte(SYNTH_CMD_LEAD);
    USBMX_RawWriteByte(SYNTH_CMD_USER_DICT);
    Sleep(50);
    USBMX_RawWriteByte(count % 256);
    USBMX_RawWriteByte(count / 256);

    for (uint32_t k = 0; k < count; ++k) {
        USBMX_RawWriteByte(DictImage[k]);
        if (DictBeepAfterByte(k))
            SimpleBeep();
    }
    if (!WaitDictReplyMatches(&WaitOps, DictSum(DictImage, count))) {
        Say(dialog, "***Error: 16 bit CRC Failed. Dictionary download aborted.", MB_OK);
        USBMX_RawWriteByteImmediate(SYNTH_OOB_RESET);
        EndDialog(dialog, 0);
        return;
    }

    USBMX_RawWriteByte(SYNTH_CMD_COMMIT);
    if (WaitDictCommit(&WaitOps)) {
        Say(dialog, "Dictionary downloaded successfully.", MB_OK | MB_ICONINFORMATION);
        USBMX_RawWriteByteImmediate(SYNTH_OOB_RESET);
        Sleep(1500);
        EndDialog(dialog, 0);
        return;
    }
    Say(dialog, "***Error: Program timed out waiting for download confirmation.", MB_OK);
    DisplaySuppressed = 0;
    EndDialog(dialog, 0);
}

static void DownloadFile(HWND dialog)
{
    char path[PATH_DIALOG_PATH_SIZE];
    char message[512];

    if (!ReadDialogPath(dialog, DOWNLOAD_CAPTION, path))
        return; /* the path is used lowered from here on */
    if (!PathNamesDictionary(path)) {
        Say(dialog, "***File Error: File is not a dictionary file (.DIC).", MB_OK);
        return;
    }
    FILE *file = fopen(path, "rb");
    if (!file) {
        snprintf(message, sizeof message, "The file %s could not be found.", path);
        Say(dialog, message, MB_OK);
        return;
    }
    DisplaySuppressed = 0;

    uint32_t count = 0;
    DictReadResult read = ReadDictionaryImage(ReadFileByte, file, DictImage, &count);
    if (read == DICT_READ_TOO_LARGE) {
        /* The file stays open while the message is shown. */
        Say(dialog, "***Error: Dictionary file size is to large. (Max=64K Bytes)", MB_OK);
        fclose(file);
        EndDialog(dialog, 0);
        return;
    }
    fclose(file);
    if (read == DICT_READ_ERROR) {
        /* A read error ends the reading (a loop that waited for the end of
         * the file alone would spin for ever); nothing is sent. */
        snprintf(message, sizeof message, "***Error: The file %s could not be read.", path);
        Say(dialog, message, MB_OK);
        return;
    }
    if (!DictLengthMatches(DictImage, count)) {
        snprintf(message, sizeof message,
                 "***Error: The file %s is not a Morvox USB dictionary file.", path);
        Say(dialog, message, MB_OK);
        SetDlgItemTextA(dialog, IDC_TEXT_EDIT, "");
        return;
    }
    SendDictionary(dialog, count);
}

INT_PTR CALLBACK DownloadDictDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    (void)lParam;
    INT_PTR result = PathDialogMessage(dialog, message, wParam, DownloadFile);
    if (message == WM_INITDIALOG) {
        CheckDlgButton(dialog, IDC_LANG_US_ENGLISH, BST_CHECKED);
        for (int id = IDC_LANG_UK_ENGLISH; id <= IDC_LANG_GERMAN; ++id)
            CheckDlgButton(dialog, id, BST_UNCHECKED);
    }
    return result;
}
