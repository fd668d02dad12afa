#include "rdm/pid_layouts.h"

#include "rdm/pid_names.h"
#include "rdm/uid.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <iterator>
#include <sstream>

namespace {

// Ascending by PID. Discovery PIDs are not read or written by GET and SET.
constexpr PidLayout kLayouts[] = {
    {0x0010, "", "(uid:uid)*", nullptr, nullptr},                                    // PROXIED_DEVICES
    {0x0011, "", "count:u16 list_change:bool", nullptr, nullptr},                    // PROXIED_DEVICE_COUNT
    {0x0015, "", "short_message:u16 length_mismatch:u16 checksum_fail:u16", "", ""}, // COMMS_STATUS
    {0x0020, "status_type:u8", "data:hex", nullptr, nullptr},                        // QUEUED_MESSAGE
    {0x0030, "status_type:u8", "(sub_device:u16 status_type:u8 message_id:u16 data1:s16 data2:s16)*", nullptr,
     nullptr},                                                                        // STATUS_MESSAGES
    {0x0031, "status_id:u16", "description:text", nullptr, nullptr},                 // STATUS_ID_DESCRIPTION
    {0x0032, nullptr, nullptr, "", ""},                                               // CLEAR_STATUS_ID
    {0x0033, "", "status_type:u8", "status_type:u8", ""},                            // SUB_DEVICE_STATUS_REPORT_THRESHOLD
    {0x0050, "", "(pid:pid)*", nullptr, nullptr},                                     // SUPPORTED_PARAMETERS
    {0x0051, "pid:pid",
     "pid:pid pdl_size:u8 data_type:u8 command_class:u8 type:u8 unit:u8 prefix:u8 min_value:u32 max_value:u32 "
     "default_value:u32 description:text",
     nullptr, nullptr},                                                               // PARAMETER_DESCRIPTION
    {0x0060, "",
     "protocol_version:u16 model_id:u16 product_category:u16 software_version_id:u32 footprint:u16 "
     "personality:u8 personality_count:u8 start_address:u16 sub_device_count:u16 sensor_count:u8",
     nullptr, nullptr},                                                               // DEVICE_INFO
    {0x0070, "", "(detail_id:u16)*", nullptr, nullptr},                               // PRODUCT_DETAIL_ID_LIST
    {0x0080, "", "description:text", nullptr, nullptr},                              // DEVICE_MODEL_DESCRIPTION
    {0x0081, "", "label:text", nullptr, nullptr},                                     // MANUFACTURER_LABEL
    {0x0082, "", "label:text", "label:text", ""},                                     // DEVICE_LABEL
    {0x0090, "", "factory_defaults:bool", "", ""},                                    // FACTORY_DEFAULTS
    {0x00A0, "", "(language:lang)*", nullptr, nullptr},                               // LANGUAGE_CAPABILITIES
    {0x00B0, "", "language:lang", "language:lang", ""},                               // LANGUAGE
    {0x00C0, "", "label:text", nullptr, nullptr},                                     // SOFTWARE_VERSION_LABEL
    {0x00C1, "", "version_id:u32", nullptr, nullptr},                                 // BOOT_SOFTWARE_VERSION_ID
    {0x00C2, "", "label:text", nullptr, nullptr},                                     // BOOT_SOFTWARE_VERSION_LABEL
    {0x00E0, "", "personality:u8 personality_count:u8", "personality:u8", ""},       // DMX_PERSONALITY
    {0x00E1, "personality:u8", "personality:u8 footprint:u16 description:text", nullptr,
     nullptr},                                                                        // DMX_PERSONALITY_DESCRIPTION
    {0x00F0, "", "address:u16", "address:u16", ""},                                   // DMX_START_ADDRESS
    {0x0120, "", "(slot:u16 type:u8 label_id:u16)*", nullptr, nullptr},               // SLOT_INFO
    {0x0121, "slot:u16", "slot:u16 description:text", nullptr, nullptr},              // SLOT_DESCRIPTION
    {0x0122, "", "(slot:u16 value:u8)*", nullptr, nullptr},                           // DEFAULT_SLOT_VALUE
    {0x0140, "", "footprint:u16 base_address:u16", "base_address:u16", ""},          // DMX_BLOCK_ADDRESS
    {0x0141, "", "scene:u16 loss_delay:u16 hold_time:u16 level:u8", "scene:u16 loss_delay:u16 hold_time:u16 level:u8",
     ""},                                                                             // DMX_FAIL_MODE
    {0x0142, "", "scene:u16 startup_delay:u16 hold_time:u16 level:u8",
     "scene:u16 startup_delay:u16 hold_time:u16 level:u8", ""},                       // DMX_STARTUP_MODE
    {0x0200, "sensor:u8",
     "sensor:u8 type:u8 unit:u8 prefix:u8 range_min:s16 range_max:s16 normal_min:s16 normal_max:s16 "
     "recorded_support:u8 description:text",
     nullptr, nullptr},                                                               // SENSOR_DEFINITION
    {0x0201, "sensor:u8", "sensor:u8 present:s16 lowest:s16 highest:s16 recorded:s16", "sensor:u8",
     "sensor:u8 present:s16 lowest:s16 highest:s16 recorded:s16"},                    // SENSOR_VALUE
    {0x0202, nullptr, nullptr, "sensor:u8", ""},                                      // RECORD_SENSORS
    {0x0340, "",
     "minimum_level_lower:u16 minimum_level_upper:u16 maximum_level_lower:u16 maximum_level_upper:u16 "
     "curve_count:u8 level_resolution:u8 split_levels:bool",
     nullptr, nullptr},                                                               // DIMMER_INFO
    {0x0341, "", "increasing:u16 decreasing:u16 on_below_minimum:bool",
     "increasing:u16 decreasing:u16 on_below_minimum:bool", ""},                      // MINIMUM_LEVEL
    {0x0342, "", "level:u16", "level:u16", ""},                                       // MAXIMUM_LEVEL
    {0x0343, "", "curve:u8 curve_count:u8", "curve:u8", ""},                          // CURVE
    {0x0344, "curve:u8", "curve:u8 description:text", nullptr, nullptr},              // CURVE_DESCRIPTION
    {0x0345, "", "setting:u8 setting_count:u8", "setting:u8", ""},                    // OUTPUT_RESPONSE_TIME
    {0x0346, "setting:u8", "setting:u8 description:text", nullptr, nullptr},          // ..._DESCRIPTION
    {0x0347, "", "setting:u8 setting_count:u8", "setting:u8", ""},                    // MODULATION_FREQUENCY
    {0x0348, "setting:u8", "setting:u8 frequency:u32 description:text", nullptr, nullptr},
    {0x0400, "", "hours:u32", "hours:u32", ""},                                       // DEVICE_HOURS
    {0x0401, "", "hours:u32", "hours:u32", ""},                                       // LAMP_HOURS
    {0x0402, "", "strikes:u32", "strikes:u32", ""},                                   // LAMP_STRIKES
    {0x0403, "", "state:u8", "state:u8", ""},                                         // LAMP_STATE
    {0x0404, "", "mode:u8", "mode:u8", ""},                                           // LAMP_ON_MODE
    {0x0405, "", "cycles:u32", "cycles:u32", ""},                                     // DEVICE_POWER_CYCLES
    {0x0440, "", "hours:u8", "hours:u8", ""},                                         // BURN_IN
    {0x0500, "", "setting:u8", "setting:u8", ""},                                     // DISPLAY_INVERT
    {0x0501, "", "level:u8", "level:u8", ""},                                         // DISPLAY_LEVEL
    {0x0600, "", "invert:bool", "invert:bool", ""},                                   // PAN_INVERT
    {0x0601, "", "invert:bool", "invert:bool", ""},                                   // TILT_INVERT
    {0x0602, "", "swap:bool", "swap:bool", ""},                                       // PAN_TILT_SWAP
    {0x0603, "", "year:u16 month:u8 day:u8 hour:u8 minute:u8 second:u8",
     "year:u16 month:u8 day:u8 hour:u8 minute:u8 second:u8", ""},                     // REAL_TIME_CLOCK
    {0x0640, "", "pin:u16", "new_pin:u16 current_pin:u16", ""},                       // LOCK_PIN
    {0x0641, "", "state:u8 state_count:u8", "pin:u16 state:u8", ""},                  // LOCK_STATE
    {0x0642, "state:u8", "state:u8 description:text", nullptr, nullptr},              // LOCK_STATE_DESCRIPTION
    {0x1000, "", "identify:bool", "identify:bool", ""},                               // IDENTIFY_DEVICE
    {0x1001, nullptr, nullptr, "reset:u8", ""},                                       // RESET_DEVICE
    {0x1010, "", "state:u8", "state:u8", ""},                                         // POWER_STATE
    {0x1020, "", "active:bool", "test:u8", ""},                                       // PERFORM_SELFTEST
    {0x1021, "test:u8", "test:u8 description:text", nullptr, nullptr},                // SELF_TEST_DESCRIPTION
    {0x1030, nullptr, nullptr, "scene:u16 up_fade:u16 down_fade:u16 wait:u16", ""},  // CAPTURE_PRESET
    {0x1031, "", "mode:u16 level:u8", "mode:u16 level:u8", ""},                       // PRESET_PLAYBACK
    {0x1040, "", "mode:u8", "mode:u8", ""},                                           // IDENTIFY_MODE
    {0x1041, "",
     "level_supported:bool sequence_supported:bool split_times_supported:bool fail_infinite_delay:bool "
     "fail_infinite_hold:bool startup_infinite_hold:bool maximum_scene:u16 min_preset_fade:u16 "
     "max_preset_fade:u16 min_preset_wait:u16 max_preset_wait:u16 min_fail_delay:u16 max_fail_delay:u16 "
     "min_fail_hold:u16 max_fail_hold:u16 min_startup_delay:u16 max_startup_delay:u16 min_startup_hold:u16 "
     "max_startup_hold:u16",
     nullptr, nullptr},                                                               // PRESET_INFO
    {0x1042, "scene:u16", "scene:u16 up_fade:u16 down_fade:u16 wait:u16 programmed:u8",
     "scene:u16 up_fade:u16 down_fade:u16 wait:u16 clear:bool", ""},                  // PRESET_STATUS
    {0x1043, "", "mode:u8", "mode:u8", ""},                                           // PRESET_MERGEMODE
    {0x1044, "", "self_test:bool", "self_test:bool", ""},                             // POWER_ON_SELF_TEST
};

constexpr size_t kMaxText = 32;

enum class Type { U8, U16, U32, S16, Bool, Uid, Pid, Lang, Text, Hex };

struct Field {
    std::string name;
    Type type;
};

struct Parsed {
    std::vector<Field> fixed;
    std::vector<Field> group;  // repeated after the fixed fields, to the end
};

bool TypeOf(const std::string& text, Type& type)
{
    static const std::pair<const char*, Type> kTypes[] = {
        {"u8", Type::U8},     {"u16", Type::U16}, {"u32", Type::U32}, {"s16", Type::S16},   {"bool", Type::Bool},
        {"uid", Type::Uid},   {"pid", Type::Pid}, {"lang", Type::Lang}, {"text", Type::Text}, {"hex", Type::Hex},
    };
    for (const auto& [name, t] : kTypes)
        if (text == name) {
            type = t;
            return true;
        }
    return false;
}

Parsed Parse(const char* layout)
{
    Parsed p;
    std::istringstream in(layout ? layout : "");
    std::string token;
    bool inGroup = false;
    while (in >> token) {
        if (token[0] == '(') {
            inGroup = true;
            token.erase(0, 1);
        }
        bool ends = false;
        if (token.size() >= 2 && token.compare(token.size() - 2, 2, ")*") == 0) {
            ends = true;
            token.resize(token.size() - 2);
        }
        const size_t colon = token.find(':');
        Field f{token.substr(0, colon), Type::Hex};
        TypeOf(token.substr(colon + 1), f.type);
        (inGroup ? p.group : p.fixed).push_back(f);
        if (ends)
            inGroup = false;
    }
    return p;
}

size_t WidthOf(Type t)
{
    switch (t) {
    case Type::U8:
    case Type::Bool: return 1;
    case Type::U16:
    case Type::S16:
    case Type::Pid:
    case Type::Lang: return 2;
    case Type::U32: return 4;
    case Type::Uid: return 6;
    case Type::Text:
    case Type::Hex: return 0;  // the rest
    }
    return 0;
}

uint64_t ReadBE(const uint8_t* b, size_t n)
{
    uint64_t v = 0;
    for (size_t i = 0; i < n; ++i)
        v = (v << 8) | b[i];
    return v;
}

std::string Hex(const uint8_t* b, size_t n)
{
    std::string out;
    char h[4];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(h, sizeof h, "%02X", b[i]);
        out += h;
    }
    return out;
}

// One field from `b` (`n` bytes left); false when it does not fit.
bool DecodeField(const Field& f, const uint8_t* b, size_t n, size_t& used, std::string& value)
{
    const size_t width = WidthOf(f.type);
    used = width ? width : n;
    if (n < width)
        return false;
    char text[32];
    switch (f.type) {
    case Type::U8:
    case Type::U16:
    case Type::U32: value = std::to_string(ReadBE(b, width)); return true;
    case Type::S16: value = std::to_string(int16_t(uint16_t(ReadBE(b, 2)))); return true;
    case Type::Bool:
        if (b[0] > 1)
            return false;
        value = b[0] ? "on" : "off";
        return true;
    case Type::Pid: {
        const uint16_t pid = uint16_t(ReadBE(b, 2));
        std::snprintf(text, sizeof text, "0x%04X", unsigned(pid));
        value = text;
        return true;
    }
    case Type::Uid: value = UidColonText(ReadUid(b)); return true;
    case Type::Lang: value.assign(reinterpret_cast<const char*>(b), 2); return true;
    case Type::Text:
        if (n > kMaxText)
            return false;
        value.assign(reinterpret_cast<const char*>(b), n);
        // Devices pad labels with NULs; the text ends at the first.
        value.resize(std::min(value.size(), value.find('\0')));
        return true;
    case Type::Hex: value = Hex(b, n); return true;
    }
    return false;
}

bool ParseNumber(const std::string& s, int64_t min, int64_t max, int64_t& v)
{
    if (s.empty())
        return false;
    const char* first = s.data();
    const char* last = s.data() + s.size();
    int base = 10;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        first += 2;
        base = 16;
    }
    auto [end, ec] = std::from_chars(first, last, v, base);
    return ec == std::errc() && end == last && v >= min && v <= max;
}

bool ParseBool(std::string s, uint8_t& v)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    if (s == "on" || s == "true" || s == "1" || s == "yes")
        v = 1;
    else if (s == "off" || s == "false" || s == "0" || s == "no")
        v = 0;
    else
        return false;
    return true;
}

void PutBE(uint64_t v, size_t n, std::vector<uint8_t>& out)
{
    for (size_t i = n; i-- > 0;)
        out.push_back(uint8_t(v >> (8 * i)));
}

bool EncodeField(const Field& f, const std::string& s, std::vector<uint8_t>& out, std::string& error)
{
    int64_t v = 0;
    auto bad = [&](const char* what) {
        error = f.name + ": " + what + ", not \"" + s + "\"";
        return false;
    };
    switch (f.type) {
    case Type::U8:
        if (!ParseNumber(s, 0, 0xFF, v))
            return bad("a number 0..255");
        PutBE(uint64_t(v), 1, out);
        return true;
    case Type::U16:
        if (!ParseNumber(s, 0, 0xFFFF, v))
            return bad("a number 0..65535");
        PutBE(uint64_t(v), 2, out);
        return true;
    case Type::U32:
        if (!ParseNumber(s, 0, 0xFFFFFFFFll, v))
            return bad("a number 0..4294967295");
        PutBE(uint64_t(v), 4, out);
        return true;
    case Type::S16:
        if (!ParseNumber(s, -32768, 32767, v))
            return bad("a number -32768..32767");
        PutBE(uint64_t(uint16_t(int16_t(v))), 2, out);
        return true;
    case Type::Bool: {
        uint8_t b = 0;
        if (!ParseBool(s, b))
            return bad("on or off");
        out.push_back(b);
        return true;
    }
    case Type::Pid: {
        const std::optional<uint16_t> pid = ParsePid(s);
        if (!pid)
            return bad("a PID by name or number");
        PutBE(*pid, 2, out);
        return true;
    }
    case Type::Uid: {
        std::string hex;
        for (char c : s)
            if (c != ':')
                hex += c;
        uint64_t uid = 0;
        auto [end, ec] = std::from_chars(hex.data(), hex.data() + hex.size(), uid, 16);
        if (hex.size() != 12 || ec != std::errc() || end != hex.data() + hex.size())
            return bad("a UID such as 7FF0:00000001");
        PutBE(uid, 6, out);
        return true;
    }
    case Type::Lang:
        if (s.size() != 2)
            return bad("two letters");
        out.insert(out.end(), s.begin(), s.end());
        return true;
    case Type::Text:
        if (s.size() > kMaxText)
            return bad("at most 32 characters");
        out.insert(out.end(), s.begin(), s.end());
        return true;
    case Type::Hex: {
        std::string digits;
        for (char c : s)
            if (!std::isspace(static_cast<unsigned char>(c)))
                digits += c;
        if (digits.size() % 2)
            return bad("hex bytes");
        for (size_t i = 0; i < digits.size(); i += 2) {
            uint8_t byte = 0;
            auto [end, ec] = std::from_chars(digits.data() + i, digits.data() + i + 2, byte, 16);
            if (ec != std::errc() || end != digits.data() + i + 2)
                return bad("hex bytes");
            out.push_back(byte);
        }
        return true;
    }
    }
    return false;
}

} // namespace

const PidLayout* PidLayoutsBegin() { return std::begin(kLayouts); }
const PidLayout* PidLayoutsEnd() { return std::end(kLayouts); }

const PidLayout* FindPidLayout(uint16_t pid)
{
    const PidLayout* it = std::lower_bound(std::begin(kLayouts), std::end(kLayouts), pid,
                                           [](const PidLayout& l, uint16_t p) { return l.pid < p; });
    return it != std::end(kLayouts) && it->pid == pid ? it : nullptr;
}

std::optional<std::vector<PidField>> DecodeLayout(const char* layout, const uint8_t* data, size_t size)
{
    const Parsed p = Parse(layout);
    std::vector<PidField> fields;
    size_t at = 0;
    auto take = [&](const Field& f) {
        size_t used = 0;
        std::string value;
        if (!DecodeField(f, data + at, size - at, used, value))
            return false;
        at += used;
        fields.push_back({f.name, value});
        return true;
    };
    for (const Field& f : p.fixed)
        if (!take(f))
            return std::nullopt;
    while (!p.group.empty() && at < size)
        for (const Field& f : p.group)
            if (!take(f))
                return std::nullopt;
    if (at != size)
        return std::nullopt;
    return fields;
}

bool EncodeLayout(const char* layout, const std::vector<std::string>& values, std::vector<uint8_t>& out,
                  std::string& error)
{
    const Parsed p = Parse(layout);
    out.clear();
    size_t next = 0;
    for (const Field& f : p.fixed) {
        if (next == values.size()) {
            error = "missing value for " + f.name + " (" + LayoutSummary(layout) + ")";
            return false;
        }
        if (!EncodeField(f, values[next++], out, error))
            return false;
    }
    const size_t rest = values.size() - next;
    if (p.group.empty() ? rest != 0 : rest % p.group.size() != 0) {
        error = "expected " + LayoutSummary(layout) + ", got " + std::to_string(values.size()) + " values";
        return false;
    }
    while (next < values.size())
        for (const Field& f : p.group)
            if (!EncodeField(f, values[next++], out, error))
                return false;
    if (out.size() > 231) {
        error = "more data than one request carries (231 bytes)";
        return false;
    }
    return true;
}

std::string LayoutSummary(const char* layout)
{
    const Parsed p = Parse(layout);
    std::string out;
    for (const Field& f : p.fixed)
        out += (out.empty() ? "" : " ") + f.name;
    if (!p.group.empty()) {
        std::string group;
        for (const Field& f : p.group)
            group += (group.empty() ? "" : " ") + f.name;
        out += (out.empty() ? "(" : " (") + group + ")...";
    }
    return out.empty() ? "no values" : out;
}
