/*
 * dictionary_check.h - the checks and waits of the user dictionary download,
 * and the byte-by-byte file reading that Send File and the download share.
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

#define DICT_IMAGE_SIZE  65536 /* the buffer that holds a whole file */
#define DICT_MAX_BYTES   65534 /* the largest file accepted: storing byte 65535 rejects it */
#define DICT_HEADER_SIZE 8
#define DICT_BEEP_EVERY  500   /* a beep after the bytes with index 500, 1000, ... */

/* What a byte reader returns besides a byte 0 to 255. */
#define BYTE_READ_END   (-1) /* end of file */
#define BYTE_READ_ERROR (-2) /* the read failed; nothing more will come */

/* Next byte of a source, or BYTE_READ_END / BYTE_READ_ERROR. */
typedef int (*ByteReader)(void *source);

/* ByteReader over a stdio FILE* opened "rb": fgetc, telling end of file from
 * a read error (ferror). A loop that tested end of file alone would never end
 * on a read error. */
int ReadFileByte(void *file);

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

/* First reply byte: up to 50 tries, a beep and 100 ms before each retry.
 * Returns the low 8 bits of the last result; a byte still missing gives 0xFF. */
int WaitDictReplyLow(const ReplyWaitOps *ops);

/* Second reply byte: up to 5 tries, 50 ms before each retry, no beeps.
 * Returns the low 8 bits of the last result; 0xFF when still missing. */
int WaitDictReplyHigh(const ReplyWaitOps *ops);

/* Wait for the commit confirmation 'f' after 'p' has been sent: 10 ms, a
 * try, then up to 499 more tries each after 100 ms and a beep. Every other
 * byte is dropped. Returns 1 at the first 'f', 0 after the last try. */
int WaitDictCommit(const ReplyWaitOps *ops);

#endif /* DICTIONARY_CHECK_H */
