#include "rdm/health_watch.h"

#include "rdm/e120_names.h"
#include "rdm/parameter_exchange.h"
#include "rdm/pid_layouts.h"
#include "rdm/pid_names.h"
#include "rdm/standard_replies.h"
#include "rdm/text_codec.h"

#include <algorithm>

namespace {

using namespace rdm;

int16_t Be16s(const uint8_t* at) { return int16_t(uint16_t(at[0] << 8 | at[1])); }
uint32_t Be32(const uint8_t* at) { return uint32_t(at[0]) << 24 | uint32_t(at[1]) << 16 | uint32_t(at[2]) << 8 | at[3]; }

const char* LampStateName(uint8_t s)
{
    switch (s) {
    case 0: return "off";
    case 1: return "on";
    case 2: return "strike";
    case 3: return "standby";
    case 4: return "not present";
    case 0x7F: return "error";
    default: return "manufacturer state";
    }
}

} // namespace

const char* HealthChangeName(HealthChange::Kind kind)
{
    switch (kind) {
    case HealthChange::Kind::New: return "new";
    case HealthChange::Kind::Online: return "online";
    case HealthChange::Kind::Offline: return "offline";
    case HealthChange::Kind::Status: return "status";
    case HealthChange::Kind::StatusCleared: return "status cleared";
    case HealthChange::Kind::SensorOutOfRange: return "sensor out of range";
    case HealthChange::Kind::SensorInRange: return "sensor in range";
    case HealthChange::Kind::LampState: return "lamp state";
    case HealthChange::Kind::Problem: return "problem";
    }
    return "?";
}

uint8_t DeviceHealth::worstStatus() const
{
    uint8_t worst = STATUS_NONE;
    for (const StatusEntry& s : active)
        worst = std::max(worst, StatusSeverity(s.type));
    return worst;
}

bool DeviceHealth::sensorOutOfRange() const
{
    return std::any_of(sensors.begin(), sensors.end(), [](const SensorHealth& s) { return s.defined && !s.inNormalRange(); });
}

bool DeviceHealth::supports(uint16_t pid) const
{
    return std::find(supported.begin(), supported.end(), pid) != supported.end();
}

bool HealthWatch::get(DeviceHealth& d, uint16_t pid, const std::vector<uint8_t>& data, std::vector<uint8_t>& out)
{
    const ParameterReply r = ExchangeParameter(engine_, RdmRequest(d.uid, GET_COMMAND, pid, data.data(), data.size()),
                                               ExchangePolicy::OneShot);
    if (r.result == TxFailed)
        interfaceFailed_ = true;
    if (r.result == TxAck) {
        out = r.data.toVector();
        return true;
    }
    const std::string what = PidText(pid);
    if (r.result == TxNotAck && r.responseType == RESPONSE_TYPE_ACK_TIMER) {
        d.problems.push_back(what + ": answered ACK_TIMER");
    } else if (r.result == TxNotAck) {
        const char* reason = NackReasonName(r.nackReason);
        d.problems.push_back(what + ": NACK " + (reason ? reason : std::to_string(r.nackReason)));
    } else if (r.result == TxNoResponse) {
        // It answered its mute a moment ago: gone mid-round, as a device switched off.
        d.vanished = true;
    }
    return false;
}

void HealthWatch::describe(DeviceHealth& d)
{
    std::vector<uint8_t> data;
    DeviceInfo info;
    if (!get(d, DEVICE_INFO, {}, data) || !DecodeDeviceInfo(data.data(), data.size(), info))
        return;
    d.startAddress = info.startAddress;
    d.footprint = info.footprint;
    d.subDeviceCount = info.subDeviceCount;
    d.sensors.assign(info.sensorCount, SensorHealth{});
    for (uint8_t i = 0; i < info.sensorCount; ++i)
        d.sensors[i].number = i;
    if (get(d, SUPPORTED_PARAMETERS, {}, data)) {
        d.supported.resize(data.size() / 2);
        DecodeSupportedParameters(data.data(), data.size(), d.supported.data(), d.supported.size());
    }
    if (d.supports(DEVICE_LABEL) && get(d, DEVICE_LABEL, {}, data))
        d.label = DeviceText(data.data(), data.size());
    if (d.supports(DEVICE_MODEL_DESCRIPTION) && get(d, DEVICE_MODEL_DESCRIPTION, {}, data))
        d.model = DeviceText(data.data(), data.size());
    // Definitions are read once; one that makes no sense is shown as such.
    if (d.supports(SENSOR_DEFINITION)) {
        for (SensorHealth& s : d.sensors) {
            if (!get(d, SENSOR_DEFINITION, {s.number}, data))
                continue;
            if (data.size() < 13 || data.size() > 45 || data[0] != s.number) {
                d.problems.push_back("SENSOR_DEFINITION " + std::to_string(s.number) + ": malformed");
                continue;
            }
            s.type = data[1];
            s.unit = data[2];
            s.prefix = data[3];
            s.rangeMin = Be16s(&data[4]);
            s.rangeMax = Be16s(&data[6]);
            s.normalMin = Be16s(&data[8]);
            s.normalMax = Be16s(&data[10]);
            s.description = DeviceText(data.data() + 13, data.size() - 13);
            if (s.rangeMin > s.rangeMax || s.normalMin > s.normalMax) {
                d.problems.push_back("SENSOR_DEFINITION " + std::to_string(s.number) + ": inverted range");
                continue;
            }
            s.defined = true;
        }
    }
    d.described = true;
}

void HealthWatch::readStatus(DeviceHealth& d, std::vector<HealthChange>& changes)
{
    std::vector<uint8_t> data;
    if (!d.supports(STATUS_MESSAGES) || !get(d, STATUS_MESSAGES, {STATUS_WARNING}, data))
        return;
    if (data.size() % 9) {
        d.problems.push_back("STATUS_MESSAGES: malformed list");
        return;
    }
    for (size_t at = 0; at + 9 <= data.size(); at += 9) {
        StatusEntry s;
        s.subDevice = uint16_t(data[at] << 8 | data[at + 1]);
        s.type = data[at + 2];
        s.id = uint16_t(data[at + 3] << 8 | data[at + 4]);
        s.data1 = Be16s(&data[at + 5]);
        s.data2 = Be16s(&data[at + 7]);
        const uint8_t severity = StatusSeverity(s.type);
        if (severity < STATUS_ADVISORY || severity > STATUS_ERROR) {
            d.problems.push_back("STATUS_MESSAGES: unknown status type " + std::to_string(s.type));
            continue;
        }
        std::vector<uint8_t> text;
        if (d.supports(STATUS_ID_DESCRIPTION) &&
            get(d, STATUS_ID_DESCRIPTION, {uint8_t(s.id >> 8), uint8_t(s.id)}, text) && !text.empty())
            s.text = DeviceText(text.data(), text.size());
        else
            s.text = StatusIdText(s.id, s.data1, s.data2);
        if (s.text.empty())
            s.text = "status " + std::to_string(s.id);
        auto same = [&s](const StatusEntry& e) { return e.subDevice == s.subDevice && e.id == s.id; };
        const bool cleared = s.type >= STATUS_ADVISORY_CLEARED;
        d.active.erase(std::remove_if(d.active.begin(), d.active.end(), same), d.active.end());
        if (!cleared)
            d.active.push_back(s);
        HealthChange c{cleared ? HealthChange::Kind::StatusCleared : HealthChange::Kind::Status, d.uid,
                       StatusSeverityName(s.type) + (cleared ? " cleared: " : ": ") + s.text};
        c.statusType = s.type;
        changes.push_back(c);
    }
}

void HealthWatch::readSensors(DeviceHealth& d, std::vector<HealthChange>& changes)
{
    if (!d.supports(SENSOR_VALUE))
        return;
    std::vector<uint8_t> data;
    for (SensorHealth& s : d.sensors) {
        if (interfaceFailed_)
            return;
        if (!get(d, SENSOR_VALUE, {s.number}, data)) {
            if (d.vanished)
                return;
            continue;
        }
        if (data.size() != 9 || data[0] != s.number) {
            d.problems.push_back("SENSOR_VALUE " + std::to_string(s.number) + ": malformed");
            continue;
        }
        const bool wasNormal = s.inNormalRange();
        const bool first = !s.value;
        s.value = Be16s(&data[1]);
        if (!s.defined)
            continue;
        const bool normal = s.inNormalRange();
        if ((first && !normal) || (!first && normal != wasNormal)) {
            const std::string unit = UnitSymbol(s.unit, s.prefix);
            HealthChange c{normal ? HealthChange::Kind::SensorInRange : HealthChange::Kind::SensorOutOfRange, d.uid,
                           "sensor " + std::to_string(s.number) + " (" + s.description + ") " +
                               std::to_string(*s.value) + (unit.empty() ? "" : " " + unit) +
                               (normal ? ", back in " : ", outside ") + "its normal range " +
                               std::to_string(s.normalMin) + ".." + std::to_string(s.normalMax)};
            c.sensor = s.number;
            c.value = s.value;
            changes.push_back(c);
        }
    }
}

void HealthWatch::readLamp(DeviceHealth& d, std::vector<HealthChange>& changes)
{
    std::vector<uint8_t> data;
    if (d.supports(LAMP_HOURS) && get(d, LAMP_HOURS, {}, data) && data.size() == 4)
        d.lampHours = Be32(data.data());
    if (d.supports(DEVICE_HOURS) && get(d, DEVICE_HOURS, {}, data) && data.size() == 4)
        d.deviceHours = Be32(data.data());
    if (d.supports(LAMP_STATE) && get(d, LAMP_STATE, {}, data) && data.size() == 1) {
        if (d.lampState && *d.lampState != data[0])
            changes.push_back({HealthChange::Kind::LampState, d.uid,
                               std::string("lamp ") + LampStateName(*d.lampState) + " -> " + LampStateName(data[0])});
        d.lampState = data[0];
    }
}

bool HealthWatch::poll(DeviceHealth& d, std::vector<HealthChange>& changes)
{
    // Online is what answers its DISC_MUTE, which also keeps it out of the next
    // incremental discovery; behind an interface that discovers its line itself,
    // what answers a GET of DEVICE_INFO, which every device must. The exchange
    // itself asks again when a reply was on its way but lost.
    RdmResponse reply;
    const TxResult r = engine_.lineDiscoversItself()
                           ? engine_.RdmTransaction({d.uid, GET_COMMAND, DEVICE_INFO}, reply)
                           : engine_.RdmTransaction({d.uid, DISCOVERY_COMMAND, DISC_MUTE}, reply);
    if (r == TxFailed) {
        interfaceFailed_ = true;
        return false;
    }
    if (r == TxAck || r == TxNotAck)
        d.missed = 0;
    else
        ++d.missed;
    // Offline only once it has missed two polls in a row.
    const bool online = d.missed == 0 || (d.online && d.missed < 2);
    if (online != d.online)
        changes.push_back({online ? HealthChange::Kind::Online : HealthChange::Kind::Offline, d.uid,
                           online ? "online" : "offline"});
    d.online = online;
    return d.missed == 0;
}

void HealthWatch::follow(const std::vector<Uid>& listed)
{
    first_ = false;
    for (const Uid uid : listed) {
        if (std::find(found_.begin(), found_.end(), uid) != found_.end())
            continue;
        found_.push_back(uid);
        DeviceHealth d;
        d.uid = uid;
        devices_.push_back(d);
    }
}

std::vector<HealthChange> HealthWatch::round(const std::function<bool()>& stopRequested)
{
    std::vector<HealthChange> changes;
    if (interfaceFailed_)
        return changes;
    const size_t known = found_.size();
    if (discover) {
        Discovery discovery(engine_, found_,
                            DiscoveryHooks{[] {}, [] {}, [] {}, [](Uid) {},
                                           [this] { return discoveryTimeoutSeconds; }, stopRequested});
        discovery.search = search;
        discovery.incremental = !first_;
        verdict_ = discovery.Run();
        first_ = false;
        if (verdict_.interfaceFailed) {
            interfaceFailed_ = true;
            return changes;
        }
    }
    for (size_t i = known; i < found_.size(); ++i) {
        DeviceHealth d;
        d.uid = found_[i];
        d.online = true;  // it just answered
        devices_.push_back(d);
        changes.push_back({HealthChange::Kind::New, d.uid, "new"});
    }
    for (DeviceHealth& d : devices_) {
        if (interfaceFailed_ || (stopRequested && stopRequested()))
            break;
        d.problems.clear();
        d.vanished = false;
        if (!poll(d, changes))
            continue;
        if (!d.described)
            describe(d);
        if (!d.vanished)
            readStatus(d, changes);
        if (!d.vanished)
            readSensors(d, changes);
        if (!d.vanished)
            readLamp(d, changes);
        if (d.vanished) {
            // Not a fault of the run: asked again next round, and offline once that
            // poll goes unanswered too.
            ++d.missed;
            continue;
        }
        for (const std::string& p : d.problems)
            changes.push_back({HealthChange::Kind::Problem, d.uid, p});
    }
    return changes;
}
