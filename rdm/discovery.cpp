#include "rdm/discovery.h"

#include <charconv>
#include <cstring>

namespace {
// Bytes read after a branch request: room for the longest preamble and the encoded UID.
constexpr int kBranchReadLength = 40;
constexpr const char* kListFull = "Список устройств заполнен: обнаружение остановлено на 33 устройствах.";
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
        if (engine_.port().SendRdmPacket(engine_.request, size, widget::kLabelSendRdmDiscovery) == 0)
            log.appendLine(status_text::kSendError);
        engine_.clock().sleepMs(20);
        std::memset(reply, 0x55, kBranchReadLength);
        count = engine_.port().ReadRdmReply(reply, kBranchReadLength, ReplyKind::Discovery);
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
    return elapsed > uint32_t(hooks_.timeoutSeconds()) * 1000u;
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

void Discovery::Run()
{
    hooks_.stopOutput();
    Clock& clock = engine_.clock();
    clock.sleepMs(50);
    const uint32_t t0 = clock.tickMs();
    if (UnMuteDevice(kBroadcastUid) == TxFailed)
        return;
    clock.sleepMs(50);
    hooks_.clearList();
    table_.deviceCount = 0;
    engine_.log().appendLine("Обнаружение RDM устройств.");

    bool listFull = false;
    while (!listFull) {
        BranchResult r = DiscoveryBranch(kLowest, kHighest);
        if (r == BranchSilent || timedOut(t0))
            break;
        Uid lower = kLowest, upper = kHighest, mid = kHighest / 2;
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
}
