#include "rdm/pid_names.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace {

// Ascending by PID.
constexpr PidName kNames[] = {
    {0x0001, "DISC_UNIQUE_BRANCH"},
    {0x0002, "DISC_MUTE"},
    {0x0003, "DISC_UN_MUTE"},
    {0x0010, "PROXIED_DEVICES"},
    {0x0011, "PROXIED_DEVICE_COUNT"},
    {0x0015, "COMMS_STATUS"},
    {0x0020, "QUEUED_MESSAGE"},
    {0x0030, "STATUS_MESSAGES"},
    {0x0031, "STATUS_ID_DESCRIPTION"},
    {0x0032, "CLEAR_STATUS_ID"},
    {0x0033, "SUB_DEVICE_STATUS_REPORT_THRESHOLD"},
    {0x0050, "SUPPORTED_PARAMETERS"},
    {0x0051, "PARAMETER_DESCRIPTION"},
    {0x0060, "DEVICE_INFO"},
    {0x0070, "PRODUCT_DETAIL_ID_LIST"},
    {0x0080, "DEVICE_MODEL_DESCRIPTION"},
    {0x0081, "MANUFACTURER_LABEL"},
    {0x0082, "DEVICE_LABEL"},
    {0x0090, "FACTORY_DEFAULTS"},
    {0x00A0, "LANGUAGE_CAPABILITIES"},
    {0x00B0, "LANGUAGE"},
    {0x00C0, "SOFTWARE_VERSION_LABEL"},
    {0x00C1, "BOOT_SOFTWARE_VERSION_ID"},
    {0x00C2, "BOOT_SOFTWARE_VERSION_LABEL"},
    {0x00E0, "DMX_PERSONALITY"},
    {0x00E1, "DMX_PERSONALITY_DESCRIPTION"},
    {0x00F0, "DMX_START_ADDRESS"},
    {0x0120, "SLOT_INFO"},
    {0x0121, "SLOT_DESCRIPTION"},
    {0x0122, "DEFAULT_SLOT_VALUE"},
    {0x0140, "DMX_BLOCK_ADDRESS"},
    {0x0141, "DMX_FAIL_MODE"},
    {0x0142, "DMX_STARTUP_MODE"},
    {0x0200, "SENSOR_DEFINITION"},
    {0x0201, "SENSOR_VALUE"},
    {0x0202, "RECORD_SENSORS"},
    {0x0340, "DIMMER_INFO"},
    {0x0341, "MINIMUM_LEVEL"},
    {0x0342, "MAXIMUM_LEVEL"},
    {0x0343, "CURVE"},
    {0x0344, "CURVE_DESCRIPTION"},
    {0x0345, "OUTPUT_RESPONSE_TIME"},
    {0x0346, "OUTPUT_RESPONSE_TIME_DESCRIPTION"},
    {0x0347, "MODULATION_FREQUENCY"},
    {0x0348, "MODULATION_FREQUENCY_DESCRIPTION"},
    {0x0400, "DEVICE_HOURS"},
    {0x0401, "LAMP_HOURS"},
    {0x0402, "LAMP_STRIKES"},
    {0x0403, "LAMP_STATE"},
    {0x0404, "LAMP_ON_MODE"},
    {0x0405, "DEVICE_POWER_CYCLES"},
    {0x0440, "BURN_IN"},
    {0x0500, "DISPLAY_INVERT"},
    {0x0501, "DISPLAY_LEVEL"},
    {0x0600, "PAN_INVERT"},
    {0x0601, "TILT_INVERT"},
    {0x0602, "PAN_TILT_SWAP"},
    {0x0603, "REAL_TIME_CLOCK"},
    {0x0640, "LOCK_PIN"},
    {0x0641, "LOCK_STATE"},
    {0x0642, "LOCK_STATE_DESCRIPTION"},
    {0x1000, "IDENTIFY_DEVICE"},
    {0x1001, "RESET_DEVICE"},
    {0x1010, "POWER_STATE"},
    {0x1020, "PERFORM_SELFTEST"},
    {0x1021, "SELF_TEST_DESCRIPTION"},
    {0x1030, "CAPTURE_PRESET"},
    {0x1031, "PRESET_PLAYBACK"},
    {0x1040, "IDENTIFY_MODE"},
    {0x1041, "PRESET_INFO"},
    {0x1042, "PRESET_STATUS"},
    {0x1043, "PRESET_MERGEMODE"},
    {0x1044, "POWER_ON_SELF_TEST"},
};

bool SameName(std::string_view a, const char* b)
{
    size_t i = 0;
    for (; i < a.size() && b[i]; ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) != b[i])
            return false;
    return i == a.size() && !b[i];
}

} // namespace

const PidName* PidNamesBegin() { return std::begin(kNames); }
const PidName* PidNamesEnd() { return std::end(kNames); }

const PidName* FindPidName(uint16_t pid)
{
    const PidName* at = std::lower_bound(std::begin(kNames), std::end(kNames), pid,
                                         [](const PidName& entry, uint16_t value) { return entry.pid < value; });
    return at != std::end(kNames) && at->pid == pid ? at : nullptr;
}

std::optional<uint16_t> ParsePid(std::string_view text)
{
    for (const PidName& entry : kNames)
        if (SameName(text, entry.name))
            return entry.pid;
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || value > 0xFFFF)
        return std::nullopt;
    return uint16_t(value);
}
