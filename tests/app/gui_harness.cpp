#include "gui_harness.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "e2e_util.h"

namespace gui {

namespace {

struct Search {
    DWORD pid;
    std::vector<HWND> found;
    const char *class_name;
};

BOOL CALLBACK CollectTopLevel(HWND window, LPARAM param)
{
    auto *search = reinterpret_cast<Search *>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    char name[64] = "";
    GetClassNameA(window, name, sizeof name);
    if (pid == search->pid && IsWindowVisible(window) && strcmp(name, search->class_name) == 0)
        search->found.push_back(window);
    return TRUE;
}

std::vector<HWND> TopLevel(DWORD pid, const char *class_name)
{
    Search search = {pid, {}, class_name};
    EnumWindows(CollectTopLevel, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

BOOL CALLBACK CollectChildren(HWND window, LPARAM param)
{
    reinterpret_cast<std::vector<HWND> *>(param)->push_back(window);
    return TRUE;
}

std::vector<HWND> Children(HWND parent)
{
    std::vector<HWND> children;
    EnumChildWindows(parent, CollectChildren, reinterpret_cast<LPARAM>(&children));
    return children;
}

std::string WindowText(HWND window)
{
    char text[1024] = "";
    // WM_GETTEXT across processes: the system copies the text.
    SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text),
                        SMTO_ABORTIFHUNG, 2000, nullptr);
    return text;
}

// Copies the screen area into a top-down 24-bit DIB.
bool Grab(const RECT &r, std::vector<unsigned char> *pixels, BITMAPINFOHEADER *header)
{
    int width = r.right - r.left, height = r.bottom - r.top;
    if (width <= 0 || height <= 0)
        return false;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void *bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = false;
    if (bitmap) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        ok = BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY) != FALSE;
        GdiFlush();
        size_t stride = ((size_t)width * 3 + 3) & ~(size_t)3;
        pixels->assign((unsigned char *)bits, (unsigned char *)bits + stride * height);
        SelectObject(memory, old);
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    *header = info.bmiHeader;
    return ok;
}

} // namespace

bool Start(App *app, const std::string &exe, const std::string &folder, bool wait_main,
           DWORD timeout_ms)
{
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    std::string command = "\"" + exe + "\"";
    if (!CreateProcessA(exe.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                        folder.c_str(), &startup, &app->process)) {
        printf("gui: cannot start %s (error %lu)\n", exe.c_str(), GetLastError());
        return false;
    }
    app->main = nullptr;
    if (!wait_main)
        return true;
    DWORD start = GetTickCount();
    while (GetTickCount() - start < timeout_ms) {
        std::vector<HWND> windows = TopLevel(app->process.dwProcessId, "TEST_CLASS");
        if (!windows.empty()) {
            app->main = windows[0];
            Sleep(300); // let it finish its start-up
            return true;
        }
        if (WaitForSingleObject(app->process.hProcess, 50) == WAIT_OBJECT_0) {
            printf("gui: %s ended during start-up\n", exe.c_str());
            return false;
        }
    }
    printf("gui: no main window of %s after %lu ms\n", exe.c_str(), timeout_ms);
    return false;
}

long WaitExit(App *app, DWORD timeout_ms)
{
    if (!app->process.hProcess)
        return -1;
    if (WaitForSingleObject(app->process.hProcess, timeout_ms) != WAIT_OBJECT_0)
        return -1;
    DWORD code = 0;
    GetExitCodeProcess(app->process.hProcess, &code);
    return (long)code;
}

long Stop(App *app, DWORD timeout_ms)
{
    if (!app->process.hProcess)
        return -1;
    if (app->main && IsWindow(app->main))
        PostMessageA(app->main, WM_CLOSE, 0, 0);
    long code = WaitExit(app, timeout_ms);
    if (code < 0) {
        printf("gui: the program did not end within %lu ms; terminating it\n", timeout_ms);
        TerminateProcess(app->process.hProcess, 1);
        WaitForSingleObject(app->process.hProcess, 5000);
    }
    CloseHandle(app->process.hThread);
    CloseHandle(app->process.hProcess);
    app->process = PROCESS_INFORMATION();
    app->main = nullptr;
    return code;
}

void Command(App *app, WORD id)
{
    PostMessageA(app->main, WM_COMMAND, MAKEWPARAM(id, 0), 0);
}

std::vector<HWND> Dialogs(const App *app)
{
    return TopLevel(app->process.dwProcessId, "#32770");
}

HWND WaitDialog(const App *app, const char *caption, DWORD timeout_ms)
{
    DWORD start = GetTickCount();
    do {
        for (HWND dialog : Dialogs(app))
            if (GetDlgItem(dialog, 202) && Caption(dialog) == caption)
                return dialog;
        Sleep(20);
    } while (GetTickCount() - start < timeout_ms);
    printf("gui: no dialog \"%s\" after %lu ms\n", caption, timeout_ms);
    return nullptr;
}

HWND WaitMessageBox(const App *app, DWORD timeout_ms)
{
    DWORD start = GetTickCount();
    do {
        for (HWND dialog : Dialogs(app))
            if (!GetDlgItem(dialog, 202) && !MessageText(dialog).empty())
                return dialog;
        Sleep(20);
    } while (GetTickCount() - start < timeout_ms);
    return nullptr;
}

std::string Caption(HWND window)
{
    return WindowText(window);
}

std::string MessageText(HWND box)
{
    for (HWND child : Children(box)) {
        char name[32] = "";
        GetClassNameA(child, name, sizeof name);
        if (lstrcmpiA(name, "Static") == 0) {
            std::string text = WindowText(child);
            if (!text.empty())
                return text;
        }
    }
    return std::string();
}

bool HasButton(HWND box, int id)
{
    HWND button = GetDlgItem(box, id);
    return button && IsWindowVisible(button);
}

void Press(HWND dialog, int id)
{
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

std::string ControlText(HWND dialog, int id)
{
    return WindowText(GetDlgItem(dialog, id));
}

void SetControlText(HWND dialog, int id, const std::string &text)
{
    SendMessageTimeoutA(GetDlgItem(dialog, id), WM_SETTEXT, 0,
                        reinterpret_cast<LPARAM>(text.c_str()), SMTO_ABORTIFHUNG, 2000, nullptr);
}

bool Alive(HWND window)
{
    return IsWindow(window) != FALSE;
}

bool WaitGone(HWND window, DWORD timeout_ms)
{
    DWORD start = GetTickCount();
    while (IsWindow(window)) {
        if (GetTickCount() - start > timeout_ms)
            return false;
        Sleep(20);
    }
    return true;
}

bool Screenshot(HWND window, const std::string &folder, const std::string &name)
{
    RECT r;
    if (!GetWindowRect(window, &r))
        return false;
    Sleep(150); // let it paint
    std::vector<unsigned char> pixels;
    BITMAPINFOHEADER header;
    if (!Grab(r, &pixels, &header))
        return false;
    // A .bmp is bottom-up: flip the rows while writing.
    int width = header.biWidth, height = -header.biHeight;
    size_t stride = ((size_t)width * 3 + 3) & ~(size_t)3;
    header.biHeight = height;
    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof header;
    file.bfSize = (DWORD)(file.bfOffBits + stride * height);
    std::string path = folder + "\\" + name + ".bmp";
    FILE *out = fopen(path.c_str(), "wb");
    if (!out)
        return false;
    fwrite(&file, sizeof file, 1, out);
    fwrite(&header, sizeof header, 1, out);
    for (int y = height - 1; y >= 0; y--)
        fwrite(pixels.data() + stride * y, 1, stride, out);
    fclose(out);
    return true;
}

long InkInClientRect(HWND window, int x0, int y0, int x1, int y1)
{
    POINT origin = {0, 0};
    if (!ClientToScreen(window, &origin))
        return -1;
    RECT r = {origin.x + x0, origin.y + y0, origin.x + x1, origin.y + y1};
    std::vector<unsigned char> pixels;
    BITMAPINFOHEADER header;
    if (!Grab(r, &pixels, &header))
        return -1;
    COLORREF background = GetSysColor(COLOR_WINDOW);
    int width = header.biWidth, height = -header.biHeight;
    size_t stride = ((size_t)width * 3 + 3) & ~(size_t)3;
    long ink = 0;
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++) {
            const unsigned char *p = pixels.data() + stride * y + x * 3;
            if (RGB(p[2], p[1], p[0]) != background)
                ink++;
        }
    return ink;
}

std::string ScreensFolder()
{
    const char *folder = getenv("MXUAPP_SCREENS");
    return folder && *folder ? folder : ".";
}

std::string Sent()
{
    std::string out;
    for (const SimLogEntry &e : e2e::log()) {
        if (e.code != IOCTL_SYNTH_TRANSFER || !e.ok || e.busy)
            continue;
        if (e.mode != TRANSFER_DATA && e.mode != TRANSFER_IMMEDIATE)
            continue;
        for (uint32_t i = 0; i < e.length && i < SIM_LOG_DATA; i++) {
            char token[8];
            snprintf(token, sizeof token, "%s%c:%02x", out.empty() ? "" : " ",
                     e.mode == TRANSFER_DATA ? 'd' : 'i', e.data[i]);
            out += token;
        }
    }
    return out;
}

std::string Data(const std::string &bytes)
{
    std::string out;
    for (unsigned char c : bytes) {
        char token[8];
        snprintf(token, sizeof token, "%sd:%02x", out.empty() ? "" : " ", c);
        out += token;
    }
    return out;
}

void ClearLog()
{
    ASSERT_TRUE(e2e::control(MXSIM_IOCTL_CLEAR, nullptr, 0));
}

void WriteBytes(const std::string &path, const std::string &bytes)
{
    FILE *f = fopen(path.c_str(), "wb");
    ASSERT_NE(nullptr, f) << path;
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
}

} // namespace gui
