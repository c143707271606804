// mxuapp64.exe's service dialogs driven through their windows under Xvfb,
// against the driver host: Send File, Compile Dictionary, Download User
// Dictionary and Version Info. Checks what the user saw (captions, message
// texts, icons, which dialogs stay open) and what reached the simulated unit
// (request log, transcript, dictionary image, state). Run by
// run_gui_tests.sh services; MXUAPP_SCREENS names the screenshot folder.
#include <gtest/gtest.h>

#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string>
#include <vector>

#include "e2e_util.h"
#include "gui_harness.h"

namespace {

const char kSendFileCaption[] = "Morvox USB  -  Send Text File";
const char kCompileCaption[] = "Morvox USB  -  Compile User Dictionary";
const char kDownloadCaption[] = "Morvox USB  -  Download User Dictionary";
const char kSendTextCaption[] = "Morvox USB  -  Send Text";
const char kVersionCaption[] = "Morvox Utility - Version Info";
const char kDriverNotLoaded[] = "***Error: Morvox USB driver mxusb.sys is not loaded.";
const char kDownloaded[] = "Dictionary downloaded successfully.";
const char kCrcFailed[] = "***Error: 16 bit CRC Failed. Dictionary download aborted.";
const char kTimedOut[] = "***Error: Program timed out waiting for download confirmation.";

std::string Lower(std::string s)
{
    for (char &c : s)
        if (c >= 'A' && c <= 'Z')
            c = (char)(c - 'A' + 'a');
    return s;
}

std::string Upper(std::string s)
{
    for (char &c : s)
        if (c >= 'a' && c <= 'z')
            c = (char)(c - 'a' + 'A');
    return s;
}

bool SetReplies(uint32_t mode)
{
    return e2e::set_u32(MXSIM_IOCTL_SET_REPLIES, mode);
}

// A user dictionary: header N, M, then `length` - 8 body bytes from fill(k).
std::string Dictionary(uint32_t n, uint32_t m, size_t length, unsigned char (*fill)(size_t))
{
    std::string d(length, '\0');
    for (size_t k = 0; k < length; k++)
        d[k] = (char)fill(k);
    const uint32_t words[2] = {n, m};
    for (size_t i = 0; i < 8 && i < length; i++)
        d[i] = (char)(words[i / 4] >> (8 * (i % 4)));
    return d;
}

unsigned char Pattern(size_t k) { return (unsigned char)(k * 37 + 11); }

unsigned Sum16(const std::string &bytes)
{
    unsigned sum = 0;
    for (unsigned char c : bytes)
        sum += c;
    return sum & 0xFFFF;
}

// Serves a few bytes on a named pipe, then disconnects the reader: its next
// read fails (a real read error, not the end of the file).
struct BrokenPipe {
    HANDLE pipe = INVALID_HANDLE_VALUE;
    HANDLE thread = nullptr;
    std::string bytes;
    std::string path;

    static DWORD WINAPI Serve(void *p)
    {
        BrokenPipe *self = static_cast<BrokenPipe *>(p);
        if (ConnectNamedPipe(self->pipe, nullptr) || GetLastError() == ERROR_PIPE_CONNECTED) {
            DWORD written = 0;
            WriteFile(self->pipe, self->bytes.data(), (DWORD)self->bytes.size(), &written, nullptr);
            Sleep(500); // the reader takes the bytes and waits for more
            DisconnectNamedPipe(self->pipe);
        }
        return 0;
    }

    bool Open(const std::string &name, const std::string &content)
    {
        path = "\\\\.\\pipe\\" + name;
        bytes = content;
        pipe = CreateNamedPipeA(path.c_str(), PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE | PIPE_WAIT, 1,
                                4096, 4096, 0, nullptr);
        if (pipe == INVALID_HANDLE_VALUE)
            return false;
        thread = CreateThread(nullptr, 0, Serve, this, 0, nullptr);
        return thread != nullptr;
    }

    ~BrokenPipe()
    {
        if (thread) {
            if (WaitForSingleObject(thread, 5000) != WAIT_OBJECT_0) {
                // Nobody connected: a client of our own releases the server.
                HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
                if (h != INVALID_HANDLE_VALUE)
                    CloseHandle(h);
                WaitForSingleObject(thread, 5000);
            }
            CloseHandle(thread);
        }
        if (pipe != INVALID_HANDLE_VALUE)
            CloseHandle(pipe);
    }
};

// True when the window shows an icon (a visible SS_ICON static holding one).
BOOL CALLBACK FindIcon(HWND child, LPARAM found)
{
    char cls[32] = "";
    GetClassNameA(child, cls, sizeof cls);
    LONG style = GetWindowLongA(child, GWL_STYLE);
    if (lstrcmpiA(cls, "Static") != 0 || (style & SS_TYPEMASK) != SS_ICON || !IsWindowVisible(child))
        return TRUE;
    DWORD_PTR icon = 0; // the box keeps an empty icon control when it shows none
    SendMessageTimeoutA(child, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, 2000, &icon);
    if (icon)
        *reinterpret_cast<bool *>(found) = true;
    return TRUE;
}

bool HasIcon(HWND window)
{
    bool found = false;
    EnumChildWindows(window, FindIcon, reinterpret_cast<LPARAM>(&found));
    return found;
}

int Checked(HWND dialog, int id)
{
    DWORD_PTR result = 0;
    SendMessageTimeoutA(GetDlgItem(dialog, id), BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 2000, &result);
    return (int)result;
}

class ServicesGui : public ::testing::Test {
protected:
    gui::App app;
    std::string folder;       // the program's current directory, and the test files
    std::vector<std::string> files;
    HWND dialog = nullptr;

    void SetUp() override
    {
        ASSERT_TRUE(e2e::reset()) << "is the driver host up?";
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        folder = std::string(temp) + "mxuapp-services-" + std::to_string(GetTickCount());
        ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr)) << folder;
        ASSERT_TRUE(gui::Start(&app, e2e::program_folder() + "mxuapp64.exe", folder));
    }

    void TearDown() override
    {
        for (int i = 0; i < 5; i++) {
            HWND box = gui::WaitMessageBox(&app, 0);
            if (!box)
                break;
            printf("gui: a message box was left open: \"%s\"\n", gui::MessageText(box).c_str());
            gui::Press(box, IDOK);
            gui::WaitGone(box, 2000);
        }
        gui::Stop(&app);
        e2e::replug();
        SetReplies(SIM_REPLIES_ON);
        for (const std::string &f : files)
            DeleteFileA(f.c_str());
        RemoveDirectoryA(folder.c_str());
    }

    std::string File(const std::string &name, const std::string &bytes)
    {
        std::string path = folder + "\\" + name;
        gui::WriteBytes(path, bytes);
        files.push_back(path);
        return path;
    }

    void Open(WORD command, const char *caption)
    {
        gui::Command(&app, command);
        dialog = gui::WaitDialog(&app, caption);
        ASSERT_NE(nullptr, dialog) << "dialog \"" << caption << "\" after command " << command;
        // Keep the dialog off the index line and the box.
        SetWindowPos(dialog, nullptr, 450, 300, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }

    void Type(const std::string &text, int button = IDOK)
    {
        gui::SetControlText(dialog, 202, text);
        gui::Press(dialog, button);
    }

    // Waits for a box, checks caption, text and icon, saves a screenshot if
    // named, answers OK. Returns the ms from `since` until the box was seen.
    long Answer(const std::string &caption, const std::string &text, bool icon,
                const char *screenshot = nullptr, DWORD timeout_ms = 20000, DWORD since = 0)
    {
        if (!since)
            since = GetTickCount();
        HWND box = gui::WaitMessageBox(&app, timeout_ms);
        long waited = (long)(GetTickCount() - since);
        EXPECT_NE(nullptr, box) << "no message box after " << timeout_ms << " ms, expected \"" << text << "\"";
        if (!box)
            return -1;
        EXPECT_EQ(caption, gui::Caption(box));
        EXPECT_EQ(text, gui::MessageText(box));
        EXPECT_EQ(icon, HasIcon(box)) << "icon in box \"" << text << "\"";
        EXPECT_TRUE(gui::HasButton(box, IDOK));
        if (screenshot) {
            EXPECT_TRUE(gui::Screenshot(box, gui::ScreensFolder(), screenshot)) << screenshot;
        }
        gui::Press(box, IDOK);
        EXPECT_TRUE(gui::WaitGone(box, 5000));
        return waited;
    }

    // True when no box appears within ms.
    bool NoBox(DWORD ms)
    {
        HWND box = gui::WaitMessageBox(&app, ms);
        if (box) {
            printf("gui: unexpected box \"%s\"\n", gui::MessageText(box).c_str());
            gui::Press(box, IDOK);
            gui::WaitGone(box, 2000);
        }
        return box == nullptr;
    }

    // Presses Send File and waits until the closing 0x0B has reached the unit.
    std::string SendFile(const std::string &typed, size_t closes = 1, bool clear = true)
    {
        if (clear)
            gui::ClearLog();
        Type(typed);
        std::string sent;
        e2e::wait_for([&] {
            sent = gui::Sent();
            size_t n = 0;
            for (size_t at = sent.find("d:0b"); at != std::string::npos; at = sent.find("d:0b", at + 1))
                n++;
            return n >= closes;
        }, 10000, 50);
        Sleep(200);
        return gui::Sent();
    }

    // Sends a brace command in the Send Text dialog and answers its box.
    void BraceCommand(const std::string &command, const std::string &reply)
    {
        Open(101, kSendTextCaption);
        Type(command);
        Answer(kSendTextCaption, reply, false, nullptr, 20000);
        gui::Press(dialog, IDCANCEL);
        EXPECT_TRUE(gui::WaitGone(dialog, 5000));
    }
};

// ---------------------------------------------------------------- Send File

TEST_F(ServicesGui, SendFileSpeaksFilesAndStaysOpen)
{
    std::string hello = File("hello.txt", "Hello there, unit");
    std::string second = File("second.txt", "Second file");
    std::string high = File("high.txt", "caf\xe9 ok\x80\xff!");
    std::string empty = File("empty.txt", "");

    Open(102, kSendFileCaption);
    EXPECT_EQ("", gui::ControlText(dialog, 202));
    EXPECT_TRUE(gui::Screenshot(dialog, gui::ScreensFolder(), "send_file_dialog"));

    // Typed in capitals: opened lower-cased (the file system here ignores case).
    EXPECT_EQ(gui::Data("Hello there, unit\x0b"), SendFile(Upper(hello)));
    EXPECT_TRUE(gui::Alive(dialog));
    EXPECT_EQ("", gui::ControlText(dialog, 202)) << "the edit is emptied after a file";

    // Bytes of 0x80 and above go to the library, whose filter keeps them
    // from the unit; the bytes around them arrive in order.
    EXPECT_EQ(gui::Data("caf ok!\x0b"), SendFile(high));

    // Two files in a row, each closed by its own 0x0B.
    gui::ClearLog();
    Type(hello);
    EXPECT_GE(e2e::wait_for([&] { return gui::ControlText(dialog, 202).empty(); }, 10000, 50), 0);
    EXPECT_EQ(gui::Data("Hello there, unit\x0b") + " " + gui::Data("Second file\x0b"), SendFile(second, 2, false));
    std::string transcript = e2e::transcript();
    EXPECT_NE(std::string::npos, transcript.find("Hello there, unit\nSecond file")) << "transcript: " << transcript;

    // An empty file sends the 0x0B alone and empties the edit.
    EXPECT_EQ("d:0b", SendFile(empty));
    EXPECT_EQ("", gui::ControlText(dialog, 202));

    gui::Press(dialog, IDCANCEL);
    EXPECT_TRUE(gui::WaitGone(dialog, 5000));
}

TEST_F(ServicesGui, SendFileReportsMissingAndUnreadableFiles)
{
    Open(102, kSendFileCaption);

    // The message shows the path lower-cased; the edit keeps what was typed.
    gui::ClearLog();
    Type("C:\\NoSuch\\MISSING.TXT");
    Answer(kSendFileCaption, "The file c:\\nosuch\\missing.txt could not be found.", false,
           "send_file_not_found");
    EXPECT_EQ("C:\\NoSuch\\MISSING.TXT", gui::ControlText(dialog, 202));
    EXPECT_TRUE(gui::Alive(dialog));

    Type("");
    Answer(kSendFileCaption, "The file  could not be found.", false);
    EXPECT_EQ("", gui::Sent()) << "nothing is sent for a file that does not open";

    // A read error ends the file: what was read is spoken and closed, and the
    // error names the file.
    BrokenPipe pipe;
    ASSERT_TRUE(pipe.Open("mxsvc-broken.txt", "abc"));
    gui::ClearLog();
    Type(pipe.path);
    Answer(kSendFileCaption, "***Error: The file " + pipe.path + " could not be read.", false,
           "send_file_read_error", 15000);
    EXPECT_EQ(gui::Data("abc\x0b"), gui::Sent());
    EXPECT_TRUE(gui::Alive(dialog));
    EXPECT_EQ(pipe.path, gui::ControlText(dialog, 202));

    gui::Press(dialog, IDCANCEL);
    EXPECT_TRUE(gui::WaitGone(dialog, 5000));
}

// ------------------------------------------------------- Compile Dictionary

TEST_F(ServicesGui, CompileDictionaryDoesNothingVisible)
{
    std::string dict = File("mydict.dic", Dictionary(0, 0, 8, Pattern));
    Open(105, kCompileCaption);
    EXPECT_TRUE(gui::Screenshot(dialog, gui::ScreensFolder(), "compile_dict_dialog"));
    gui::ClearLog();
    Type(Upper(dict));
    EXPECT_TRUE(NoBox(1500));
    Type("");
    EXPECT_TRUE(NoBox(1000));
    EXPECT_TRUE(gui::Alive(dialog));
    EXPECT_EQ("", gui::Sent()) << "Compile File sends nothing";
    gui::Press(dialog, IDCANCEL);
    EXPECT_TRUE(gui::WaitGone(dialog, 5000));
}

// ------------------------------------------------------------ driver closed

TEST_F(ServicesGui, EveryDialogRefusesWithTheDriverClosed)
{
    std::string text = File("t.txt", "x");
    std::string dict = File("d.dic", Dictionary(0, 0, 8, Pattern));
    ASSERT_TRUE(e2e::unplug());

    // The first file finds the channel broken, which closes it.
    Open(102, kSendFileCaption);
    Type(text);
    EXPECT_GE(e2e::wait_for([&] { return gui::ControlText(dialog, 202).empty(); }, 10000, 50), 0);
    Type(text);
    Answer(kSendFileCaption, kDriverNotLoaded, false, "send_file_driver_not_loaded");
    EXPECT_EQ(text, gui::ControlText(dialog, 202));
    gui::Press(dialog, IDCANCEL);
    ASSERT_TRUE(gui::WaitGone(dialog, 5000));

    Open(105, kCompileCaption);
    Type(dict);
    Answer(kCompileCaption, kDriverNotLoaded, false, "compile_dict_driver_not_loaded");
    gui::Press(dialog, IDCANCEL);
    ASSERT_TRUE(gui::WaitGone(dialog, 5000));

    Open(106, kDownloadCaption);
    gui::ClearLog();
    Type(dict);
    Answer(kDownloadCaption, kDriverNotLoaded, false, "download_dict_driver_not_loaded");
    EXPECT_TRUE(gui::Alive(dialog));
    gui::Press(dialog, IDCANCEL);
    EXPECT_TRUE(gui::WaitGone(dialog, 5000));
}

// ------------------------------------------------- Download User Dictionary

TEST_F(ServicesGui, DownloadSucceedsForEveryLanguage)
{
    std::string bytes = Dictionary(3, 20, 40, Pattern);
    std::string dict = File("lang.dic", bytes);
    for (int language = 0; language < 6; language++) {
        SCOPED_TRACE("language " + std::to_string(language));
        Open(106, kDownloadCaption);
        EXPECT_EQ(BST_CHECKED, Checked(dialog, 220)) << "U.S English is checked at the start";
        for (int id = 221; id <= 225; id++)
            EXPECT_EQ(BST_UNCHECKED, Checked(dialog, id)) << "button " << id;
        if (language == 0) {
            EXPECT_TRUE(gui::Screenshot(dialog, gui::ScreensFolder(), "download_dict_dialog"));
        }
        SendMessageTimeoutA(GetDlgItem(dialog, 220 + language), BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, 2000, nullptr);
        EXPECT_EQ(BST_CHECKED, Checked(dialog, 220 + language));
        if (language) {
            EXPECT_EQ(BST_UNCHECKED, Checked(dialog, 220)) << "the radio buttons are one group";
        }
        if (language == 3) {
            EXPECT_TRUE(gui::Screenshot(dialog, gui::ScreensFolder(), "download_dict_latin_american"));
        }

        gui::ClearLog();
        DWORD pressed = GetTickCount();
        Type(Upper(dict));
        long waited = Answer(kDownloadCaption, kDownloaded, true,
                             language == 0 ? "download_dict_success" : nullptr, 30000, pressed);
        EXPECT_GE(waited, 2700) << "the language switch waits 3000 ms";
        DWORD dismissed = GetTickCount();
        EXPECT_TRUE(gui::WaitGone(dialog, 10000));
        long closing = (long)(GetTickCount() - dismissed);
        EXPECT_GE(closing, 1300) << "the dialog closes 1500 ms after the box";

        char language_bytes[64];
        snprintf(language_bytes, sizeof language_bytes, "i:06 d:01 d:6c d:%02x", '0' + language);
        std::string expected = std::string(language_bytes) + " i:06 d:01 d:75 d:28 d:00 " +
                               gui::Data(bytes) + " d:70 i:07";
        EXPECT_EQ(expected, gui::Sent());
        MxsimState s = e2e::state();
        EXPECT_EQ((uint32_t)language, s.language);
        EXPECT_EQ(40u, s.dict_length);
        EXPECT_EQ(1u, s.dict_committed);
    }
    EXPECT_EQ(bytes, e2e::image(MXSIM_IOCTL_GET_DICT)) << "the file reaches the unit unchanged";
}

TEST_F(ServicesGui, DownloadSizesAtTheLimits)
{
    // 300 bytes are announced low byte first: 0x2C 0x01.
    std::string d300 = Dictionary(1, 288, 300, Pattern);
    std::string small = File("small.dic", d300);
    Open(106, kDownloadCaption);
    gui::ClearLog();
    Type(small);
    Answer(kDownloadCaption, kDownloaded, true, nullptr, 30000);
    EXPECT_NE(std::string::npos, gui::Sent().find("d:01 d:75 d:2c d:01 " + gui::Data(d300.substr(0, 4))));
    EXPECT_TRUE(gui::WaitGone(dialog, 10000));

    // The largest file accepted: 65534 bytes, sent whole.
    std::string dmax = Dictionary(0, 65534 - 8, 65534, Pattern);
    std::string largest = File("largest.dic", dmax);
    Open(106, kDownloadCaption);
    gui::ClearLog();
    Type(largest);
    Answer(kDownloadCaption, kDownloaded, true, nullptr, 120000);
    EXPECT_TRUE(gui::WaitGone(dialog, 10000));
    EXPECT_EQ(65534u, e2e::state().dict_length);
    EXPECT_TRUE(dmax == e2e::image(MXSIM_IOCTL_GET_DICT)) << "the 65534-byte image differs";

    // One byte more: the size message, the dialog ends, nothing is sent.
    std::string toolarge = File("toolarge.dic", Dictionary(0, 65535 - 8, 65535, Pattern));
    Open(106, kDownloadCaption);
    gui::ClearLog();
    Type(toolarge);
    Answer(kDownloadCaption, "***Error: Dictionary file size is to large. (Max=64K Bytes)", false,
           "download_dict_too_large");
    EXPECT_TRUE(gui::WaitGone(dialog, 5000));
    EXPECT_EQ("", gui::Sent());
}

TEST_F(ServicesGui, DownloadRefusesFilesThatAreNotDictionaries)
{
    std::string text = File("words.txt", Dictionary(0, 0, 8, Pattern));
    std::string wrong = File("wrong.dic", Dictionary(2, 5, 22, Pattern));
    std::string empty = File("empty.dic", "");
    std::string dotted = File("a.dict.txt", Dictionary(2, 5, 22, Pattern));
    Open(106, kDownloadCaption);
    gui::ClearLog();

    Type(text);
    Answer(kDownloadCaption, "***File Error: File is not a dictionary file (.DIC).", false,
           "download_dict_not_dic");
    EXPECT_EQ(text, gui::ControlText(dialog, 202));

    Type("C:\\NoSuch\\GONE.DIC");
    Answer(kDownloadCaption, "The file c:\\nosuch\\gone.dic could not be found.", false,
           "download_dict_not_found");
    EXPECT_EQ("C:\\NoSuch\\GONE.DIC", gui::ControlText(dialog, 202));

    // The length against the header: N = 2, M = 5 needs 21 bytes, not 22;
    // an empty file has no header. The edit is emptied each time.
    for (const std::string &path : {wrong, empty, dotted}) {
        Type(Upper(path));
        Answer(kDownloadCaption,
               "***Error: The file " + Lower(path) + " is not a Morvox USB dictionary file.", false,
               path == wrong ? "download_dict_wrong_length" : nullptr);
        EXPECT_EQ("", gui::ControlText(dialog, 202)) << path;
    }

    // A read error while the file is read: nothing is sent, the dialog stays.
    BrokenPipe pipe;
    ASSERT_TRUE(pipe.Open("mxsvc-broken.dic", Dictionary(0, 0, 8, Pattern).substr(0, 5)));
    Type(pipe.path);
    Answer(kDownloadCaption, "***Error: The file " + pipe.path + " could not be read.", false,
           "download_dict_read_error", 15000);

    EXPECT_TRUE(gui::Alive(dialog)) << "none of these ends the dialog";
    EXPECT_EQ("", gui::Sent()) << "nothing reaches the unit";
    gui::Press(dialog, IDCANCEL);
    EXPECT_TRUE(gui::WaitGone(dialog, 5000));
}

TEST_F(ServicesGui, DownloadFailsOnWrongOrMissingReplies)
{
    std::string bytes = Dictionary(3, 20, 40, Pattern);
    std::string dict = File("replies.dic", bytes);

    // A wrong sum: the checksum message, reset, dialog ended, no commit.
    ASSERT_TRUE(SetReplies(SIM_REPLIES_WRONG));
    Open(106, kDownloadCaption);
    gui::ClearLog();
    Type(dict);
    Answer(kDownloadCaption, kCrcFailed, false, "download_dict_crc_failed", 30000);
    EXPECT_TRUE(gui::WaitGone(dialog, 5000));
    std::string sent = gui::Sent();
    EXPECT_EQ("i:07", sent.substr(sent.size() - 4)) << sent;
    EXPECT_EQ(std::string::npos, sent.find("d:70")) << "no commit after a wrong sum";
    EXPECT_EQ(0u, e2e::state().dict_committed);

    // No reply at all: the same message after the 50 tries of the first byte.
    ASSERT_TRUE(SetReplies(SIM_REPLIES_OFF));
    Open(106, kDownloadCaption);
    gui::ClearLog();
    DWORD pressed = GetTickCount();
    Type(dict);
    long waited = Answer(kDownloadCaption, kCrcFailed, false, nullptr, 40000, pressed);
    EXPECT_GE(waited, 7500) << "3000 ms pause and about 5 s of tries";
    EXPECT_TRUE(gui::WaitGone(dialog, 5000));

    // No 'f': a file whose sum is 0xFFFF matches the missing reply (0xFF,
    // 0xFF), so 'p' goes out and the wait for 'f' runs out.
    std::string ffff = Dictionary(0, 257, 265, [](size_t k) { return (unsigned char)(k < 263 ? 0xFF : 0xFE); });
    ASSERT_EQ(0xFFFFu, Sum16(ffff));
    std::string silent = File("silent.dic", ffff);
    Open(106, kDownloadCaption);
    gui::ClearLog();
    pressed = GetTickCount();
    Type(silent);
    waited = Answer(kDownloadCaption, kTimedOut, false, "download_dict_timed_out", 150000, pressed);
    EXPECT_GE(waited, 50000) << "500 tries 100 ms apart";
    EXPECT_TRUE(gui::WaitGone(dialog, 5000));
    sent = gui::Sent();
    EXPECT_EQ("d:70", sent.substr(sent.size() - 4)) << "nothing after 'p': " << sent.substr(sent.size() - 40);
}

// --------------------------------------------------------------- Version Info

TEST_F(ServicesGui, VersionInfoInNormalMode)
{
    ASSERT_TRUE(e2e::set_u32(MXSIM_IOCTL_SET_FIRMWARE, 0x0259));
    const uint8_t version[8] = {0xEF, 0xBE, 0xAD, 0xDE, 0x34, 0x12, 0x07, 0x02};
    ASSERT_TRUE(e2e::control(MXSIM_IOCTL_SET_VERSION, version, sizeof version));

    gui::ClearLog();
    gui::Command(&app, 104);
    Answer(kVersionCaption,
           "Morvox USB Firmware: 0x1234\nMorvox Engine: 0xdeadbeef\nEprom Firmware: 0x259", true,
           "version_info_normal");
    EXPECT_EQ("i:06 d:01 d:02 d:3f", gui::Sent());

    // Five of the six bytes: only the Eprom line.
    ASSERT_TRUE(SetReplies(SIM_REPLIES_OFF));
    gui::ClearLog();
    gui::Command(&app, 104);
    ASSERT_GE(e2e::wait_for([] { return gui::Sent().find("d:3f") != std::string::npos; }, 5000, 20), 0);
    ASSERT_TRUE(e2e::report({0x10, 0x32, 0x54, 0x76, 0x05}));
    Answer(kVersionCaption, "Eprom Firmware: 0x259", true, "version_info_partial");

    // No reply: the box opens after about 1.9 s.
    DWORD asked = GetTickCount();
    gui::Command(&app, 104);
    long waited = Answer(kVersionCaption, "Eprom Firmware: 0x259", true, nullptr, 20000, asked);
    EXPECT_GE(waited, 1700) << "1000 ms and 9 retries of 100 ms";
}

TEST_F(ServicesGui, VersionInfoInBootMonitorModeAndWithNotification)
{
    ASSERT_TRUE(e2e::set_u32(MXSIM_IOCTL_SET_FIRMWARE, 0x0104));
    BraceCommand("{bootmonitor}", "Entering boot monitor mode.");

    gui::ClearLog();
    gui::Command(&app, 104);
    Answer(kVersionCaption, "Boot Monitor: 0x207\nEprom Firmware: 0x104", true, "version_info_boot_monitor");
    EXPECT_EQ("i:06 d:01 d:02 d:51", gui::Sent());

    // One of the two bytes: only the Eprom line.
    ASSERT_TRUE(SetReplies(SIM_REPLIES_OFF));
    gui::ClearLog();
    gui::Command(&app, 104);
    ASSERT_GE(e2e::wait_for([] { return gui::Sent().find("d:51") != std::string::npos; }, 5000, 20), 0);
    ASSERT_TRUE(e2e::report({0x07}));
    Answer(kVersionCaption, "Eprom Firmware: 0x104", true);
    ASSERT_TRUE(SetReplies(SIM_REPLIES_ON));

    // Back in normal mode with index notification: the replies are posted to
    // the sleeping main window, so the query collects nothing.
    BraceCommand("{normal}", "Morvox USB reset to normal mode.");
    BraceCommand("{regindexes}", "Index callback routine has been registered.");
    gui::ClearLog();
    gui::Command(&app, 104);
    Answer(kVersionCaption, "Eprom Firmware: 0x104", true, "version_info_notify_registered");
    EXPECT_EQ("i:06 d:01 d:02 d:3f", gui::Sent()) << "the query itself went out";
}

} // namespace
