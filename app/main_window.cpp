/*
 * main_window.cpp - the program entry of mxuapp64 (start-up, message loop,
 * shutdown), the main window procedure with its menu commands, the painting
 * of the index line and the progress bar.
 *
 * Where things happen in app/:
 *   brace commands       send_text_dialog.cpp recognises a typed line
 *                        (text_commands.cpp: matching, caret escapes, the
 *                        {read} operand); the boot commands run in
 *                        boot_service.cpp (boot_stream.cpp streams the files)
 *   dictionary handshake dictionary_download.cpp (length, 0x01 'u', data,
 *                        sum reply, 'p' and 'f'); its checks and waits in
 *                        dictionary_check.cpp
 *   index line           index_monitor.cpp takes each received byte;
 *                        index_text.cpp builds and wraps the line; painted
 *                        here (WM_PAINT)
 *   service replies      every reply reaches the LocalIndexRing
 *                        (local_index_ring.cpp) through the monitor, and the
 *                        operations take it with GetLocalIndex (app_state.cpp);
 *                        version_info.cpp and version_values.cpp for the
 *                        version query
 *   shared state         app_state.h says what guards what; monitor_pause.h
 *                        is the MonitorPaused handshake
 * Every unit with no Windows calls is in the mxuapp_logic library and tested
 * natively (tests/app).
 */
#include <windows.h>
#include <commctrl.h>

#include "app_state.h"
#include "dialog_common.h"
#include "index_monitor.h"
#include "mxusbd.h"
#include "resource.h"
#include "send_text_dialog.h"
#include "services.h"

#define APP_TITLE         "Morvox USB SPEECH UTILITY"
#define APP_ERROR_CAPTION "Morvox USB Utility"
#define THREAD_FAILED     "***Error: Unable to initiate index thread."

/* Time the monitor thread has to notice QuitFlag at shutdown. */
#define MONITOR_STOP_MS 300

/* Read once per WM_SYSCOLORCHANGE; zero before the first. */
static COLORREF TextColour;
static COLORREF BackgroundColour;
static HFONT IndexFont;

static void PaintIndexText(HWND window)
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    SetTextColor(dc, TextColour);
    SetBkColor(dc, BackgroundColour);
    SelectObject(dc, IndexFont);
    /* The rectangle holds one line: the line being filled, or the one just
     * completed while the new line is empty. */
    char line[INDEX_LINE_COPY_SIZE];
    CopyIndexDisplayLine(line, sizeof line);
    RECT rect = IndexTextRect;
    DrawTextA(dc, line, lstrlenA(line), &rect, DT_NOPREFIX);
    EndPaint(window, &paint);
}

static void OpenDialog(const char *name, DLGPROC procedure)
{
    DialogBoxParamA(AppInstance, name, MainWindow, procedure, 0);
}

static void RunCommand(WORD id)
{
    switch (id) {
    case IDM_EXIT:
        DestroyWindow(MainWindow);
        break;
    case IDM_SEND_TEXT:
        DisplaySuppressed = 0;
        ClearIndexDisplay();
        SetIndexDisplayLabel();
        OpenDialog(IDD_SEND_TEXT_NAME, SendTextDlgProc);
        break;
    case IDM_SEND_FILE:
        DisplaySuppressed = 0;
        ClearIndexDisplay();
        SetIndexDisplayLabel();
        OpenDialog(IDD_SEND_FILE_NAME, SendFileDlgProc);
        break;
    case IDM_VERSION_INFO:
        RunVersionQuery();
        break;
    case IDM_COMPILE_DICT:
        OpenDialog(IDD_COMPILE_DICT_NAME, CompileDictDlgProc);
        break;
    case IDM_DOWNLOAD_DICT:
        OpenDialog(IDD_DOWNLOAD_DICT_NAME, DownloadDictDlgProc);
        DisplaySuppressed = 0;
        break;
    default:
        break;
    }
}

static LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        IndexFont = (HFONT)GetStockObject(ANSI_VAR_FONT);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    case WM_PAINT:
        PaintIndexText(window);
        return 0;
    case WM_SYSCOLORCHANGE:
        TextColour = GetSysColor(COLOR_WINDOWTEXT);
        BackgroundColour = GetSysColor(COLOR_WINDOW);
        InvalidateRect(window, NULL, TRUE);
        UpdateWindow(window);
        return 0;
    case WM_COMMAND:
        RunCommand(LOWORD(wParam));
        return 0;
    case WM_SYSCOMMAND:
        if (wParam == SC_CLOSE) {
            DestroyWindow(window);
            return 0;
        }
        return DefWindowProcA(window, message, wParam, lParam);
    case MX_INDEX_NOTIFY_MESSAGE:
        PutLocalIndex((int32_t)(wParam & 0xFF));
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

/* A bar along the bottom of the client area, range 0 to 292, one step
 * filled. Nothing moves or resizes it afterwards. */
static void CreateProgressBar(void)
{
    InitCommonControls();
    RECT client;
    GetClientRect(MainWindow, &client);
    int height = GetSystemMetrics(SM_CYVSCROLL);
    HWND bar = CreateWindowExA(0, PROGRESS_CLASSA, NULL, WS_CHILD | WS_VISIBLE,
                               client.left, client.bottom - height, client.right, height,
                               MainWindow, (HMENU)0, AppInstance, NULL);
    SendMessageA(bar, PBM_SETRANGE, 0, MAKELPARAM(0, 292));
    SendMessageA(bar, PBM_SETSTEP, 1, 0);
    SendMessageA(bar, PBM_STEPIT, 0, 0);
}

static int StartupError(const char *text)
{
    ShowMessage(NULL, APP_ERROR_CAPTION, text, MB_OK);
    return 0;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show)
{
    AppInstance = instance;

    WNDCLASSA wc = {};
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = MainWindowProc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconA(instance, IDI_ICON_NAME);
    wc.hCursor = LoadCursorA(NULL, (LPCSTR)IDC_ARROW);
    wc.hbrBackground = (HBRUSH)(COLOR_WINDOW + 1);
    wc.lpszMenuName = IDR_MENU_NAME;
    wc.lpszClassName = IDS_CLASS_NAME;
    if (!RegisterClassA(&wc))
        return 0;

    MainWindow = CreateWindowExA(0, IDS_CLASS_NAME, APP_TITLE,
                                 WS_OVERLAPPEDWINDOW | WS_VSCROLL | WS_HSCROLL | WS_MAXIMIZE,
                                 CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                 NULL, NULL, instance, NULL);
    if (!MainWindow)
        return 0;

    PostMessageA(MainWindow, WM_SYSCOLORCHANGE, 0, 0);
    ShowWindow(MainWindow, show);
    UpdateWindow(MainWindow);

    NotifyRegistered = 0;
    if (!USBMX_OpenSynth())
        return StartupError(DRIVER_NOT_LOADED_TEXT);

    ClearIndexDisplay();
    DisplaySuppressed = 0;
    BootMonitorMode = 0;

    if (!CreateMonitorWakeEvent())
        return StartupError(THREAD_FAILED);

    QuitFlag = 0;
    MonitorPauseSet(&MonitorPaused);
    DWORD thread_id = 0;
    HANDLE monitor = CreateThread(NULL, 0, IndexMonitorThread, NULL, 0, &thread_id);
    if (!monitor) {
        CloseMonitorWakeEvent();
        return StartupError(THREAD_FAILED);
    }
    SetThreadPriority(monitor, THREAD_PRIORITY_NORMAL);
    ReleaseMonitor();

    CreateProgressBar();

    MSG msg = {};
    while (GetMessageA(&msg, NULL, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }

    /* Stop the monitor before the library: it must not be inside
     * USBMX_ReadByte while USBMX_CloseSynth runs. */
    QuitFlag = 1;
    WaitForSingleObject(monitor, MONITOR_STOP_MS);
    CloseHandle(monitor);
    USBMX_CloseSynth();
    return (int)msg.wParam;
}
