#include "rig/responder.h"

#include "rdm/rdm_defs.h"
#include "rdm/discovery_reply.h"
#include "rdm/e120_names.h"
#include "rdm/standard_replies.h"

#include <algorithm>
#include <cstring>

namespace rig {

namespace {

using namespace rdm;

struct Answer {
    uint8_t type = RESPONSE_TYPE_ACK;
    std::vector<uint8_t> data;
};

Answer Ack(std::vector<uint8_t> data = {}) { return {RESPONSE_TYPE_ACK, std::move(data)}; }

Answer Nack(uint16_t reason) { return {RESPONSE_TYPE_NACK_REASON, {uint8_t(reason >> 8), uint8_t(reason)}}; }

std::vector<uint8_t> Text(const std::string& s, size_t limit = 32)
{
    return std::vector<uint8_t>(s.begin(), s.begin() + long(std::min(s.size(), limit)));
}

std::vector<uint8_t> Be16(uint16_t v) { return {uint8_t(v >> 8), uint8_t(v)}; }

// --- handlers, one small function per parameter and command class ---

Answer GetSupported(Responder& r, const Request&) { return Ack(EncodeSupportedParameters(r.model().supportedParameters)); }

Answer GetParameterDescription(Responder& r, const Request& q)
{
    if (q.data.size() != 2)
        return Nack(NR_FORMAT_ERROR);
    const ManufacturerParam* p = r.findParam(ReadBE16(q.data.data()));
    if (!p)
        return Nack(NR_DATA_OUT_OF_RANGE);
    ParameterDescription d;
    d.pid = p->pid;
    d.pdlSize = p->pdlSize;
    d.dataType = p->dataType;
    d.commandClass = p->commandClass;
    d.unit = p->unit;
    d.prefix = p->prefix;
    d.minValue = p->minValue;
    d.maxValue = p->maxValue;
    d.defaultValue = p->defaultValue;
    p->description.copy(d.description, 32);
    return Ack(EncodeParameterDescription(d));
}

Answer GetDeviceInfo(Responder& r, const Request&) { return Ack(r.deviceInfo()); }

Answer GetModelDescription(Responder& r, const Request&) { return Ack(Text(r.model().modelDescription)); }

Answer GetManufacturerLabel(Responder& r, const Request&) { return Ack(Text(r.model().manufacturerLabel)); }

Answer GetSoftwareVersionLabel(Responder& r, const Request&) { return Ack(Text(r.model().softwareVersionLabel)); }

Answer GetDeviceLabel(Responder& r, const Request&) { return Ack(Text(r.deviceLabel)); }

Answer SetDeviceLabel(Responder& r, const Request& q)
{
    if (q.data.size() > 32)
        return Nack(NR_FORMAT_ERROR);
    // Controllers often send a terminating zero; the label ends there.
    auto end = std::find(q.data.begin(), q.data.end(), uint8_t(0));
    r.deviceLabel.assign(q.data.begin(), end);
    return Ack();
}

Answer GetStartAddress(Responder& r, const Request&)
{
    return Ack(Be16(r.footprint() == 0 ? 0xFFFF : r.startAddress));
}

Answer SetStartAddress(Responder& r, const Request& q)
{
    if (q.data.size() != 2)
        return Nack(NR_FORMAT_ERROR);
    uint16_t address = ReadBE16(q.data.data());
    if (address < 1 || address > 512)
        return Nack(NR_DATA_OUT_OF_RANGE);
    r.startAddress = address;
    return Ack();
}

Answer GetPersonality(Responder& r, const Request&)
{
    return Ack({r.personality, uint8_t(r.model().personalities.size())});
}

Answer SetPersonality(Responder& r, const Request& q)
{
    if (q.data.size() != 1)
        return Nack(NR_FORMAT_ERROR);
    if (q.data[0] < 1 || q.data[0] > r.model().personalities.size())
        return Nack(NR_DATA_OUT_OF_RANGE);
    r.personality = q.data[0];
    return Ack();
}

Answer GetPersonalityDescription(Responder& r, const Request& q)
{
    if (q.data.size() != 1)
        return Nack(NR_FORMAT_ERROR);
    if (q.data[0] < 1 || q.data[0] > r.model().personalities.size())
        return Nack(NR_DATA_OUT_OF_RANGE);
    const Personality& p = r.model().personalities[q.data[0] - 1u];
    std::vector<uint8_t> out{q.data[0]};
    std::vector<uint8_t> fp = Be16(p.footprint), text = Text(p.description);
    out.insert(out.end(), fp.begin(), fp.end());
    out.insert(out.end(), text.begin(), text.end());
    return Ack(out);
}

Answer GetIdentify(Responder& r, const Request&) { return Ack({uint8_t(r.identify ? 1 : 0)}); }

Answer SetIdentify(Responder& r, const Request& q)
{
    if (q.data.size() != 1)
        return Nack(NR_FORMAT_ERROR);
    if (q.data[0] > 1)
        return Nack(NR_DATA_OUT_OF_RANGE);
    r.identify = q.data[0] == 1;
    return Ack();
}

std::vector<uint8_t> Be32(uint32_t v) { return {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)}; }

void PutBe16(std::vector<uint8_t>& out, uint16_t v)
{
    out.push_back(uint8_t(v >> 8));
    out.push_back(uint8_t(v));
}

Answer GetSensorDefinition(Responder& r, const Request& q)
{
    if (q.data.size() != 1)
        return Nack(NR_FORMAT_ERROR);
    if (q.data[0] >= r.sensors.size())
        return Nack(NR_DATA_OUT_OF_RANGE);
    const Sensor& s = r.sensors[q.data[0]];
    std::vector<uint8_t> out{uint8_t(q.data[0] + (r.faults.wrongSensorNumber ? 1 : 0)), s.type, s.unit, s.prefix};
    for (int16_t v : {s.rangeMin, s.rangeMax, s.normalMin, s.normalMax})
        PutBe16(out, uint16_t(v));
    out.push_back(0);  // no recorded value, no lowest/highest
    const std::vector<uint8_t> text = Text(s.description);
    out.insert(out.end(), text.begin(), text.end());
    return Ack(out);
}

Answer GetSensorValue(Responder& r, const Request& q)
{
    if (q.data.size() != 1)
        return Nack(NR_FORMAT_ERROR);
    if (q.data[0] >= r.sensors.size())
        return Nack(NR_DATA_OUT_OF_RANGE);
    Sensor& s = r.sensors[q.data[0]];
    std::vector<uint8_t> out{uint8_t(q.data[0] + (r.faults.wrongSensorNumber ? 1 : 0))};
    for (int16_t v : {s.value, int16_t(0), int16_t(0), int16_t(0)})
        PutBe16(out, uint16_t(v));
    // The next reading has drifted, turning back at the ends of the range.
    if (s.drift && (s.value + s.drift > s.rangeMax || s.value + s.drift < s.rangeMin))
        s.drift = int16_t(-s.drift);
    s.value = int16_t(s.value + s.drift);
    return Ack(out);
}

// The waiting messages of the type asked for or more severe, collected: each is
// given once. STATUS_GET_LAST_MESSAGE is not kept here and gives none.
Answer GetStatusMessages(Responder& r, const Request& q)
{
    if (q.data.size() != 1)
        return Nack(NR_FORMAT_ERROR);
    const uint8_t wanted = q.data[0];
    if (wanted != STATUS_NONE && wanted != STATUS_GET_LAST_MESSAGE && wanted != STATUS_ADVISORY &&
        wanted != STATUS_WARNING && wanted != STATUS_ERROR)
        return Nack(NR_DATA_OUT_OF_RANGE);
    std::vector<uint8_t> out;
    if (wanted == STATUS_NONE || wanted == STATUS_GET_LAST_MESSAGE)
        return Ack(out);
    std::deque<StatusMessage> kept;
    constexpr size_t kPerReply = 25;  // 9 bytes each within one reply
    size_t given = 0;
    for (const StatusMessage& m : r.statusQueue) {
        // A cleared message counts as the type it clears.
        const uint8_t severity = StatusSeverity(m.type);
        if (severity < wanted || given == kPerReply) {
            kept.push_back(m);  // for a later request, or one asking for less
            continue;
        }
        PutBe16(out, m.subDevice);
        out.push_back(m.type);
        PutBe16(out, m.id);
        PutBe16(out, uint16_t(m.data1));
        PutBe16(out, uint16_t(m.data2));
        ++given;
    }
    r.statusQueue = kept;
    if (r.faults.malformedStatus)
        out.push_back(0);
    return Ack(out);
}

Answer GetDeviceHours(Responder& r, const Request&) { return Ack(Be32(r.deviceHours)); }
Answer GetLampHours(Responder& r, const Request&) { return Ack(Be32(r.lampHours)); }
Answer GetLampState(Responder& r, const Request&) { return Ack({r.lampState}); }

Answer SetHours(uint32_t& hours, const Request& q)
{
    if (q.data.size() != 4)
        return Nack(NR_FORMAT_ERROR);
    hours = uint32_t(q.data[0]) << 24 | uint32_t(q.data[1]) << 16 | uint32_t(q.data[2]) << 8 | q.data[3];
    return Ack();
}
Answer SetDeviceHours(Responder& r, const Request& q) { return SetHours(r.deviceHours, q); }
Answer SetLampHours(Responder& r, const Request& q) { return SetHours(r.lampHours, q); }

Answer SetLampState(Responder& r, const Request& q)
{
    if (q.data.size() != 1)
        return Nack(NR_FORMAT_ERROR);
    if (q.data[0] > 4 && q.data[0] != 0x7F)
        return Nack(NR_DATA_OUT_OF_RANGE);
    r.lampState = q.data[0];
    return Ack();
}

using Handler = Answer (*)(Responder&, const Request&);

struct PidRow {
    uint16_t pid;
    bool required;  // answered whether or not SUPPORTED_PARAMETERS lists it
    Handler get;
    Handler set;
};

const PidRow kPidTable[] = {
    {SUPPORTED_PARAMETERS, true, GetSupported, nullptr},
    {PARAMETER_DESCRIPTION, true, GetParameterDescription, nullptr},
    {DEVICE_INFO, true, GetDeviceInfo, nullptr},
    {DEVICE_MODEL_DESCRIPTION, false, GetModelDescription, nullptr},
    {MANUFACTURER_LABEL, false, GetManufacturerLabel, nullptr},
    {DEVICE_LABEL, false, GetDeviceLabel, SetDeviceLabel},
    {SOFTWARE_VERSION_LABEL, true, GetSoftwareVersionLabel, nullptr},
    {DMX_PERSONALITY, false, GetPersonality, SetPersonality},
    {DMX_PERSONALITY_DESCRIPTION, false, GetPersonalityDescription, nullptr},
    {DMX_START_ADDRESS, true, GetStartAddress, SetStartAddress},
    {IDENTIFY_DEVICE, true, GetIdentify, SetIdentify},
    {STATUS_MESSAGES, false, GetStatusMessages, nullptr},
    {SENSOR_DEFINITION, false, GetSensorDefinition, nullptr},
    {SENSOR_VALUE, false, GetSensorValue, nullptr},
    {DEVICE_HOURS, false, GetDeviceHours, SetDeviceHours},
    {LAMP_HOURS, false, GetLampHours, SetLampHours},
    {LAMP_STATE, false, GetLampState, SetLampState},
};

Answer HandleManufacturerParam(ManufacturerParam& p, const Request& q)
{
    if (q.commandClass == GET_COMMAND) {
        if (!q.data.empty())
            return Nack(NR_FORMAT_ERROR);
        if (!(p.commandClass & 0x01))
            return Nack(NR_UNSUPPORTED_COMMAND_CLASS);
        return Ack(p.value);
    }
    if (!(p.commandClass & 0x02))
        return Nack(NR_UNSUPPORTED_COMMAND_CLASS);
    const bool text = p.dataType == 2;
    if (text ? q.data.size() > p.pdlSize : q.data.size() != p.pdlSize)
        return Nack(NR_FORMAT_ERROR);
    p.value.assign(q.data.begin(), q.data.end());
    if (text) {
        auto end = std::find(p.value.begin(), p.value.end(), uint8_t(0));
        p.value.erase(end, p.value.end());
    }
    return Ack();
}

Answer HandleStandardSetting(StandardSetting& s, const Request& q)
{
    if (q.data.size() != (q.commandClass == GET_COMMAND ? 0u : 1u))
        return Nack(NR_FORMAT_ERROR);
    if (q.commandClass == GET_COMMAND)
        return Ack({s.value});
    if (q.data[0] > s.max)
        return Nack(NR_DATA_OUT_OF_RANGE);
    s.value = q.data[0];
    return Ack();
}

bool Addressed(Uid destination, Uid self)
{
    return destination == self || destination == kBroadcastUid ||
           (UidDevice(destination) == 0xFFFFFFFFu && UidManufacturer(destination) == UidManufacturer(self));
}

} // namespace

uint32_t DefaultTurnaroundUs(Uid uid)
{
    // Most devices answer well inside the limit, a few near it: 180 µs to 1.98 ms.
    uint64_t h = uid * 0x9E3779B97F4A7C15ull;
    h ^= h >> 29;
    const uint32_t step = uint32_t(h % 100);
    const uint32_t slow = step < 90 ? step * 10 : 900 + (step - 90) * 100;
    return 180 + slow;
}

Responder::Responder(Uid uid, ResponderModel model)
    : turnaroundUs(DefaultTurnaroundUs(uid)), random_(uint32_t(uid ^ (uid >> 32))), uid_(uid), model_(std::move(model))
{
    for (uint16_t i = 0; i < model_.subDeviceCount; ++i)
        subDevices.push_back({uint16_t(1 + i * model_.subDeviceFootprint), false});
    sensors = model_.sensors;
    settings = model_.settings;
}

void Responder::setPowered(bool on)
{
    if (on && !powered)
        muted = false;
    powered = on;
}

bool Responder::powerLost()
{
    ++requestsSeen_;
    if (faults.vanishFor == 0 || requestsSeen_ <= faults.vanishAfter)
        return false;
    if (requestsSeen_ <= faults.vanishAfter + faults.vanishFor)
        return true;
    if (requestsSeen_ == faults.vanishAfter + faults.vanishFor + 1)
        muted = false;  // it starts afresh
    return false;
}

bool Responder::replyLost()
{
    if (repliesSent_ < faults.loseFirst) {
        ++repliesSent_;
        return true;
    }
    ++repliesSent_;
    return faults.loseShare > 0 && std::uniform_real_distribution<double>(0, 1)(random_) < faults.loseShare;
}

uint16_t Responder::footprint() const
{
    if (personality < 1 || personality > model_.personalities.size())
        return 0;
    return model_.personalities[personality - 1u].footprint;
}

ManufacturerParam* Responder::findParam(uint16_t pid)
{
    for (ManufacturerParam& p : model_.manufacturerParams)
        if (p.pid == pid)
            return &p;
    return nullptr;
}

std::vector<uint8_t> Responder::deviceInfo() const
{
    DeviceInfo info;
    info.modelId = model_.modelId;
    info.productCategory = model_.productCategory;
    info.softwareVersionId = model_.softwareVersionId;
    info.footprint = footprint();
    info.personality = personality;
    info.personalityCount = uint8_t(model_.personalities.size());
    info.startAddress = footprint() == 0 ? 0xFFFF : startAddress;
    info.subDeviceCount = model_.subDeviceCount;
    info.sensorCount = model_.sensors.empty() ? model_.sensorCount : uint8_t(model_.sensors.size());
    return EncodeDeviceInfo(info);
}

std::vector<uint8_t> BuildResponse(const Request& q, Uid responder, uint8_t responseType,
                                   const std::vector<uint8_t>& data)
{
    RdmResponse r;
    r.destination = q.source;
    r.source = responder;
    r.transaction = q.transaction;
    r.responseType = responseType;
    r.subDevice = q.subDevice;
    r.commandClass = uint8_t(q.commandClass + 1);
    r.pid = q.pid;
    r.data.assign(data.data(), data.size());
    std::vector<uint8_t> m(kMaxMessageSize);
    m.resize(Encode(r, m.data()));
    return m;
}

namespace {

// DISC_UNIQUE_BRANCH, DISC_MUTE and DISC_UN_MUTE.
std::optional<Reply> HandleDiscovery(Responder& r, const Request& q, bool unicast)
{
    Reply reply;
    if (q.pid == DISC_UNIQUE_BRANCH) {
        if (r.muted || q.data.size() != 12)
            return std::nullopt;
        const Uid lower = ReadUid(q.data.data()), upper = ReadUid(q.data.data() + 6);
        if (r.uid() < lower || r.uid() > upper)
            return std::nullopt;
        reply.discovery = true;
        reply.bytes = rdm::EncodeDiscoveryReply(r.uid(), r.preambleLength);
        return reply;
    }
    if (q.pid != DISC_MUTE && q.pid != DISC_UN_MUTE)
        return std::nullopt;
    if (q.pid == DISC_MUTE && r.faults.ignoreMute)
        return std::nullopt;
    r.muted = q.pid == DISC_MUTE;
    if (!unicast)
        return std::nullopt;
    // Control field: no sub-devices, not a proxy, no boot loader.
    const uint16_t control = r.model().subDeviceCount ? 0x0002 : 0x0000;
    reply.bytes = BuildResponse(q, r.uid(), RESPONSE_TYPE_ACK, Be16(control));
    return reply;
}

// A sub-device's own parameters: DEVICE_INFO, its start address and identify. A SET
// to every sub-device (0xFFFF) is carried out by each; a GET to them all has no answer.
Answer AnswerSubDevice(Responder& r, const Request& q)
{
    const bool all = q.subDevice == 0xFFFF;
    if (all && q.commandClass == GET_COMMAND)
        return Nack(NR_SUB_DEVICE_OUT_OF_RANGE);
    const uint16_t footprint = r.model().subDeviceFootprint;
    if (q.commandClass == GET_COMMAND) {
        const Responder::SubDevice& s = r.subDevices[q.subDevice - 1u];
        switch (q.pid) {
        case DEVICE_INFO: {
            DeviceInfo info;
            info.modelId = r.model().modelId;
            info.productCategory = r.model().productCategory;
            info.softwareVersionId = r.model().softwareVersionId;
            info.footprint = footprint;
            info.personality = 1;
            info.personalityCount = 1;
            info.startAddress = s.startAddress;
            return Ack(EncodeDeviceInfo(info));
        }
        case DMX_START_ADDRESS: return Ack(Be16(s.startAddress));
        case IDENTIFY_DEVICE: return Ack({uint8_t(s.identify ? 1 : 0)});
        case SUPPORTED_PARAMETERS: return Ack(EncodeSupportedParameters({DMX_START_ADDRESS}));
        default: return Nack(NR_UNKNOWN_PID);
        }
    }
    if (q.pid != DMX_START_ADDRESS && q.pid != IDENTIFY_DEVICE)
        return Nack(q.pid == DEVICE_INFO || q.pid == SUPPORTED_PARAMETERS ? NR_UNSUPPORTED_COMMAND_CLASS : NR_UNKNOWN_PID);
    const size_t want = q.pid == DMX_START_ADDRESS ? 2 : 1;
    if (q.data.size() != want)
        return Nack(NR_FORMAT_ERROR);
    const uint16_t value = want == 2 ? ReadBE16(q.data.data()) : q.data[0];
    if (q.pid == DMX_START_ADDRESS ? (value < 1 || value + footprint - 1 > 512) : value > 1)
        return Nack(NR_DATA_OUT_OF_RANGE);
    for (size_t i = 0; i < r.subDevices.size(); ++i) {
        if (!all && i + 1 != q.subDevice)
            continue;
        if (q.pid == DMX_START_ADDRESS)
            r.subDevices[i].startAddress = value;
        else
            r.subDevices[i].identify = value == 1;
    }
    return Ack();
}

// A GET or SET of one parameter, answered as the device's PID table says.
Answer AnswerGetOrSet(Responder& r, const Request& q)
{
    if (q.subDevice != 0 && q.subDevice > r.model().subDeviceCount && q.subDevice != 0xFFFF)
        return Nack(NR_SUB_DEVICE_OUT_OF_RANGE);
    if (q.subDevice != 0)
        return AnswerSubDevice(r, q);
    if (ManufacturerParam* p = q.pid >= 0x8000 && q.pid <= 0xFFDF ? r.findParam(q.pid) : nullptr)
        return HandleManufacturerParam(*p, q);
    for (StandardSetting& setting : r.settings)
        if (setting.pid == q.pid)
            return HandleStandardSetting(setting, q);
    const PidRow* row = nullptr;
    for (const PidRow& candidate : kPidTable)
        if (candidate.pid == q.pid)
            row = &candidate;
    const auto& listed = r.model().supportedParameters;
    if (!row || (!row->required && std::find(listed.begin(), listed.end(), q.pid) == listed.end()))
        return Nack(NR_UNKNOWN_PID);
    Handler h = q.commandClass == GET_COMMAND ? row->get : row->set;
    if (!h)
        return Nack(NR_UNSUPPORTED_COMMAND_CLASS);
    const bool takesData = q.pid == PARAMETER_DESCRIPTION || q.pid == DMX_PERSONALITY_DESCRIPTION ||
                           q.pid == STATUS_MESSAGES || q.pid == SENSOR_DEFINITION || q.pid == SENSOR_VALUE;
    if (q.commandClass == GET_COMMAND && !takesData && !q.data.empty())
        return Nack(NR_FORMAT_ERROR);
    return h(r, q);
}

// The reply faults: a well-formed reply to something else, a broken checksum, a
// reply cut short, noise ahead of it.
void SpoilReply(const Faults& faults, Reply& reply)
{
    if (reply.discovery) {
        if (faults.garbledDiscovery)
            reply.bytes[reply.bytes.size() / 2] ^= 0x11;
        if (faults.badChecksum) {
            // The sum one off, encoded as the rest: each byte is the AND of its pair.
            uint8_t* sum = reply.bytes.data() + reply.bytes.size() - 4;
            const uint16_t wrong = uint16_t(((sum[0] & sum[1]) << 8 | (sum[2] & sum[3])) + 1);
            sum[0] = uint8_t(wrong >> 8) | 0xAA;
            sum[1] = uint8_t(wrong >> 8) | 0x55;
            sum[2] = uint8_t(wrong) | 0xAA;
            sum[3] = uint8_t(wrong) | 0x55;
        }
        if (faults.truncated)
            reply.bytes.resize(reply.bytes.size() - 6);
        return;
    }
    if (faults.wrongSource || faults.wrongTransaction || faults.wrongPid || faults.wrongCommandClass) {
        RdmResponse r;
        if (Decode(reply.bytes.data(), reply.bytes.size(), r) == DecodeError::None) {
            if (faults.wrongSource)
                r.source = r.source + 1;
            if (faults.wrongTransaction)
                r.transaction = uint8_t(r.transaction + 1);
            if (faults.wrongPid)
                r.pid = uint16_t(r.pid + 1);
            if (faults.wrongCommandClass)
                r.commandClass = r.commandClass == GET_COMMAND_RESPONSE ? SET_COMMAND_RESPONSE : GET_COMMAND_RESPONSE;
            reply.bytes.resize(Encode(r, reply.bytes.data()));
        }
    }
    reply.noiseBytes = faults.noiseBytes;
    if (faults.badChecksum)
        reply.bytes.back() = uint8_t(reply.bytes.back() + 1);
    if (faults.truncated)
        reply.bytes.resize(std::max<size_t>(1, reply.bytes.size() / 2));
}

} // namespace

std::optional<Reply> Responder::handle(const Request& q)
{
    if (!powered || powerLost() || faults.silent || !Addressed(q.destination, uid_))
        return std::nullopt;
    const bool unicast = q.destination == uid_;
    std::optional<Reply> reply;
    if (q.commandClass == DISCOVERY_COMMAND) {
        reply = HandleDiscovery(*this, q, unicast);
    } else if (!unicast && q.commandClass == SET_COMMAND) {
        // A SET to every device (or every device of this maker) is carried out,
        // and nobody answers it.
        AnswerGetOrSet(*this, q);
        return std::nullopt;
    } else if (unicast && (q.commandClass == GET_COMMAND || q.commandClass == SET_COMMAND)) {
        constexpr uint16_t kQueuedMessage = 0x0020, kStatusMessages = 0x0030;
        Request answered = q;
        Answer answer;
        if (q.commandClass == GET_COMMAND && q.pid == kQueuedMessage) {
            // The answer an ACK_TIMER promised; with none waiting, an empty status list.
            answered.pid = kStatusMessages;
            if (!queued_.empty()) {
                const HeldAnswer& held = queued_.front();
                answered.pid = held.pid;
                answered.commandClass = held.commandClass;
                answer = {held.type, held.data};
                queued_.pop_front();
            }
        } else if (overflow_ && overflow_->commandClass == q.commandClass && overflow_->pid == q.pid) {
            answer = {RESPONSE_TYPE_ACK, overflow_->data};
            overflow_.reset();
        } else {
            answer = AnswerGetOrSet(*this, q);
            if (faults.ackTimer) {
                if (faults.queuesOtherFirst) {
                    // Something the device had queued before: its identify state.
                    const uint16_t other = q.pid == IDENTIFY_DEVICE ? DMX_START_ADDRESS : IDENTIFY_DEVICE;
                    Request ask = q;
                    ask.commandClass = GET_COMMAND;
                    ask.pid = other;
                    ask.data = {};
                    const Answer earlier = AnswerGetOrSet(*this, ask);
                    queued_.push_back(HeldAnswer{GET_COMMAND, other, earlier.type, earlier.data});
                }
                queued_.push_back(HeldAnswer{q.commandClass, q.pid, answer.type, answer.data});
                answer = {RESPONSE_TYPE_ACK_TIMER, Be16(5)};  // ready in 500 ms
            }
        }
        // A reply carries at most 231 bytes; the rest follows on the same request.
        if (answer.type == RESPONSE_TYPE_ACK && answer.data.size() > kMaxPdl) {
            overflow_ = HeldAnswer{q.commandClass, q.pid, RESPONSE_TYPE_ACK,
                                   std::vector<uint8_t>(answer.data.begin() + kMaxPdl, answer.data.end())};
            answer.data.resize(kMaxPdl);
            answer.type = RESPONSE_TYPE_ACK_OVERFLOW;
        }
        const uint8_t type = faults.undefinedResponseType ? faults.undefinedResponseType : answer.type;
        reply = Reply{BuildResponse(answered, uid_, type, answer.data)};
    }
    if (!reply || replyLost())
        return std::nullopt;
    reply->delayMs = faults.lateMs;
    SpoilReply(faults, *reply);
    return reply;
}

std::vector<uint16_t> StandardSupportedPids()
{
    return {DEVICE_MODEL_DESCRIPTION, MANUFACTURER_LABEL, DEVICE_LABEL, DMX_PERSONALITY,
            DMX_PERSONALITY_DESCRIPTION, DMX_START_ADDRESS};
}

} // namespace rig
