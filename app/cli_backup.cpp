// backup and restore: every settable parameter of a line's devices kept in a file,
// and written back to the same devices or to replacements, each value read back.
#include "app/cli_commands.h"

#include "app/cli_device.h"
#include "patch/backup_file.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <unistd.h>

namespace cli {
namespace {

// Each device as it is reached, on a terminal.
DeviceProgress Progress(const char* what)
{
    return [what](size_t done, size_t total, Uid uid) {
        if (isatty(STDERR_FILENO))
            std::fprintf(stderr, "%s %zu of %zu: %s\n", what, done + 1, total, UidColonText(uid).c_str());
    };
}

// The devices a command works on: those given with --uids, or those a discovery finds.
int Devices(Session& s, std::vector<Uid>& uids)
{
    if (!s.options.uids.empty()) {
        uids = s.options.uids;
        return kDone;
    }
    return RunDiscovery(s, uids, false);
}

void PrintLines(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines)
        text += line + "\n";
    PrintText(text);
}

// Who was interrupted, said once: the interface or a stop.
int RunEnd(const BackupRun& run, Problems& problems)
{
    if (run.interfaceFailed)
        problems.note(0, 0, ParameterReply{});
    return run.stopped ? int(kStopped) : int(kDone);
}

} // namespace

int Backup(const Options& o, const std::string& file)
{
    Session s(o);
    if (!s.open())
        return kNoInterface;
    std::vector<Uid> uids;
    const int verdict = Devices(s, uids);
    BackupRun run{StopRequested};
    const std::vector<SavedDevice> devices = BackUpDevices(s.engine, uids, run, Progress("reading"));
    // What was read is kept even when not all of it came: the file says what is missing.
    std::string why;
    if (!SaveBackupFile(file, devices, why)) {
        std::fprintf(stderr, "vantrell-cli: %s: %s; nothing was kept\n", Quoted(file).c_str(), why.c_str());
        return kUsage;
    }
    for (const SavedDevice& d : devices)
        for (const MissingValue& m : d.missing)
            s.problems.add(d.uid, m.name + ": " + m.why);
    const int end = RunEnd(run, s.problems);
    if (o.format == Format::Table) {
        PrintLines(BackupReportLines(devices));
    } else {
        Table t({"uid", "model", "kept", "missing"});
        for (const SavedDevice& d : devices) {
            std::string missing;
            for (const MissingValue& m : d.missing)
                missing += (missing.empty() ? "" : "; ") + m.name + ": " + m.why;
            t.add({UidColonText(d.uid), d.read ? Cell::number(d.model) : Cell(), Cell::number(long(d.values.size())),
                   missing.empty() ? Cell() : Cell(missing)});
        }
        t.print(o.format);
    }
    std::fprintf(stderr, "vantrell-cli: %zu device(s) kept in %s%s\n", devices.size(), file.c_str(),
                 devices.size() < uids.size() ? " (stopped before the rest)" : "");
    return Combined(verdict != kDone ? verdict : end, s.problems);
}

int Restore(const Options& o, const std::string& file)
{
    std::vector<SavedDevice> saved;
    std::string why;
    if (!LoadBackupFile(file, saved, why))
        return ValueError(Quoted(file) + ": " + why);
    auto inFile = [&saved](Uid uid) {
        return std::any_of(saved.begin(), saved.end(), [uid](const SavedDevice& d) { return d.uid == uid; });
    };
    // Where each kept device goes: itself, or the replacement a --map names.
    std::map<Uid, Uid> target;
    for (const SavedDevice& d : saved)
        target[d.uid] = d.uid;
    for (const auto& [from, to] : o.maps) {
        if (!inFile(from))
            return ValueError("--map " + UidColonText(from) + "=…: " + UidColonText(from) + " is not in " + file);
        target[from] = to;
    }
    std::map<Uid, Uid> takenBy;
    for (const auto& [from, to] : target) {
        if (!o.uids.empty() && std::find(o.uids.begin(), o.uids.end(), from) == o.uids.end())
            continue;
        if (takenBy.count(to))
            return ValueError(UidColonText(to) + " would take the settings of both " + UidColonText(takenBy[to]) +
                              " and " + UidColonText(from) + "; map one of them elsewhere");
        takenBy[to] = from;
    }
    for (const Uid uid : o.uids)
        if (!inFile(uid))
            return ValueError(UidColonText(uid) + " is not in " + file);

    Session s(o);
    if (!s.open())
        return kNoInterface;
    // Which devices are there: a discovery, unless --uids names them.
    std::vector<Uid> present;
    int verdict = kDone;
    if (o.uids.empty()) {
        verdict = RunDiscovery(s, present, false);
    } else {
        for (const Uid uid : o.uids)
            present.push_back(target[uid]);
    }
    std::vector<const SavedDevice*> work;
    for (const SavedDevice& d : saved) {
        if (!o.uids.empty() && std::find(o.uids.begin(), o.uids.end(), d.uid) == o.uids.end())
            continue;
        const Uid to = target[d.uid];
        if (std::find(present.begin(), present.end(), to) == present.end()) {
            s.problems.add(to, d.uid == to ? "in the backup, not on the line"
                                           : "takes the settings of " + UidColonText(d.uid) + ", not on the line");
            continue;
        }
        if (!d.read || d.values.empty()) {
            std::fprintf(stderr, "vantrell-cli: %s: the backup keeps no value of it\n", UidColonText(d.uid).c_str());
            continue;
        }
        work.push_back(&d);
    }

    // Another maker or model takes nothing unless forced, and then only what both share;
    // every pair is checked before anything is written.
    BackupRun run{StopRequested};
    std::map<Uid, bool> onlyShared;
    std::set<Uid> unchecked;
    for (const SavedDevice* d : work) {
        const Uid to = target[d->uid];
        if (to == d->uid || !run.goOn())
            continue;
        rdm::DeviceInfo info;
        if (!ReadInfo(s, to, info)) {
            unchecked.insert(to);  // said among the problems; nothing is written to it
            continue;
        }
        const std::string mismatch = CloneMismatch(*d, to, info);
        if (!mismatch.empty() && !o.force)
            return ValueError(mismatch + "; --force writes only the parameters both support. Nothing was written");
        onlyShared[to] = !mismatch.empty();
    }

    std::vector<RestoreTarget> targets;
    for (const SavedDevice* d : work)
        if (!unchecked.count(target[d->uid]))
            targets.push_back({d, target[d->uid], onlyShared[target[d->uid]]});
    const RestoreRun done =
        RestoreDevices(s.engine, targets, o.dryRun, run, Progress(o.dryRun ? "comparing" : "restoring"));
    const std::vector<RestoreStep>& steps = done.steps;
    for (const RestoreStep& step : steps)
        if (!step.matches())
            s.problems.add(step.uid, step.name + ": " + OutcomeText(step));
    for (const Uid uid : done.notReached)
        s.problems.add(uid, run.interfaceFailed ? "nothing written: the interface failed"
                                                : "nothing written: the restore was stopped");
    const int end = RunEnd(run, s.problems);
    if (o.format == Format::Table) {
        PrintLines(RestoreReportLines(steps));
    } else {
        Table t({"uid", "pid", "parameter", "kept", "before", "result"});
        for (const RestoreStep& step : steps)
            t.add({UidColonText(step.uid), Cell::number(step.pid), step.name, step.saved,
                   step.before.empty() ? Cell() : Cell(step.before), OutcomeText(step)});
        t.print(o.format);
    }
    if (o.dryRun)
        std::fprintf(stderr, "vantrell-cli: a dry run: no SET was sent\n");
    return Combined(verdict != kDone ? verdict : end, s.problems);
}

} // namespace cli
