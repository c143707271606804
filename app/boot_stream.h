/*
 * boot_stream.h - streaming one boot file to the unit, byte by byte.
 *
 * No Windows calls: built into the utility and into the native unit tests.
 */
#ifndef MXUAPP_BOOT_STREAM_H
#define MXUAPP_BOOT_STREAM_H

#include <stdio.h>

#define BOOT_STREAM_BEEP_EVERY 500

struct BootStreamSink {
    void (*send)(unsigned char byte, void *context); /* one in-band byte */
    void (*beep)(void *context);                     /* progress beep */
    void *context;
};

/* Reads file to its end and sends every byte in file order. Counts reads,
 * the last one that finds no byte included, and beeps on read 501 and on
 * every 500th read after it. Stops at the end of the file or at a read
 * error. Does not close the file. Returns 1 at the end of the file, 0 after
 * a read error (the bytes before it have been sent). */
int StreamBootFile(FILE *file, const BootStreamSink *sink);

#endif /* MXUAPP_BOOT_STREAM_H */
