#include "link/line_driver.h"

#include <algorithm>
#include <cstring>

int LineDriver::sendDmxFrame(const uint8_t* frame, int length)
{
    lineBreak();
    return write(frame, length);
}

int LineDriver::sendRdmPacket(const uint8_t* packet, int count, ReplyKind)
{
    purge();
    lineBreak();
    return write(packet, count);
}

int LineDriver::readReply(uint8_t* buffer, int count, ReplyKind kind)
{
    if (count <= 0)
        return 0;
    if (kind != ReplyKind::Ordinary)
        return read(buffer, count);
    // The responder's break reaches the UART as one 0x00 ahead of the reply; it is
    // read on its own, then the reply. The byte is kept (an adapter that does not
    // report breaks hands over the reply's first byte there), so `buffer` takes
    // `count` + 1 bytes.
    // Whether that byte came decides nothing: the reply's read follows either way.
    const int lead = read(buffer, 1) == 1 ? 1 : 0;
    const int rest = read(buffer + lead, count);
    return rest < 0 ? -1 : rest + lead;
}

void LineDriver::waitForInput(Clock& clock, uint64_t us)
{
    // Kinds that cannot block on their input look again this often.
    constexpr uint64_t kPollUs = 200;
    clock.sleepUs(us < kPollUs ? us : kPollUs);
}

int LineDriver::readReplyWhole(uint8_t* buffer, int count, ReplyKind kind, const ReplyWait& wait)
{
    int got = 0;
    uint64_t lastUs = 0;  // when the last byte still held came
    const uint64_t silentUntil = wait.listenUntilUs > wait.beginByUs ? wait.listenUntilUs : wait.beginByUs;
    // The break's 0x00 ahead of an ordinary reply is not part of it.
    auto dropBreak = [&] {
        if (kind == ReplyKind::Ordinary && got > 0 && buffer[0] == 0x00) {
            std::memmove(buffer, buffer + 1, size_t(got - 1));
            --got;
        }
    };
    for (;;) {
        // The time is taken before the read, so that a byte that came by then is
        // always seen, however late this thread runs.
        const uint64_t now = wait.clock.nowUs();
        if (got < count) {
            const int n = readWaiting(buffer + got, count - got);
            if (n < 0)
                return -1;
            if (n > 0 && now < wait.freshFromUs) {
                if (wait.staleCount) {
                    const int kept = std::min(n, wait.staleCapacity - *wait.staleCount);
                    if (kept > 0)
                        std::memcpy(wait.stale + *wait.staleCount, buffer + got, size_t(kept));
                    *wait.staleCount += kept > 0 ? kept : 0;
                }
                continue;
            }
            if (n > 0) {
                const bool first = got == 0;
                got += n;
                if (first)
                    dropBreak();
                lastUs = now;
            }
        }
        if (got > 0) {
            const int judged = wait.judge(buffer, got, wait.context);
            if (judged > 0)
                return got;
            if (judged < 0 && -judged <= got) {
                // Bytes that are no part of the answer (noise, a late reply to an
                // earlier request): once they are all gone, nothing has begun.
                std::memmove(buffer, buffer + -judged, size_t(got + judged));
                got += judged;
                dropBreak();
                continue;
            }
        }
        if (got >= count)
            return got;
        // Until something that may be the answer has begun, the read waits for one;
        // once begun, until the line has been quiet too long.
        uint64_t limit = wait.beginByUs;
        if (got > 0 && lastUs + wait.quietUs > limit)
            limit = lastUs + wait.quietUs;
        if (got == 0)
            limit = silentUntil;
        if (now >= limit)
            return got;
        waitForInput(wait.clock, limit - now);
    }
}
