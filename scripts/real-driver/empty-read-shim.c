// Test-only, preloaded into the programs that run on QEMU's emulated FT232.
//
// A real FT232 answers every bulk IN poll within its latency timer, with the two
// modem-status bytes when it has nothing else. QEMU 7.2's model NAKs the poll
// instead, so a libftdi read that finds nothing waits out its whole USB time-out
// and then fails. This ends such a read after about 2 ms with the two status
// bytes, as the chip would; every other transfer goes through untouched.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <libusb.h>

typedef int (*BulkTransfer)(libusb_device_handle*, unsigned char, unsigned char*, int, int*, unsigned int);

enum { kChipAnswerMs = 2 };

int libusb_bulk_transfer(libusb_device_handle* handle, unsigned char endpoint, unsigned char* data, int length,
                         int* transferred, unsigned int timeout)
{
    static BulkTransfer real;
    if (!real)
        real = (BulkTransfer)dlsym(RTLD_NEXT, "libusb_bulk_transfer");
    const int isIn = (endpoint & LIBUSB_ENDPOINT_DIR_MASK) == LIBUSB_ENDPOINT_IN;
    if (!isIn || length < 2 || !transferred || (timeout != 0 && timeout <= kChipAnswerMs))
        return real(handle, endpoint, data, length, transferred, timeout);
    const int r = real(handle, endpoint, data, length, transferred, kChipAnswerMs);
    if (r != LIBUSB_ERROR_TIMEOUT)
        return r;
    // Bytes that came before the poll was cut are what the chip would have sent
    // at its timer's tick.
    if (*transferred == 0) {
        data[0] = 0x01;  // modem status: the chip's fixed bits
        data[1] = 0x60;  // line status: transmitter holding register and shift register empty
        *transferred = 2;
    }
    return LIBUSB_SUCCESS;
}
