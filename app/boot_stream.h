/*
 * boot_stream.h - streaming one boot file to the unit, byte by byte.
 *
 * No Windows calls: built into the utility and into the native unit tests.
 */
#ifndef MXUAPP_BOOT_STREAM_H
#define MXUAPP_BOOT_STREAM_H

#include "byte_reader.h"

#define BOOT_STREAM_BEEP_EVERY 500

struct BootStreamSink {
    void (*send)(unsigned char byte, void *context); /* one in-band byte */
    void (*beep)(void *context);                     /* progress beep */
    void *context;
};

/* Reads source to its end and sends every byte in order. Counts reads, the
 * last one that finds no byte included, and beeps on read 501 and on every
 * 500th read after it. Returns 1 at the end of the source, 0 after a read
 * error (the bytes before it have been sent). */
int StreamBootFile(ByteReader read, void *source, const BootStreamSink *sink);

#endif /* MXUAPP_BOOT_STREAM_H */
