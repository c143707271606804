// The runner of the GUI scenarios (gui_harness.h). One utility serves the
// scenarios that need no fresh start; one that fails is stopped, so the next
// scenario starts anew. Every wait is bounded. Screenshots go to the folder
// MXUAPP_SCREENS: every dialog and box once, the main window when asked.
#include "gui_harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <stdio.h>
#include <stdlib.h>

namespace gui {
namespace {

PROCESS_INFORMATION process;       // the utility, while it runs
HWND main_window, dialog;          // its main window and the dialog in front
std::string caption, folder;       // that dialog's caption; the utility's folder
DWORD last_action;                 // tick of the user's last action
std::vector<std::string> files;    // made by the scenario
std::set<std::string> shot;        // screens kept
HANDLE pipe = INVALID_HANDLE_VALUE; // one the utility may read from

DWORD Now() { return GetTickCount(); }

template <typename Cond> bool Until(Cond cond, DWORD ms)
{
    for (DWORD start = Now(); !cond(); Sleep(20))
        if (Now() - start > ms)
            return false;
    return true;
}

// One request on the driver host's control device.
bool Request(uint32_t code, const void *in = nullptr, size_t in_len = 0, void *out = nullptr, DWORD out_len = 0)
{
    HANDLE h = CreateFileA(MXSIM_CONTROL_PATH_A, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD got = 0;
    BOOL ok = h != INVALID_HANDLE_VALUE && DeviceIoControl(h, code, (void *)in, (DWORD)in_len, out, out_len, &got, 0);
    CloseHandle(h);
    return ok != FALSE;
}

MxsimState Model()
{
    MxsimState s = {};
    return Request(MXSIM_IOCTL_GET_STATE, nullptr, 0, &s, sizeof s), s;
}

// The bytes that reached the unit since the log was cleared ("d:41", "i:07"),
// each with the ms since the byte before it.
std::vector<std::pair<std::string, long>> Received()
{
    std::vector<std::pair<std::string, long>> out;
    std::vector<uint8_t> buffer(MXSIM_LOG_CHUNK_SIZE(MXSIM_LOG_CHUNK));
    const MxsimLogChunk *chunk = (const MxsimLogChunk *)buffer.data();
    uint64_t before = 0;
    for (uint32_t first = 0; Request(MXSIM_IOCTL_GET_LOG, &first, 4, buffer.data(), (DWORD)buffer.size());) {
        for (const SimLogEntry *e = chunk->entries; e < chunk->entries + std::min(chunk->count, 64u); e++) {
            bool data = e->mode == TRANSFER_DATA, sent = e->mode == TRANSFER_IMMEDIATE || data;
            for (uint32_t i = 0; e->code == IOCTL_SYNTH_TRANSFER && e->ok && !e->busy && sent && i < e->length; i++)
                out.push_back({(data ? "d:" : "i:") + Data(std::string(1, (char)e->data[i])).substr(2),
                               before ? (long)((e->time_us - before) / 1000) : 0}), before = e->time_us;
        }
        if (chunk->count == 0 || (first += chunk->count) >= chunk->total)
            return out;
    }
    return out;
}

// Waits for as many bytes as expected, compares them and the least pauses
// ("+400": 400 ms less 10 %; a loaded machine makes pauses longer only), then
// clears the log for the next check.
void CheckSent(const std::string &expected, DWORD timeout_ms)
{
    std::vector<std::pair<std::string, long>> want, got;
    for (size_t at = 0, end, pause = 0; at < expected.size(); at = end + 1) {
        end = std::min(expected.find(' ', at), expected.size());
        if (expected[at] == '+')
            pause = atol(&expected[at + 1]);
        else
            want.push_back({expected.substr(at, end - at), (long)pause}), pause = 0;
    }
    Until([&] { return Received().size() >= want.size(); }, timeout_ms);
    Sleep(100); // anything more that follows
    got = Received();
    std::string seen;
    bool same = got.size() == want.size();
    for (size_t i = 0; i < got.size(); i++) {
        seen += (i ? " " : "") + (got[i].second >= 100 ? "+" + std::to_string(got[i].second) + " " : "") + got[i].first;
        same = same && got[i].first == want[i].first && got[i].second >= want[i].second * 9 / 10;
    }
    uint32_t log = MXSIM_CLEAR_LOG;
    EXPECT_TRUE(same) << "sent:     " << seen << "\nexpected: " << expected;
    EXPECT_TRUE(Request(MXSIM_IOCTL_CLEAR, &log, 4));
}

// The utility's visible top-level windows of a class.
std::vector<HWND> Windows(const char *class_name)
{
    std::vector<HWND> out;
    DWORD pid = 0;
    for (HWND w = nullptr; (w = FindWindowExA(nullptr, w, class_name, nullptr)) != nullptr;)
        if (GetWindowThreadProcessId(w, &pid) && pid == process.dwProcessId && IsWindowVisible(w))
            out.push_back(w);
    return out;
}

LRESULT Send(HWND w, UINT message, WPARAM wp = 0, LPARAM lp = 0)
{
    DWORD_PTR result = 0;
    return SendMessageTimeoutA(w, message, wp, lp, SMTO_ABORTIFHUNG, 2000, &result) ? (LRESULT)result : 0;
}
std::string Text(HWND w) // across processes the system copies it
{
    char text[1024] = "";
    return Send(w, WM_GETTEXT, sizeof text, (LPARAM)text), text;
}

// A box's text (its first static with text); whether it shows an icon (a box
// without one keeps an empty icon static).
std::string BoxText(HWND box, bool *icon = nullptr)
{
    std::string text;
    for (HWND c = nullptr; (c = FindWindowExA(box, c, "Static", nullptr)) != nullptr;) {
        if (IsWindowVisible(c) && (GetWindowLongA(c, GWL_STYLE) & SS_TYPEMASK) != SS_ICON)
            text = text.empty() ? Text(c) : text;
        else if (IsWindowVisible(c) && icon && Send(c, STM_GETICON))
            *icon = true;
    }
    return text;
}

// A box of the utility (a #32770 window without edit 202), within ms.
HWND WaitBox(DWORD ms)
{
    HWND box = nullptr;
    Until([&] {
        for (HWND d : Windows("#32770"))
            box = box ? box : !GetDlgItem(d, 202) && !BoxText(d).empty() ? d : nullptr;
        return box != nullptr;
    }, ms);
    return box;
}

// width x height pixels (24-bit, bottom-up) of dc, from (x, y).
std::vector<unsigned char> Grab(HDC dc, long x, long y, long width, long height, BITMAPINFOHEADER *header)
{
    *header = {sizeof *header, width, height, 1, 24, BI_RGB, (DWORD)(((width * 3 + 3) & ~3) * height), 0, 0, 0, 0};
    BITMAPINFO info = {*header, {}};
    void *bits = nullptr;
    HDC memory = CreateCompatibleDC(dc);
    HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    std::vector<unsigned char> out;
    if (bitmap && BitBlt(memory, 0, 0, width, height, dc, x, y, SRCCOPY) && GdiFlush())
        out.assign((unsigned char *)bits, (unsigned char *)bits + header->biSizeImage);
    DeleteObject(SelectObject(memory, old));
    DeleteDC(memory);
    return out;
}

// Saves the window's screen area as a numbered .bmp, once per key.
void Screenshot(HWND w, const std::string &key, std::string name)
{
    RECT r = {};
    BITMAPINFOHEADER header;
    if (!shot.insert(key).second || !GetWindowRect(w, &r))
        return;
    Sleep(150); // let it paint
    HDC screen = GetDC(nullptr);
    std::vector<unsigned char> pixels = Grab(screen, r.left, r.top, r.right - r.left, r.bottom - r.top, &header);
    ReleaseDC(nullptr, screen);
    for (char &c : name)
        c = isalnum((unsigned char)c) ? c : '_';
    const char *dir = getenv("MXUAPP_SCREENS");
    std::string path = std::string(dir && *dir ? dir : ".") + "\\" + std::to_string(100 + shot.size()).substr(1);
    DWORD offset = sizeof(BITMAPFILEHEADER) + sizeof header;
    BITMAPFILEHEADER file = {0x4D42, offset + header.biSizeImage, 0, 0, offset};
    std::string bmp = std::string((char *)&file, sizeof file) + std::string((char *)&header, sizeof header);
    FILE *out = pixels.empty() ? nullptr : fopen((path + "_" + name.substr(0, 48) + ".bmp").c_str(), "wb");
    if (out)
        fwrite((bmp + std::string(pixels.begin(), pixels.end())).data(), 1, offset + pixels.size(), out), fclose(out);
}

// How many bytes of the index line's pixels, (10,10)-(400,30) in the main
// window's client area, differ from text drawn the same way here.
long LineDiffers(const std::string &text)
{
    POINT at = {10, 10};
    RECT area = {0, 0, 390, 20};
    BITMAPINFOHEADER header;
    ClientToScreen(main_window, &at);
    HDC screen = GetDC(nullptr), dc = CreateCompatibleDC(screen);
    HGDIOBJ old = SelectObject(dc, CreateCompatibleBitmap(screen, 390, 20));
    FillRect(dc, &area, GetSysColorBrush(COLOR_WINDOW));
    SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
    SetBkColor(dc, GetSysColor(COLOR_WINDOW));
    SelectObject(dc, GetStockObject(ANSI_VAR_FONT));
    DrawTextA(dc, text.c_str(), (int)text.size(), &area, DT_NOPREFIX);
    std::vector<unsigned char> wanted = Grab(dc, 0, 0, 390, 20, &header);
    std::vector<unsigned char> seen = Grab(screen, at.x, at.y, 390, 20, &header);
    DeleteObject(SelectObject(dc, old));
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    long differ = seen.size() == wanted.size() && !seen.empty() ? 0 : -1;
    for (size_t i = 0; differ >= 0 && i < seen.size(); i++)
        differ += seen[i] != wanted[i];
    return differ;
}

long WaitExit(DWORD ms) // the utility's exit code, -1 while it runs
{
    DWORD code = 0;
    bool ended = process.hProcess && WaitForSingleObject(process.hProcess, ms) == WAIT_OBJECT_0;
    return ended && GetExitCodeProcess(process.hProcess, &code) ? (long)code : -1;
}

// Answers the boxes left, closes the utility (terminated after 5 s).
void StopApp()
{
    for (HWND box; process.hProcess && (box = WaitBox(0)) != nullptr;) {
        printf("gui: a box was left open: \"%s\"\n", BoxText(box).c_str());
        PostMessageA(box, WM_COMMAND, GetDlgItem(box, IDNO) ? IDNO : IDOK, 0);
        Until([&] { return !IsWindow(box); }, 2000);
    }
    if (process.hProcess && PostMessageA(main_window, WM_CLOSE, 0, 0) && WaitExit(5000) < 0) {
        printf("gui: the utility did not end within 5 s; terminating it\n");
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, 5000);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    process = PROCESS_INFORMATION();
    main_window = dialog = nullptr;
}

void StartApp(bool wait_main)
{
    char path[MAX_PATH];
    std::string exe(path, GetModuleFileNameA(nullptr, path, MAX_PATH)), command;
    command = "\"" + exe.replace(exe.find_last_of('\\') + 1, std::string::npos, "mxuapp64.exe") + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    ASSERT_TRUE(CreateProcessA(exe.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                               &startup, &process)) << exe << ": error " << GetLastError();
    last_action = Now();
    ASSERT_TRUE(!wait_main || (Until([] {
        std::vector<HWND> w = Windows("TEST_CLASS");
        return (main_window = w.empty() ? nullptr : w[0]) || WaitExit(0) >= 0;
    }, 20000) && main_window)) << "no main window";
    Sleep(wait_main ? 300 : 0); // let it finish its start-up
}

void Play(const Step &s)
{
    HWND edit = GetDlgItem(dialog, 202), box;
    int id = s.op == kType ? IDOK : (int)s.value;
    bool icon = false;
    DWORD written = 0;
    long differ = -1, waited;
    switch (s.op) {
    case kStart: return StartApp(s.value != 0);
    case kCommand: PostMessageA(main_window, s.code, s.value, 0), last_action = Now(); break;
    case kMenu: // the File menu, as Alt+F opens it, for a screenshot; Esc twice leaves it
        PostMessageA(main_window, WM_SYSCOMMAND, SC_KEYMENU, 'f');
        Sleep(700);
        Screenshot(main_window, "menu", "main_window_file_menu");
        for (int i = 0; i < 4; i++)
            PostMessageA(main_window, i % 2 ? WM_KEYUP : WM_KEYDOWN, VK_ESCAPE, 0), Sleep(100);
        break;
    case kDialog:
        ASSERT_TRUE(Until([&] {
            for (HWND d : Windows("#32770"))
                dialog = GetDlgItem(d, 202) && Text(d) == s.name ? d : dialog;
            return IsWindow(dialog) && Text(dialog) == s.name;
        }, 10000)) << "no dialog \"" << s.name << "\"";
        caption = s.name;
        SetWindowPos(dialog, nullptr, 450, 300, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE); // off the line
        return Screenshot(dialog, s.name, "dialog " + s.name);
    case kType: Send(edit, WM_SETTEXT, 0, (LPARAM)s.text.c_str()); [[fallthrough]]; // and presses button 1
    case kPress:
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(dialog, id));
        last_action = Now();
        break;
    case kClick: Send(GetDlgItem(dialog, id), BM_CLICK); break;
    case kRadio:
        for (int button = 220; button <= 225; button++)
            EXPECT_EQ(button == id, Send(GetDlgItem(dialog, button), BM_GETCHECK) == BST_CHECKED) << button;
        break;
    case kBox:
        ASSERT_TRUE((box = WaitBox(s.timeout_ms)) != nullptr) << "no box in " << s.timeout_ms << " ms: " << s.text;
        waited = (long)(Now() - last_action);
        EXPECT_EQ(s.text, BoxText(box, &icon));
        EXPECT_EQ(s.name.empty() && dialog ? caption : s.name, Text(box)) << "caption of \"" << s.text << "\"";
        EXPECT_EQ(s.icon, icon) << "icon of \"" << s.text << "\"";
        EXPECT_GE(waited, s.min_ms) << "ms before \"" << s.text << "\"";
        EXPECT_EQ(s.owner == kNoOwner ? nullptr : s.owner == kMainOwner || !dialog ? main_window : dialog,
                  GetWindow(box, GW_OWNER)) << "owner of \"" << s.text << "\"";
        EXPECT_TRUE(!s.check_edit || s.edit == Text(edit)) << "under the box edit 202 holds " << Text(edit);
        Screenshot(box, Text(box) + s.text, "box " + s.text);
        ASSERT_TRUE(GetDlgItem(box, s.answer)) << "no button " << s.answer << " in \"" << s.text << "\"";
        PostMessageA(box, WM_COMMAND, s.answer, 0);
        EXPECT_TRUE(Until([&] { return !IsWindow(box); }, 5000));
        last_action = Now();
        break;
    case kNoBox:
        EXPECT_EQ(nullptr, box = WaitBox(s.value)) << "box \"" << (box ? BoxText(box) : "") << "\"";
        if (box)
            PostMessageA(box, WM_COMMAND, IDOK, 0);
        break;
    case kSent: return CheckSent(s.text, s.timeout_ms);
    case kEdit:
        Until([&] { return Text(edit) == s.text; }, 3000);
        EXPECT_EQ(s.text, Text(edit)) << "edit 202";
        break;
    case kGone:
        EXPECT_TRUE(Until([&] { return !IsWindow(dialog); }, s.timeout_ms)) << "the dialog stays";
        EXPECT_GE((long)(Now() - last_action), s.min_ms) << "ms until the dialog ended";
        dialog = nullptr;
        break;
    case kAlive: EXPECT_TRUE(IsWindow(dialog)) << "the dialog has ended"; break;
    case kNoDialog:
        Sleep(s.value);
        EXPECT_TRUE(Windows("#32770").empty());
        break;
    case kLine:
        Until([&] { return (differ = LineDiffers(s.text)) == 0; }, 5000);
        EXPECT_EQ(0, differ) << "bytes of the index line's pixels that differ from \"" << s.text << "\"";
        break;
    case kShot: return Screenshot(main_window, s.name, s.name);
    case kControl: ASSERT_TRUE(Request(s.code, s.text.data(), s.text.size())) << "control " << s.code; break;
    case kState: EXPECT_EQ((uint32_t)s.value, Model().*s.field); break;
    case kAwait: ASSERT_TRUE(Until([&] { return Model().*s.field >= (uint32_t)s.value; }, 60000)); break;
    case kFile: {
        files.push_back(folder + "\\" + s.name);
        FILE *f = fopen(files.back().c_str(), "wb");
        ASSERT_TRUE(f && fwrite(s.text.data(), 1, s.text.size(), f) == s.text.size()) << files.back();
        fclose(f);
        break;
    }
    case kPipe: // made; or, once the utility reads, serves the bytes and breaks: the next read fails
        if (!s.name.empty()) {
            pipe = CreateNamedPipeA(s.name.c_str(), PIPE_ACCESS_OUTBOUND, PIPE_NOWAIT, 1, 4096, 4096, 0, nullptr);
            break;
        }
        EXPECT_TRUE(Until([] { return !ConnectNamedPipe(pipe, 0) && GetLastError() == ERROR_PIPE_CONNECTED; }, 5000));
        WriteFile(pipe, s.text.data(), (DWORD)s.text.size(), &written, nullptr);
        Sleep(500); // the reader takes the bytes and waits for more
        DisconnectNamedPipe(pipe);
        break;
    case kExit:
        EXPECT_EQ(s.value, WaitExit(10000)) << "exit code";
        StopApp();
        break;
    }
}

// The utility's folder; at exit the utility is stopped and the folder removed.
struct Folder {
    Folder() { folder = std::string(getenv("TEMP") ? getenv("TEMP") : ".") + "\\mxuapp-gui-" + std::to_string(Now()); }
    ~Folder() { StopApp(), RemoveDirectoryA(folder.c_str()); }
} the_folder;
using Utility = ::testing::TestWithParam<Scenario>;

TEST_P(Utility, Scenario)
{
    const Scenario &scenario = GetParam();
    const uint32_t on = SIM_REPLIES_ON;
    if (scenario.own)
        StopApp();
    CreateDirectoryA(folder.c_str(), nullptr);
    ASSERT_TRUE(Request(scenario.own ? MXSIM_IOCTL_RESET : MXSIM_IOCTL_REPLUG)) << "is the driver host up?";
    ASSERT_TRUE(Request(MXSIM_IOCTL_SET_REPLIES, &on, 4) && Request(MXSIM_IOCTL_CLEAR));
    if (!scenario.own && !process.hProcess)
        StartApp(true);
    for (size_t i = 0; i < scenario.steps.size() && !HasFatalFailure(); i++) {
        SCOPED_TRACE("step " + std::to_string(i + 1));
        Play(scenario.steps[i]);
    }
    if (IsWindow(dialog) && !WaitBox(0) && PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0))
        Until([] { return !IsWindow(dialog); }, 5000);
    if (scenario.own || HasFailure() || WaitBox(0) || IsWindow(dialog))
        StopApp();
    for (dialog = nullptr, CloseHandle(pipe), pipe = INVALID_HANDLE_VALUE; !files.empty(); files.pop_back())
        DeleteFileA(files.back().c_str());
}

INSTANTIATE_TEST_SUITE_P(Gui, Utility, ::testing::ValuesIn(Scenarios()),
                         [](const ::testing::TestParamInfo<Scenario> &info) { return std::string(info.param.name); });

} // namespace

std::string Data(const std::string &bytes)
{
    std::string out;
    for (unsigned char c : bytes)
        out += (out.empty() ? "d:" : " d:") + std::string(1, "0123456789abcdef"[c >> 4]) + "0123456789abcdef"[c & 15];
    return out;
}

} // namespace gui
