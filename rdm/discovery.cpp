#include "rdm/discovery.h"

#include <charconv>

namespace {
constexpr const char* kListFull = "Список устройств заполнен: обнаружение остановлено на 33 устройствах.";
// What to do about it is for the tool around to say: the verdict tells it.
constexpr const char* kCutShort = "Обнаружение прервано по таймауту: найдены не все устройства.";
constexpr const char* kInterfaceFailed =
    "Интерфейс перестал принимать запросы: обнаружение прервано, найдены не все устройства.";
// Passes that end misled go back this many times to a half they passed over.
constexpr int kBacktracks = 2;
// A branch whose reply came late is sent again at most this often.
constexpr int kLateRepeats = 2;
} // namespace

BranchResult Discovery::DiscoveryBranch(Uid lowerBound, Uid upperBound)
{
    return engine_.DiscoveryBranch(lowerBound, upperBound, lastFoundUid);
}

TxResult Discovery::MuteDevice(Uid uid)
{
    engine_.log().appendLine("Mute " + UidLogText(uid));
    lastSilent_ = false;
    rdm::RdmResponse reply;
    const TxResult r = engine_.RdmTransaction({uid, rdm::DISCOVERY_COMMAND, rdm::DISC_MUTE}, reply);
    lastMuteTransaction_ = engine_.transactionNumber();
    return r;
}

TxResult Discovery::UnMuteDevice(Uid uid)
{
    engine_.log().appendLine("UnMute " + UidLogText(uid));
    rdm::RdmResponse reply;
    return engine_.RdmTransaction({uid, rdm::DISCOVERY_COMMAND, rdm::DISC_UN_MUTE}, reply, 0);
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

bool Discovery::timedOut()
{
    const uint32_t elapsed = engine_.clock().tickMs() - t0_;
    if (hooks_.progress)
        hooks_.progress(foundCount(), elapsed);
    if (!verdict_.stoppedByUser && hooks_.stopRequested && hooks_.stopRequested()) {
        verdict_.stoppedByUser = true;
        engine_.log().appendLine(status_text::kStoppedByUser);
    }
    return verdict_.stoppedByUser || elapsed > uint32_t(hooks_.timeoutSeconds()) * 1000u;
}

// --- the found devices ---

int Discovery::foundCount() const { return table_ ? table_->deviceCount : int(list_->size()); }

bool Discovery::full() const { return table_ && table_->deviceCount >= DeviceTable::kCapacity; }

Uid Discovery::foundAt(int i) const { return table_ ? table_->entries[i].uid : (*list_)[size_t(i)]; }

bool Discovery::listed(Uid uid) const
{
    for (int i = 0; i < foundCount(); ++i)
        if (foundAt(i) == uid)
            return true;
    return false;
}

void Discovery::list(Uid uid)
{
    hooks_.found(uid);
    if (table_)
        table_->entries[table_->deviceCount++].uid = uid;
    else
        list_->push_back(uid);
}

// --- ranges set aside ---

bool Discovery::segment(int k, Uid& lower, Uid& upper) const
{
    if (k > 0 && setAside_[k - 1].upper >= kHighest)
        return false;
    if (k < setAsideCount_ && setAside_[k].lower == kLowest)
        return false;
    lower = k == 0 ? kLowest : Uid(setAside_[k - 1].upper + 1);
    upper = k == setAsideCount_ ? kHighest : Uid(setAside_[k].lower - 1);
    return lower <= upper;
}

bool Discovery::setAside(Uid lower, Uid upper, Why why)
{
    if (setAsideCount_ == kMaxSetAside)
        return false;
    for (int i = 0; i < setAsideCount_; ++i)
        if (lower <= setAside_[i].upper && setAside_[i].lower <= upper)
            return false;  // already covered
    int at = setAsideCount_;
    while (at > 0 && setAside_[at - 1].lower > lower) {
        setAside_[at] = setAside_[at - 1];
        --at;
    }
    setAside_[at] = {lower, upper, why};
    ++setAsideCount_;
    doubtful_ = true;

    for (int i = 0; i < namedCount_; ++i)
        if (named_[i].lower == lower && named_[i].upper == upper)
            return true;
    if (namedCount_ < int(std::size(named_)))
        named_[namedCount_++] = {lower, upper, why};
    std::string text;
    if (why == Why::MuteFails)
        text = "Устройство " + UidLogText(lower) + " не подтверждает Mute: оно исключено из этого обнаружения.";
    else if (lower == upper)
        text = "Устройство " + UidLogText(lower) +
               " отвечает на поиск искажёнными ответами: оно отложено и не внесено в список.";
    else
        text = "Устройства в диапазоне " + UidLogText(lower) + " – " + UidLogText(upper) +
               " отвечают искажёнными ответами: диапазон отложен, устройства в нём не внесены в список.";
    engine_.log().appendLine(text);
    return true;
}

bool Discovery::muteFailed(Uid uid)
{
    if (setAsideWithin(uid, uid) >= 0)
        return true;  // set aside already: nothing more to try
    MuteFailures* entry = nullptr;
    for (int i = 0; i < muteFailureCount_; ++i)
        if (muteFailures_[i].uid == uid)
            entry = &muteFailures_[i];
    if (!entry) {
        if (muteFailureCount_ == kTrackedFailures)
            return false;
        entry = &muteFailures_[muteFailureCount_++];
        *entry = {uid, 0};
    }
    doubtful_ = true;
    return ++entry->count >= kMuteAttempts && setAside(uid, uid, Why::MuteFails);
}

void Discovery::unanswered(Uid uid, bool answersInTime)
{
    doubtful_ = true;
    for (int i = 0; i < unansweredCount_; ++i)
        if (unanswered_[i] == uid)
            return;
    if (unansweredCount_ < kTrackedUnanswered)
        unanswered_[unansweredCount_++] = uid;
    // A device that answers this late has muted itself by now, and acknowledges
    // its mute in the end, after the replies to earlier branches it still has on
    // their way: those are let go by until then, as they would garble the next
    // branches' replies. Nobody at all, and the wait runs out. One that answered
    // a branch of its own in time is no late one: what may still come is let go by.
    if (answersInTime)
        engine_.drainLateReplies();
    else
        engine_.awaitLateAck(uid, lastMuteTransaction_, kLateAnswerListenMs);
}

int Discovery::nameLateDevices()
{
    for (int i = 0; i < unansweredCount_; ++i)
        if (!listed(unanswered_[i]) && engine_.heardLate(unanswered_[i]))
            engine_.nameLate(unanswered_[i]);
    // Named now, or earlier in the run when their replies came.
    int named = 0;
    for (const Uid uid : engine_.namedLate()) {
        if (!engine_.heardLate(uid) || listed(uid))
            continue;
        const int aside = setAsideWithin(uid, uid);
        if (aside >= 0 && setAside_[aside].lower == uid && setAside_[aside].upper == uid) {
            // Set aside as ignoring its mute: it acknowledges, too late.
            for (DiscoveryVerdict::Range& r : verdict_.ranges)
                if (r.lower == uid && r.upper == uid)
                    r.why = DiscoveryVerdict::Doubt::FarTooLate;
            continue;  // counted among those set aside
        }
        verdict_.ranges.push_back({uid, uid, DiscoveryVerdict::Doubt::FarTooLate});
        ++named;
    }
    return named;
}

// --- the search ---

bool Discovery::lateMarginGrew()
{
    // The engine says in the log how far its wait has grown.
    doubtful_ = true;
    if (engine_.lateMarginGrowths() == marginGrowths_)
        return false;
    marginGrowths_ = engine_.lateMarginGrowths();
    return true;
}

bool Discovery::interfaceGone()
{
    // A write that fails means the interface takes no more requests. One failed
    // read may pass; a second in a row means the interface is gone too.
    if (!engine_.linkFailed()) {
        linkFailures_ = 0;
        return false;
    }
    if (++linkFailures_ < 2 && !engine_.writeFailed())
        return false;
    verdict_.interfaceFailed = true;
    ended_ = true;
    return true;
}

BranchResult Discovery::branch(Uid lower, Uid upper)
{
    const bool afterSilence = lastSilent_;
    BranchResult r = DiscoveryBranch(lower, upper);
    // A reply that came after the read gave up: the wait has grown, and the
    // branch is asked again within it. When the branch before was silent, that
    // late reply was most likely its own: that range is searched again.
    for (int again = 0; engine_.fastExchange() && engine_.takeLateSign(); ++again) {
        if (again == 0 && afterSilence) {
            revisit_ = lastSilentRange_;
            revisitPending_ = true;
        }
        if (again == kLateRepeats || !lateMarginGrew())
            break;  // at its limit: asking again would end the same way
        r = DiscoveryBranch(lower, upper);
    }
    lastSilent_ = r == BranchSilent;
    lastSilentRange_ = {lower, upper};
    if (interfaceGone())
        return BranchSilent;
    Uid stray = 0;
    if (r == BranchCollision && engine_.takeStrayReply(stray)) {
        // Either it was a late answer to an earlier branch, now listed, or nobody
        // answered its mute and the replies it may still have on their way have
        // been let go by: this branch is asked again.
        const bool proven = proveStray(stray);
        if (ended_)
            return BranchSilent;
        if (proven || triedStrayNow_) {
            r = DiscoveryBranch(lower, upper);
            engine_.takeStrayReply(stray);  // another one is the search's to resolve
            if (interfaceGone())
                return BranchSilent;
        }
    }
    return r;
}

bool Discovery::proveStray(Uid uid)
{
    doubtful_ = true;
    triedStrayNow_ = false;
    if (listed(uid) || full())
        return false;
    for (int i = 0; i < unansweredCount_; ++i)
        if (unanswered_[i] == uid)
            return false;  // asked before in this run: nobody answered
    // Twice, as an acknowledgement may be lost like any reply.
    for (int attempt = 0; attempt < 2; ++attempt) {
        const TxResult mute = MuteDevice(uid);
        if (interfaceGone())
            return false;
        if (mute == TxAck) {
            list(uid);
            engine_.noteLateReply();
            return true;
        }
    }
    unanswered(uid);
    triedStrayNow_ = true;
    return false;
}

Discovery::Pass Discovery::isolated(Uid uid)
{
    // Asked before in this run, and nobody answered: the search goes on around it.
    for (int i = 0; i < unansweredCount_; ++i)
        if (unanswered_[i] == uid)
            return Pass::Misled;
    const bool known = listed(uid);
    if (!known && full()) {
        engine_.log().appendLine(kListFull);
        verdict_.listFull = true;
        ended_ = true;
        return Pass::Ended;
    }
    // A device acts on its mute even when the line loses the acknowledgement, and
    // then answers no branch: it is asked again at once, up to the attempts' limit.
    bool confirmed = false;  // it answers a branch of its own UID
    for (int attempt = 1;; ++attempt) {
        const TxResult mute = MuteDevice(uid);
        if (interfaceGone())
            return Pass::Ended;
        if (mute == TxAck) {
            // A listed device that answers again has lost its mute (a power cycle).
            if (!known)
                list(uid);
            return Pass::Found;
        }
        if (engine_.takeLateSign())
            lateMarginGrew();
        if (attempt == 2 && !confirmed) {
            // Two mutes unanswered: is anybody there? A device that ignores its
            // mute answers a branch of its own UID; a phantom does not, nor does a
            // device that muted itself while its acknowledgements were lost, which
            // gets one more mute.
            const BranchResult r = branch(uid, uid);
            if (ended_)
                return Pass::Ended;
            if (r == BranchCollision)
                return garbled(uid);
            confirmed = r == BranchSingle;
            if (confirmed && muteFailed(uid)) {  // the first attempt counts too
                unanswered(uid, true);
                return Pass::SetAside;
            }
            if (!confirmed) {
                if (MuteDevice(uid) == TxAck) {
                    if (!known)
                        list(uid);
                    return Pass::Found;
                }
                if (interfaceGone())
                    return Pass::Ended;
                unanswered(uid);
                return Pass::Misled;
            }
        }
        if (attempt >= 2 && muteFailed(uid)) {
            unanswered(uid, true);
            return Pass::SetAside;
        }
        if (timedOut())
            return Pass::Misled;
    }
}

Discovery::Pass Discovery::unresolved(Uid lower, Uid upper)
{
    // Each UID left is asked on its own, the higher first.
    for (Uid uid : {upper, lower}) {
        const BranchResult r = branch(uid, uid);
        if (ended_)
            return Pass::Ended;
        if (r == BranchSingle)
            return isolated(uid);
        if (r == BranchCollision)
            return garbled(uid);
        if (lower == upper)
            break;
    }
    return Pass::Misled;
}

Discovery::Pass Discovery::garbled(Uid uid)
{
    doubtful_ = true;
    // A second look: a reply that a busy system handed on in pieces is garbled
    // only once.
    const BranchResult again = branch(uid, uid);
    if (ended_)
        return Pass::Ended;
    if (again == BranchSingle)
        return isolated(uid);
    if (again == BranchSilent)
        return Pass::Misled;
    if (listed(uid)) {
        engine_.log().appendLine("UID " + UidLogText(uid) +
                                 " возможно, носят два устройства: устройство с ним отключено командой Mute, "
                                 "но ответы с этим UID продолжают сталкиваться.");
        ++suspects_;
        verdict_.doubtful.push_back({uid, DiscoveryVerdict::Doubt::SharedUid});
        return setAside(uid, uid, Why::Garbled) ? Pass::SetAside : Pass::Misled;
    }
    // Its discovery replies never come clean; a reply to a request addressed to
    // it alone may, unless no device can carry it (0, a maker's FFFFFFFF): nothing
    // is sent to it, let alone listed.
    if (!full() && IsDeviceUid(uid) && MuteDevice(uid) == TxAck) {
        list(uid);
        ++suspects_;
        verdict_.doubtful.push_back({uid, DiscoveryVerdict::Doubt::SharedUid});
        engine_.log().appendLine("Устройство " + UidLogText(uid) +
                                 " отвечает на Mute, но его ответы на поиск искажены: возможно, этот UID "
                                 "носят два устройства.");
        return Pass::Found;
    }
    return setAside(uid, uid, Why::Garbled) ? Pass::SetAside : Pass::Misled;
}

Discovery::Pass Discovery::narrow(Uid first, Uid last, BranchResult r)
{
    Uid lower = first, upper = last, mid = first + (last - first) / 2;
    // The halves passed over each time an upper half answered, to come back to
    // when that answer proves to have come from nowhere in it.
    struct Choice {
        Uid lower;
        Uid mid;
    };
    Choice passedOver[64];
    int depth = 0, backtracks = 0;
    int silentSteps = 0;  // upper halves silent in a row
    // Back to the nearest half passed over that answers; false when none does.
    auto backtrack = [&]() {
        while (depth > 0 && backtracks < kBacktracks) {
            ++backtracks;
            --depth;
            lower = passedOver[depth].lower;
            upper = passedOver[depth].mid;
            mid = (lower + upper) / 2;
            silentSteps = 0;
            r = branch(lower, upper);
            if (ended_ || r != BranchSilent)
                return !ended_;
        }
        return false;
    };
    for (;;) {
        if (timedOut()) {
            timeUp_ = true;
            return Pass::Misled;
        }
        if (r == BranchSingle) {
            const Pass p = isolated(lastFoundUid);
            if (p != Pass::Misled)
                return p;
        }
        if (upper - lower <= 1) {
            const Pass p = unresolved(lower, upper);
            if (p != Pass::Misled || !backtrack())
                return ended_ ? Pass::Ended : p;
            continue;
        }
        // On a line that has misled before, a range whose upper halves keep
        // falling silent is asked whether it answers at all, rather than followed
        // down to its last UID.
        if (doubtful_ && silentSteps == kSilentStepsToCheck) {
            silentSteps = 0;
            r = branch(lower, upper);
            if (ended_)
                return Pass::Ended;
            if (r == BranchSilent) {
                if (!backtrack())
                    return ended_ ? Pass::Ended : Pass::Misled;
                continue;
            }
        }
        r = branch(mid, upper);
        if (ended_)
            return Pass::Ended;
        if (r != BranchSilent) {
            if (depth < int(std::size(passedOver)))
                passedOver[depth++] = {lower, mid};
            lower = mid;
            answeredLower_ = mid;
            answeredUpper_ = upper;
            silentSteps = 0;
        } else {
            upper = mid;
            ++silentSteps;
        }
        mid = (lower + upper) / 2;
    }
}

bool Discovery::searchAll()
{
    int misled = 0;
    int quietSweeps = 0;  // sweeps in a row in which every range was silent
    for (int k = setAsideCount_; !ended_;) {
        if (k < 0) {
            // Every range was silent. A lost reply looks the same, so the run
            // believes it only once a sweep more has found them silent too.
            const int confirmations = doubtful_ ? kDoubtfulConfirmations : kConfirmations;
            if (timeUp_)
                return true;
            if (++quietSweeps > confirmations) {
                // A reply still on its way through a slow system would come now:
                // then the wait grows and the ranges are swept again.
                // A line found empty is believed last: its replies may be held
                // up by a busy system longest at the start.
                const uint64_t listenUs = foundCount() > 0 ? DiscoveryLine::kMaxLateMarginUs : kEmptyLineListenUs;
                if (lastListens_ >= kLateRepeats || !engine_.listenForLateReply(listenUs))
                    return true;
                ++lastListens_;
                lateMarginGrew();
                quietSweeps = 0;
            }
            k = setAsideCount_;
            continue;
        }
        Uid first = kLowest, last = kHighest;
        if (!segment(k, first, last)) {
            --k;  // two set-aside ranges side by side leave nothing between them
            continue;
        }
        const BranchResult r = branch(first, last);
        if (ended_)
            return false;
        if (r == BranchSilent) {
            --k;
            if (k >= 0 && timedOut()) {
                verdict_.cutShort = !verdict_.stoppedByUser;
                return false;
            }
            continue;
        }
        if (quietSweeps > 0)
            doubtful_ = true;  // this range was silent before: a reply was lost
        quietSweeps = 0;
        if (timedOut()) {
            verdict_.cutShort = !verdict_.stoppedByUser;
            return false;
        }
        answeredLower_ = first;
        answeredUpper_ = last;
        switch (treeSearch() ? tree(first, last, r) : narrow(first, last, r)) {
        case Pass::Ended:
            return false;
        case Pass::Misled:
            // A range that keeps answering while nothing in it can be isolated.
            if (!timeUp_ && ++misled >= kMisledPasses) {
                misled = 0;
                setAside(answeredLower_, answeredUpper_, Why::Unresolved);
            }
            break;
        default:
            misled = 0;
            break;
        }
        k = setAsideCount_;  // every pass starts again from the top
    }
    return false;
}

void Discovery::logVerdict()
{
    LogSink& log = engine_.log();
    // A node's table that came incomplete is no time-out of this controller's.
    if (verdict_.cutShort && !verdict_.incompleteTable.empty())
        log.appendLine("Таблица устройств узла неполная, найдены не все устройства: " + verdict_.incompleteTable);
    else if (verdict_.cutShort)
        log.appendLine(kCutShort);
    if (verdict_.setAside)
        log.appendLine("Обнаружение неполное: устройств и диапазонов UID с неразборчивыми ответами — " +
                       std::to_string(verdict_.setAside) + " (см. выше).");
}

DiscoveryVerdict Discovery::Run()
{
    verdict_ = {};
    hooks_.starting();
    {
        std::vector<Uid> table;
        std::string note;
        const int kept = engine_.nodeTable(fullNodeDiscovery, table, note);
        if (kept >= 0)
            return RunFromNodeTable(kept == 1, table, note);
    }
    Clock& clock = engine_.clock();
    engine_.pauseMs(50);
    t0_ = clock.tickMs();
    const bool keep = incremental && list_;
    if (!keep) {
        if (UnMuteDevice(kBroadcastUid) == TxFailed) {
            verdict_.interfaceFailed = true;
            return verdict_;
        }
        engine_.pauseMs(50);
        hooks_.restarted();
    }
    if (table_) {
        table_->deviceCount = 0;
    } else {
        if (!keep)
            list_->clear();
        list_->reserve(1024);  // no allocation while the line is busy, for any usual rig
    }
    muteFailureCount_ = 0;
    unansweredCount_ = 0;
    lastSilent_ = revisitPending_ = false;
    setAsideCount_ = 0;
    namedCount_ = 0;
    ended_ = timeUp_ = doubtful_ = false;
    linkFailures_ = suspects_ = lastListens_ = 0;
    marginGrowths_ = engine_.lateMarginGrowths();
    engine_.takeLateSign();
    engine_.forgetLateAnswers();
    Uid ignored = 0;
    engine_.takeStrayReply(ignored);
    engine_.log().appendLine("Обнаружение RDM устройств.");

    // Ranges set aside for garbled replies get one more search once the rest is
    // silent, while time remains: a device there may have recovered. A range
    // where that lists nobody stays set aside.
    if (searchAll() && !timeUp_ && !timedOut()) {
        SetAside retried[kMaxSetAside];
        int retriedCount = 0, kept = 0;
        for (int i = 0; i < setAsideCount_; ++i) {
            if (setAside_[i].why == Why::MuteFails)
                setAside_[kept++] = setAside_[i];
            else
                retried[retriedCount++] = setAside_[i];
        }
        if (retriedCount > 0) {
            setAsideCount_ = kept;
            const int before = foundCount();
            searchAll();
            for (int i = 0; i < retriedCount; ++i) {
                bool listedThere = false;
                for (int f = before; f < foundCount(); ++f)
                    listedThere |= retried[i].lower <= foundAt(f) && foundAt(f) <= retried[i].upper;
                if (!listedThere)
                    setAside(retried[i].lower, retried[i].upper, retried[i].why);
            }
        }
    }
    using Doubt = DiscoveryVerdict::Doubt;
    for (int i = 0; i < setAsideCount_; ++i)
        verdict_.ranges.push_back({setAside_[i].lower, setAside_[i].upper,
                                   setAside_[i].why == Why::MuteFails ? Doubt::MuteNotAcknowledged
                                   : setAside_[i].why == Why::Garbled ? Doubt::GarbledReplies
                                                                      : Doubt::Unresolved});
    // A device isolated whose mute never came back is on the line, but not listed.
    int unlisted = 0;
    for (int i = 0; i < muteFailureCount_; ++i) {
        const Uid uid = muteFailures_[i].uid;
        if (muteFailures_[i].count < kMuteAttempts && !listed(uid)) {
            engine_.log().appendLine("Устройство " + UidLogText(uid) + " не подтвердило Mute: оно не внесено в список.");
            verdict_.ranges.push_back({uid, uid, Doubt::MuteNotAcknowledged});
            ++unlisted;
        }
    }
    if (!verdict_.cutShort && !verdict_.stoppedByUser && !verdict_.interfaceFailed && !verdict_.listFull)
        unlisted += nameLateDevices();
    verdict_.setAside = setAsideCount_ + suspects_ + unlisted;
    hooks_.ended();
    // That the interface stopped comes first: the summary counts what was found until then.
    if (verdict_.interfaceFailed)
        engine_.log().appendLine(kInterfaceFailed);
    engine_.log().appendLine(SummaryText(clock.tickMs() - t0_, foundCount()));
    logVerdict();
    return verdict_;
}

DiscoveryVerdict Discovery::RunFromNodeTable(bool whole, const std::vector<Uid>& uids, const std::string& note)
{
    t0_ = engine_.clock().tickMs();
    engine_.log().appendLine("Обнаружение RDM устройств.");
    // An incremental discovery adds the devices new to the list, as on a line.
    const bool keep = incremental && list_;
    if (!keep)
        hooks_.restarted();
    if (table_)
        table_->deviceCount = 0;
    else if (!keep)
        list_->clear();
    for (const Uid uid : uids) {
        if (!IsDeviceUid(uid) || listed(uid))
            continue;  // the node's table is taken as it is, but never a broadcast UID or one twice
        if (full()) {
            verdict_.listFull = true;
            break;
        }
        list(uid);
    }
    // A table that did not come whole is a discovery cut short: what came is listed.
    verdict_.cutShort = !whole;
    if (!whole)
        verdict_.incompleteTable = note;
    hooks_.ended();
    engine_.log().appendLine(SummaryText(engine_.clock().tickMs() - t0_, foundCount()));
    logVerdict();
    return verdict_;
}
