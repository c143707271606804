/*
 * services.h - the service dialogs and the version query that the main window
 * opens from its menu commands: Send File (102), Version Info (104), Compile
 * Dictionary (105), Download User Dictionary (106).
 *
 * Sources: send_file_dialog.cpp, compile_dict_dialog.cpp,
 * dictionary_download.cpp, version_info.cpp; their dialog templates are in
 * services_dialogs.rc, included at the end of mxuapp.rc; resource ids are in
 * resource.h.
 *
 * All four run on the main thread (modal dialogs, sleeps on that thread).
 * Shared state (flags, LocalIndexRing, ClearIndexDisplay, MainWindow, the
 * instance handle) is in app_state.h.
 */
#ifndef MXUAPP_SERVICES_H
#define MXUAPP_SERVICES_H

#include <windows.h>

/* Dialog procedure of IicSendFileUsb (command 102). */
INT_PTR CALLBACK SendFileDlgProc(HWND, UINT, WPARAM, LPARAM);

/* Dialog procedure of IicCompileDict (command 105). */
INT_PTR CALLBACK CompileDictDlgProc(HWND, UINT, WPARAM, LPARAM);

/* Dialog procedure of IicDownloadDict (command 106). */
INT_PTR CALLBACK DownloadDictDlgProc(HWND, UINT, WPARAM, LPARAM);

/* The version query and its message box (command 104). */
void RunVersionQuery(void);

#endif /* MXUAPP_SERVICES_H */
