#pragma once
// A serial service whose replies a test writes byte by byte. What is queued comes
// as a line brings it: once the request written last has left the line.
#include "link/clock.h"
#include "rdm/line_timing.h"
#include "link/serial_api.h"

#include <deque>
#include <vector>

class ScriptedSerial : public SerialApi {
public:
    explicit ScriptedSerial(Clock& clock) : clock_(clock) {}

    std::vector<std::vector<uint8_t>> written;
    std::deque<uint8_t> input;  // what the next reads take
    std::vector<std::string> calls;
    bool failReads = false;
    long writeResult = -2;  // -2: all bytes

    int open(const char*) override { return 7; }
    bool applySettings(int, const SerialLineSettings&) override { return true; }
    bool applyTimeouts(int, const SerialTimeouts& t) override
    {
        timeouts_ = t;
        return true;
    }
    long write(int, const uint8_t* bytes, size_t count) override
    {
        calls.push_back("write");
        written.emplace_back(bytes, bytes + count);
        readyAtUs_ = clock_.nowUs() + line_timing::PacketUs(int(count));
        return writeResult == -2 ? long(count) : writeResult;
    }
    long read(int, uint8_t* buffer, size_t count) override
    {
        calls.push_back("read " + std::to_string(count));
        if (failReads)
            return -1;
        const size_t n = take(buffer, count);
        clock_.sleepMs(n == count ? 0 : timeouts_.readTotalMultiplier * uint32_t(count) + timeouts_.readTotalConstant);
        return long(n);
    }
    long readWaiting(int, uint8_t* buffer, size_t count) override
    {
        calls.push_back("read-waiting " + std::to_string(count));
        return failReads ? -1 : long(take(buffer, count));
    }
    int waitReadable(int, uint64_t timeoutUs) override
    {
        const uint64_t now = clock_.nowUs();
        if (!input.empty() && now >= readyAtUs_)
            return 1;
        if (!input.empty() && readyAtUs_ - now <= timeoutUs) {
            clock_.sleepUs(readyAtUs_ - now);
            return 1;
        }
        clock_.sleepUs(timeoutUs);
        return 0;
    }
    bool setBreak(int) override
    {
        calls.push_back("break");
        return true;
    }
    bool clearBreak(int) override
    {
        calls.push_back("clear-break");
        return true;
    }
    bool purge(int) override
    {
        calls.push_back("purge");
        return true;
    }
    void close(int) override {}

    void queue(const std::vector<uint8_t>& bytes) { input.insert(input.end(), bytes.begin(), bytes.end()); }

    // Forgets what was written, called and left unread, as between fuzz inputs.
    void reset()
    {
        written.clear();
        calls.clear();
        input.clear();
        failReads = false;
    }

private:
    // Moves up to `count` queued bytes into `buffer`.
    size_t take(uint8_t* buffer, size_t count)
    {
        if (clock_.nowUs() < readyAtUs_)
            return 0;
        size_t n = 0;
        while (n < count && !input.empty()) {
            buffer[n++] = input.front();
            input.pop_front();
        }
        return n;
    }

    Clock& clock_;
    SerialTimeouts timeouts_{};
    uint64_t readyAtUs_ = 0;
};
