/*
 * mxsimctl.cpp - control tool for the driver host mxusb.sys.
 *
 *   mxsimctl install [PATH]   register the driver (default: mxusb.sys beside
 *                             this program) with the service control manager
 *   mxsimctl start | stop | uninstall
 *   mxsimctl reset | unplug | replug | clear
 *   mxsimctl report HEX...    bytes for the unit to report ("41 42" or "4142")
 *   mxsimctl firmware N | ready N | fail N   (decimal or 0x hex)
 *   mxsimctl version B0 B1 B2 B3 B4 B5 [Q0 Q1]   (hex bytes)
 *   mxsimctl replies on|off|wrong
 *   mxsimctl state            key=value lines
 *   mxsimctl log              one line per logged request
 *   mxsimctl transcript       the spoken text, as it was received
 *   mxsimctl dict | boot      the dictionary / boot image, hex, 16 bytes a line
 *
 * Exit status: 0 success; 1 failure, with one line on stderr; 2 bad arguments,
 * with the usage on stderr.
 */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <fcntl.h>
#include <io.h>

#include "mxusb_protocol.h"
#include "mxsim_control.h"

namespace {

const char kUsage[] =
    "usage: mxsimctl COMMAND [ARGS]\n"
    "  install [PATH] | start | stop | uninstall\n"
    "  reset | unplug | replug | clear\n"
    "  report HEX... | firmware N | ready N | fail N\n"
    "  version B0 B1 B2 B3 B4 B5 [Q0 Q1] | replies on|off|wrong\n"
    "  state | log | transcript | dict | boot\n";

int usage()
{
    fputs(kUsage, stderr);
    return 2;
}

int fail(const char *what, DWORD error)
{
    fprintf(stderr, "mxsimctl: %s (error %lu)\n", what, (unsigned long)error);
    return 1;
}

/* --- argument parsing --- */

bool parse_number(const char *text, uint32_t *value)
{
    char *end = nullptr;
    if (!*text || *text == '-')
        return false;
    unsigned long long v = strtoull(text, &end, 0);
    if (*end || v > 0xFFFFFFFFull)
        return false;
    *value = (uint32_t)v;
    return true;
}

int hex_digit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

/* Appends the bytes of a hex word ("41", "0x41", "4142") to out; false on
 * a bad digit, an odd digit count or overflow of `capacity`. */
bool parse_hex_bytes(const char *text, uint8_t *out, uint32_t *count, uint32_t capacity)
{
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        text += 2;
    size_t n = strlen(text);
    if (n == 0)
        return false;
    if (n == 1) { /* a single digit is one byte */
        int d = hex_digit(text[0]);
        if (d < 0 || *count >= capacity)
            return false;
        out[(*count)++] = (uint8_t)d;
        return true;
    }
    if (n % 2)
        return false;
    for (size_t i = 0; i < n; i += 2) {
        int hi = hex_digit(text[i]), lo = hex_digit(text[i + 1]);
        if (hi < 0 || lo < 0 || *count >= capacity)
            return false;
        out[(*count)++] = (uint8_t)(hi * 16 + lo);
    }
    return true;
}

/* --- the service control manager --- */

void default_driver_path(char *path, DWORD size)
{
    DWORD n = GetModuleFileNameA(nullptr, path, size);
    char *slash = nullptr;
    for (DWORD i = 0; i < n; ++i)
        if (path[i] == '\\' || path[i] == '/')
            slash = path + i;
    if (slash)
        slash[1] = 0;
    else
        path[0] = 0;
    strncat(path, "mxusb.sys", size - strlen(path) - 1);
}

SC_HANDLE open_scm()
{
    return OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
}

int cmd_install(int argc, char **argv)
{
    char given[MAX_PATH], path[MAX_PATH];
    if (argc > 1)
        return usage();
    if (argc == 1)
        lstrcpynA(given, argv[0], MAX_PATH);
    else
        default_driver_path(given, MAX_PATH);
    if (!GetFullPathNameA(given, MAX_PATH, path, nullptr))
        return fail("bad driver path", GetLastError());
    if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES) {
        fprintf(stderr, "mxsimctl: driver file not found: %s\n", path);
        return 1;
    }
    SC_HANDLE scm = open_scm();
    if (!scm)
        return fail("cannot open the service control manager", GetLastError());
    int rc = 0;
    SC_HANDLE service = CreateServiceA(scm, MXSIM_SERVICE_NAME_A,
                                       "Morvox USB synthesizer (simulated)", SERVICE_ALL_ACCESS,
                                       SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START,
                                       SERVICE_ERROR_NORMAL, path, nullptr, nullptr, nullptr,
                                       nullptr, nullptr);
    if (!service && GetLastError() == ERROR_SERVICE_EXISTS) {
        /* Installed before: point it at this file. */
        service = OpenServiceA(scm, MXSIM_SERVICE_NAME_A, SERVICE_ALL_ACCESS);
        if (service && !ChangeServiceConfigA(service, SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START,
                                             SERVICE_ERROR_NORMAL, path, nullptr, nullptr,
                                             nullptr, nullptr, nullptr, nullptr))
            rc = fail("cannot update the installed service", GetLastError());
    }
    if (!service)
        rc = fail("cannot install the driver service", GetLastError());
    else
        CloseServiceHandle(service);
    CloseServiceHandle(scm);
    if (rc == 0)
        printf("installed %s as service %s\n", path, MXSIM_SERVICE_NAME_A);
    return rc;
}

/* Opens the service; *missing is set when it is not installed. */
SC_HANDLE open_service(SC_HANDLE scm, bool *missing)
{
    SC_HANDLE service = OpenServiceA(scm, MXSIM_SERVICE_NAME_A, SERVICE_ALL_ACCESS);
    *missing = !service && GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST;
    return service;
}

bool wait_state(SC_HANDLE service, DWORD wanted, DWORD timeout_ms)
{
    for (DWORD waited = 0;; waited += 100) {
        SERVICE_STATUS status;
        if (!QueryServiceStatus(service, &status))
            return false;
        if (status.dwCurrentState == wanted)
            return true;
        if (waited >= timeout_ms)
            return false;
        Sleep(100);
    }
}

HANDLE open_control()
{
    return CreateFileA(MXSIM_CONTROL_PATH_A, GENERIC_READ | GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
}

int cmd_start()
{
    SC_HANDLE scm = open_scm();
    if (!scm)
        return fail("cannot open the service control manager", GetLastError());
    bool missing;
    SC_HANDLE service = open_service(scm, &missing);
    int rc = 0;
    if (!service) {
        rc = missing ? fail("driver not installed (run: mxsimctl install)", GetLastError())
                     : fail("cannot open the driver service", GetLastError());
    } else {
        if (!StartServiceA(service, 0, nullptr) &&
            GetLastError() != ERROR_SERVICE_ALREADY_RUNNING)
            rc = fail("cannot start the driver", GetLastError());
        else if (!wait_state(service, SERVICE_RUNNING, 20000))
            rc = fail("the driver did not reach the running state", GetLastError());
        CloseServiceHandle(service);
    }
    CloseServiceHandle(scm);
    if (rc)
        return rc;
    /* Running: the control device answers once the driver's entry has run. */
    for (int i = 0; i < 200; ++i) {
        HANDLE h = open_control();
        if (h != INVALID_HANDLE_VALUE) {
            CloseHandle(h);
            printf("started\n");
            return 0;
        }
        Sleep(50);
    }
    return fail("the driver runs but " MXSIM_CONTROL_PATH_A " does not answer", GetLastError());
}

int stop_service(SC_HANDLE service)
{
    SERVICE_STATUS status;
    if (!ControlService(service, SERVICE_CONTROL_STOP, &status) &&
        GetLastError() != ERROR_SERVICE_NOT_ACTIVE)
        return fail("cannot stop the driver", GetLastError());
    if (!wait_state(service, SERVICE_STOPPED, 20000))
        return fail("the driver did not stop", GetLastError());
    return 0;
}

int cmd_stop(bool and_delete)
{
    SC_HANDLE scm = open_scm();
    if (!scm)
        return fail("cannot open the service control manager", GetLastError());
    bool missing;
    SC_HANDLE service = open_service(scm, &missing);
    int rc = 0;
    if (!service) {
        if (!missing)
            rc = fail("cannot open the driver service", GetLastError());
        else
            printf("not installed\n");
    } else {
        rc = stop_service(service);
        if (rc == 0 && and_delete && !DeleteService(service) &&
            GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE)
            rc = fail("cannot uninstall the driver", GetLastError());
        if (rc == 0)
            printf(and_delete ? "uninstalled\n" : "stopped\n");
        CloseServiceHandle(service);
    }
    CloseServiceHandle(scm);
    return rc;
}

/* --- the control device --- */

HANDLE g_control = INVALID_HANDLE_VALUE;

/* One control request. The device is opened at the first request, after the
 * arguments have been checked; when it cannot be opened the tool ends here. */
bool control(uint32_t code, const void *in, DWORD in_len, void *out, DWORD out_len,
             DWORD *returned = nullptr)
{
    DWORD got = 0;
    if (g_control == INVALID_HANDLE_VALUE) {
        g_control = open_control();
        if (g_control == INVALID_HANDLE_VALUE)
            exit(fail("cannot open " MXSIM_CONTROL_PATH_A " (is the driver started?)",
                      GetLastError()));
    }
    BOOL ok = DeviceIoControl(g_control, code, const_cast<void *>(in), in_len, out, out_len,
                              &got, nullptr);
    if (returned)
        *returned = got;
    return ok != FALSE;
}

int control_simple(uint32_t code, const void *in, DWORD in_len, const char *what)
{
    if (!control(code, in, in_len, nullptr, 0))
        return fail(what, GetLastError());
    return 0;
}

int control_u32(uint32_t code, const char *arg, const char *what)
{
    uint32_t value;
    if (!parse_number(arg, &value))
        return usage();
    return control_simple(code, &value, sizeof(value), what);
}

int cmd_state()
{
    MxsimState s;
    DWORD got;
    if (!control(MXSIM_IOCTL_GET_STATE, nullptr, 0, &s, sizeof(s), &got))
        return fail("cannot read the state", GetLastError());
    if (got != sizeof(s) || s.size != sizeof(s)) {
        fprintf(stderr, "mxsimctl: state size %lu, expected %u (driver and tool differ)\n",
                (unsigned long)got, (unsigned)sizeof(s));
        return 1;
    }
    printf("present=%u\ngeneration=%u\nopen_count=%u\nopen_handles=%u\nlanguage=%u\n"
           "boot_monitor=%u\nboot_strap=%u\npaused=%u\nbaud=%u\nresets=%u\nnext_index=%u\n"
           "dict_length=%u\ndict_committed=%u\nboot_length=%u\nboot_downloads=%u\n"
           "read_requests=%u\n",
           s.present, s.generation, s.open_count, s.open_handles, s.language, s.boot_monitor,
           s.boot_strap, s.paused, s.baud, s.resets, s.next_index, s.dict_length,
           s.dict_committed, s.boot_length, s.boot_downloads, s.read_requests);
    printf("read_request=");
    for (int i = 0; i < 8; ++i)
        printf("%02x", s.read_request[i]);
    printf("\npending=%u\nfirmware=0x%x\nready_word=0x%x\nreply_mode=%s\nfail_next=%u\n",
           s.pending, s.firmware, s.ready_word,
           s.reply_mode == SIM_REPLIES_ON ? "on" : s.reply_mode == SIM_REPLIES_OFF ? "off" : "wrong",
           s.fail_next);
    printf("version=");
    for (int i = 0; i < 6; ++i)
        printf("%02x", s.version_reply[i]);
    printf("\nboot_version=%02x%02x\n", s.boot_version_reply[0], s.boot_version_reply[1]);
    printf("log_count=%u\nlog_dropped=%u\ntranscript_length=%u\nrequests=%u\ntext_length=%u\n",
           s.log_count, s.log_dropped, s.transcript_length, s.requests, s.text_length);
    return 0;
}

const char *code_name(uint32_t code)
{
    switch (code) {
    case SIM_LOG_OPEN: return "open";
    case SIM_LOG_CLOSE: return "close";
    case IOCTL_SYNTH_GET_INFO: return "get_info";
    case IOCTL_SYNTH_TRANSFER: return "transfer";
    case IOCTL_SYNTH_READ: return "read";
    case IOCTL_SYNTH_READY: return "ready";
    default: return nullptr;
    }
}

int cmd_log()
{
    static uint8_t buffer[MXSIM_LOG_CHUNK_SIZE(MXSIM_LOG_CHUNK)];
    uint32_t first = 0;
    for (;;) {
        DWORD got;
        if (!control(MXSIM_IOCTL_GET_LOG, &first, sizeof(first), buffer, sizeof(buffer), &got))
            return fail("cannot read the log", GetLastError());
        const MxsimLogChunk *chunk = (const MxsimLogChunk *)buffer;
        for (uint32_t i = 0; i < chunk->count; ++i) {
            const SimLogEntry &e = chunk->entries[i];
            const char *name = code_name(e.code);
            printf("%u t=%llu ", first + i, (unsigned long long)e.time_us);
            if (name)
                printf("%s", name);
            else
                printf("0x%x", e.code);
            printf(" mode=%u len=%u ok=%u busy=%u data=", e.mode, e.length, e.ok, e.busy);
            const uint32_t shown = e.length < SIM_LOG_DATA ? e.length : SIM_LOG_DATA;
            for (uint32_t j = 0; j < shown; ++j)
                printf("%02x", e.data[j]);
            printf("\n");
        }
        first += chunk->count;
        if (chunk->count == 0 || first >= chunk->total) {
            if (chunk->dropped)
                printf("dropped=%u\n", chunk->dropped);
            return 0;
        }
    }
}

/* Reads a whole byte image; calls emit for each chunk. */
template <typename Emit>
int read_blob(uint32_t code, const char *what, Emit emit)
{
    static uint8_t buffer[MXSIM_BLOB_HEADER + 4096];
    uint32_t offset = 0;
    for (;;) {
        DWORD got;
        if (!control(code, &offset, sizeof(offset), buffer, sizeof(buffer), &got))
            return fail(what, GetLastError());
        const MxsimBlob *blob = (const MxsimBlob *)buffer;
        emit(offset, buffer + MXSIM_BLOB_HEADER, blob->count);
        offset += blob->count;
        if (blob->count == 0 || offset >= blob->total)
            return 0;
    }
}

int cmd_transcript()
{
    return read_blob(MXSIM_IOCTL_GET_TRANSCRIPT, "cannot read the transcript",
                     [](uint32_t, const uint8_t *data, uint32_t count) {
                         fwrite(data, 1, count, stdout);
                     });
}

int cmd_image(uint32_t code, const char *what)
{
    return read_blob(code, what, [](uint32_t offset, const uint8_t *data, uint32_t count) {
        for (uint32_t i = 0; i < count; ++i)
            printf("%02x%s", data[i], ((offset + i) % 16 == 15 || i + 1 == count) ? "\n" : " ");
    });
}

int run_control(const char *cmd, int argc, char **argv)
{
    if (!strcmp(cmd, "reset") || !strcmp(cmd, "unplug") || !strcmp(cmd, "replug") ||
        !strcmp(cmd, "state") || !strcmp(cmd, "log") || !strcmp(cmd, "transcript") ||
        !strcmp(cmd, "dict") || !strcmp(cmd, "boot")) {
        if (argc != 0)
            return usage();
    }
    if (!strcmp(cmd, "reset")) return control_simple(MXSIM_IOCTL_RESET, nullptr, 0, "reset failed");
    if (!strcmp(cmd, "unplug")) return control_simple(MXSIM_IOCTL_UNPLUG, nullptr, 0, "unplug failed");
    if (!strcmp(cmd, "replug")) return control_simple(MXSIM_IOCTL_REPLUG, nullptr, 0, "replug failed");
    if (!strcmp(cmd, "state")) return cmd_state();
    if (!strcmp(cmd, "log")) return cmd_log();
    if (!strcmp(cmd, "transcript")) return cmd_transcript();
    if (!strcmp(cmd, "dict")) return cmd_image(MXSIM_IOCTL_GET_DICT, "cannot read the dictionary");
    if (!strcmp(cmd, "boot")) return cmd_image(MXSIM_IOCTL_GET_BOOT, "cannot read the boot image");
    if (!strcmp(cmd, "clear")) {
        if (argc != 0)
            return usage();
        return control_simple(MXSIM_IOCTL_CLEAR, nullptr, 0, "clear failed");
    }
    if (!strcmp(cmd, "firmware") || !strcmp(cmd, "ready") || !strcmp(cmd, "fail")) {
        if (argc != 1)
            return usage();
        uint32_t code = !strcmp(cmd, "firmware") ? MXSIM_IOCTL_SET_FIRMWARE
                        : !strcmp(cmd, "ready")  ? MXSIM_IOCTL_SET_READY
                                                 : MXSIM_IOCTL_FAIL_NEXT;
        return control_u32(code, argv[0], "setting failed");
    }
    if (!strcmp(cmd, "replies")) {
        if (argc != 1)
            return usage();
        uint32_t mode;
        if (!strcmp(argv[0], "on")) mode = SIM_REPLIES_ON;
        else if (!strcmp(argv[0], "off")) mode = SIM_REPLIES_OFF;
        else if (!strcmp(argv[0], "wrong")) mode = SIM_REPLIES_WRONG;
        else return usage();
        return control_simple(MXSIM_IOCTL_SET_REPLIES, &mode, sizeof(mode), "replies failed");
    }
    if (!strcmp(cmd, "version")) {
        uint8_t bytes[8];
        uint32_t count = 0;
        if (argc != 6 && argc != 8)
            return usage();
        for (int i = 0; i < argc; ++i) {
            uint32_t before = count;
            if (!parse_hex_bytes(argv[i], bytes, &count, 8) || count != before + 1)
                return usage();
        }
        return control_simple(MXSIM_IOCTL_SET_VERSION, bytes, count, "version failed");
    }
    if (!strcmp(cmd, "report")) {
        static uint8_t bytes[MXSIM_MAX_REPORT];
        uint32_t count = 0;
        if (argc < 1)
            return usage();
        for (int i = 0; i < argc; ++i)
            if (!parse_hex_bytes(argv[i], bytes, &count, MXSIM_MAX_REPORT))
                return usage();
        return control_simple(MXSIM_IOCTL_REPORT, bytes, count, "report failed");
    }
    return usage();
}

} // namespace

int main(int argc, char **argv)
{
    /* Plain '\n' line ends, also under Windows: output is for scripts. */
    _setmode(_fileno(stdout), _O_BINARY);
    if (argc < 2)
        return usage();
    const char *cmd = argv[1];
    if (!strcmp(cmd, "install"))
        return cmd_install(argc - 2, argv + 2);
    if (!strcmp(cmd, "start") || !strcmp(cmd, "stop") || !strcmp(cmd, "uninstall")) {
        if (argc != 2)
            return usage();
        if (!strcmp(cmd, "start"))
            return cmd_start();
        return cmd_stop(!strcmp(cmd, "uninstall"));
    }
    int rc = run_control(cmd, argc - 2, argv + 2);
    if (g_control != INVALID_HANDLE_VALUE)
        CloseHandle(g_control);
    return rc;
}
