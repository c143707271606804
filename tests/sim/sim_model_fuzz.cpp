/*
 * Fuzz target: random request sequences against the model. Each input is a
 * series of records: op, code selector, mode, length, then data bytes. The
 * model must never touch memory outside the buffers it is given, and its
 * counters must stay inside their arrays.
 *   build/<native-clang>/tests/sim/sim_model_fuzz -max_total_time=10
 */
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "mxusb_protocol.h"
#include "synth_model.h"

static SimModel model;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const uint32_t codes[] = {IOCTL_SYNTH_GET_INFO, IOCTL_SYNTH_TRANSFER, IOCTL_SYNTH_READ,
                                     IOCTL_SYNTH_READY, 0x222000};
    sim_init(&model);
    uint32_t gen = 0;
    sim_open(&model, 0, &gen);
    uint64_t now = 0;
    size_t i = 0;
    while (i + 4 <= size) {
        uint8_t op = data[i], sel = data[i + 1], mode = data[i + 2], len = data[i + 3];
        i += 4;
        size_t n = len < size - i ? len : size - i;
        switch (op % 8) {
        case 0: sim_unplug(&model); break;
        case 1: sim_replug(&model); sim_open(&model, now, &gen); break;
        case 2: sim_report(&model, data + i, (uint32_t)n); break;
        case 3: model.fail_next = sel % 3; model.busy_next = mode % 3; model.reply_mode = sel % 3; break;
        default: {
            /* Exact-size heap buffers so that the sanitizer sees any overrun. */
            uint8_t *out = (uint8_t *)malloc(n ? n : 1);
            memcpy(out, data + i, n);
            TransferHeader *h = (TransferHeader *)malloc(sizeof *h);
            h->mode = mode % 5;
            h->busy = 0;
            uint32_t in_len = sel & 0x80 ? 4 : sizeof *h;
            SimResult r = sim_request(&model, ++now, gen, codes[sel % 5], h, in_len, op & 1,
                                      n ? out : nullptr, (uint32_t)n);
            if (r.ok && r.bytes_returned > n && codes[sel % 5] != IOCTL_SYNTH_TRANSFER)
                abort();
            free(h);
            free(out);
            break;
        }
        }
        i += n;
    }
    if (model.transcript_length > SIM_TRANSCRIPT_CAPACITY || model.text_length > SIM_TEXT_CAPACITY ||
        model.report_count > SIM_REPORT_CAPACITY || model.log_count > SIM_LOG_CAPACITY ||
        model.next_index == 0 || model.next_index > 254)
        abort();
    return 0;
}
