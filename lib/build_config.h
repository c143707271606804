/*
 * build_config.h - the one switch between the library's two builds.
 *
 * mxusbd.dll (32-bit) queues USBMX_WriteByte in the WriteQueue, which its
 * WriterThread drains, and shares its `.shared` section between processes;
 * mxusbd64.dll (64-bit) sends from the caller's thread and keeps the section
 * per process. Everything that differs is under MX_HAS_WRITE_QUEUE.
 */
#ifndef MXUSBD_BUILD_CONFIG_H
#define MXUSBD_BUILD_CONFIG_H

#if !defined(_WIN64)
#define MX_HAS_WRITE_QUEUE 1
#else
#define MX_HAS_WRITE_QUEUE 0
#endif

#endif /* MXUSBD_BUILD_CONFIG_H */
