/* mx_test_support.h - what the library tests share: the shipped DLL through
 * the in-process simulator, its exports, its `.shared` section, the request log. */
#ifndef MX_TEST_SUPPORT_H
#define MX_TEST_SUPPORT_H

#include <windows.h>
#include <gtest/gtest.h>
#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "mxusbd.h"
#include "mxusb_protocol.h"
#include "inproc_host.h"
#include "rings.h"
#include "pe_image.h"

#define MX_IS_32BIT (sizeof(void *) == 4)

#define MX_EXPORTS(X) X(OpenSynth) X(CloseSynth) X(CheckWdmStatus) X(GetFirmwareVersion) \
    X(ReadyCheck) X(WriteByte) X(WriteString) X(RawWriteByte) X(RawWriteByteImmediate) X(ShutUp) \
    X(PauseSpeech) X(ResumeSpeech) X(SelectLanguage) X(ReadByte) X(DisableReadByte) \
    X(ForceIndexRead) X(HaltIndexes) X(ResumeIndexes) X(RegisterWindowIndexes)
#define MX_FIELD(name) decltype(&USBMX_##name) name;
struct MxApi { MX_EXPORTS(MX_FIELD) };

/* Loads the library beside this program through the simulator; NULL on failure. */
HMODULE MxLoad(MxApi *api);

/* The simulator's request log; counts (mode -1 = any); bytes the device took in a mode. */
std::vector<SimLogEntry> MxLog(void);
int MxCountRequests(uint32_t code, int mode);
std::string MxSent(uint32_t mode = TRANSFER_DATA);

bool MxWaitUntil(const std::function<bool()> &cond, DWORD timeout_ms); /* polls every 2 ms */
int MxThreadCount(void); /* threads of this process now */
/* Runs `action` inside each device request before it is answered (it may hold it). */
void MxOnRequest(std::function<void(DWORD code, uint32_t mode)> action);
/* Runs `body` in a thread; false when it has not returned within timeout_ms. */
bool MxReturnsWithin(DWORD timeout_ms, std::function<void()> body);

/* Each test loads a fresh copy of the library against a fresh simulator. */
class LibTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    /* USBMX_WriteByte each byte; wait until the device took `expect_sent` in all. */
    void WriteAndWait(const std::string &bytes, size_t expect_sent);
    std::vector<int> ReadAll(size_t want, DWORD timeout_ms = 3000); /* USBMX_ReadByte until `want` */
    void FillRing(int count, int (*value)(int)); /* slots 0..count-1, under the ring lock */

    HMODULE module = NULL;
    MxApi mx = {};
    MxSharedSection *shared = NULL;
};

#endif
