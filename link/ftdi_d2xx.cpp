#include "link/ftdi_d2xx.h"

#include <cstdio>
#include <cstring>
#include <ftdi.h>
#include <libusb.h>

namespace {

// What D2XX keeps per open device and libftdi does not: the line format (a break
// is set through the same call) and the read time-out.
struct Device {
    ftdi_context* ctx = nullptr;
    ftdi_bits_type bits = BITS_8;
    ftdi_stopbits_type stop = STOP_BIT_2;
    ftdi_parity_type parity = NONE;
    int readTimeoutMs = 50;
    // Bytes a queue-status call took from the chip ahead of the next read.
    unsigned char held[4096];
    size_t heldCount = 0;
};

// The device behind a handle this layer opened and has not closed, or null: a
// stale handle never reaches libftdi.
Device* Opened(const std::set<FT_HANDLE>& open, FT_HANDLE h)
{
    return open.count(h) ? static_cast<Device*>(h) : nullptr;
}

// A context that leaves devices bound to ftdi_sio alone: libftdi's default
// detaches the kernel driver, and never gives the device back.
ftdi_context* newContext()
{
    ftdi_context* ctx = ftdi_new();
    if (ctx)
        ctx->module_detach_mode = DONT_DETACH_SIO_MODULE;
    return ctx;
}

// The number of FTDI devices the bus shows, or -1.
int countDevices()
{
    ftdi_context* probe = newContext();
    if (!probe)
        return -1;
    ftdi_device_list* list = nullptr;
    const int count = ftdi_usb_find_all(probe, &list, 0, 0);
    ftdi_list_free(&list);
    ftdi_free(probe);
    return count;
}

// Opens device `wanted` (in bus order) through `ctx`, the context whose list finds
// it: the device belongs to that context's libusb context.
bool openListed(ftdi_context* ctx, int wanted, std::string& busyNode)
{
    ftdi_device_list* list = nullptr;
    const int count = ftdi_usb_find_all(ctx, &list, 0, 0);
    bool opened = false;
    if (count > 0 && wanted >= 0) {
        int i = 0;
        for (ftdi_device_list* d = list; d; d = d->next, ++i)
            if (i == wanted) {
                const int r = ftdi_usb_open_dev(ctx, d->dev);
                opened = r == 0;
                // libftdi's "unable to claim usb device": another program, or the
                // kernel's driver, holds it.
                if (r == -5) {
                    char node[40];
                    std::snprintf(node, sizeof node, "/dev/bus/usb/%03u/%03u", unsigned(libusb_get_bus_number(d->dev)),
                                  unsigned(libusb_get_device_address(d->dev)));
                    busyNode = node;
                }
                break;
            }
    }
    ftdi_list_free(&list);
    return opened;
}

} // namespace

FT_STATUS FtdiD2xx::FT_ListDevices(void* arg1, void*, DWORD flags)
{
    if (!(flags & FT_LIST_NUMBER_ONLY) || !arg1)
        return FT_IO_ERROR;
    const int count = countDevices();
    if (count < 0)
        return FT_IO_ERROR;
    *static_cast<DWORD*>(arg1) = DWORD(count);
    return FT_OK;
}

FT_STATUS FtdiD2xx::FT_Open(int deviceNumber, FT_HANDLE* handle)
{
    *handle = nullptr;
    ftdi_context* ctx = newContext();
    if (!ctx)
        return FT_DEVICE_NOT_OPENED;
    busyNode_.clear();
    if (!openListed(ctx, deviceNumber, busyNode_)) {
        ftdi_free(ctx);
        return FT_DEVICE_NOT_OPENED;
    }
    auto* d = new Device;
    d->ctx = ctx;
    open_.insert(d);
    // The chip holds received bytes up to 16 ms by default; RDM replies want them at once.
    if (ftdi_set_latency_timer(d->ctx, 1) != 0) {
        FT_Close(d);
        return FT_DEVICE_NOT_OPENED;
    }
    *handle = d;
    return FT_OK;
}

FT_STATUS FtdiD2xx::FT_GetDeviceInfo(FT_HANDLE h, DWORD* type, DWORD* id, char* serial, char* description, void*)
{
    Device* d = Opened(open_, h);
    if (!d)
        return FT_INVALID_HANDLE;
    if (type)
        *type = 0;
    if (id)
        *id = 0;
    libusb_device* usb = libusb_get_device(d->ctx->usb_dev);
    int r = ftdi_usb_get_strings2(d->ctx, usb, nullptr, 0, description, description ? 64 : 0, serial,
                                  serial ? 16 : 0);
    return r == 0 ? FT_OK : FT_IO_ERROR;
}

FtdiD2xx::~FtdiD2xx()
{
    while (!open_.empty())
        FT_Close(*open_.begin());
}

FT_STATUS FtdiD2xx::FT_Close(FT_HANDLE h)
{
    Device* d = Opened(open_, h);
    if (!d)
        return FT_INVALID_HANDLE;
    open_.erase(h);
    ftdi_usb_close(d->ctx);
    ftdi_free(d->ctx);
    delete d;
    return FT_OK;
}

FT_STATUS FtdiD2xx::FT_ResetDevice(FT_HANDLE h)
{
    Device* d = Opened(open_, h);
    return d && ftdi_usb_reset(d->ctx) == 0 ? FT_OK : FT_IO_ERROR;
}

FT_STATUS FtdiD2xx::FT_SetBaudRate(FT_HANDLE h, DWORD baudRate)
{
    Device* d = Opened(open_, h);
    return d && ftdi_set_baudrate(d->ctx, int(baudRate)) == 0 ? FT_OK : FT_IO_ERROR;
}

FT_STATUS FtdiD2xx::FT_SetDataCharacteristics(FT_HANDLE h, uint8_t wordLength, uint8_t stopBits, uint8_t parity)
{
    Device* d = Opened(open_, h);
    if (!d)
        return FT_INVALID_HANDLE;
    d->bits = wordLength == 7 ? BITS_7 : BITS_8;
    d->stop = stopBits == 2 ? STOP_BIT_2 : (stopBits == 1 ? STOP_BIT_15 : STOP_BIT_1);
    d->parity = static_cast<ftdi_parity_type>(parity);
    return ftdi_set_line_property(d->ctx, d->bits, d->stop, d->parity) == 0 ? FT_OK : FT_IO_ERROR;
}

FT_STATUS FtdiD2xx::FT_SetFlowControl(FT_HANDLE h, uint16_t mode, uint8_t, uint8_t)
{
    Device* d = Opened(open_, h);
    if (!d)
        return FT_INVALID_HANDLE;
    return ftdi_setflowctrl(d->ctx, mode == 0 ? SIO_DISABLE_FLOW_CTRL : mode) == 0 ? FT_OK : FT_IO_ERROR;
}

FT_STATUS FtdiD2xx::FT_Purge(FT_HANDLE h, DWORD mask)
{
    Device* d = Opened(open_, h);
    if (!d)
        return FT_INVALID_HANDLE;
    int r = 0;
    if (mask & FT_PURGE_RX) {
        d->heldCount = 0;
        r |= ftdi_tciflush(d->ctx);
    }
    if (mask & FT_PURGE_TX)
        r |= ftdi_tcoflush(d->ctx);
    return r == 0 ? FT_OK : FT_IO_ERROR;
}

FT_STATUS FtdiD2xx::FT_SetTimeouts(FT_HANDLE h, DWORD readTimeoutMs, DWORD writeTimeoutMs)
{
    Device* d = Opened(open_, h);
    if (!d)
        return FT_INVALID_HANDLE;
    d->readTimeoutMs = int(readTimeoutMs);
    d->ctx->usb_read_timeout = int(readTimeoutMs);
    d->ctx->usb_write_timeout = int(writeTimeoutMs);
    return FT_OK;
}

FT_STATUS FtdiD2xx::FT_SetBreakOn(FT_HANDLE h)
{
    Device* d = Opened(open_, h);
    if (!d)
        return FT_INVALID_HANDLE;
    return ftdi_set_line_property2(d->ctx, d->bits, d->stop, d->parity, BREAK_ON) == 0 ? FT_OK : FT_IO_ERROR;
}

FT_STATUS FtdiD2xx::FT_SetBreakOff(FT_HANDLE h)
{
    Device* d = Opened(open_, h);
    if (!d)
        return FT_INVALID_HANDLE;
    return ftdi_set_line_property2(d->ctx, d->bits, d->stop, d->parity, BREAK_OFF) == 0 ? FT_OK : FT_IO_ERROR;
}

FT_STATUS FtdiD2xx::FT_Write(FT_HANDLE h, const void* buffer, DWORD count, DWORD* written)
{
    *written = 0;
    Device* d = Opened(open_, h);
    if (!d)
        return FT_INVALID_HANDLE;
    int n = ftdi_write_data(d->ctx, static_cast<const unsigned char*>(buffer), int(count));
    if (n < 0)
        return FT_IO_ERROR;
    *written = DWORD(n);
    return FT_OK;
}

FT_STATUS FtdiD2xx::FT_Read(FT_HANDLE h, void* buffer, DWORD count, DWORD* read)
{
    *read = 0;
    Device* d = Opened(open_, h);
    if (!d)
        return FT_INVALID_HANDLE;
    // libftdi returns what the chip has buffered at once; D2XX waits for the whole
    // count or the read time-out.
    auto* out = static_cast<unsigned char*>(buffer);
    const uint64_t deadline = clock_.nowUs() + uint64_t(d->readTimeoutMs) * 1000;
    DWORD done = DWORD(d->heldCount < count ? d->heldCount : count);
    std::memcpy(out, d->held, done);
    std::memmove(d->held, d->held + done, d->heldCount - done);
    d->heldCount -= done;
    while (done < count) {
        const int n = ftdi_read_data(d->ctx, out + done, int(count - done));
        if (n < 0) {
            *read = done;  // what came before the failure is the caller's
            return FT_IO_ERROR;
        }
        done += DWORD(n);
        if (done >= count || clock_.nowUs() >= deadline)
            break;
        if (n == 0)
            clock_.sleepUs(500);
    }
    *read = done;
    return FT_OK;
}

FT_STATUS FtdiD2xx::FT_GetQueueStatus(FT_HANDLE h, DWORD* rxBytes)
{
    *rxBytes = 0;
    Device* d = Opened(open_, h);
    if (!d)
        return FT_INVALID_HANDLE;
    // libftdi cannot look into the chip's buffer without reading it: what one
    // bulk read brings (the chip answers within its latency timer) is held for
    // the next FT_Read.
    if (d->heldCount < sizeof d->held) {
        const int n = ftdi_read_data(d->ctx, d->held + d->heldCount, int(sizeof d->held - d->heldCount));
        if (n < 0)
            return FT_IO_ERROR;
        d->heldCount += size_t(n);
    }
    *rxBytes = DWORD(d->heldCount);
    return FT_OK;
}
