/*
 * mxusb_driver.c - the kernel half of the driver host mxusb.sys: creates the
 * two devices and turns their I/O requests into calls of mxsim_host.h.
 *
 *   \Device\mxusb0   (\\.\mxusb-0)        the product device: the four
 *                                          control codes of mxusb_protocol.h
 *   \Device\mxsimctl (\\.\mxsim-control)  the control device (mxsim_control.h)
 *
 * One spin lock (g_lock) guards the model: every mxsim_host_ call, from any
 * device and dispatch routine, runs under it. The model touches no pageable
 * memory and makes no OS calls, so it runs fine at DISPATCH_LEVEL.
 *
 * A product handle keeps its model generation in its file object (FsContext);
 * FsContext2 is 1 while the handle is open in the model, so whichever of
 * IRP_MJ_CLEANUP and IRP_MJ_CLOSE comes first closes it there, once. Both
 * fields are changed under g_lock.
 *
 * Unplugging also removes the link \DosDevices\mxusb-0 (replugging restores
 * it), as a removed USB device's name disappears: opening \\.\mxusb-0 then
 * fails before the driver is asked. Wine does not pass a failed
 * IRP_MJ_CREATE back to CreateFile, so the link is what makes the open fail
 * there; the check in product_create covers the moment between the two.
 * The link follows the model's `present` flag after every control request
 * that may change it; g_link_mutex serialises those updates (the link calls
 * need PASSIVE_LEVEL, so they cannot run under the spin lock).
 *
 * The driver never answers `busy`: it cannot write the caller's
 * TransferHeader (see mxsim_control.h).
 */
#include <ntddk.h>

#include "mxusb_protocol.h"
#define MXSIM_CONTROL_NAMES_ONLY
#include "mxsim_control.h"
#include "mxsim_host.h"

static KSPIN_LOCK g_lock;
static KMUTEX g_link_mutex;
static int g_link_present; /* guarded by g_link_mutex */
static PDEVICE_OBJECT g_product; /* set in DriverEntry, cleared by unload */
static PDEVICE_OBJECT g_control;

/* The model's clock, in microseconds: the performance counter (exported by
 * hal.dll, so looked up at load), else the interrupt time. Wine's interrupt
 * time barely moves while a driver runs, hence the counter first. */
typedef LARGE_INTEGER (NTAPI *QueryPerformanceCounterFn)(PLARGE_INTEGER);
typedef ULONGLONG (NTAPI *QueryInterruptTimeFn)(VOID);
static QueryPerformanceCounterFn g_query_counter;
static QueryInterruptTimeFn g_query_interrupt_time;

static uint64_t now_us(void)
{
    if (g_query_counter) {
        LARGE_INTEGER frequency;
        LARGE_INTEGER count = g_query_counter(&frequency);
        if (frequency.QuadPart > 0)
            return (uint64_t)(count.QuadPart / frequency.QuadPart) * 1000000u +
                   (uint64_t)(count.QuadPart % frequency.QuadPart) * 1000000u /
                       (uint64_t)frequency.QuadPart;
    }
    if (g_query_interrupt_time)
        return g_query_interrupt_time() / 10;
    return (*(volatile ULONG64 *)SharedInterruptTime) / 10;
}

static void find_clock(void)
{
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, L"KeQueryPerformanceCounter");
    g_query_counter = (QueryPerformanceCounterFn)MmGetSystemRoutineAddress(&name);
    RtlInitUnicodeString(&name, L"KeQueryInterruptTime");
    g_query_interrupt_time = (QueryInterruptTimeFn)MmGetSystemRoutineAddress(&name);
}

static NTSTATUS complete(PIRP irp, NTSTATUS status, ULONG_PTR information)
{
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

/* --- the product device --- */

static NTSTATUS product_create(PIRP irp, PIO_STACK_LOCATION stack)
{
    uint32_t generation = 0;
    KIRQL irql;
    int ok;

    KeAcquireSpinLock(&g_lock, &irql);
    ok = mxsim_host_open(now_us(), &generation);
    if (ok) {
        stack->FileObject->FsContext = (PVOID)(ULONG_PTR)generation;
        stack->FileObject->FsContext2 = (PVOID)(ULONG_PTR)1;
    }
    KeReleaseSpinLock(&g_lock, irql);
    /* Unplugged: CreateFile fails. */
    return complete(irp, ok ? STATUS_SUCCESS : STATUS_NO_SUCH_DEVICE, 0);
}

static void product_close(PIO_STACK_LOCATION stack)
{
    PFILE_OBJECT file = stack->FileObject;
    KIRQL irql;

    if (!file)
        return;
    KeAcquireSpinLock(&g_lock, &irql);
    if (file->FsContext2) {
        file->FsContext2 = NULL;
        mxsim_host_close(now_us(), (uint32_t)(ULONG_PTR)file->FsContext);
    }
    KeReleaseSpinLock(&g_lock, irql);
}

static NTSTATUS product_ioctl(PIRP irp, PIO_STACK_LOCATION stack)
{
    const ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    const ULONG in_len = stack->Parameters.DeviceIoControl.InputBufferLength;
    const ULONG out_len = stack->Parameters.DeviceIoControl.OutputBufferLength;
    PFILE_OBJECT file = stack->FileObject;
    void *in = NULL, *out = NULL;
    uint32_t in_size = 0, out_size = 0, returned = 0;
    KIRQL irql;
    int ok = 0;

    switch (code) {
    case IOCTL_SYNTH_GET_INFO:
    case IOCTL_SYNTH_READY:
        /* Buffered, no input: the system buffer receives the output. */
        out = irp->AssociatedIrp.SystemBuffer;
        out_size = out ? out_len : 0;
        break;
    case IOCTL_SYNTH_TRANSFER:
    case IOCTL_SYNTH_READ:
        /* Direct: the header in the system buffer, the data through the MDL. */
        in = irp->AssociatedIrp.SystemBuffer;
        in_size = in ? in_len : 0;
        if (irp->MdlAddress && out_len) {
            out = MmGetSystemAddressForMdlSafe(irp->MdlAddress, NormalPagePriority);
            if (!out)
                return complete(irp, STATUS_INSUFFICIENT_RESOURCES, 0);
            out_size = out_len;
        }
        break;
    default:
        break; /* the model logs and fails it */
    }

    KeAcquireSpinLock(&g_lock, &irql);
    if (file && file->FsContext2)
        ok = mxsim_host_request(now_us(), (uint32_t)(ULONG_PTR)file->FsContext, code,
                                in, in_size, out, out_size, &returned);
    KeReleaseSpinLock(&g_lock, irql);

    if (!ok)
        return complete(irp, STATUS_UNSUCCESSFUL, 0);
    /* A buffered request's output is copied back: never past the buffer. The
     * poll's bytes-returned is a count of pending bytes, not a length. */
    if (code != IOCTL_SYNTH_TRANSFER && returned > out_size)
        returned = out_size;
    return complete(irp, STATUS_SUCCESS, returned);
}

/* --- the product device's name follows the plug --- */

static NTSTATUS set_product_link(int present)
{
    UNICODE_STRING name, link;
    RtlInitUnicodeString(&name, MXSIM_PRODUCT_DEVICE_NAME);
    RtlInitUnicodeString(&link, MXSIM_PRODUCT_LINK_NAME);
    return present ? IoCreateSymbolicLink(&link, &name) : IoDeleteSymbolicLink(&link);
}

static void sync_product_link(void)
{
    KIRQL irql;
    int present;

    KeWaitForSingleObject(&g_link_mutex, Executive, KernelMode, FALSE, NULL);
    KeAcquireSpinLock(&g_lock, &irql);
    present = mxsim_host_present();
    KeReleaseSpinLock(&g_lock, irql);
    if (present != g_link_present && NT_SUCCESS(set_product_link(present)))
        g_link_present = present;
    KeReleaseMutex(&g_link_mutex, FALSE);
}

/* --- the control device --- */

static NTSTATUS control_ioctl(PIRP irp, PIO_STACK_LOCATION stack)
{
    const ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    uint32_t information = 0;
    KIRQL irql;
    int result;
    NTSTATUS status;

    KeAcquireSpinLock(&g_lock, &irql);
    result = mxsim_host_control(now_us(), code,
                                irp->AssociatedIrp.SystemBuffer,
                                stack->Parameters.DeviceIoControl.InputBufferLength,
                                stack->Parameters.DeviceIoControl.OutputBufferLength,
                                &information);
    KeReleaseSpinLock(&g_lock, irql);

    if (code == MXSIM_IOCTL_UNPLUG || code == MXSIM_IOCTL_REPLUG || code == MXSIM_IOCTL_RESET)
        sync_product_link();

    switch (result) {
    case MXSIM_HOST_OK: status = STATUS_SUCCESS; break;
    case MXSIM_HOST_BAD_PARAMETER: status = STATUS_INVALID_PARAMETER; break;
    case MXSIM_HOST_TOO_SMALL: status = STATUS_BUFFER_TOO_SMALL; break;
    case MXSIM_HOST_NO_ROOM: status = STATUS_INSUFFICIENT_RESOURCES; break;
    default: status = STATUS_INVALID_DEVICE_REQUEST; break;
    }
    return complete(irp, status, status == STATUS_SUCCESS ? information : 0);
}

/* --- dispatch, load and unload --- */

static NTSTATUS NTAPI dispatch(PDEVICE_OBJECT device, PIRP irp)
{
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    const int product = device == g_product;

    switch (stack->MajorFunction) {
    case IRP_MJ_CREATE:
        if (product)
            return product_create(irp, stack);
        return complete(irp, STATUS_SUCCESS, 0);
    case IRP_MJ_CLEANUP:
    case IRP_MJ_CLOSE:
        if (product)
            product_close(stack);
        return complete(irp, STATUS_SUCCESS, 0);
    case IRP_MJ_DEVICE_CONTROL:
        if (product)
            return product_ioctl(irp, stack);
        return control_ioctl(irp, stack);
    default:
        return complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    }
}

static void delete_device(PDEVICE_OBJECT *device, PCWSTR link_name)
{
    UNICODE_STRING link;

    if (!*device)
        return;
    RtlInitUnicodeString(&link, link_name);
    IoDeleteSymbolicLink(&link);
    IoDeleteDevice(*device);
    *device = NULL;
}

static VOID NTAPI driver_unload(PDRIVER_OBJECT driver)
{
    (void)driver;
    delete_device(&g_control, MXSIM_CONTROL_LINK_NAME);
    if (g_product && !g_link_present) {
        IoDeleteDevice(g_product); /* its link is already gone */
        g_product = NULL;
    }
    delete_device(&g_product, MXSIM_PRODUCT_LINK_NAME);
}

static NTSTATUS create_device(PDRIVER_OBJECT driver, PCWSTR device_name,
                              PCWSTR link_name, PDEVICE_OBJECT *device)
{
    UNICODE_STRING name, link;
    NTSTATUS status;

    RtlInitUnicodeString(&name, device_name);
    RtlInitUnicodeString(&link, link_name);
    status = IoCreateDevice(driver, 0, &name, FILE_DEVICE_UNKNOWN, 0, FALSE, device);
    if (!NT_SUCCESS(status)) {
        *device = NULL;
        return status;
    }
    status = IoCreateSymbolicLink(&link, &name);
    if (!NT_SUCCESS(status)) {
        IoDeleteDevice(*device);
        *device = NULL;
        return status;
    }
    (*device)->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
}

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registry_path)
{
    NTSTATUS status;

    (void)registry_path;
    find_clock();

    KeInitializeSpinLock(&g_lock);
    KeInitializeMutex(&g_link_mutex, 0);
    mxsim_host_init();

    driver->MajorFunction[IRP_MJ_CREATE] = dispatch;
    driver->MajorFunction[IRP_MJ_CLEANUP] = dispatch;
    driver->MajorFunction[IRP_MJ_CLOSE] = dispatch;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = dispatch;
    driver->DriverUnload = driver_unload;

    status = create_device(driver, MXSIM_PRODUCT_DEVICE_NAME, MXSIM_PRODUCT_LINK_NAME,
                           &g_product);
    g_link_present = NT_SUCCESS(status);
    if (NT_SUCCESS(status))
        status = create_device(driver, MXSIM_CONTROL_DEVICE_NAME, MXSIM_CONTROL_LINK_NAME,
                               &g_control);
    if (!NT_SUCCESS(status))
        driver_unload(driver);
    return status;
}
