#include "fake_ftdi/fake_libftdi.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ftdi.h>
#include <libusb.h>
#include <memory>

// The opaque libusb types, completed here: what the fake needs to know of them.
struct libusb_context {
    bool alive = true;
};

struct libusb_device {
    fakeftdi::Chip* chip = nullptr;
    libusb_context* owner = nullptr;  // the context whose list produced it
    int references = 0;
};

struct libusb_device_handle {
    libusb_device* device = nullptr;
};

namespace fakeftdi {
namespace {

struct ContextRecord {
    std::unique_ptr<ftdi_context> ftdi;
    std::unique_ptr<libusb_context> usb;
    bool alive = true;
};

// Freed contexts and released devices stay here until the next reset, so that a
// use after free is reported instead of reading freed memory.
std::vector<ContextRecord> contexts;
std::vector<std::unique_ptr<libusb_device>> devices;
std::vector<std::unique_ptr<libusb_device_handle>> handles;

ContextRecord* record(ftdi_context* ftdi)
{
    for (ContextRecord& r : contexts)
        if (r.ftdi.get() == ftdi)
            return &r;
    return nullptr;
}

// The context is one this fake made and has not freed.
bool usable(ftdi_context* ftdi, const char* call)
{
    ContextRecord* r = ftdi ? record(ftdi) : nullptr;
    if (!r) {
        Bus::get().violation(std::string(call) + ": not a context from ftdi_new");
        return false;
    }
    if (!r->alive) {
        Bus::get().violation(std::string(call) + ": context used after ftdi_free");
        return false;
    }
    return true;
}

// The chip behind the context's open device, or null when none is open.
Chip* openChip(ftdi_context* ftdi, const char* call)
{
    if (!usable(ftdi, call) || !ftdi->usb_dev)
        return nullptr;
    libusb_device* d = ftdi->usb_dev->device;
    if (!d->owner->alive)
        Bus::get().violation(std::string(call) + ": device used after its libusb context was exited");
    return d->chip;
}

// Whether the chip's injected failure is this call; it fails once.
bool failing(Chip& chip, const char* call)
{
    if (chip.failCall != call)
        return false;
    chip.failCall.clear();
    return true;
}

// A control request: -3 with no device open, `error` when the chip is gone or
// the request is made to fail, 0 otherwise.
int control(ftdi_context* ftdi, const char* call, int error, Chip*& chip)
{
    chip = openChip(ftdi, call);
    if (!chip)
        return -3;
    if (!chip->plugged || failing(*chip, call))
        return error;
    return 0;
}

} // namespace

Bus& Bus::get()
{
    static Bus bus;
    return bus;
}

void Bus::reset(Clock& clock)
{
    chips_.clear();
    contexts.clear();
    devices.clear();
    handles.clear();
    violations.clear();
    onViolation = nullptr;
    clock_ = &clock;
}

Chip& Bus::add(rig::VirtualLine& line, rig::FtdiMode mode, const std::string& serial)
{
    Chip& c = chips_.emplace_back(line, mode);
    c.serial = serial;
    if (mode == rig::FtdiMode::Widget)
        c.description = "DMX USB PRO";
    return c;
}

void Bus::unplug(Chip& chip) { chip.plugged = false; }

void Bus::replug(Chip& chip)
{
    chip.plugged = true;
    chip.model.reset();
}

int Bus::liveContexts() const
{
    int n = 0;
    for (const ContextRecord& r : contexts)
        n += r.alive;
    return n;
}

void Bus::violation(const std::string& what)
{
    violations.push_back(what);
    if (onViolation)
        onViolation(what);
}

} // namespace fakeftdi

using fakeftdi::Bus;
using fakeftdi::Chip;

extern "C" {

ftdi_context* ftdi_new(void)
{
    fakeftdi::ContextRecord r;
    r.ftdi = std::make_unique<ftdi_context>();
    r.usb = std::make_unique<libusb_context>();
    ftdi_context* ftdi = r.ftdi.get();
    ftdi->usb_ctx = r.usb.get();
    ftdi->usb_read_timeout = 5000;
    ftdi->usb_write_timeout = 5000;
    ftdi->module_detach_mode = AUTO_DETACH_SIO_MODULE;  // libftdi's default
    ftdi->interface = 0;
    fakeftdi::contexts.push_back(std::move(r));
    return ftdi;
}

void ftdi_free(ftdi_context* ftdi)
{
    if (!fakeftdi::usable(ftdi, "ftdi_free"))
        return;
    // libusb_exit on this context ends every device it produced.
    for (Chip& chip : Bus::get().chips_)
        if (chip.openBy && chip.openBy->usb_dev->device->owner == ftdi->usb_ctx)
            Bus::get().violation("ftdi_free: a device found through this context is still open");
    if (ftdi->usb_dev)
        ftdi_usb_close(ftdi);
    fakeftdi::ContextRecord* r = fakeftdi::record(ftdi);
    r->alive = false;
    r->usb->alive = false;
}

int ftdi_usb_find_all(ftdi_context* ftdi, ftdi_device_list** list, int, int)
{
    *list = nullptr;
    if (!fakeftdi::usable(ftdi, "ftdi_usb_find_all"))
        return -1;
    ftdi_device_list** tail = list;
    int count = 0;
    for (Chip& chip : Bus::get().chips_) {
        if (!chip.plugged)
            continue;
        auto d = std::make_unique<libusb_device>();
        d->chip = &chip;
        d->owner = ftdi->usb_ctx;
        d->references = 1;
        auto* node = static_cast<ftdi_device_list*>(std::calloc(1, sizeof(ftdi_device_list)));
        node->dev = d.get();
        fakeftdi::devices.push_back(std::move(d));
        *tail = node;
        tail = &node->next;
        ++count;
    }
    return count;
}

void ftdi_list_free(ftdi_device_list** list)
{
    for (ftdi_device_list* node = *list; node;) {
        ftdi_device_list* next = node->next;
        --node->dev->references;
        std::free(node);
        node = next;
    }
    *list = nullptr;
}

int ftdi_usb_open_dev(ftdi_context* ftdi, libusb_device* dev)
{
    if (!fakeftdi::usable(ftdi, "ftdi_usb_open_dev"))
        return -1;
    Bus& bus = Bus::get();
    if (!dev || dev->references <= 0) {
        bus.violation("ftdi_usb_open_dev: device from a list that was already freed");
        return -1;
    }
    if (dev->owner != ftdi->usb_ctx)
        bus.violation("ftdi_usb_open_dev: device opened through a context other than the one whose list found it");
    if (!dev->owner->alive)
        bus.violation("ftdi_usb_open_dev: device of an exited libusb context");
    Chip& chip = *dev->chip;
    if (ftdi->module_detach_mode == AUTO_DETACH_SIO_MODULE) {
        bus.violation("ftdi_usb_open_dev: detach mode is auto-detach: ftdi_sio would be taken from the device");
        if (chip.boundToSio && chip.plugged) {
            chip.boundToSio = false;
            chip.takenFromSio = true;
        }
    }
    if (!chip.plugged)
        return -4;  // usb_open() failed
    if (chip.boundToSio || chip.openBy)
        return -5;  // unable to claim usb device
    auto h = std::make_unique<libusb_device_handle>();
    h->device = dev;
    ++dev->references;
    ftdi->usb_dev = h.get();
    fakeftdi::handles.push_back(std::move(h));
    ftdi->type = TYPE_R;
    ftdi->max_packet_size = 64;
    chip.openBy = ftdi;
    chip.model.reset();
    return 0;
}

int ftdi_usb_close(ftdi_context* ftdi)
{
    if (!fakeftdi::usable(ftdi, "ftdi_usb_close"))
        return -1;
    if (!ftdi->usb_dev)
        return 0;
    libusb_device* d = ftdi->usb_dev->device;
    if (d->chip->openBy == ftdi)
        d->chip->openBy = nullptr;
    --d->references;
    ftdi->usb_dev = nullptr;
    return 0;
}

libusb_device* libusb_get_device(libusb_device_handle* handle) { return handle ? handle->device : nullptr; }
uint8_t libusb_get_bus_number(libusb_device*) { return 1; }
uint8_t libusb_get_device_address(libusb_device*) { return 2; }

int ftdi_usb_get_strings2(ftdi_context* ftdi, libusb_device* dev, char* manufacturer, int mnfLength,
                          char* description, int descLength, char* serial, int serialLength)
{
    if (!fakeftdi::usable(ftdi, "ftdi_usb_get_strings2") || !dev)
        return -1;
    if (!ftdi->usb_dev || ftdi->usb_dev->device != dev)
        return -9;  // the device must be the one open in this context
    Chip& chip = *dev->chip;
    if (!chip.plugged)
        return -7;
    auto put = [](char* out, int length, const std::string& text) {
        if (out && length > 0) {
            std::strncpy(out, text.c_str(), size_t(length - 1));
            out[length - 1] = '\0';
        }
    };
    put(manufacturer, mnfLength, "FTDI");
    put(description, descLength, chip.description);
    put(serial, serialLength, chip.serial);
    return 0;
}

int ftdi_set_latency_timer(ftdi_context* ftdi, unsigned char latency)
{
    Chip* chip = nullptr;
    if (latency < 1)
        return -1;
    const int r = fakeftdi::control(ftdi, "ftdi_set_latency_timer", -2, chip);
    if (r == 0)
        chip->latencyMs = latency;
    return r;
}

int ftdi_get_latency_timer(ftdi_context* ftdi, unsigned char* latency)
{
    Chip* chip = nullptr;
    const int r = fakeftdi::control(ftdi, "ftdi_get_latency_timer", -1, chip);
    if (r == 0)
        *latency = static_cast<unsigned char>(chip->latencyMs);
    return r;
}

int ftdi_usb_reset(ftdi_context* ftdi)
{
    Chip* chip = nullptr;
    const int r = fakeftdi::control(ftdi, "ftdi_usb_reset", -1, chip);
    if (r == 0) {
        ++chip->resets;
        chip->model.purgeReceive();
    }
    return r;
}

int ftdi_set_baudrate(ftdi_context* ftdi, int baudrate)
{
    Chip* chip = nullptr;
    if (baudrate <= 0)
        return -1;
    const int r = fakeftdi::control(ftdi, "ftdi_set_baudrate", -2, chip);
    if (r == 0)
        chip->baudrate = baudrate;
    return r;
}

int ftdi_set_line_property2(ftdi_context* ftdi, ftdi_bits_type bits, ftdi_stopbits_type stop, ftdi_parity_type parity,
                            ftdi_break_type breakType)
{
    Chip* chip = nullptr;
    const int r = fakeftdi::control(ftdi, "ftdi_set_line_property2", -1, chip);
    if (r != 0)
        return r;
    chip->bits = bits;
    chip->stopBits = stop;
    chip->parity = parity;
    if (breakType == BREAK_ON && !chip->breakOn) {
        ++chip->breaks;
        chip->model.lineBreak();
    }
    chip->breakOn = breakType == BREAK_ON;
    return 0;
}

int ftdi_set_line_property(ftdi_context* ftdi, ftdi_bits_type bits, ftdi_stopbits_type stop, ftdi_parity_type parity)
{
    Chip* chip = fakeftdi::openChip(ftdi, "ftdi_set_line_property");
    if (chip && fakeftdi::failing(*chip, "ftdi_set_line_property"))
        return -1;
    return ftdi_set_line_property2(ftdi, bits, stop, parity, BREAK_OFF);
}

int ftdi_setflowctrl(ftdi_context* ftdi, int flowControl)
{
    Chip* chip = nullptr;
    const int r = fakeftdi::control(ftdi, "ftdi_setflowctrl", -1, chip);
    if (r == 0)
        chip->flowControl = flowControl;
    return r;
}

int ftdi_tciflush(ftdi_context* ftdi)
{
    Chip* chip = nullptr;
    const int r = fakeftdi::control(ftdi, "ftdi_tciflush", -1, chip);
    if (r == 0) {
        ++chip->receivePurges;
        chip->model.purgeReceive();
    }
    return r;
}

int ftdi_tcoflush(ftdi_context* ftdi)
{
    Chip* chip = nullptr;
    const int r = fakeftdi::control(ftdi, "ftdi_tcoflush", -1, chip);
    if (r == 0)
        ++chip->transmitPurges;
    return r;
}

int ftdi_poll_modem_status(ftdi_context* ftdi, unsigned short* status)
{
    Chip* chip = nullptr;
    const int r = fakeftdi::control(ftdi, "ftdi_poll_modem_status", -1, chip);
    if (r == 0) {
        // Modem status in the low byte (bits 0-3 always 1 on these chips), line
        // status in the high byte: transmitter empty, and break while it is on.
        const unsigned lineStatus = 0x60 | (chip->breakOn ? 0x10 : 0);
        *status = static_cast<unsigned short>((lineStatus << 8) | 0x01);
    }
    return r;
}

int ftdi_write_data(ftdi_context* ftdi, const unsigned char* buf, int size)
{
    Chip* chip = fakeftdi::openChip(ftdi, "ftdi_write_data");
    if (!chip)
        return -666;  // USB device unavailable
    if (!chip->plugged || chip->failNextWrite) {
        chip->failNextWrite = false;
        return -1;  // usb bulk write failed
    }
    chip->model.write(buf, size_t(size));
    return size;
}

int ftdi_read_data(ftdi_context* ftdi, unsigned char* buf, int size)
{
    Chip* chip = fakeftdi::openChip(ftdi, "ftdi_read_data");
    if (!chip)
        return -666;
    if (!chip->plugged)
        return LIBUSB_ERROR_NO_DEVICE;
    size_t want = std::min(size_t(size), chip->readChunk);
    if (chip->failReadAfter == 0) {
        chip->failReadAfter = -1;
        return LIBUSB_ERROR_IO;
    }
    if (chip->failReadAfter > 0)
        want = std::min(want, size_t(chip->failReadAfter));
    Clock& clock = Bus::get().clock();
    const uint64_t now = clock.nowUs();
    uint64_t end = now;
    const size_t got = chip->model.rx().read(buf, want, now, now, 0, end);
    if (chip->failReadAfter > 0)
        chip->failReadAfter -= long(got);
    if (got == 0)
        clock.sleepUs(uint64_t(chip->latencyMs) * 1000);  // the chip's empty packet comes after its latency timer
    return int(got);
}

} // extern "C"
