/*
 * dictionary_check.cpp - the checks and waits of the user dictionary download
 * (see dictionary_check.h).
 */
#include "dictionary_check.h"

#include <string.h>

#include "mxusb_protocol.h"

void LowerCasePath(char *path)
{
    for (; *path; ++path) {
        if (*path >= 'A' && *path <= 'Z')
            *path = static_cast<char>(*path - 'A' + 'a');
    }
}

int PathNamesDictionary(const char *path)
{
    return strstr(path, ".dic") != nullptr;
}

DictReadResult ReadDictionaryImage(ByteReader read, void *source,
                                   unsigned char *image, uint32_t *count)
{
    uint32_t n = 0;
    for (;;) {
        int c = read(source);
        if (c == BYTE_READ_END)
            break;
        if (c < 0) {
            *count = n;
            return DICT_READ_ERROR;
        }
        image[n++] = static_cast<unsigned char>(c);
        if (n > DICT_MAX_BYTES) {
            *count = n;
            return DICT_READ_TOO_LARGE;
        }
    }
    *count = n;
    return DICT_READ_OK;
}

static uint32_t LittleEndian32(const unsigned char *p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

uint32_t DictExpectedLength(const unsigned char *image)
{
    uint32_t entries = LittleEndian32(image);
    uint32_t data = LittleEndian32(image + 4);
    return DICT_HEADER_SIZE + 4u * entries + data; /* wraps at 2^32 */
}

int DictLengthMatches(const unsigned char *image, uint32_t count)
{
    return count >= DICT_HEADER_SIZE && count == DictExpectedLength(image);
}

uint16_t DictSum(const unsigned char *image, uint32_t count)
{
    uint16_t sum = 0;
    for (uint32_t k = 0; k < count; ++k)
        sum = static_cast<uint16_t>(sum + image[k]);
    return sum;
}

int DictBeepAfterByte(uint32_t k)
{
    return k != 0 && k % DICT_BEEP_EVERY == 0;
}

static int WaitReplyLow(const ReplyWaitOps *ops)
{
    int got = ops->get_byte();
    for (int retry = 0; got < 0 && retry < 49; ++retry) {
        ops->beep();
        ops->sleep_ms(100);
        got = ops->get_byte();
    }
    return got & 0xFF; /* -1 gives 0xFF */
}

static int WaitReplyHigh(const ReplyWaitOps *ops)
{
    int got = ops->get_byte();
    for (int retry = 0; got < 0 && retry < 4; ++retry) {
        ops->sleep_ms(50);
        got = ops->get_byte();
    }
    return got & 0xFF;
}

int WaitDictReplyMatches(const ReplyWaitOps *ops, uint16_t sum)
{
    int low = WaitReplyLow(ops);
    int high = WaitReplyHigh(ops);
    return high * 256 + low == sum;
}

int WaitDictCommit(const ReplyWaitOps *ops)
{
    ops->sleep_ms(10);
    if ((ops->get_byte() & 0xFF) == SYNTH_REPLY_COMMIT)
        return 1;
    for (int retry = 0; retry < 499; ++retry) {
        ops->sleep_ms(100);
        ops->beep();
        if ((ops->get_byte() & 0xFF) == SYNTH_REPLY_COMMIT)
            return 1;
    }
    return 0;
}
