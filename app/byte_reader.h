/*
 * byte_reader.h - how the utility reads a file: one byte at a time, telling
 * the end of the file from a read error. Send File, the dictionary download
 * and the boot file stream all read this way; a loop that tested for the end
 * of the file alone would never end on a read error.
 *
 * No Windows calls: built into the utility and into the native unit tests.
 */
#ifndef MXUAPP_BYTE_READER_H
#define MXUAPP_BYTE_READER_H

/* What a byte reader returns besides a byte 0 to 255. */
#define BYTE_READ_END   (-1) /* end of file */
#define BYTE_READ_ERROR (-2) /* the read failed; nothing more will come */

/* Next byte of a source, or BYTE_READ_END / BYTE_READ_ERROR. */
typedef int (*ByteReader)(void *source);

/* ByteReader over a stdio FILE* opened "rb". */
int ReadFileByte(void *file);

#endif /* MXUAPP_BYTE_READER_H */
