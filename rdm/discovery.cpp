#include "rdm/discovery.h"

#include <charconv>
#include <iterator>
#include <cstring>

namespace {
// Bytes read after a branch request: room for the longest preamble and the encoded UID.
constexpr int kBranchReadLength = 40;
constexpr const char* kListFull = "Список устройств заполнен: обнаружение остановлено на 33 устройствах.";
constexpr const char* kCutShort =
    "Обнаружение прервано по таймауту: найдены не все устройства. "
    "Таймаут обнаружения можно увеличить на странице «Настройки».";
}

// A branch reply is whole once the 16 bytes after its separator have come and
// their checksum holds; anything else (a collision) ends when the line goes quiet.
int Discovery::BranchReplyWhole(const uint8_t* reply, int count, const uint8_t*)
{
    int separator = -1;
    for (int i = 0; i < 15 && i < count; ++i)
        if (reply[i] == 0xAA) {
            separator = i;
            break;
        }
    if (separator < 0 || count < separator + 17)
        return 0;
    const uint8_t* s = reply + separator + 1;
    unsigned sum = 0;
    for (int k = 0; k < 12; ++k)
        sum += s[k];
    return sum == 256u * (s[12] & s[13]) + (s[14] & s[15]) ? count : 0;
}

BranchResult Discovery::JudgeBranchReply(const uint8_t* reply, Uid lowerBound, Uid upperBound, Uid& found)
{
    int separator = -1;
    for (int i = 0; i < 15; ++i)
        if (reply[i] == 0xAA) {
            separator = i;
            break;
        }
    if (separator < 0) {
        for (int i = 0; i < 16; ++i)
            if (reply[i] != 0x55)
                return BranchCollision;
        return BranchSilent;
    }
    const uint8_t* s = reply + separator + 1;  // at most byte 15; the code reaches byte 30 of 40
    uint8_t raw[6];
    unsigned sum = 0;
    for (int k = 0; k < 6; ++k) {
        raw[k] = s[2 * k] & s[2 * k + 1];
        sum += unsigned(s[2 * k]) + s[2 * k + 1];
    }
    const Uid uid = ReadUid(raw);
    if (uid < lowerBound || uid > upperBound)
        return BranchCollision;
    const unsigned expected = 256u * (s[12] & s[13]) + (s[14] & s[15]);
    if (sum != expected)
        return BranchCollision;
    found = uid;
    return BranchSingle;
}

BranchResult Discovery::DiscoveryBranch(Uid lowerBound, Uid upperBound)
{
    uint8_t bounds[12];
    WriteUid(lowerBound, bounds);
    WriteUid(upperBound, bounds + 6);
    engine_.PrepareRequest(rdm::DISCOVERY_COMMAND, rdm::DISC_UNIQUE_BRANCH, bounds, sizeof bounds);
    const int size = engine_.CompleteRequest(kBroadcastUid);

    LogSink& log = engine_.log();
    if (log.detailed())
        engine_.LogMessageDump(true);
    uint8_t* reply = engine_.response;
    int count = 0;
    {
        std::lock_guard<std::mutex> exchange(engine_.port().exchangeLock());
        const uint64_t handedUs = engine_.clock().nowUs();
        if (engine_.port().SendRdmPacket(engine_.request, size, widget::kLabelSendRdmDiscovery) == 0)
            log.appendLine(status_text::kSendError);
        std::memset(reply, 0x55, kBranchReadLength);
        if (engine_.fastExchange()) {
            count = engine_.port().ReadRdmReplyWhole(
                reply, kBranchReadLength, ReplyKind::Discovery,
                engine_.replyWait(handedUs, size, kBranchReadLength, ReplyKind::Discovery, BranchReplyWhole));
        } else {
            engine_.clock().sleepMs(20);
            count = engine_.port().ReadRdmReply(reply, kBranchReadLength, ReplyKind::Discovery);
        }
    }
    if (count == 0) {
        if (log.detailed())
            log.appendLine(std::string(status_text::kNoResponse) + "\r\n");
        return BranchSilent;
    }
    BranchResult result = JudgeBranchReply(reply, lowerBound, upperBound, lastFoundUid);
    if (log.detailed()) {
        if (result == BranchSingle)
            log.appendLine("Корректный ответ\r\n");
        else if (result == BranchCollision)
            log.appendLine("Конфликт\r\n");
    }
    return result;
}

TxResult Discovery::MuteDevice(Uid uid)
{
    engine_.log().appendLine("Mute " + UidLogText(uid));
    engine_.PrepareRequest(rdm::DISCOVERY_COMMAND, rdm::DISC_MUTE);
    return engine_.RdmTransaction(uid, rdm::kReplyReadLength);
}

TxResult Discovery::UnMuteDevice(Uid uid)
{
    engine_.log().appendLine("UnMute " + UidLogText(uid));
    engine_.PrepareRequest(rdm::DISCOVERY_COMMAND, rdm::DISC_UN_MUTE);
    return engine_.RdmTransaction(uid, 0);
}

bool Discovery::timedOut(uint32_t t0)
{
    const uint32_t elapsed = engine_.clock().tickMs() - t0;
    if (hooks_.progress)
        hooks_.progress(table_.deviceCount, elapsed);
    if (!stoppedByUser_ && hooks_.stopRequested && hooks_.stopRequested()) {
        stoppedByUser_ = true;
        engine_.log().appendLine(status_text::kStoppedByUser);
    }
    return stoppedByUser_ || elapsed > uint32_t(hooks_.timeoutSeconds()) * 1000u;
}

std::string Discovery::SummaryText(uint32_t elapsedMs, int devices)
{
    // The decimal point is fixed whatever the user's locale says.
    char seconds[32];
    auto end = std::to_chars(seconds, seconds + sizeof seconds - 1, double(elapsedMs) * 0.001,
                             std::chars_format::fixed, 1).ptr;
    *end = '\0';
    return std::string("Обнаружение завершено за ") + seconds + " с. Найдено " + std::to_string(devices) +
           " RDM устройств.";
}

bool Discovery::segment(int k, Uid& lower, Uid& upper) const
{
    lower = k == 0 ? kLowest : excluded_[k - 1] + 1;
    upper = k == excludedCount_ ? kHighest : excluded_[k] - 1;
    if (k < excludedCount_ && excluded_[k] == kLowest)
        return false;
    return lower <= upper;
}

bool Discovery::muteFailed(Uid uid)
{
    MuteFailures* entry = nullptr;
    for (int i = 0; i < muteFailureCount_; ++i)
        if (muteFailures_[i].uid == uid)
            entry = &muteFailures_[i];
    if (!entry) {
        if (muteFailureCount_ == int(std::size(muteFailures_)))
            return false;
        entry = &muteFailures_[muteFailureCount_++];
        *entry = {uid, 0};
    }
    if (++entry->count < kMuteAttempts || excludedCount_ == kMaxExcluded)
        return false;
    int at = excludedCount_;
    while (at > 0 && excluded_[at - 1] > uid) {
        excluded_[at] = excluded_[at - 1];
        --at;
    }
    excluded_[at] = uid;
    ++excludedCount_;
    engine_.log().appendLine("Устройство " + UidLogText(uid) +
                             " не подтверждает Mute: оно исключено из этого обнаружения.");
    return true;
}

void Discovery::Run()
{
    hooks_.stopOutput();
    Clock& clock = engine_.clock();
    engine_.pauseMs(50);
    const uint32_t t0 = clock.tickMs();
    if (UnMuteDevice(kBroadcastUid) == TxFailed)
        return;
    engine_.pauseMs(50);
    hooks_.clearList();
    table_.deviceCount = 0;
    muteFailureCount_ = 0;
    excludedCount_ = 0;
    stoppedByUser_ = false;
    engine_.log().appendLine("Обнаружение RDM устройств.");

    // The UID space is searched whole unless a device had to be excluded; then
    // the ranges on either side of each excluded UID are searched in turn.
    bool listFull = false, cutShort = false;
    for (int k = 0; !listFull && k <= excludedCount_;) {
        Uid first = kLowest, last = kHighest;
        if (!segment(k, first, last)) {
            ++k;  // two excluded UIDs side by side leave nothing between them
            continue;
        }
        BranchResult r = DiscoveryBranch(first, last);
        if (r == BranchSilent) {
            ++k;
            if (k <= excludedCount_ && timedOut(t0)) {
                cutShort = true;
                break;
            }
            continue;
        }
        if (timedOut(t0)) {
            cutShort = true;
            break;
        }
        Uid lower = first, upper = last, mid = first + (last - first) / 2;
        for (;;) {
            if (timedOut(t0))
                break;
            if (r == BranchSingle) {
                if (table_.deviceCount >= DeviceTable::kCapacity) {
                    engine_.log().appendLine(kListFull);
                    listFull = true;
                    break;
                }
                if (MuteDevice(lastFoundUid) == TxAck) {
                    hooks_.addRow(UidListText(lastFoundUid));
                    table_.entries[table_.deviceCount].uid = lastFoundUid;
                    ++table_.deviceCount;
                    break;
                }
                if (muteFailed(lastFoundUid))
                    break;
            }
            if (upper - lower <= 1)
                break;
            r = DiscoveryBranch(mid, upper);
            if (r != BranchSilent)
                lower = mid;
            else
                upper = mid;
            mid = (lower + upper) / 2;
        }
    }
    hooks_.resumeOutput();
    engine_.log().appendLine(SummaryText(clock.tickMs() - t0, table_.deviceCount));
    if (cutShort && !stoppedByUser_)
        engine_.log().appendLine(kCutShort);
}
