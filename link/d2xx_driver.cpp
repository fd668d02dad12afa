#include "link/d2xx_driver.h"

#include "link/interface_port.h"

#include <cstring>

int D2xxDriver::open()
{
    if (d2xx_.FT_Open(port_.deviceIndex_, &port_.ftHandle_) != FT_OK) {
        port_.ftHandle_ = nullptr;
        port_.busyNode_ = d2xx_.busyNode();
        return 0;
    }
    FT_HANDLE h = port_.ftHandle_;
    // Every step runs, in this order; a device that refused one of them is not
    // reported as ready, it is closed again.
    FT_STATUS failed = FT_OK;
    auto step = [&failed](FT_STATUS status) {
        if (failed == FT_OK)
            failed = status;
    };
    step(d2xx_.FT_ResetDevice(h));
    step(d2xx_.FT_SetBaudRate(h, 250000));
    step(d2xx_.FT_SetDataCharacteristics(h, 8, 2, 0));
    step(d2xx_.FT_SetFlowControl(h, 0, 0, 0));
    step(d2xx_.FT_Purge(h, FT_PURGE_RX));
    step(d2xx_.FT_Purge(h, FT_PURGE_TX));
    step(d2xx_.FT_SetTimeouts(h, 50, 50));
    if (failed != FT_OK) {
        close();
        return 0;
    }
    return 1;
}

void D2xxDriver::close()
{
    if (port_.ftHandle_) {
        d2xx_.FT_Close(port_.ftHandle_);
        port_.ftHandle_ = nullptr;
    }
}

int D2xxDriver::write(const uint8_t* bytes, int count)
{
    DWORD n = 0;
    if (port_.ftHandle_ && d2xx_.FT_Write(port_.ftHandle_, bytes, DWORD(count), &n) == FT_OK)
        return int(n > DWORD(count) ? DWORD(count) : n);
    return 0;
}

int D2xxDriver::read(uint8_t* buffer, int count)
{
    if (!port_.ftHandle_)
        return 0;
    DWORD n = 0;
    const FT_STATUS status = d2xx_.FT_Read(port_.ftHandle_, buffer, DWORD(count), &n);
    if (n > DWORD(count))
        n = DWORD(count);
    // What arrived before a failure is kept; a failure with nothing read (the
    // device has gone) is a read error rather than a quiet line.
    if (status != FT_OK && n == 0)
        return -1;
    return int(n);
}

int D2xxDriver::readWaiting(uint8_t* buffer, int count)
{
    if (!port_.ftHandle_)
        return -1;
    DWORD waiting = 0;
    if (d2xx_.FT_GetQueueStatus(port_.ftHandle_, &waiting) != FT_OK)
        return -1;
    if (waiting == 0 || count <= 0)
        return 0;
    return read(buffer, waiting < DWORD(count) ? int(waiting) : count);
}

void D2xxDriver::list(std::vector<InterfaceEntry>& rows) { FtSearch(d2xx_, rows); }

void D2xxDriver::choose(const InterfaceEntry& row) { port_.deviceIndex_ = row.deviceNumber; }

void TalvernDriver::lineBreak()
{
    if (port_.ftHandle_) {
        d2xx_.FT_SetBreakOn(port_.ftHandle_);
        d2xx_.FT_SetBreakOff(port_.ftHandle_);
    }
}

int TalvernDriver::countWaiting()
{
    DWORD waiting = 0;
    if (!port_.ftHandle_ || d2xx_.FT_GetQueueStatus(port_.ftHandle_, &waiting) != FT_OK)
        return 0;
    return int(waiting);
}

void TalvernDriver::purge()
{
    if (port_.ftHandle_) {
        d2xx_.FT_Purge(port_.ftHandle_, FT_PURGE_RX);
        d2xx_.FT_Purge(port_.ftHandle_, FT_PURGE_TX);
    }
}

int UsbProDriver::sendMessage(uint8_t label, const uint8_t* data, int count)
{
    if (count < 0 || count > kMaxDmxFrame)
        return 0;
    const size_t length = widget::build(label, data, size_t(count), message_);
    return write(message_, int(length));
}

int UsbProDriver::sendDmxFrame(const uint8_t* frame, int length)
{
    return sendMessage(widget::kLabelSendDmx, frame, length);
}

// The widget keeps its own buffers, so no purge clears them. A message that came
// after its read gave up (a late reply, or the widget's time-out) would be taken
// for the answer to the next request; whatever waits now belongs to an earlier one.
void UsbProDriver::discardWaiting()
{
    if (!port_.ftHandle_)
        return;
    // Bounded, so a device that never stops talking cannot hold the request back.
    for (int round = 0; round < 16; ++round) {
        DWORD waiting = 0, n = 0;
        if (d2xx_.FT_GetQueueStatus(port_.ftHandle_, &waiting) != FT_OK || waiting == 0)
            return;
        const DWORD take = waiting < sizeof message_ ? waiting : DWORD(sizeof message_);
        if (d2xx_.FT_Read(port_.ftHandle_, message_, take, &n) != FT_OK || n == 0)
            return;
    }
}

void UsbProDriver::awaitOwedAnswer()
{
    if (!answerOwed_ || !port_.ftHandle_)
        return;
    answerOwed_ = false;
    uint8_t ignored[widget::kMaxData];
    reader_.read(port_, ignored, int(sizeof ignored));
}

int UsbProDriver::sendRdmPacket(const uint8_t* packet, int count, ReplyKind expect)
{
    awaitOwedAnswer();
    discardWaiting();
    const uint8_t label = expect == ReplyKind::Discovery ? widget::kLabelSendRdmDiscovery : widget::kLabelSendRdm;
    const int sent = sendMessage(label, packet, count);
    answerOwed_ = sent != 0;
    return sent;
}

int UsbProDriver::readReply(uint8_t* buffer, int count, ReplyKind)
{
    if (count <= 0)
        return 0;
    bool answered = false;
    const int n = reader_.read(port_, buffer, count, &answered);
    if (answered || n < 0)
        answerOwed_ = false;
    return n;
}

// The widget hands over a reply, or its own time-out report, as one message once
// it has all of it; either is its answer to the request and ends the wait. Which
// message the packet holds is for the caller to judge.
int UsbProDriver::readReplyWhole(uint8_t* buffer, int count, ReplyKind, const ReplyWait& wait)
{
    if (count <= 0)
        return 0;
    size_t got = 0;
    uint64_t lastUs = 0;
    // The widget answers every request, by its own clock: on a busy system its
    // message may come late, and is still the answer when it does.
    const uint64_t listen = wait.listenUntilUs > wait.beginByUs ? wait.listenUntilUs : wait.beginByUs;
    const uint64_t beginBy = listen + wait.longestReplyUs + kAnswerSlackUs;
    for (;;) {
        const uint64_t now = wait.clock.nowUs();  // before the read: see LineDriver::readReplyWhole
        const int n = got < sizeof message_ ? readWaiting(message_ + got, int(sizeof message_ - got)) : 0;
        if (n < 0) {
            answerOwed_ = false;
            return -1;
        }
        if (n > 0) {
            got += size_t(n);
            lastUs = now;
            bool done = false;
            const int delivered = WidgetReplyReader::unwrap(message_, got, buffer, count, &done);
            if (done) {
                answerOwed_ = false;
                return delivered;
            }
        }
        uint64_t limit = beginBy;
        if (got > 0 && lastUs + wait.quietUs > limit)
            limit = lastUs + wait.quietUs;
        if (now >= limit || got == sizeof message_)
            return 0;
        waitForInput(wait.clock, limit - now);
    }
}
