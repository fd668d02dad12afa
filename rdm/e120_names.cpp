#include "rdm/e120_names.h"

#include "rdm/rdm_defs.h"

#include <cctype>
#include <cstring>

namespace {

struct Code {
    uint16_t code;
    const char* name;
};

template <size_t N>
const char* Find(const Code (&table)[N], uint32_t code)
{
    for (const Code& c : table)
        if (c.code == code)
            return c.name;
    return nullptr;
}

const Code kCategories[] = {
    {0x0000, "NOT_DECLARED"},
    {0x0100, "FIXTURE"},
    {0x0101, "FIXTURE_FIXED"},
    {0x0102, "FIXTURE_MOVING_YOKE"},
    {0x0103, "FIXTURE_MOVING_MIRROR"},
    {0x01FF, "FIXTURE_OTHER"},
    {0x0200, "FIXTURE_ACCESSORY"},
    {0x0201, "FIXTURE_ACCESSORY_COLOR"},
    {0x0202, "FIXTURE_ACCESSORY_YOKE"},
    {0x0203, "FIXTURE_ACCESSORY_MIRROR"},
    {0x0204, "FIXTURE_ACCESSORY_EFFECT"},
    {0x0205, "FIXTURE_ACCESSORY_BEAM"},
    {0x02FF, "FIXTURE_ACCESSORY_OTHER"},
    {0x0300, "PROJECTOR"},
    {0x0301, "PROJECTOR_FIXED"},
    {0x0302, "PROJECTOR_MOVING_YOKE"},
    {0x0303, "PROJECTOR_MOVING_MIRROR"},
    {0x03FF, "PROJECTOR_OTHER"},
    {0x0400, "ATMOSPHERIC"},
    {0x0401, "ATMOSPHERIC_EFFECT"},
    {0x0402, "ATMOSPHERIC_PYRO"},
    {0x04FF, "ATMOSPHERIC_OTHER"},
    {0x0500, "DIMMER"},
    {0x0501, "DIMMER_AC_INCANDESCENT"},
    {0x0502, "DIMMER_AC_FLUORESCENT"},
    {0x0503, "DIMMER_AC_COLDCATHODE"},
    {0x0504, "DIMMER_AC_NONDIM"},
    {0x0505, "DIMMER_AC_ELV"},
    {0x0506, "DIMMER_AC_OTHER"},
    {0x0507, "DIMMER_DC_LEVEL"},
    {0x0508, "DIMMER_DC_PWM"},
    {0x0509, "DIMMER_CS_LED"},
    {0x05FF, "DIMMER_OTHER"},
    {0x0600, "POWER"},
    {0x0601, "POWER_CONTROL"},
    {0x0602, "POWER_SOURCE"},
    {0x06FF, "POWER_OTHER"},
    {0x0700, "SCENIC"},
    {0x0701, "SCENIC_DRIVE"},
    {0x07FF, "SCENIC_OTHER"},
    {0x0800, "DATA"},
    {0x0801, "DATA_DISTRIBUTION"},
    {0x0802, "DATA_CONVERSION"},
    {0x08FF, "DATA_OTHER"},
    {0x0900, "AV"},
    {0x0901, "AV_AUDIO"},
    {0x0902, "AV_VIDEO"},
    {0x09FF, "AV_OTHER"},
    {0x0A00, "MONITOR"},
    {0x0A01, "MONITOR_ACLINEPOWER"},
    {0x0A02, "MONITOR_DCPOWER"},
    {0x0A03, "MONITOR_ENVIRONMENTAL"},
    {0x0AFF, "MONITOR_OTHER"},
    {0x7000, "CONTROL"},
    {0x7001, "CONTROL_CONTROLLER"},
    {0x7002, "CONTROL_BACKUPDEVICE"},
    {0x70FF, "CONTROL_OTHER"},
    {0x7100, "TEST"},
    {0x7101, "TEST_EQUIPMENT"},
    {0x71FF, "TEST_OTHER"},
    {0x7FFF, "OTHER"},
};

const Code kStatusTypes[] = {
    {0x00, "NONE"},     {0x01, "GET_LAST_MESSAGE"}, {0x02, "ADVISORY"},         {0x03, "WARNING"},
    {0x04, "ERROR"},    {0x12, "ADVISORY_CLEARED"}, {0x13, "WARNING_CLEARED"}, {0x14, "ERROR_CLEARED"},
};

const Code kUnits[] = {
    {0x00, "NONE"},
    {0x01, "CENTIGRADE"},
    {0x02, "VOLTS_DC"},
    {0x03, "VOLTS_AC_PEAK"},
    {0x04, "VOLTS_AC_RMS"},
    {0x05, "AMPERE_DC"},
    {0x06, "AMPERE_AC_PEAK"},
    {0x07, "AMPERE_AC_RMS"},
    {0x08, "HERTZ"},
    {0x09, "OHM"},
    {0x0A, "WATT"},
    {0x0B, "KILOGRAM"},
    {0x0C, "METERS"},
    {0x0D, "METERS_SQUARED"},
    {0x0E, "METERS_CUBED"},
    {0x0F, "KILOGRAMMES_PER_METER_CUBED"},
    {0x10, "METERS_PER_SECOND"},
    {0x11, "METERS_PER_SECOND_SQUARED"},
    {0x12, "NEWTON"},
    {0x13, "JOULE"},
    {0x14, "PASCAL"},
    {0x15, "SECOND"},
    {0x16, "DEGREE"},
    {0x17, "STERADIAN"},
    {0x18, "CANDELA"},
    {0x19, "LUMEN"},
    {0x1A, "LUX"},
    {0x1B, "IRE"},
    {0x1C, "BYTE"},
};

const Code kPrefixes[] = {
    {0x00, "NONE"},  {0x01, "DECI"},  {0x02, "CENTI"}, {0x03, "MILLI"}, {0x04, "MICRO"}, {0x05, "NANO"},
    {0x06, "PICO"},  {0x07, "FEMTO"}, {0x08, "ATTO"},  {0x09, "ZEPTO"}, {0x0A, "YOCTO"}, {0x11, "DECA"},
    {0x12, "HECTO"}, {0x13, "KILO"},  {0x14, "MEGA"},  {0x15, "GIGA"},  {0x16, "TERRA"}, {0x17, "PETA"},
    {0x18, "EXA"},   {0x19, "ZETTA"}, {0x1A, "YOTTA"},
};

const Code kDataTypes[] = {
    {0x00, "NOT_DEFINED"},   {0x01, "BIT_FIELD"},     {0x02, "ASCII"},         {0x03, "UNSIGNED_BYTE"},
    {0x04, "SIGNED_BYTE"},   {0x05, "UNSIGNED_WORD"}, {0x06, "SIGNED_WORD"},   {0x07, "UNSIGNED_DWORD"},
    {0x08, "SIGNED_DWORD"},
};

} // namespace

const char* ProductCategoryCodeName(uint16_t code) { return Find(kCategories, code); }
const char* StatusTypeName(uint8_t code) { return Find(kStatusTypes, code); }
const char* UnitName(uint8_t code) { return Find(kUnits, code); }

const char* PrefixName(uint8_t code) { return Find(kPrefixes, code); }

const char* DataTypeName(uint8_t code)
{
    if (code >= 0x80 && code <= 0xDF)
        return "MANUFACTURER_SPECIFIC";
    return Find(kDataTypes, code);
}

uint8_t StatusSeverity(uint8_t type)
{
    return type >= rdm::STATUS_ADVISORY_CLEARED ? uint8_t(type - (rdm::STATUS_ADVISORY_CLEARED - rdm::STATUS_ADVISORY))
                                                : type;
}

std::string StatusSeverityName(uint8_t type)
{
    const uint8_t severity = StatusSeverity(type);
    if (severity < rdm::STATUS_ADVISORY || severity > rdm::STATUS_ERROR)
        return "none";
    std::string name = StatusTypeName(severity);
    for (char& c : name)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return name;
}

std::optional<uint8_t> StatusSeverityByName(const std::string& name)
{
    for (uint8_t type = rdm::STATUS_ADVISORY; type <= rdm::STATUS_ERROR; ++type)
        if (StatusSeverityName(type) == name)
            return type;
    return std::nullopt;
}
const char* CodeNameForField(const char* field, uint32_t value)
{
    if (!std::strcmp(field, "product_category"))
        return value <= 0xFFFF ? ProductCategoryCodeName(uint16_t(value)) : nullptr;
    if (value > 0xFF)
        return nullptr;
    if (!std::strcmp(field, "status_type"))
        return StatusTypeName(uint8_t(value));
    if (!std::strcmp(field, "unit"))
        return UnitName(uint8_t(value));
    if (!std::strcmp(field, "prefix"))
        return PrefixName(uint8_t(value));
    if (!std::strcmp(field, "data_type"))
        return DataTypeName(uint8_t(value));
    return nullptr;
}

std::string StatusIdText(uint16_t id, int16_t data1, int16_t data2)
{
    static const Code kTexts[] = {
        {0x0001, "%L failed calibration"},
        {0x0002, "%L sensor not found"},
        {0x0003, "%L sensor always on"},
        {0x0011, "%L lamp doused"},
        {0x0012, "%L lamp failed to strike"},
        {0x0021, "Sensor %d over temp at %d degrees C"},
        {0x0022, "Sensor %d under temp at %d degrees C"},
        {0x0023, "Sensor %d out of range"},
        {0x0031, "Phase %d over voltage at %d V"},
        {0x0032, "Phase %d under voltage at %d V"},
        {0x0033, "Phase %d over current at %d A"},
        {0x0034, "Phase %d under current at %d A"},
        {0x0035, "Phase %d is at %d degrees"},
        {0x0036, "Phase %d error"},
        {0x0037, "%d Amps"},
        {0x0038, "%d Volts"},
        {0x0041, "No dimmer"},
        {0x0042, "Tripped breaker"},
        {0x0043, "%d Watts"},
        {0x0044, "Dimmer failure"},
        {0x0045, "Panic mode"},
        {0x0050, "%L ready"},
        {0x0051, "%L not ready"},
        {0x0052, "%L low fluid"},
    };
    const char* pattern = Find(kTexts, id);
    if (!pattern)
        return {};
    // %d takes the data values in turn; %L names what data1 points at.
    std::string out;
    int next = 0;
    for (const char* c = pattern; *c; ++c) {
        if (c[0] == '%' && (c[1] == 'd' || c[1] == 'L')) {
            const int16_t v = next++ == 0 ? data1 : data2;
            out += c[1] == 'd' ? std::to_string(v) : "Slot " + std::to_string(v);
            ++c;
        } else {
            out += *c;
        }
    }
    return out;
}

const char* SensorTypeName(uint8_t code)
{
    static const Code kTypes[] = {
        {0x00, "TEMPERATURE"}, {0x01, "VOLTAGE"},  {0x02, "CURRENT"},    {0x03, "FREQUENCY"},
        {0x04, "RESISTANCE"},  {0x05, "POWER"},    {0x06, "MASS"},       {0x07, "LENGTH"},
        {0x08, "AREA"},        {0x09, "VOLUME"},   {0x0A, "DENSITY"},    {0x0B, "VELOCITY"},
        {0x0C, "ACCELERATION"}, {0x0D, "FORCE"},   {0x0E, "ENERGY"},     {0x0F, "PRESSURE"},
        {0x10, "TIME"},        {0x11, "ANGLE"},    {0x12, "POSITION_X"}, {0x13, "POSITION_Y"},
        {0x14, "POSITION_Z"},  {0x15, "ANGULAR_VELOCITY"}, {0x16, "LUMINOUS_INTENSITY"},
        {0x17, "LUMINOUS_FLUX"}, {0x18, "ILLUMINANCE"}, {0x19, "CHROMINANCE_RED"},
        {0x1A, "CHROMINANCE_GREEN"}, {0x1B, "CHROMINANCE_BLUE"}, {0x1C, "CONTACTS"},
        {0x1D, "MEMORY"},      {0x1E, "ITEMS"},    {0x1F, "HUMIDITY"},   {0x20, "COUNTER_16BIT"},
        {0x7F, "OTHER"},
    };
    return Find(kTypes, code);
}

std::string UnitSymbol(uint8_t unit, uint8_t prefix)
{
    static const Code kSymbols[] = {
        {0x01, "°C"}, {0x02, "V DC"}, {0x03, "V peak"}, {0x04, "V RMS"}, {0x05, "A DC"}, {0x06, "A peak"},
        {0x07, "A RMS"}, {0x08, "Hz"}, {0x09, "Ω"}, {0x0A, "W"}, {0x0B, "kg"}, {0x0C, "m"}, {0x0D, "m²"},
        {0x0E, "m³"}, {0x0F, "kg/m³"}, {0x10, "m/s"}, {0x11, "m/s²"}, {0x12, "N"}, {0x13, "J"}, {0x14, "Pa"},
        {0x15, "s"}, {0x16, "°"}, {0x17, "sr"}, {0x18, "cd"}, {0x19, "lm"}, {0x1A, "lx"}, {0x1B, "IRE"},
        {0x1C, "B"},
    };
    static const Code kPrefixes[] = {
        {0x01, "d"}, {0x02, "c"}, {0x03, "m"}, {0x04, "µ"}, {0x05, "n"}, {0x06, "p"}, {0x07, "f"}, {0x08, "a"},
        {0x09, "z"}, {0x0A, "y"}, {0x11, "da"}, {0x12, "h"}, {0x13, "k"}, {0x14, "M"}, {0x15, "G"}, {0x16, "T"},
        {0x17, "P"}, {0x18, "E"}, {0x19, "Z"}, {0x1A, "Y"},
    };
    const char* symbol = Find(kSymbols, unit);
    if (!symbol)
        return {};
    const char* p = Find(kPrefixes, prefix);
    return std::string(p ? p : "") + symbol;
}
