#include "rdm/transaction.h"

#include "rdm/discovery_reply.h"
#include "rdm/line_timing.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

int RdmEngine::encodeInFlight(const rdm::RdmRequest& request)
{
    inFlight_ = request;
    inFlight_.source = kOwnUid;
    inFlight_.transaction = ++transaction_;
    inFlight_.portId = 1;
    inFlight_.messageCount = 0;
    return int(rdm::Encode(inFlight_, request_));
}

ReplyWait RdmEngine::replyWait(uint64_t handedUs, int requestBytes, int replyBytes, ReplyKind kind,
                               int (*judge)(const uint8_t*, int, void*))
{
    using namespace line_timing;
    const uint64_t latency = port_.TransportLatencyUs();
    // A send that returned only once its bytes were out ends the request later.
    uint64_t requestEnd = handedUs + PacketUs(requestBytes);
    const uint64_t now = clock_.nowUs();
    if (now > requestEnd)
        requestEnd = now;
    // A collision must end quickly, for discovery is made of them; an ordinary reply
    // that has begun gets the slack.
    const uint64_t quiet = kind == ReplyKind::Ordinary ? kInterSlotMaxUs + kBegunReplySlackUs : 2 * kByteUs;
    // A system that hands replies on late may also hand them in pieces: the wait
    // for the rest grows too, by a part of the margin, so that collisions, which
    // discovery is made of, still end soon.
    return ReplyWait{clock_, requestEnd + kResponseLostUs + latency + lateMarginUs_,
                     quiet + latency + lateMarginUs_ / 4, judge, this, PacketUs(replyBytes)};
}

void RdmEngine::growLateMargin(uint32_t us)
{
    lateSign_ = true;
    onTime_ = 0;
    us = std::min(us, kMaxLateMarginUs);
    if (us > lateMarginUs_) {
        lateMarginUs_ = us;
        ++lateMarginGrowths_;
    }
}

void RdmEngine::noteLate() { growLateMargin(lateMarginUs_ == 0 ? kFirstLateMarginUs : 2 * lateMarginUs_); }

void RdmEngine::settleLateMargin()
{
    // Replies that keep coming in time let a grown wait shrink again, so that a
    // moment's delay does not slow the rest of the run.
    if (lateMarginUs_ == 0 || ++onTime_ < kOnTimeToShrink)
        return;
    onTime_ = 0;
    lateMarginUs_ = lateMarginUs_ / 2 < kFirstLateMarginUs ? 0 : lateMarginUs_ / 2;
}

bool RdmEngine::listenForLateReply()
{
    if (!fastExchange())
        return false;
    constexpr uint64_t kStepUs = 1000;
    for (uint64_t waited = 0; waited < kMaxLateMarginUs; waited += kStepUs) {
        if (port_.CountWaiting() > 0) {
            growLateMargin(uint32_t(std::min<uint64_t>(lateMarginUs_ + waited + kFirstLateMarginUs, kMaxLateMarginUs)));
            return true;
        }
        clock_.sleepUs(kStepUs);
    }
    return false;
}

bool RdmEngine::takeLateSign()
{
    const bool sign = lateSign_;
    lateSign_ = false;
    return sign;
}

bool RdmEngine::takeStrayReply(Uid& uid)
{
    if (!strayReply_)
        return false;
    strayReply_ = false;
    uid = strayUid_;
    return true;
}

void RdmEngine::noteBytesLeftOver()
{
    if (!fastExchange())
        return;
    settleLateMargin();
    if (port_.CountWaiting() > 0)
        noteLate();
}

void RdmEngine::pauseMs(uint32_t ms)
{
    if (!fastExchange())
        clock_.sleepMs(ms);
}

// Done once the answer is among the bytes. Whole messages ahead of it that are not
// the answer (a late reply to an earlier request) are logged here and dropped, so
// that they take no room from it and the final look does not log them again;
// anything garbled that is still coming stays for the final look.
int RdmEngine::AnswerWhole(const uint8_t* bytes, int count, void* context)
{
    RdmEngine& engine = *static_cast<RdmEngine*>(context);
    const rdm::ReplyScan scan =
        rdm::ScanForReply(bytes, size_t(count), engine.inFlight_, engine.scratchReply_,
                          [&engine](const uint8_t* at, size_t size, rdm::DecodeError error, rdm::Mismatch mismatch) {
                              // Another device's reply, or one to an earlier request:
                              // most likely an answer that came after its read.
                              if (mismatch == rdm::Mismatch::Transaction || mismatch == rdm::Mismatch::Source)
                                  engine.noteLate();
                              if (size)
                                  engine.logPassedOver(at, size, error, mismatch);
                          });
    if (scan.passedOverEnd > 0)
        return -int(scan.passedOverEnd);
    return scan.at >= 0 ? count : 0;
}

void RdmEngine::dumpMessage(const uint8_t* bytes, size_t count, bool isRequest)
{
    // Laid out alone, so that the dump reads no further than the buffer.
    if (count > sizeof dump_)
        count = sizeof dump_;
    std::memset(dump_, 0xFF, sizeof dump_);
    std::memcpy(dump_, bytes, count);
    log_.appendLine(DumpText(dump_, isRequest));
}

void RdmEngine::logPassedOver(const uint8_t* bytes, size_t count, rdm::DecodeError error, rdm::Mismatch mismatch)
{
    if (!log_.detailed())
        return;
    dumpMessage(bytes, count, false);
    const char* why = error != rdm::DecodeError::None ? rdm::DecodeErrorText(error) : rdm::MismatchText(mismatch);
    log_.appendLine(std::string("Не ответ на запрос: ") + why + "\r\n");
}

TxResult RdmEngine::RdmTransaction(const rdm::RdmRequest& request, rdm::RdmResponse& reply, int readLength)
{
    // Room for the break's byte ahead of the reply.
    if (readLength > int(rdm::kBufferSize) - 1)
        readLength = int(rdm::kBufferSize) - 1;
    if (readLength < 0)
        readLength = 0;
    const int size = encodeInFlight(request);
    const bool fast = fastExchange();
    const ReplyKind expect = readLength > 0 ? ReplyKind::Ordinary : ReplyKind::None;

    std::lock_guard<std::mutex> exchange(port_.exchangeLock());
    linkFailed_ = writeFailed_ = false;
    noteBytesLeftOver();
    const uint64_t handedUs = clock_.nowUs();
    if (port_.SendRdmPacket(request_, size, expect) == 0) {
        linkFailed_ = writeFailed_ = true;
        log_.appendLine(status_text::kSendError);
        return TxFailed;
    }
    std::memset(response_, 0xFF, sizeof response_);
    int got = 0;
    if (fast) {
        // Dumped before the read, so that messages the read passes over follow it.
        if (log_.detailed())
            dumpMessage(request_, size_t(size), true);
        if (readLength > 0) {
            got = port_.ReadRdmReplyWhole(response_, readLength, ReplyKind::Ordinary,
                                          replyWait(handedUs, size, readLength, ReplyKind::Ordinary, AnswerWhole));
        } else {
            // Nobody answers; the line rests before the next request.
            const uint64_t rest = handedUs + line_timing::PacketUs(size) + line_timing::kAfterBroadcastUs;
            const uint64_t now = clock_.nowUs();
            if (rest > now)
                clock_.sleepUs(rest - now);
        }
    } else {
        clock_.sleepMs(50);
        if (log_.detailed())
            dumpMessage(request_, size_t(size), true);
        got = port_.ReadRdmReply(response_, readLength, ReplyKind::Ordinary);
    }
    if (got < 0) {
        linkFailed_ = true;
        return TxFailed;
    }
    const rdm::ReplyScan scan = rdm::ScanForReply(
        response_, size_t(got), inFlight_, reply,
        [this](const uint8_t* at, size_t count, rdm::DecodeError error, rdm::Mismatch mismatch) {
            logPassedOver(at, count ? count : size_t(response_ + sizeof response_ - at), error, mismatch);
        });
    if (scan.candidates == 0) {
        log_.appendLine(std::string(status_text::kNoResponse) + "\r\n");
        return TxNoResponse;
    }
    if (scan.at < 0)
        return TxNoResponse;
    if (log_.detailed()) {
        dumpMessage(response_ + scan.at, scan.size, false);
        log_.appendLine(std::string());
    }
    return reply.responseType == rdm::RESPONSE_TYPE_ACK ? TxAck : TxNotAck;
}

BranchResult RdmEngine::DiscoveryBranch(Uid lowerBound, Uid upperBound, Uid& found)
{
    // Room for the longest preamble and the encoded UID, and then some.
    constexpr int kBranchReadLength = 40;
    uint8_t bounds[12];
    WriteUid(lowerBound, bounds);
    WriteUid(upperBound, bounds + 6);
    const int size =
        encodeInFlight(rdm::RdmRequest(kBroadcastUid, rdm::DISCOVERY_COMMAND, rdm::DISC_UNIQUE_BRANCH, bounds, 12));
    if (log_.detailed())
        dumpMessage(request_, size_t(size), true);
    int count = 0;
    {
        std::lock_guard<std::mutex> exchange(port_.exchangeLock());
        linkFailed_ = writeFailed_ = false;
        strayReply_ = false;
        noteBytesLeftOver();
        const uint64_t handedUs = clock_.nowUs();
        if (port_.SendRdmPacket(request_, size, ReplyKind::Discovery) == 0) {
            linkFailed_ = writeFailed_ = true;
            log_.appendLine(status_text::kSendError);
        }
        std::memset(response_, 0x55, kBranchReadLength);
        if (fastExchange()) {
            count = port_.ReadRdmReplyWhole(
                response_, kBranchReadLength, ReplyKind::Discovery,
                replyWait(handedUs, size, kBranchReadLength, ReplyKind::Discovery, rdm::BranchReplyWhole));
        } else {
            clock_.sleepMs(20);
            count = port_.ReadRdmReply(response_, kBranchReadLength, ReplyKind::Discovery);
        }
        if (count < 0)
            linkFailed_ = true;
    }
    if (count == 0) {
        if (log_.detailed())
            log_.appendLine(std::string(status_text::kNoResponse) + "\r\n");
        return BranchSilent;
    }
    const BranchResult result = rdm::JudgeBranchReply(response_, lowerBound, upperBound, found);
    Uid uid = 0;
    if (result == BranchCollision &&
        rdm::DecodeDiscoveryReply(response_, kBranchReadLength, uid) == rdm::DiscoveryReply::Whole &&
        (uid < lowerBound || uid > upperBound)) {
        strayReply_ = true;
        strayUid_ = uid;
        if (fastExchange())
            noteLate();
    }
    if (log_.detailed()) {
        if (result == BranchSingle)
            log_.appendLine("Корректный ответ\r\n");
        else if (result == BranchCollision)
            log_.appendLine("Конфликт\r\n");
    }
    return result;
}

std::string RdmEngine::DumpText(const uint8_t* b, bool isRequest)
{
    std::string text = isRequest ? "Запрос:  CC 01 " : "Ответ: CC 01 ";
    char hex[4];
    auto put = [&](uint8_t byte) {
        std::snprintf(hex, sizeof hex, "%02X", byte);
        text += hex;
    };
    auto run = [&](size_t from, size_t count) {
        for (size_t i = 0; i < count; ++i)
            put(b[from + i]);
        text += ' ';
    };
    run(2, 1);
    run(3, 6);
    run(9, 6);
    run(15, 1);
    run(16, 1);
    run(17, 1);
    run(18, 2);
    run(20, 1);
    run(21, 2);
    run(23, 1);
    for (size_t i = 0; i < b[23]; ++i)
        run(24 + i, 1);
    put(b[b[2]]);
    put(b[size_t(b[2]) + 1]);
    return text;
}
