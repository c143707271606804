/*
 * resource.h - every resource id of the utility mxuapp64, included by the
 * resource script (mxuapp.rc, services_dialogs.rc) and by the code.
 *
 * What each range holds:
 *   names             window class, menu, icon, dialog templates (by name,
 *                     not by number)
 *   1                 the version resource (the usual VS_VERSION_INFO id)
 *   1, 2              IDOK and IDCANCEL: the two buttons of every dialog
 *   -1                the static label of every dialog
 *   100 - 106         menu commands, WM_COMMAND ids of the main window
 *   202, 220 - 225    dialog controls: the edit field of every dialog, the
 *                     language buttons of the dictionary download
 *   1280              not a resource: the window message of index
 *                     notification
 */
#ifndef MXUAPP_RESOURCE_H
#define MXUAPP_RESOURCE_H

/* Named resources. The script names them bare (TESTMENU MENU ...); the code
 * passes these strings to LoadIcon, RegisterClass and DialogBoxParam. */
#define IDS_CLASS_NAME        "TEST_CLASS"
#define IDR_MENU_NAME         "TESTMENU"
#define IDI_ICON_NAME         "TESTIcon"
#define IDD_SEND_TEXT_NAME    "IicSendTextUsb"
#define IDD_SEND_FILE_NAME    "IicSendFileUsb"
#define IDD_COMPILE_DICT_NAME "IicCompileDict"
#define IDD_DOWNLOAD_DICT_NAME "IicDownloadDict"

/* Menu commands. 103 is not used; 105 has no menu item (only a WM_COMMAND
 * from elsewhere opens the Compile Dictionary dialog). */
#define IDM_EXIT              100
#define IDM_SEND_TEXT         101
#define IDM_SEND_FILE         102
#define IDM_VERSION_INFO      104
#define IDM_COMPILE_DICT      105
#define IDM_DOWNLOAD_DICT     106

/* Dialog controls. */
#define IDC_STATIC_LABEL      (-1)
#define IDC_TEXT_EDIT         202  /* the one edit field of every dialog */
#define IDC_LANG_US_ENGLISH   220  /* Download User Dictionary: language radio buttons */
#define IDC_LANG_UK_ENGLISH   221
#define IDC_LANG_CAST_SPANISH 222
#define IDC_LANG_LATAM_SPANISH 223
#define IDC_LANG_FRENCH       224
#define IDC_LANG_GERMAN       225

/* Version resource. */
#define IDV_VERSION_INFO      1

/* Window message under which the library posts each received byte to the
 * main window (WM_USER + 256). */
#define MX_INDEX_NOTIFY_MESSAGE 1280

#endif /* MXUAPP_RESOURCE_H */
