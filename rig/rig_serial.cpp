#include "rig/rig_serial.h"

namespace rig {

void RigSerial::attach(const std::string& path, VirtualLine& line) { lines_[path] = &line; }

RigSerial::Device* RigSerial::device(int handle)
{
    auto it = open_.find(handle);
    return it == open_.end() ? nullptr : &it->second;
}

int RigSerial::open(const char* path)
{
    auto it = lines_.find(path);
    if (it == lines_.end() || unplugged_[path])
        return kInvalidHandle;
    for (auto& [h, d] : open_)
        if (d.path == path && !d.gone)
            return kInvalidHandle;  // exclusive, like a real COM device
    int handle = nextHandle_++;
    Device& d = open_[handle];
    d.line = it->second;
    d.path = path;
    return handle;
}

bool RigSerial::applySettings(int handle, const SerialLineSettings& settings)
{
    if (!device(handle) || rejectSettings)
        return false;
    lastSettings = settings;
    return true;
}

bool RigSerial::applyTimeouts(int handle, const SerialTimeouts& timeouts)
{
    Device* d = device(handle);
    if (!d || rejectTimeouts)
        return false;
    d->timeouts = timeouts;
    lastTimeouts = timeouts;
    return true;
}

long RigSerial::write(int handle, const uint8_t* bytes, size_t count)
{
    Device* d = device(handle);
    if (!d || failWrites || d->gone)
        return -1;
    const uint64_t handed = d->line->clock().nowUs();
    bool framed = d->breakSeen;
    d->breakSeen = false;
    // A packet without a break in front is not one a responder listens to.
    if (framed)
        for (const Transmission& t : d->line->transmit(bytes, count, handed, reportsBreaks))
            d->rx.add(t);
    return long(count);
}

long RigSerial::read(int handle, uint8_t* buffer, size_t count)
{
    Device* d = device(handle);
    if (!d)
        return -1;
    Clock& clock = d->line->clock();
    const uint64_t now = clock.nowUs();
    const SerialTimeouts& t = d->timeouts;
    const uint64_t deadline = now + (uint64_t(t.readTotalMultiplier) * count + t.readTotalConstant) * 1000;
    uint64_t end = now;
    if (d->gone) {
        clock.sleepUs(deadline - now);
        return 0;
    }
    size_t got = d->rx.read(buffer, count, now, deadline, uint64_t(t.readInterval) * 1000, end);
    if (end > now)
        clock.sleepUs(end - now);
    return long(got);
}

long RigSerial::readWaiting(int handle, uint8_t* buffer, size_t count)
{
    Device* d = device(handle);
    if (!d)
        return -1;
    if (d->gone)
        return 0;
    const uint64_t now = d->line->clock().nowUs();
    uint64_t end = now;
    return long(d->rx.read(buffer, count, now, now, 0, end));
}

long RigSerial::countWaiting(int handle)
{
    Device* d = device(handle);
    if (!d)
        return -1;
    return d->gone ? 0 : long(d->rx.available(d->line->clock().nowUs()));
}

int RigSerial::waitReadable(int handle, uint64_t timeoutUs)
{
    Device* d = device(handle);
    if (!d)
        return -1;
    Clock& clock = d->line->clock();
    const uint64_t now = clock.nowUs();
    if (!d->gone && d->rx.available(now) > 0)
        return 1;
    uint64_t until = now + timeoutUs;
    uint64_t next = 0;
    if (!d->gone && d->rx.nextArrival(next) && next < until)
        until = next;
    clock.sleepUs(until - now);
    return until < now + timeoutUs ? 1 : 0;
}

bool RigSerial::setBreak(int handle)
{
    Device* d = device(handle);
    if (!d)
        return false;
    ++breaks;
    d->breakSeen = true;
    return true;
}

bool RigSerial::clearBreak(int handle) { return device(handle) != nullptr; }

bool RigSerial::purge(int handle)
{
    Device* d = device(handle);
    if (!d)
        return false;
    ++purges;
    d->rx.purge(d->line->clock().nowUs());
    return true;
}

void RigSerial::close(int handle) { open_.erase(handle); }

void RigSerial::unplug(const std::string& path)
{
    unplugged_[path] = true;
    for (auto& [h, d] : open_)
        if (d.path == path)
            d.gone = true;
}

void RigSerial::replug(const std::string& path) { unplugged_[path] = false; }

} // namespace rig
