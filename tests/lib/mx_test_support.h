/*
 * mx_test_support.h - what the library tests share: the shipped DLL loaded
 * through the in-process simulator, its 19 exports, its `.shared` section,
 * and readers of the simulator's request log.
 */
#ifndef MX_TEST_SUPPORT_H
#define MX_TEST_SUPPORT_H

#include <windows.h>
#include <gtest/gtest.h>
#include <string>
#include <functional>
#include <vector>

#include "mxusbd.h"
#include "mxusb_protocol.h"
#include "inproc_host.h"
#include "rings.h"
#include "pe_image.h"

#define MX_IS_32BIT (sizeof(void *) == 4)

struct MxApi {
#define MX_API_ENTRY(name) decltype(&USBMX_##name) name;
#include "mx_api_entries.h"
#undef MX_API_ENTRY
};

/* Full path of the shipped library beside the test program. */
std::wstring MxLibraryPath(void);
/* Resolves all 19 exports; false (and a test failure) when one is missing. */
bool MxResolve(HMODULE module, MxApi *api);

/* From the simulator's request log: the data bytes the device accepted in
 * TRANSFER_DATA requests, the out-of-band bytes, and request counts. */
std::string MxSentData(void);
std::string MxSentImmediate(void);
int MxCountRequests(uint32_t code, int mode); /* mode -1 = any */
/* Log entries (copied); count in *n. The buffer is reused by every call. */
const SimLogEntry *MxLog(uint32_t *n);

/* Polls cond every 2 ms until true or timeout_ms has passed. */
bool MxWaitUntil(const std::function<bool()> &cond, DWORD timeout_ms);
/* Threads of this process right now. */
int MxThreadCount(void);
/* Runs `action` inside every device request (before the device answers),
 * with its code and mode; it may block to hold the request. nullptr removes it. */
void MxOnRequest(std::function<void(DWORD code, uint32_t mode)> action);
/* Runs `body` in a thread; false when it has not returned within timeout_ms
 * (the thread is then left running, detached). */
bool MxReturnsWithin(DWORD timeout_ms, std::function<void()> body);
/* The test program started again as a child: `--ring-child EVENT` loads the
 * library, sets the named event and calls ring operations until killed. */
int MxRingChild(const char *ready_event);

/* Each test loads a fresh copy of the library (fresh state) against a fresh
 * simulator, and closes and unloads it afterwards. */
class LibTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    /* Writes bytes with USBMX_WriteByte and waits until the device took
     * `expect_sent` data bytes in all (32-bit: the writer thread sends). */
    void WriteAndWait(const std::string &bytes, size_t expect_sent);

    HMODULE module = NULL;
    MxApi mx = {};
    MxSharedSection *shared = NULL;
};

#endif
