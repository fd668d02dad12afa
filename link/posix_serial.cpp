#include "link/posix_serial.h"

// termios2 lives in the kernel headers and clashes with <termios.h>, so this file
// uses the kernel's definitions only.
#include "link/clock.h"
#include "link/lines_folder.h"

#include <asm/termbits.h>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

int64_t nowMs() { return int64_t(MonotonicUs() / 1000); }

int waitFor(int fd, short events, int64_t timeoutMs)
{
    if (timeoutMs < 0)
        timeoutMs = 0;
    pollfd p{fd, events, 0};
    for (;;) {
        int r = ::poll(&p, 1, static_cast<int>(timeoutMs));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return r;
        return (p.revents & (events | POLLERR | POLLHUP | POLLNVAL)) ? 1 : 0;
    }
}

// Unix 98 pseudo-terminal slaves have majors 136 to 143.
bool IsPseudoTerminal(int fd)
{
    struct stat st {};
    return ::fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && major(st.st_rdev) >= 136 && major(st.st_rdev) <= 143;
}

} // namespace

int PosixSerial::open(const char* path)
{
    refusal_.clear();
    std::string lineName;
    int fd = -1;
    if (IsPublishedLinePath(path, lineName)) {
        LinesFolder folder;
        if (!folder.open(false, refusal_)) {
            errno = refusal_.empty() ? ENOENT : EPERM;
            return kInvalidHandle;
        }
        fd = folder.openLine(lineName, refusal_);
    } else {
        fd = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        struct stat st {};
        if (fd >= 0 && (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode) || !::isatty(fd))) {
            refusal_ = std::string(path) + " is not a terminal device; refused";
            ::close(fd);
            errno = ENOTTY;
            return kInvalidHandle;
        }
    }
    if (fd < 0)
        return kInvalidHandle;
    // No sharing: a second program (or a second open here) is refused.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int why = errno;
        ::close(fd);
        errno = why;
        return kInvalidHandle;
    }
    // The terminal's exclusive mode keeps other programs out of a real serial
    // device. It outlives this open on a pseudo-terminal, whose other side the rig
    // keeps open, and only root may pass it: there the lock above is enough.
    if (!IsPseudoTerminal(fd))
        ::ioctl(fd, TIOCEXCL);
    timeouts_[fd] = SerialTimeouts{};
    return fd;
}

bool PosixSerial::applySettings(int handle, const SerialLineSettings& s)
{
    termios2 tio{};
    if (::ioctl(handle, TCGETS2, &tio) != 0)
        return false;
    // Binary input. A responder's break must come through as one 0x00 byte:
    // IGNBRK would drop it, BRKINT turn it into a signal, PARMRK into three bytes.
    tio.c_iflag = 0;
    tio.c_oflag = 0;
    tio.c_lflag = 0;
    tio.c_cflag &= ~(CBAUD | CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    tio.c_cflag |= BOTHER | CREAD | CLOCAL;
    tio.c_cflag |= (s.dataBits == 7) ? CS7 : CS8;
    if (s.stopBits == 2)
        tio.c_cflag |= CSTOPB;
    if (s.parity)
        tio.c_cflag |= PARENB;
    if (s.hardwareFlow)
        tio.c_cflag |= CRTSCTS;
    if (s.softwareFlow)
        tio.c_iflag |= IXON | IXOFF;
    tio.c_cflag &= ~(CIBAUD);
    tio.c_ispeed = s.baudRate;
    tio.c_ospeed = s.baudRate;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (::ioctl(handle, TCSETS2, &tio) != 0)
        return false;
    // Modem lines; a pseudo-terminal has none, which is not an error.
    int lines = TIOCM_DTR;
    ::ioctl(handle, s.dtrOn ? TIOCMBIS : TIOCMBIC, &lines);
    lines = TIOCM_RTS;
    ::ioctl(handle, s.rtsOn ? TIOCMBIS : TIOCMBIC, &lines);
    return true;
}

bool PosixSerial::applyTimeouts(int handle, const SerialTimeouts& timeouts)
{
    auto it = timeouts_.find(handle);
    if (it == timeouts_.end())
        return false;
    it->second = timeouts;
    return true;
}

long PosixSerial::write(int handle, const uint8_t* bytes, size_t count)
{
    auto it = timeouts_.find(handle);
    if (it == timeouts_.end())
        return -1;
    const SerialTimeouts& t = it->second;
    const bool bounded = t.writeTotalMultiplier || t.writeTotalConstant;
    const int64_t deadline = nowMs() + int64_t(t.writeTotalMultiplier) * int64_t(count) + t.writeTotalConstant;
    size_t done = 0;
    while (done < count) {
        ssize_t n = ::write(handle, bytes + done, count - done);
        if (n > 0) {
            done += size_t(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return done ? long(done) : -1;
        int64_t left = bounded ? deadline - nowMs() : 1000;
        if (bounded && left <= 0)
            break;
        if (waitFor(handle, POLLOUT, left) < 0)
            return -1;
    }
    return long(done);
}

long PosixSerial::read(int handle, uint8_t* buffer, size_t count)
{
    auto it = timeouts_.find(handle);
    if (it == timeouts_.end())
        return -1;
    const SerialTimeouts& t = it->second;
    const int64_t deadline = nowMs() + int64_t(t.readTotalMultiplier) * int64_t(count) + t.readTotalConstant;
    size_t done = 0;
    while (done < count) {
        ssize_t n = ::read(handle, buffer + done, count - done);
        if (n > 0) {
            done += size_t(n);
            continue;
        }
        if (n == 0 || (n < 0 && errno == EIO)) {
            // Other end of a pseudo-terminal not open right now: the line is simply quiet.
            n = -1;
            errno = EAGAIN;
        }
        if (errno != EAGAIN && errno != EINTR)
            return done ? long(done) : -1;
        int64_t left = deadline - nowMs();
        if (done > 0 && t.readInterval && left > int64_t(t.readInterval))
            left = t.readInterval;
        if (left <= 0)
            break;
        int r = waitFor(handle, POLLIN, left);
        if (r < 0)
            return done ? long(done) : -1;
        if (r == 0 && (done > 0 || deadline - nowMs() <= 0))
            break;
        if (r == 1) {
            // A hung-up pseudo-terminal reports POLLHUP without data; do not spin on it.
            pollfd p{handle, POLLIN, 0};
            ::poll(&p, 1, 0);
            if (!(p.revents & POLLIN)) {
                int64_t rest = deadline - nowMs();
                if (rest > 0) {
                    timespec ts{time_t(rest / 1000), long(rest % 1000) * 1000000};
                    if (done == 0)
                        nanosleep(&ts, nullptr);
                }
                break;
            }
        }
    }
    return long(done);
}

bool PosixSerial::requestLowLatency(int handle)
{
    // ftdi_sio and other USB-serial drivers map this to a 1 ms latency timer.
    serial_struct info{};
    if (::ioctl(handle, TIOCGSERIAL, &info) != 0)
        return false;
    if (info.flags & ASYNC_LOW_LATENCY)
        return true;
    info.flags |= ASYNC_LOW_LATENCY;
    return ::ioctl(handle, TIOCSSERIAL, &info) == 0;
}

long PosixSerial::countWaiting(int handle)
{
    int n = 0;
    if (timeouts_.find(handle) == timeouts_.end() || ::ioctl(handle, FIONREAD, &n) != 0)
        return -1;
    return n;
}

long PosixSerial::readWaiting(int handle, uint8_t* buffer, size_t count)
{
    if (timeouts_.find(handle) == timeouts_.end())
        return -1;
    size_t done = 0;
    while (done < count) {
        ssize_t n = ::read(handle, buffer + done, count - done);
        if (n > 0) {
            done += size_t(n);
            continue;
        }
        // Nothing more now; a pseudo-terminal whose other end is closed is quiet too.
        if (n == 0 || errno == EAGAIN || errno == EIO)
            break;
        if (errno != EINTR)
            return done ? long(done) : -1;
    }
    return long(done);
}

int PosixSerial::waitReadable(int handle, uint64_t timeoutUs)
{
    pollfd p{handle, POLLIN, 0};
    timespec ts{time_t(timeoutUs / 1000000u), long(timeoutUs % 1000000u) * 1000};
    int r = ::ppoll(&p, 1, &ts, nullptr);
    if (r < 0)
        return errno == EINTR ? 0 : -1;
    if (r == 0)
        return 0;
    if (p.revents & POLLIN)
        return 1;
    // Hung up without data (a pty with nobody on the other side): wait the time out
    // rather than spin on it.
    nanosleep(&ts, nullptr);
    return 0;
}

uint32_t PosixSerial::deliveryLatencyUs(int handle)
{
    // ftdi_sio shows its latency timer (in ms) beside the port's device.
    struct stat st{};
    if (::fstat(handle, &st) == 0 && S_ISCHR(st.st_mode)) {
        char path[96];
        std::snprintf(path, sizeof path, "/sys/dev/char/%u:%u/device/latency_timer", major(st.st_rdev),
                      minor(st.st_rdev));
        if (FILE* f = std::fopen(path, "r")) {
            unsigned ms = 0;
            const bool read = std::fscanf(f, "%u", &ms) == 1;
            std::fclose(f);
            if (read)
                return (ms ? ms : 1) * 1000u;
        }
    }
    serial_struct info{};
    if (::ioctl(handle, TIOCGSERIAL, &info) == 0)
        return (info.flags & ASYNC_LOW_LATENCY) ? 1000u : 16000u;
    // Not a UART driver at all (a pseudo-terminal): bytes are handed on as they
    // are written, and the margin covers the writer's scheduling.
    return 500u;
}

bool PosixSerial::setBreak(int handle) { return ::ioctl(handle, TIOCSBRK) == 0; }

bool PosixSerial::clearBreak(int handle) { return ::ioctl(handle, TIOCCBRK) == 0; }

// Only what came in is thrown away. Output still on its way is the request before,
// which a busy system may not have carried out yet: on a pseudo-terminal, flushing
// it takes it back from the other side before that side has read it, and on a
// UART it would cut the request short on the line.
bool PosixSerial::purge(int handle) { return ::ioctl(handle, TCFLSH, TCIFLUSH) == 0; }

void PosixSerial::close(int handle)
{
    if (!timeouts_.erase(handle))
        return;
    // Released before the close: another program may still hold the device open,
    // and the mode would then stay for the next one to meet.
    ::ioctl(handle, TIOCNXCL);
    ::close(handle);
}
