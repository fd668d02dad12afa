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
    ReplyWait wait{clock_, requestEnd + kResponseLostUs + latency + lateMarginUs_,
                   quiet + latency + lateMarginUs_ / 4, judge, this, PacketUs(replyBytes)};
    // Nothing can answer before the request has left the line.
    wait.freshFromUs = handedUs + PacketUs(requestBytes);
    wait.stale = stale_;
    wait.staleCapacity = int(sizeof stale_);
    wait.staleCount = &staleBytes_;
    return wait;
}

void RdmEngine::growLateMargin(uint32_t us)
{
    lateSign_ = true;
    ++signsInRead_;
    onTime_ = 0;
    us = std::min(us, kMaxLateMarginUs);
    if (us <= lateMarginUs_)
        return;
    lateMarginUs_ = us;
    ++lateMarginGrowths_;
    log_.appendLine("Ответы приходят с опозданием: ожидание ответа увеличено до " +
                    std::to_string((lateMarginUs_ + 999) / 1000) + " мс.");
}

void RdmEngine::noteLate(uint64_t lateByUs)
{
    // Wide enough for the lateness seen and a little more; doubled when it is not
    // known how late the reply was.
    const uint64_t grown = lateByUs ? uint64_t(lateMarginUs_) + lateByUs + kLateStepUs
                           : lateMarginUs_ == 0 ? kFirstLateMarginUs
                                                : 2 * uint64_t(lateMarginUs_);
    growLateMargin(uint32_t(std::min<uint64_t>(grown, kMaxLateMarginUs)));
}

void RdmEngine::addWaitCosts(uint64_t lineLimitUs, uint32_t margin, uint64_t endUs)
{
    if (endUs <= lineLimitUs)
        return;
    const uint64_t past = endUs - lineLimitUs;
    costs_.widenedUs += std::min<uint64_t>(past, margin);
    costs_.listenedUs += past > margin ? past - margin : 0;
}

void RdmEngine::settleLateMargin()
{
    // Replies that keep coming in time let a grown wait shrink again, so that a
    // moment's delay does not slow the rest of the run.
    if (lateMarginUs_ == 0 || ++onTime_ < kOnTimeToShrink)
        return;
    onTime_ = 0;
    lateMarginUs_ = lateMarginUs_ / 2 < kFirstLateMarginUs ? 0 : lateMarginUs_ / 2;
}

bool RdmEngine::listenForLateReply(uint64_t us)
{
    if (!fastExchange())
        return false;
    constexpr uint64_t kStepUs = 1000;
    for (uint64_t waited = 0; waited < us; waited += kStepUs) {
        if (port_.CountWaiting() > 0) {
            noteLate(waited);
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

void RdmEngine::heard(Uid uid)
{
    if (heardLate(uid))
        return;
    lateHeard_[lateHeardCount_ % kLateKept] = uid;
    ++lateHeardCount_;
}

void RdmEngine::recordLateAnswers(const uint8_t* bytes, size_t count, bool discoveryReplies)
{
    for (size_t at = 0; at + 2 <= count; ++at) {
        if (bytes[at] != rdm::kStartCode || bytes[at + 1] != rdm::kSubStartCode)
            continue;
        rdm::RdmResponse r;
        size_t size = 0;
        if (rdm::Decode(bytes + at, count - at, r, &size) != rdm::DecodeError::None)
            continue;
        if (r.destination == kOwnUid && r.commandClass == rdm::DISCOVERY_COMMAND_RESPONSE && r.pid == rdm::DISC_MUTE) {
            heard(r.source);
            LateAck* entry = nullptr;
            for (int i = 0; i < lateAckCount_ && i < kLateKept; ++i)
                if (lateAck_[i].uid == r.source)
                    entry = &lateAck_[i];
            if (!entry)
                entry = &lateAck_[lateAckCount_++ % kLateKept];
            *entry = {r.source, r.transaction};
        }
        at += size - 1;
    }
    if (!discoveryReplies || clock_.nowUs() < lastBranchUs_ + kFarTooLateUs)
        return;
    for (size_t at = 0; at + 1 + rdm::kDiscoveryReplyBody <= count; ++at) {
        Uid uid = 0;
        if (bytes[at] == 0xAA && rdm::DecodeDiscoveryReply(bytes + at, count - at, uid) == rdm::DiscoveryReply::Whole) {
            heard(uid);
            nameLate(uid);
            at += rdm::kDiscoveryReplyBody;
        }
    }
}

bool RdmEngine::ackedLate(Uid uid, int transaction) const
{
    for (int i = 0; i < lateAckCount_ && i < kLateKept; ++i)
        if (lateAck_[i].uid == uid && (transaction < 0 || lateAck_[i].transaction == transaction))
            return true;
    return false;
}

bool RdmEngine::heardLate(Uid uid) const
{
    for (int i = 0; i < lateHeardCount_ && i < kLateKept; ++i)
        if (lateHeard_[i] == uid)
            return true;
    return false;
}

std::string RdmEngine::LateDeviceText(Uid uid)
{
    return "Устройство " + UidLogText(uid) +
           " отвечает с опозданием, большим, чем допускает E1.20: оно не внесено в список.";
}

bool RdmEngine::nameLate(Uid uid)
{
    for (Uid named : namedLate_)
        if (named == uid)
            return false;
    namedLate_.push_back(uid);
    log_.appendLine(LateDeviceText(uid));
    return true;
}

bool RdmEngine::awaitLateAck(Uid uid, uint8_t transaction, uint32_t ms)
{
    std::lock_guard<std::mutex> exchange(port_.exchangeLock());
    const uint64_t until = clock_.nowUs() + uint64_t(ms) * 1000;
    // Whole messages are looked for in what has come so far; a message cut by a
    // read comes together with the rest of it at the next.
    size_t held = 0;
    while (!ackedLate(uid, transaction)) {
        const uint64_t now = clock_.nowUs();
        if (now >= until)
            return false;
        if (held == sizeof response_)
            held = 0;
        const int n = port_.ReadWaiting(response_ + held, int(sizeof response_ - held));
        if (n < 0)
            return false;
        held += size_t(n);
        recordLateAnswers(response_, held, true);
        if (n == 0)
            clock_.sleepUs(std::min<uint64_t>(2000, until - now));
    }
    return true;
}

bool RdmEngine::drainLateReplies(uint32_t quietMs, uint32_t limitMs)
{
    std::lock_guard<std::mutex> exchange(port_.exchangeLock());
    return drainLocked(quietMs, limitMs);
}

bool RdmEngine::drainLocked(uint32_t quietMs, uint32_t limitMs)
{
    const uint64_t start = clock_.nowUs(), until = start + uint64_t(limitMs) * 1000;
    uint64_t lastUs = start;
    size_t held = 0;
    bool came = false;
    for (;;) {
        const uint64_t now = clock_.nowUs();
        if (now >= until || now >= lastUs + uint64_t(quietMs) * 1000)
            return came;
        if (held == sizeof response_)
            held = 0;
        const int n = port_.ReadWaiting(response_ + held, int(sizeof response_ - held));
        if (n < 0)
            return came;
        if (n > 0) {
            // Line noise keeps coming on a noisy line; only replies keep the drain going.
            if (rdm::LooksLikeReply(response_ + held, size_t(n))) {
                came = true;
                lastUs = now;
            }
            held += size_t(n);
            recordLateAnswers(response_, held, true);
            continue;
        }
        clock_.sleepUs(std::min<uint64_t>(1000, until - now));
    }
}

void RdmEngine::noteStale()
{
    if (staleBytes_ > 0 && rdm::LooksLikeReply(stale_, size_t(staleBytes_))) {
        noteLate();
        recordLateAnswers(stale_, size_t(staleBytes_), true);
    }
}

void RdmEngine::noteBytesLeftOver()
{
    if (!fastExchange())
        return;
    settleLateMargin();
    if (port_.CountWaiting() <= 0)
        return;
    // Taken here rather than purged, to tell a late reply from noise.
    const int n = port_.ReadWaiting(dump_, int(sizeof dump_));
    if (n > 0 && rdm::LooksLikeReply(dump_, size_t(n))) {
        noteLate();
        recordLateAnswers(dump_, size_t(n), true);
    }
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
                              if (size) {
                                  engine.recordLateAnswers(at, size);
                                  engine.logPassedOver(at, size, error, mismatch);
                              }
                          });
    if (scan.at >= 0 && engine.answerBeganUs_ == 0) {
        // It began a line time before it was whole.
        const uint64_t now = engine.clock_.nowUs(), lineUs = scan.size * line_timing::kByteUs;
        engine.answerBeganUs_ = now > lineUs ? now - lineUs : 1;
    }
    if (scan.at >= 0)
        return count;
    if (scan.passedOverEnd > 0)
        return -int(scan.passedOverEnd);
    // Bytes before anything that may begin a message are noise: dropped, so that
    // the read goes on waiting for the reply.
    int noise = 0;
    while (noise < count && !(bytes[noise] == rdm::kStartCode &&
                              (noise + 1 == count || bytes[noise + 1] == rdm::kSubStartCode)))
        ++noise;
    if (noise == 0)
        return 0;
    // Whatever it was, it may have garbled the answer.
    ++engine.signsInRead_;
    engine.noiseInRead_ = true;
    return -noise;
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
    // An interface that discovers its line keeps its discovery messages to itself
    // (a node does not carry them): none is sent, and none is answered.
    if (request.commandClass == rdm::DISCOVERY_COMMAND && port_.DiscoversItself())
        return TxNoResponse;
    TxResult result = exchange(request, reply, readLength);
    // Asked once more when its answer was on its way but could not be taken:
    // the wait has widened meanwhile. Silence is no such sign. A reply that line
    // noise garbled gets one more try beside.
    const bool repeatable = request.commandClass != rdm::SET_COMMAND && !request.broadcast();
    for (int again = 0; result == TxNoResponse && repeatable && fastExchange() && readLength > 0 &&
                        signsInRead_ > 0 && (again == 0 || (again == 1 && noiseInRead_));
         ++again) {
        // Replies still on their way (from a device far too late, or a burst of
        // them) are let go by first, so that they cannot garble this one's again.
        drainLateReplies(kSettleQuietMs, kDrainLimitMs);
        ++costs_.repeats;
        result = exchange(request, reply, readLength);
    }
    return result;
}

TxResult RdmEngine::exchange(const rdm::RdmRequest& request, rdm::RdmResponse& reply, int readLength)
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
    signsInRead_ = 0;
    noiseInRead_ = false;
    answerBeganUs_ = 0;
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
            ReplyWait wait = replyWait(handedUs, size, readLength, ReplyKind::Ordinary, AnswerWhole);
            wait.listenUntilUs = wait.beginByUs - lateMarginUs_ + kMaxLateMarginUs;
            const uint64_t beginBy = wait.beginByUs;
            const uint32_t margin = lateMarginUs_;
            staleBytes_ = 0;
            got = port_.ReadRdmReplyWhole(response_, readLength, ReplyKind::Ordinary, wait);
            noteStale();
            // An answer that began after the wait: the wait grows to take the next in time.
            if (answerBeganUs_ > beginBy)
                noteLate(answerBeganUs_ - beginBy);
            if (answerBeganUs_ == 0 || answerBeganUs_ > beginBy - margin)
                addWaitCosts(beginBy - margin, margin, clock_.nowUs());
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
            if (count)
                recordLateAnswers(at, count);
            logPassedOver(at, count ? count : size_t(response_ + sizeof response_ - at), error, mismatch);
        });
    if (scan.candidates == 0) {
        log_.appendLine(std::string(status_text::kNoResponse) + "\r\n");
        return TxNoResponse;
    }
    if (scan.at < 0) {
        // Something began as a reply and could not be taken: garbled or cut short.
        ++signsInRead_;
        return TxNoResponse;
    }
    if (log_.detailed()) {
        dumpMessage(response_ + scan.at, scan.size, false);
        log_.appendLine(std::string());
    }
    return reply.responseType == rdm::RESPONSE_TYPE_ACK ? TxAck : TxNotAck;
}

BranchResult RdmEngine::DiscoveryBranch(Uid lowerBound, Uid upperBound, Uid& found)
{
    bool noiseOnly = false;
    BranchResult result = branchOnce(lowerBound, upperBound, found, noiseOnly);
    for (int again = 0; noiseOnly && again < kNoiseRepeats; ++again) {
        ++costs_.repeats;
        result = branchOnce(lowerBound, upperBound, found, noiseOnly);
    }
    // Noise each time and nothing of a reply: nobody answered.
    return noiseOnly ? BranchSilent : result;
}

BranchResult RdmEngine::branchOnce(Uid lowerBound, Uid upperBound, Uid& found, bool& noiseOnly)
{
    // Room for the longest preamble and the encoded UID, and then some.
    constexpr int kBranchReadLength = 40;
    noiseOnly = false;
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
        lastBranchUs_ = handedUs;
        if (port_.SendRdmPacket(request_, size, ReplyKind::Discovery) == 0) {
            linkFailed_ = writeFailed_ = true;
            log_.appendLine(status_text::kSendError);
        }
        std::memset(response_, 0x55, kBranchReadLength);
        if (fastExchange()) {
            const ReplyWait wait =
                replyWait(handedUs, size, kBranchReadLength, ReplyKind::Discovery, rdm::BranchReplyWhole);
            const uint32_t margin = lateMarginUs_;
            staleBytes_ = 0;
            count = port_.ReadRdmReplyWhole(response_, kBranchReadLength, ReplyKind::Discovery, wait);
            noteStale();
            if (count == 0)
                addWaitCosts(wait.beginByUs - margin, margin, clock_.nowUs());
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
    // A late acknowledgement of an earlier mute may have landed here.
    if (count > 0)
        recordLateAnswers(response_, size_t(count));
    const BranchResult result = rdm::JudgeBranchReply(response_, lowerBound, upperBound, found);
    Uid uid = 0;
    if (result == BranchCollision &&
        rdm::DecodeDiscoveryReply(response_, kBranchReadLength, uid) == rdm::DiscoveryReply::Whole &&
        (uid < lowerBound || uid > upperBound)) {
        strayReply_ = true;
        strayUid_ = uid;
    }
    noiseOnly = result == BranchCollision && rdm::NoiseOnly(response_, count);
    if (log_.detailed()) {
        if (result == BranchSingle)
            log_.appendLine("Корректный ответ\r\n");
        else if (noiseOnly)
            log_.appendLine("Помехи на линии\r\n");
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

int RdmEngine::nodeTable(bool flush, std::vector<Uid>& uids, std::string& note)
{
    std::lock_guard<std::mutex> exchange(port_.exchangeLock());
    std::vector<uint64_t> table;
    const int kept = port_.NodeTable(flush, table, note);
    uids.assign(table.begin(), table.end());
    return kept;
}
