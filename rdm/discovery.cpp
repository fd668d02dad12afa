#include "rdm/discovery.h"

#include <charconv>
#include <iterator>

namespace {
constexpr const char* kListFull = "Список устройств заполнен: обнаружение остановлено на 33 устройствах.";
constexpr const char* kCutShort =
    "Обнаружение прервано по таймауту: найдены не все устройства. "
    "Таймаут обнаружения можно увеличить на странице «Настройки».";
}

BranchResult Discovery::DiscoveryBranch(Uid lowerBound, Uid upperBound)
{
    return engine_.DiscoveryBranch(lowerBound, upperBound, lastFoundUid);
}

TxResult Discovery::MuteDevice(Uid uid)
{
    engine_.log().appendLine("Mute " + UidLogText(uid));
    rdm::RdmResponse reply;
    return engine_.RdmTransaction({uid, rdm::DISCOVERY_COMMAND, rdm::DISC_MUTE}, reply);
}

TxResult Discovery::UnMuteDevice(Uid uid)
{
    engine_.log().appendLine("UnMute " + UidLogText(uid));
    rdm::RdmResponse reply;
    return engine_.RdmTransaction({uid, rdm::DISCOVERY_COMMAND, rdm::DISC_UN_MUTE}, reply, 0);
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
