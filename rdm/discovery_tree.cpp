#include "rdm/discovery.h"

int Discovery::setAsideWithin(Uid lower, Uid upper) const
{
    for (int i = 0; i < setAsideCount_; ++i)
        if (setAside_[i].lower <= upper && lower <= setAside_[i].upper)
            return i;
    return -1;
}

Discovery::Pass Discovery::tree(Uid first, Uid last, BranchResult r)
{
    struct Range {
        Uid lower;
        Uid upper;
        bool asked;      // its answer is `answer`, not yet acted on
        BranchResult answer;
        Uid lastSingle;  // the device it isolated before, muted since
        int asks;        // times asked again after a mute
    };
    // Depth first: at most one pending sibling per level, plus the pieces
    // beside a set-aside range.
    Range pending[2 * 49 + 2 * kMaxSetAside];
    int depth = 0;
    pending[depth++] = {first, last, true, r, kBroadcastUid, 0};
    bool found = false;
    auto push = [&](const Range& range) {
        if (depth < int(std::size(pending)))
            pending[depth++] = range;
    };
    while (depth > 0) {
        if (timedOut()) {
            timeUp_ = true;
            break;
        }
        const Range range = pending[--depth];
        const int aside = setAsideWithin(range.lower, range.upper);
        if (aside >= 0) {
            // Only the parts beside it are searched, the upper one first.
            const SetAside& s = setAside_[aside];
            if (range.lower < s.lower)
                push({range.lower, s.lower - 1, false, BranchSilent, kBroadcastUid, 0});
            if (s.upper < range.upper)
                push({s.upper + 1, range.upper, false, BranchSilent, kBroadcastUid, 0});
            continue;
        }
        const BranchResult answer = range.asked ? range.answer : branch(range.lower, range.upper);
        if (ended_)
            return Pass::Ended;
        if (revisitPending_) {
            revisitPending_ = false;
            if (first <= revisit_.lower && revisit_.upper <= last)
                push({revisit_.lower, revisit_.upper, false, BranchSilent, kBroadcastUid, 0});
        }
        if (answer == BranchSilent)
            continue;
        if (answer == BranchSingle) {
            const Uid uid = lastFoundUid;
            // A device that answers again after acknowledging its mute does not
            // stay muted: it counts as a failed mute, and is set aside in the end.
            const Pass p = uid == range.lastSingle && muteFailed(uid) ? Pass::SetAside : isolated(uid);
            if (p == Pass::Ended)
                return p;
            found |= p == Pass::Found;
            if (p == Pass::Misled && range.lower != range.upper) {
                // Nobody carries that UID: the sum of replies that collided. The
                // range is searched as a collision.
                const Uid mid = range.lower + (range.upper - range.lower) / 2;
                push({range.lower, mid, false, BranchSilent, kBroadcastUid, 0});
                push({mid + 1, range.upper, false, BranchSilent, kBroadcastUid, 0});
                continue;
            }
            // Asked again: the devices still un-muted in it answer now. The
            // range the search began with is asked again by the next sweep.
            if (range.lower != first || range.upper != last) {
                if (range.asks < kMaxTreeAsks)
                    push({range.lower, range.upper, false, BranchSilent, uid, range.asks + 1});
            }
            continue;
        }
        if (range.lower == range.upper) {
            const Pass p = garbled(range.lower);
            if (p == Pass::Ended)
                return p;
            found |= p == Pass::Found;
            continue;
        }
        const Uid mid = range.lower + (range.upper - range.lower) / 2;
        push({range.lower, mid, false, BranchSilent, kBroadcastUid, 0});
        push({mid + 1, range.upper, false, BranchSilent, kBroadcastUid, 0});
    }
    return found ? Pass::Found : Pass::Misled;
}
