/*
 * dictionary_check.h - the checks and waits of the user dictionary download.
 *
 * Plain C++ with no Windows calls: the dialogs pass in what touches the
 * system (the file, GetLocalIndex, Sleep, MessageBeep), so the same code is
 * built natively and tested with sanitizers.
 *
 * A user dictionary file, as far as the utility looks into it (little-endian):
 *   offset 0: entry count N (u32), offset 4: data size M (u32),
 *   offset 8: N four-byte entries, then M data bytes.
 * It is a dictionary only when its length equals 8 + 4*N + M, computed in
 * unsigned 32-bit arithmetic (wrapping at 2^32).
 */
#ifndef DICTIONARY_CHECK_H
#define DICTIONARY_CHECK_H

#include <stdint.h>

#include "byte_reader.h"

#define DICT_IMAGE_SIZE  65536 /* the buffer that holds a whole file */
#define DICT_MAX_BYTES   65534 /* the largest file accepted: storing byte 65535 rejects it */
#define DICT_HEADER_SIZE 8
#define DICT_BEEP_EVERY  500   /* a beep after the bytes with index 500, 1000, ... */

/* Lower-cases a path in place: ASCII 'A' to 'Z' only, every other byte stays. */
void LowerCasePath(char *path);

/* Nonzero when the (lower-cased) path holds ".dic" anywhere. */
int PathNamesDictionary(const char *path);

enum DictReadResult {
    DICT_READ_OK = 0,    /* end of file reached; *count bytes in the image */
    DICT_READ_TOO_LARGE, /* byte 65535 was stored: the file is too large */
    DICT_READ_ERROR      /* the reader failed; the image is incomplete */
};

/* Reads a whole file into image (DICT_IMAGE_SIZE bytes), counting the bytes
 * in *count. Stops at the end of the file, at a read error, or as soon as the
 * 65535th byte has been stored, whether or not more follow. */
DictReadResult ReadDictionaryImage(ByteReader read, void *source,
                                   unsigned char *image, uint32_t *count);

/* 8 + 4*N + M from the first 8 bytes of image, modulo 2^32. */
uint32_t DictExpectedLength(const unsigned char *image);

/* Nonzero when count is at least 8 and equals DictExpectedLength(image). */
int DictLengthMatches(const unsigned char *image, uint32_t count);

/* The 16-bit additive sum of the count bytes of image (each 0 to 255). */
uint16_t DictSum(const unsigned char *image, uint32_t count);

/* Nonzero when a beep follows the byte with index k (500, 1000, ...). */
int DictBeepAfterByte(uint32_t k);

/* What the reply waits use: GetLocalIndex (negative = no byte yet), Sleep in
 * milliseconds and the simple beep. */
struct ReplyWaitOps {
    int (*get_byte)(void);
    void (*sleep_ms)(unsigned int ms);
    void (*beep)(void);
};

/* Waits for the unit's two reply bytes and compares them with sum: the
 * first (low) byte gets up to 50 tries, a beep and 100 ms before each retry;
 * the second (high) byte up to 5 tries, 50 ms before each retry, no beeps.
 * Only the low 8 bits of a result count; a byte still missing counts as
 * 0xFF. Returns 1 when high * 256 + low equals sum. */
int WaitDictReplyMatches(const ReplyWaitOps *ops, uint16_t sum);

/* Wait for the commit confirmation 'f' after 'p' has been sent: 10 ms, a
 * try, then up to 499 more tries each after 100 ms and a beep. Every other
 * byte is dropped. Returns 1 at the first 'f', 0 after the last try. */
int WaitDictCommit(const ReplyWaitOps *ops);

#endif /* DICTIONARY_CHECK_H */
