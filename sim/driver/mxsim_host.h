/*
 * mxsim_host.h - the OS-free half of the driver host: the one model instance
 * and everything the two devices do with it, behind a plain C interface.
 * The kernel half (mxusb_driver.c) turns I/O requests into these calls.
 *
 * None of these functions locks: the caller holds the driver's lock around
 * every call (one lock for the model, the product device and the control
 * device alike).
 */
#ifndef MXSIM_HOST_H
#define MXSIM_HOST_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Results of mxsim_host_control. */
enum MxsimHostStatus {
    MXSIM_HOST_OK = 0,
    MXSIM_HOST_BAD_PARAMETER = 1, /* missing, short or out-of-range input */
    MXSIM_HOST_TOO_SMALL = 2,     /* the output buffer cannot hold the answer */
    MXSIM_HOST_NO_ROOM = 3,       /* report bytes would overflow the model's queue */
    MXSIM_HOST_UNKNOWN = 4        /* not a control code */
};

/* Resets the model as at driver start (plugged in, defaults), the request
 * counter and the schedule of timed reports. */
void mxsim_host_init(void);

/* The product device. open returns 0 while unplugged, else 1 and the
 * generation to keep with the handle. */
int mxsim_host_open(uint64_t now_us, uint32_t *generation);
void mxsim_host_close(uint64_t now_us, uint32_t generation);

/* One request on a product handle, arriving at now_us (timed reports that
 * are due by then become pending first): in = the system buffer (TransferHeader for
 * TRANSFER and READ, nothing for GET_INFO and READY), out = the data / output
 * buffer. Returns nonzero on success with *bytes_returned set. */
int mxsim_host_request(uint64_t now_us, uint32_t generation, uint32_t code,
                       void *in, uint32_t in_len, void *out, uint32_t out_len,
                       uint32_t *bytes_returned);

/* 1 while the unit is plugged in, else 0. */
int mxsim_host_present(void);

/* One request on the control device (METHOD_BUFFERED: `buffer` holds in_len
 * input bytes and receives the output, out_len bytes at most), arriving at
 * now_us. Returns a MxsimHostStatus; *information = output bytes written (0
 * on failure). */
int mxsim_host_control(uint64_t now_us, uint32_t code, void *buffer, uint32_t in_len,
                       uint32_t out_len, uint32_t *information);

#ifdef __cplusplus
}
#endif

#endif /* MXSIM_HOST_H */
