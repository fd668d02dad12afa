#include "patch/rig_backup.h"

#include "rdm/described_layout.h"
#include "rdm/pid_names.h"
#include "rdm/standard_replies.h"
#include "rdm/text_codec.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>

namespace {

// Settable, but not settings: counters of the device's life, its clock, actions
// and states that pass (a lamp struck, a standby, a preset playing, identify).
constexpr uint16_t kNotKept[] = {0x0400 /* DEVICE_HOURS */, 0x0401 /* LAMP_HOURS */, 0x0402 /* LAMP_STRIKES */,
                                 0x0403 /* LAMP_STATE */,   0x0405 /* DEVICE_POWER_CYCLES */,
                                 0x0440 /* BURN_IN */,      0x0603 /* REAL_TIME_CLOCK */,
                                 0x1000 /* IDENTIFY_DEVICE */, 0x1010 /* POWER_STATE */,
                                 0x1031 /* PRESET_PLAYBACK */};

// The GET reply's fields that a SET takes, in the SET's order; nothing when the
// SET takes a field the GET does not give.
std::optional<std::vector<PidField>> AsSetFields(const std::vector<PidField>& got, const std::string& setLayout)
{
    const LayoutNames names = LayoutFieldNames(setLayout.c_str());
    if (!names.group.empty())
        return std::nullopt;
    std::vector<PidField> out;
    for (const std::string& name : names.fixed) {
        const auto f = std::find_if(got.begin(), got.end(),
                                    [&](const PidField& g) { return g.name == name && g.repetition < 0; });
        if (f == got.end())
            return std::nullopt;
        out.push_back(*f);
    }
    return out;
}

std::string NackText(const ParameterReply& r)
{
    const char* reason = NackReasonName(r.nackReason);
    char number[16];
    std::snprintf(number, sizeof number, "0x%04X", unsigned(r.nackReason));
    return std::string("refused (") + (reason ? reason : number) + ")";
}

std::string FailureText(const ParameterReply& r)
{
    if (r.result == TxNotAck)
        return NackText(r);
    if (r.timerExpired)
        return "answer never ready";
    return r.result == TxFailed ? "interface failed" : "no reply";
}

// A GET is asked again when its reply is lost: a busy line drops one now and
// then, and a value a backup missed is one a restore cannot put back. Reading
// changes nothing, so asking twice is safe; a SET is never repeated.
constexpr int kGetAttempts = 3;

ParameterReply Get(RdmEngine& engine, Uid uid, uint16_t pid, const std::vector<uint8_t>& data, BackupRun& run)
{
    ParameterReply r;
    for (int attempt = 0; attempt < kGetAttempts; ++attempt) {
        r = ExchangeParameter(engine, uid, rdm::GET_COMMAND, pid, data);
        run.interfaceFailed = run.interfaceFailed || r.result == TxFailed;
        if (r.result != TxNoResponse || r.timerExpired || !run.goOn())
            break;
    }
    return r;
}

// What the backup keeps of a parameter and how its value is read.
struct Plan {
    uint16_t pid = 0;
    std::string name;
    bool manufacturer = false;
    std::string getLayout, setLayout;
    bool limited = false;
    int64_t min = 0, max = 0;
};

// A manufacturer's parameter by its description: kept when it can be both read and set.
enum class Described { Kept, NotKept, Failed };
Described Describe(RdmEngine& engine, Uid uid, uint16_t pid, Plan& plan, std::string& why, BackupRun& run)
{
    const ParameterReply r = Get(engine, uid, rdm::PARAMETER_DESCRIPTION, {uint8_t(pid >> 8), uint8_t(pid)}, run);
    rdm::ParameterDescription d;
    if (r.result != TxAck) {
        why = FailureText(r) + " to PARAMETER_DESCRIPTION";
        return Described::Failed;
    }
    if (!rdm::DecodeParameterDescription(r.data.data(), r.data.size(), d) || d.pid != pid) {
        why = "PARAMETER_DESCRIPTION does not fit its layout";
        return Described::Failed;
    }
    if ((d.commandClass & 0x03) != 0x03)
        return Described::NotKept;  // read-only, or an action that cannot be read back
    const DescribedLayout layout = LayoutFromDescription(d);
    plan = {pid, Cp1251ToUtf8(layout.name), true, layout.layout, layout.layout, layout.numeric && layout.limited,
            layout.min, layout.max};
    return Described::Kept;
}

// The value as the device holds it now, in the SET's fields.
std::optional<std::vector<PidField>> ReadValue(RdmEngine& engine, Uid uid, const Plan& plan, std::string& why,
                                               BackupRun& run)
{
    const ParameterReply r = Get(engine, uid, plan.pid, {}, run);
    if (r.result != TxAck) {
        why = FailureText(r);
        return std::nullopt;
    }
    const auto got = DecodeLayout(plan.getLayout.c_str(), r.data.data(), r.data.size());
    const auto value = got ? AsSetFields(*got, plan.setLayout) : std::nullopt;
    if (!value && got && plan.manufacturer)
        return got;
    if (!value)
        why = "does not fit its layout";
    return value;
}

// Standard parameters first by the order a restore needs: personality, then start address.
int RestoreRank(uint16_t pid)
{
    return pid == rdm::DMX_PERSONALITY ? 0 : pid == rdm::DMX_START_ADDRESS ? 1 : 2;
}

std::optional<Plan> StandardPlan(uint16_t pid)
{
    if (!KeptStandardPid(pid))
        return std::nullopt;
    const PidLayout* l = FindPidLayout(pid);
    return Plan{pid, l->name, false, l->getReply, l->setRequest};
}

std::vector<uint16_t> SupportedPids(RdmEngine& engine, Uid uid, std::string& why, BackupRun& run)
{
    const ParameterReply r = Get(engine, uid, rdm::SUPPORTED_PARAMETERS, {}, run);
    if (r.result != TxAck) {
        why = FailureText(r);
        return {};
    }
    std::vector<uint16_t> pids(r.data.size() / 2);
    pids.resize(rdm::DecodeSupportedParameters(r.data.data(), r.data.size(), pids.data(), pids.size()));
    return pids;
}

bool ReadDeviceInfo(RdmEngine& engine, Uid uid, rdm::DeviceInfo& info, std::string& why, BackupRun& run)
{
    const ParameterReply r = Get(engine, uid, rdm::DEVICE_INFO, {}, run);
    if (r.result == TxAck && rdm::DecodeDeviceInfo(r.data.data(), r.data.size(), info))
        return true;
    why = r.result == TxAck ? "does not fit its layout" : FailureText(r);
    return false;
}

std::vector<uint8_t> Encoded(const std::string& layout, const std::vector<PidField>& fields, std::string& error)
{
    std::vector<std::string> values;
    for (const PidField& f : fields)
        values.push_back(f.value);
    std::vector<uint8_t> data;
    if (!EncodeLayout(layout.c_str(), values, data, error))
        data.clear();
    return data;
}

} // namespace

bool BackupRun::goOn()
{
    if (!stopped && stopRequested && stopRequested())
        stopped = true;
    return !stopped && !interfaceFailed;
}

bool WithinLimits(const SavedValue& value, std::string& why)
{
    bool limited = value.limited;
    int64_t min = value.min, max = value.max;
    if (!value.manufacturer && (value.pid == rdm::DMX_START_ADDRESS || value.pid == rdm::DMX_PERSONALITY)) {
        limited = true;
        min = 1;
        max = value.pid == rdm::DMX_START_ADDRESS ? 512 : 255;
    }
    if (!limited)
        return true;
    for (const PidField& f : value.fields) {
        const long long n = std::strtoll(f.value.c_str(), nullptr, 10);
        if (f.kind == PidField::Kind::Number && (n < min || n > max)) {
            why = f.name + " " + f.value + " is outside " + std::to_string(min) + ".." + std::to_string(max);
            return false;
        }
    }
    return true;
}

bool KeptStandardPid(uint16_t pid)
{
    if (std::find(std::begin(kNotKept), std::end(kNotKept), pid) != std::end(kNotKept))
        return false;
    const PidLayout* l = FindPidLayout(pid);
    if (!l || !l->getRequest || *l->getRequest || !l->setRequest || !*l->setRequest)
        return false;
    const auto names = LayoutFieldNames(l->getReply);
    const auto set = LayoutFieldNames(l->setRequest);
    if (!set.group.empty() || !names.group.empty())
        return false;
    return std::all_of(set.fixed.begin(), set.fixed.end(), [&](const std::string& n) {
        return std::find(names.fixed.begin(), names.fixed.end(), n) != names.fixed.end();
    });
}

SavedDevice BackUpDevice(RdmEngine& engine, Uid uid, BackupRun& run)
{
    SavedDevice device;
    device.uid = uid;
    std::string why;
    rdm::DeviceInfo info;
    if (!ReadDeviceInfo(engine, uid, info, why, run)) {
        device.missing.push_back({rdm::DEVICE_INFO, "DEVICE_INFO", why});
        return device;
    }
    device.read = true;
    device.model = info.modelId;
    device.softwareVersion = info.softwareVersionId;
    device.personality = info.personality;
    device.footprint = info.footprint;
    device.startAddress = info.startAddress;

    // What names the device, for the one who reads the file.
    const std::pair<uint16_t, std::string*> labels[] = {{rdm::MANUFACTURER_LABEL, &device.manufacturerLabel},
                                                        {rdm::DEVICE_MODEL_DESCRIPTION, &device.modelDescription},
                                                        {rdm::SOFTWARE_VERSION_LABEL, &device.softwareVersionLabel}};
    for (const auto& [pid, text] : labels) {
        if (!run.goOn())
            return device;
        const ParameterReply r = Get(engine, uid, pid, {}, run);
        if (r.result == TxAck)
            *text = DeviceText(r.data.data(), r.data.size());
        else if (!(r.result == TxNotAck && r.nackReason == rdm::NR_UNKNOWN_PID))
            device.missing.push_back({pid, PidText(pid), FailureText(r)});
    }
    if (!run.goOn())
        return device;

    std::vector<Plan> plans;
    // A start address is required of a device with a footprint, and not listed.
    if (info.footprint)
        plans.push_back(*StandardPlan(rdm::DMX_START_ADDRESS));
    const std::vector<uint16_t> supported = SupportedPids(engine, uid, why, run);
    if (supported.empty() && !why.empty())
        device.missing.push_back({rdm::SUPPORTED_PARAMETERS, "SUPPORTED_PARAMETERS", why});
    for (const uint16_t pid : supported) {
        if (!run.goOn())
            return device;
        if (pid == rdm::DMX_START_ADDRESS && info.footprint)
            continue;
        if (const auto plan = StandardPlan(pid)) {
            plans.push_back(*plan);
        } else if (pid >= 0x8000) {
            Plan plan;
            const Described d = Describe(engine, uid, pid, plan, why, run);
            if (d == Described::Kept)
                plans.push_back(plan);
            else if (d == Described::Failed)
                device.missing.push_back({pid, PidText(pid), why});
        }
    }
    std::stable_sort(plans.begin(), plans.end(),
                     [](const Plan& a, const Plan& b) { return RestoreRank(a.pid) < RestoreRank(b.pid); });
    for (const Plan& plan : plans) {
        if (!run.goOn())
            return device;
        const auto value = ReadValue(engine, uid, plan, why, run);
        if (value)
            device.values.push_back(
                {plan.pid, plan.name, plan.manufacturer, plan.setLayout, *value, plan.limited, plan.min, plan.max});
        else
            device.missing.push_back({plan.pid, plan.name, why});
    }
    return device;
}

std::vector<SavedDevice> BackUpDevices(RdmEngine& engine, const std::vector<Uid>& uids, BackupRun& run,
                                       const DeviceProgress& progress)
{
    std::vector<SavedDevice> devices;
    for (size_t i = 0; i < uids.size() && run.goOn(); ++i) {
        if (progress)
            progress(i, uids.size(), uids[i]);
        devices.push_back(BackUpDevice(engine, uids[i], run));
    }
    return devices;
}

RestoreRun RestoreDevices(RdmEngine& engine, const std::vector<RestoreTarget>& targets, bool dryRun, BackupRun& run,
                          const DeviceProgress& progress)
{
    RestoreRun out;
    for (size_t i = 0; i < targets.size(); ++i) {
        const RestoreTarget& t = targets[i];
        if (!run.goOn()) {
            out.notReached.push_back(t.uid);
            continue;
        }
        if (progress)
            progress(i, targets.size(), t.uid);
        const std::vector<RestoreStep> steps = RestoreDevice(engine, *t.saved, t.uid, dryRun, t.onlyShared, run);
        out.steps.insert(out.steps.end(), steps.begin(), steps.end());
    }
    return out;
}

bool RestoreStep::matches() const
{
    return outcome == RestoreOutcome::Unchanged || outcome == RestoreOutcome::Restored ||
           outcome == RestoreOutcome::WouldChange || outcome == RestoreOutcome::Skipped;
}

std::string CloneMismatch(const SavedDevice& saved, Uid target, const rdm::DeviceInfo& targetInfo)
{
    char text[160];
    if (target.manufacturer() != saved.manufacturer()) {
        std::snprintf(text, sizeof text, "%s is of another maker (%04X) than %s (%04X)", target.colonText().c_str(),
                      unsigned(target.manufacturer()), saved.uid.colonText().c_str(), unsigned(saved.manufacturer()));
        return text;
    }
    if (targetInfo.modelId != saved.model) {
        std::snprintf(text, sizeof text, "%s is another model (0x%04X) than %s (0x%04X)", target.colonText().c_str(),
                      unsigned(targetInfo.modelId), saved.uid.colonText().c_str(), unsigned(saved.model));
        return text;
    }
    return {};
}

std::vector<RestoreStep> RestoreDevice(RdmEngine& engine, const SavedDevice& saved, Uid target, bool dryRun,
                                       bool onlyShared, BackupRun& run)
{
    std::vector<RestoreStep> steps;
    std::string why;
    rdm::DeviceInfo info;
    if (!ReadDeviceInfo(engine, target, info, why, run)) {
        steps.push_back({target, rdm::DEVICE_INFO, "DEVICE_INFO", "", "", RestoreOutcome::NoReply, why});
        if (why.rfind("refused", 0) == 0)
            steps.back().outcome = RestoreOutcome::Refused;
        return steps;
    }
    const std::vector<uint16_t> supported = run.goOn() ? SupportedPids(engine, target, why, run) : std::vector<uint16_t>{};
    auto lists = [&](uint16_t pid) {
        return (pid == rdm::DMX_START_ADDRESS && info.footprint) ||
               std::find(supported.begin(), supported.end(), pid) != supported.end();
    };
    std::vector<const SavedValue*> ordered;
    for (const SavedValue& v : saved.values)
        ordered.push_back(&v);
    std::stable_sort(ordered.begin(), ordered.end(),
                     [](const SavedValue* a, const SavedValue* b) { return RestoreRank(a->pid) < RestoreRank(b->pid); });

    // Once stopped, each value not yet written is named as such.
    auto notWritten = [&](size_t from) {
        for (size_t k = from; k < ordered.size(); ++k)
            steps.push_back({target, ordered[k]->pid, ordered[k]->name, ValueText(ordered[k]->fields), "",
                             RestoreOutcome::NotWritten, run.interfaceFailed ? "the interface failed" : "stopped"});
    };
    for (size_t i = 0; i < ordered.size(); ++i) {
        const SavedValue* value = ordered[i];
        if (!run.goOn()) {
            notWritten(i);
            break;
        }
        RestoreStep step{target, value->pid, value->name, ValueText(value->fields), "", RestoreOutcome::NoReply, ""};
        auto done = [&](RestoreOutcome outcome, std::string detail = {}) {
            step.outcome = outcome;
            step.detail = std::move(detail);
            steps.push_back(step);
        };
        if (!lists(value->pid)) {
            done(onlyShared ? RestoreOutcome::Skipped : RestoreOutcome::NotSupported,
                 "not supported by " + target.colonText());
            continue;
        }
        // How this device reads and writes it, which must be how the kept value was read.
        Plan plan;
        if (value->manufacturer) {
            std::string problem;
            const Described d = Describe(engine, target, value->pid, plan, problem, run);
            if (d == Described::Failed) {
                done(problem.rfind("refused", 0) == 0 ? RestoreOutcome::Refused : RestoreOutcome::NoReply, problem);
                continue;
            }
            if (d == Described::NotKept || plan.setLayout != value->layout) {
                done(onlyShared ? RestoreOutcome::Skipped : RestoreOutcome::NotSupported,
                     "described otherwise by " + target.colonText());
                continue;
            }
        } else if (const auto standard = StandardPlan(value->pid)) {
            plan = *standard;
        } else {
            done(RestoreOutcome::BadValue, "not a parameter a backup keeps");
            continue;
        }
        std::string error;
        SavedValue asTargetTakes = *value;
        asTargetTakes.limited = plan.limited;
        asTargetTakes.min = plan.min;
        asTargetTakes.max = plan.max;
        const std::vector<uint8_t> wanted = Encoded(plan.setLayout, value->fields, error);
        if (error.empty() && WithinLimits(*value, error))
            WithinLimits(asTargetTakes, error);
        if (!error.empty()) {
            done(RestoreOutcome::BadValue, error);
            continue;
        }
        auto current = [&](std::string& text) -> std::optional<std::vector<uint8_t>> {
            const auto fields = ReadValue(engine, target, plan, why, run);
            if (!fields)
                return std::nullopt;
            text = ValueText(*fields);
            std::string ignored;
            return Encoded(plan.setLayout, *fields, ignored);
        };
        const auto before = current(step.before);
        if (!before) {
            done(why.rfind("refused", 0) == 0 ? RestoreOutcome::Refused : RestoreOutcome::NoReply,
                 why + " to the GET before");
            continue;
        }
        if (*before == wanted) {
            done(RestoreOutcome::Unchanged);
            continue;
        }
        if (dryRun) {
            done(RestoreOutcome::WouldChange);
            continue;
        }
        if (!run.goOn()) {
            notWritten(i);
            break;
        }
        // A SET is sent once: its repetition need not leave the device as one would.
        const ParameterReply set = ExchangeParameter(engine, target, rdm::SET_COMMAND, value->pid, wanted);
        run.interfaceFailed = run.interfaceFailed || set.result == TxFailed;
        if (set.result == TxNotAck || set.result == TxFailed || set.timerExpired) {
            done(set.result == TxNotAck ? RestoreOutcome::Refused : RestoreOutcome::NoReply, FailureText(set));
            continue;
        }
        // Without an acknowledgement (lost on the line), the read back tells whether it took.
        const bool acknowledged = set.result == TxAck;
        std::string after;
        const auto readBack = run.goOn() ? current(after) : std::nullopt;
        if (!readBack)
            done(RestoreOutcome::NoReply, std::string(acknowledged ? "acknowledged" : "no reply to the SET") +
                                              ", not read back: " + (why.empty() ? "stopped" : why));
        else if (*readBack != wanted)
            done(acknowledged ? RestoreOutcome::ReadsBack : RestoreOutcome::NoReply,
                 std::string(acknowledged ? "" : "no reply to the SET; ") + "reads back " + after);
        else
            done(RestoreOutcome::Restored, acknowledged ? "" : "its acknowledgement was lost; reads back as kept");
    }
    return steps;
}

std::string ValueText(const std::vector<PidField>& fields)
{
    auto one = [](const PidField& f) {
        const std::string text = Cp1251ToUtf8(f.value);
        return f.kind == PidField::Kind::Text ? "\"" + text + "\"" : text;
    };
    if (fields.size() == 1 && fields[0].repetition < 0)
        return one(fields[0]);
    // Fixed fields as name=value; a repeated field as a list, a repeated group as
    // a list of its fields.
    std::string out, items;
    for (size_t i = 0; i < fields.size(); ++i) {
        const PidField& f = fields[i];
        if (f.repetition < 0) {
            out += (out.empty() ? "" : " ") + f.name + "=" + one(f);
            continue;
        }
        const bool first = i == 0 || fields[i - 1].repetition != f.repetition;
        const bool single = (i + 1 == fields.size() || fields[i + 1].repetition != f.repetition) && first;
        items += (items.empty() ? "" : first ? ", " : " ") + (single ? one(f) : f.name + "=" + one(f));
    }
    if (!items.empty() || (fields.size() && fields.back().repetition >= 0))
        out += (out.empty() ? "[" : " [") + items + "]";
    return out;
}

std::string OutcomeText(const RestoreStep& step)
{
    switch (step.outcome) {
    case RestoreOutcome::Unchanged: return "unchanged";
    case RestoreOutcome::Restored: return step.detail.empty() ? "restored" : "restored (" + step.detail + ")";
    case RestoreOutcome::WouldChange: return "would change";
    case RestoreOutcome::Skipped: return "skipped: " + step.detail;
    case RestoreOutcome::Refused: return step.detail.empty() ? "refused" : step.detail;
    case RestoreOutcome::NoReply: return step.detail.empty() ? "no reply" : step.detail;
    case RestoreOutcome::ReadsBack: return step.detail;
    case RestoreOutcome::NotSupported: return step.detail;
    case RestoreOutcome::BadValue: return "not written: " + step.detail;
    case RestoreOutcome::NotWritten: return "not written: " + step.detail;
    }
    return "";
}

namespace {

// Rows of cells as aligned lines, the last column as long as it is.
std::vector<std::string> Aligned(const std::vector<std::vector<std::string>>& rows)
{
    std::vector<size_t> widths;
    auto length = [](const std::string& s) {
        size_t n = 0;
        for (const unsigned char c : s)
            n += (c & 0xC0) != 0x80;  // characters, not bytes
        return n;
    };
    for (const auto& row : rows)
        for (size_t i = 0; i < row.size(); ++i) {
            widths.resize(std::max(widths.size(), row.size()));
            widths[i] = std::max(widths[i], length(row[i]));
        }
    std::vector<std::string> lines;
    for (const auto& row : rows) {
        std::string line;
        for (size_t i = 0; i < row.size(); ++i) {
            line += row[i];
            if (i + 1 < row.size())
                line += std::string(widths[i] - length(row[i]) + 2, ' ');
        }
        lines.push_back(line);
    }
    return lines;
}

} // namespace

std::vector<std::string> RestoreReportLines(const std::vector<RestoreStep>& steps)
{
    std::vector<std::vector<std::string>> rows{{"uid", "parameter", "kept", "before", "result"}};
    for (const RestoreStep& s : steps)
        rows.push_back({s.uid.colonText(), EscapeControls(s.name), EscapeControls(s.saved), EscapeControls(s.before),
                        EscapeControls(OutcomeText(s))});
    return Aligned(rows);
}

std::vector<std::string> BackupReportLines(const std::vector<SavedDevice>& devices)
{
    std::vector<std::vector<std::string>> rows{{"uid", "model", "kept", "missing"}};
    for (const SavedDevice& d : devices) {
        std::string missing;
        for (const MissingValue& m : d.missing)
            missing += (missing.empty() ? "" : "; ") + m.name + ": " + m.why;
        char model[16];
        std::snprintf(model, sizeof model, "0x%04X", unsigned(d.model));
        const std::string shown = d.modelDescription.empty() ? model : d.modelDescription;
        rows.push_back({d.uid.colonText(), d.read ? EscapeControls(shown) : "", std::to_string(d.values.size()),
                        EscapeControls(missing)});
    }
    return Aligned(rows);
}
