#include "rig/fixtures.h"

#include "rdm/rdm_defs.h"

namespace rig {

namespace {

ManufacturerParam Param(uint16_t pid, const char* name, uint8_t type, uint8_t pdlSize, std::vector<uint8_t> value,
                        uint8_t commandClass = 0x03, uint32_t minValue = 0, uint32_t maxValue = 255)
{
    ManufacturerParam p;
    p.pid = pid;
    p.description = name;
    p.dataType = type;
    p.pdlSize = pdlSize;
    p.value = std::move(value);
    p.commandClass = commandClass;
    p.minValue = minValue;
    p.maxValue = maxValue;
    return p;
}

std::vector<uint16_t> Supported(const ResponderModel& m)
{
    std::vector<uint16_t> pids = StandardSupportedPids();
    for (const StandardSetting& s : m.settings)
        pids.push_back(s.pid);
    for (const ManufacturerParam& p : m.manufacturerParams)
        pids.push_back(p.pid);
    return pids;
}

} // namespace

ResponderModel MovingHeadModel()
{
    ResponderModel m;
    m.modelId = 0x0101;
    m.productCategory = 0x0102;
    m.softwareVersionId = 0x02010005;
    m.manufacturerLabel = "Vantrell Rig Works";
    m.modelDescription = "Spot 575 moving head";
    m.softwareVersionLabel = "2.1.5";
    m.personalities = {{16, "Standard 16ch"}, {24, "Extended 24ch"}, {12, "Compact 12ch"}};
    m.sensorCount = 2;
    m.manufacturerParams = {
        Param(0x8000, "Pan Invert", 3, 1, {0}, 0x03, 0, 1),
        Param(0x8001, "Fan Mode", 1, 1, {0x05}),
        Param(0x8002, "Lamp Hours", 7, 4, {0x00, 0x00, 0x04, 0xD2}, 0x01, 0, 0xFFFFFFFF),
        Param(0x8003, "Temperature Offset", 4, 1, {0xFE}, 0x03, uint32_t(-10), 10),
        Param(0x8004, "Pan/Tilt Speed", 5, 4, {0x01, 0x2C, 0x00, 0x64}, 0x03, 0, 1000),
        Param(0x8005, "Tilt Trim", 6, 2, {0xFF, 0xF6}, 0x03, uint32_t(-500), 500),
        Param(0x8006, "Colour Wheel Offsets", 3, 3, {1, 2, 255}),
        Param(0x8007, "Fixture Note", 2, 32, {'F', 'O', 'H', ' ', 'l', 'e', 'f', 't'}),
        Param(0x8008, "Calibration", 8, 8, {0, 0, 0, 10, 0xFF, 0xFF, 0xFF, 0xEC}, 0x03, uint32_t(-1000), 1000),
        Param(0x8009, "Raw Config", 0, 2, {0x12, 0x34}),
    };
    m.settings = {{rdm::LAMP_ON_MODE, 0, 3}, {rdm::DISPLAY_LEVEL, 200, 255}, {rdm::TILT_INVERT, 0, 1},
                  {rdm::PAN_TILT_SWAP, 0, 1}};
    m.supportedParameters = Supported(m);
    return m;
}

ResponderModel DimmerPackModel()
{
    ResponderModel m;
    m.modelId = 0x0201;
    m.productCategory = 0x0501;
    m.softwareVersionId = 0x01040000;
    m.manufacturerLabel = "Vantrell Rig Works";
    m.modelDescription = "6 x 2.3 kW dimmer pack";
    m.softwareVersionLabel = "1.4.0";
    m.personalities = {{6, "6 channels"}, {1, "Single channel"}};
    m.sensorCount = 1;
    m.manufacturerParams = {
        Param(0x8010, "Dimmer Curve", 3, 1, {2}, 0x03, 0, 4),
        Param(0x8011, "Preheat Levels", 3, 6, {0, 0, 5, 5, 0, 0}),
        Param(0x8012, "Channel Loads", 5, 12, {0x08, 0xFC, 0x08, 0xFC, 0, 0, 0x04, 0x4C, 0, 0, 0, 0}, 0x01, 0, 2300),
    };
    m.supportedParameters = Supported(m);
    return m;
}

ResponderModel LedParModel()
{
    ResponderModel m;
    m.modelId = 0x0301;
    m.productCategory = 0x0101;
    m.softwareVersionId = 0x00090102;
    m.manufacturerLabel = "Vantrell Rig Works";
    m.modelDescription = "RGBW LED par";
    m.softwareVersionLabel = "0.9.1b";
    m.personalities = {{7, "RGBW+D+S+M"}, {4, "RGBW"}, {3, "RGB"}, {1, "Dimmer"}};
    m.manufacturerParams = {
        Param(0x8020, "White Balance", 3, 3, {255, 240, 230}),
        Param(0x8021, "Dimmer Response", 4, 1, {0}, 0x03, uint32_t(-3), 3),
    };
    m.supportedParameters = Supported(m);
    return m;
}

ResponderModel FoggerModel()
{
    ResponderModel m;
    m.modelId = 0x0401;
    m.productCategory = 0x0401;
    m.softwareVersionId = 0x03000001;
    m.manufacturerLabel = "Vantrell Rig Works";
    m.modelDescription = "Fog machine 1500";
    m.softwareVersionLabel = "3.0.1";
    m.personalities = {{2, "Output+Fan"}};
    m.sensorCount = 1;
    m.manufacturerParams = {
        Param(0x8030, "Heater Temperature", 6, 2, {0x01, 0x5E}, 0x01, 0, 400),
        Param(0x8031, "Pump Timer", 5, 2, {0x00, 0x1E}, 0x03, 0, 600),
    };
    m.supportedParameters = Supported(m);
    return m;
}

ResponderModel ScannerModel()
{
    ResponderModel m;
    m.modelId = 0x0501;
    m.productCategory = 0x0103;
    m.softwareVersionId = 0x01000000;
    m.manufacturerLabel = "Vantrell Rig Works";
    m.modelDescription = "Mirror scanner 250";
    m.softwareVersionLabel = "1.0";
    m.personalities = {{8, "8 channels"}};
    m.supportedParameters = StandardSupportedPids();
    return m;
}

ResponderModel ProjectorModel()
{
    ResponderModel m;
    m.modelId = 0x0601;
    m.productCategory = 0x0300;
    m.softwareVersionId = 0x0500000A;
    m.manufacturerLabel = "Vantrell Rig Works";
    m.modelDescription = "Gobo projector";
    m.softwareVersionLabel = "5.0.10";
    m.personalities = {{3, "Dimmer+Gobo+Rot"}};
    m.supportedParameters = StandardSupportedPids();
    return m;
}

ResponderModel SpotModel()
{
    ResponderModel m = MovingHeadModel();
    m.modelId = 0x0110;
    m.modelDescription = "Spot 1200 discharge moving head";
    m.manufacturerParams.clear();
    m.sensors = {
        {0x00, 0x01, 0x00, -40, 150, 0, 95, "Lamp housing", 62, 1},  // temperature, centigrade
        {0x05, 0x00, 0x00, 0, 6000, 800, 4000, "Fan", 2400, 10},      // fan, RPM without a unit
    };
    m.supportedParameters = StandardSupportedPids();
    for (uint16_t pid : {rdm::STATUS_MESSAGES, rdm::SENSOR_DEFINITION, rdm::SENSOR_VALUE, rdm::DEVICE_HOURS,
                         rdm::LAMP_HOURS, rdm::LAMP_STATE})
        m.supportedParameters.push_back(pid);
    return m;
}

ResponderModel WashModel()
{
    ResponderModel m = LedParModel();
    m.modelId = 0x0320;
    m.modelDescription = "LED wash 19x15W";
    m.sensors = {
        {0x00, 0x01, 0x00, -40, 120, 0, 75, "LED board", 41, 1},
        {0x01, 0x02, 0x00, 0, 60, 22, 26, "Supply", 24, 0},  // voltage, volts DC
    };
    m.supportedParameters = StandardSupportedPids();
    for (uint16_t pid : {rdm::STATUS_MESSAGES, rdm::SENSOR_DEFINITION, rdm::SENSOR_VALUE, rdm::DEVICE_HOURS})
        m.supportedParameters.push_back(pid);
    return m;
}

ResponderModel DimmerRackModel()
{
    ResponderModel m;
    m.modelId = 0x0210;
    m.productCategory = 0x0501;
    m.softwareVersionId = 0x02000000;
    m.manufacturerLabel = "Vantrell Rig Works";
    m.modelDescription = "12 x 2.5 kW dimmer rack";
    m.softwareVersionLabel = "2.0.0";
    // The rack itself takes no slots; its twelve channels are its sub-devices.
    m.personalities = {{0, "Sub-devices"}};
    m.subDeviceCount = 12;
    m.subDeviceFootprint = 1;
    m.sensors = {{0x01, 0x04, 0x00, 0, 300, 207, 253, "Mains phase 1", 230, 0}};  // voltage, volts AC RMS
    m.supportedParameters = StandardSupportedPids();
    for (uint16_t pid : {rdm::STATUS_MESSAGES, rdm::SENSOR_DEFINITION, rdm::SENSOR_VALUE, rdm::DEVICE_HOURS})
        m.supportedParameters.push_back(pid);
    return m;
}

bool ModelByName(const std::string& name, ResponderModel& out)
{
    struct Entry {
        const char* name;
        ResponderModel (*make)();
    };
    static const Entry kModels[] = {
        {"moving-head", MovingHeadModel}, {"dimmer", DimmerPackModel}, {"led-par", LedParModel},
        {"fogger", FoggerModel},          {"scanner", ScannerModel},   {"projector", ProjectorModel},
        {"dimmer-rack", DimmerRackModel}, {"spot", SpotModel},     {"wash", WashModel},
    };
    for (const Entry& e : kModels)
        if (name == e.name) {
            out = e.make();
            return true;
        }
    return false;
}

void AddStockDevices(VirtualLine& line, int count, uint32_t series)
{
    static ResponderModel (*const kMakers[])() = {MovingHeadModel, DimmerPackModel, LedParModel,
                                                  FoggerModel,     ScannerModel,    ProjectorModel};
    uint16_t address = 1;
    for (int i = 0; i < count; ++i) {
        ResponderModel model = kMakers[size_t(i) % 6]();
        // Device IDs spread over the whole range, as serial numbers are.
        uint32_t device = 0x00010000u + uint32_t(i) * 0x0B3D17u + series * 0x100u;
        Responder& r = line.add(MakeUid(kRigManufacturer, device), model);
        if (address + r.footprint() - 1 > 512)
            address = 1;
        r.startAddress = address;
        address = uint16_t(address + r.footprint());
    }
}

} // namespace rig
