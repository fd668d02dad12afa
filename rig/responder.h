#pragma once
// One simulated RDM responder: its identity, its parameters and its faults. It
// answers decoded requests as an E1.20 device would.
#include "rdm/message.h"
#include "rdm/uid.h"

#include <cstdint>
#include <deque>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace rig {

// A request as the responder sees it after the line has framed it.
using Request = rdm::RdmRequest;

// Misbehaviour that real devices show, one switch each.
struct Faults {
    bool ignoreMute = false;    // never acknowledges DISC_MUTE (and so stays un-muted)
    bool badChecksum = false;   // every reply carries a checksum off by one
    bool truncated = false;     // replies lose their last bytes
    uint32_t lateMs = 0;        // replies come this much later than a healthy device's
    bool ackTimer = false;      // GET and SET answered with ACK_TIMER
    bool silent = false;        // answers nothing, discovery included
    // Replies that are well formed but do not answer what was asked, as a device
    // with a confused firmware or a line that mixes up two devices sends them:
    bool wrongSource = false;       // the source UID is one above the device's own
    bool wrongTransaction = false;  // the transaction number is one above the request's
    bool wrongPid = false;          // the PID is one above the request's
    bool wrongCommandClass = false; // a GET is answered as a SET and a SET as a GET
    uint8_t noiseBytes = 0;         // bytes of line noise ahead of a reply's break
    // With ackTimer: QUEUED_MESSAGE first gives an answer to another PID.
    bool queuesOtherFirst = false;
    // The line loses replies after the device has acted on the request: the first
    // `loseFirst` of them, then `loseShare` of the rest at random.
    uint32_t loseFirst = 0;
    double loseShare = 0;
    bool garbledDiscovery = false;  // DISC_UNIQUE_BRANCH replies always arrive garbled
    // Power lost mid-run: after `vanishAfter` requests the device hears nothing for
    // the next `vanishFor`, then comes back un-muted, as after a power cycle.
    uint32_t vanishAfter = 0;
    uint32_t vanishFor = 0;
    // Health data a confused firmware sends: a STATUS_MESSAGES list with a stray
    // byte, and SENSOR_DEFINITION and SENSOR_VALUE for the wrong sensor number.
    bool malformedStatus = false;
    bool wrongSensorNumber = false;
    // GET and SET answered under a response type E1.20 does not define (4..255;
    // 0 leaves them as they are), as a firmware that fills the byte wrongly.
    uint8_t undefinedResponseType = 0;
};

struct Personality {
    uint16_t footprint = 1;
    std::string description;
};

// A manufacturer-specific parameter, described through PARAMETER_DESCRIPTION.
struct ManufacturerParam {
    uint16_t pid = 0x8000;
    uint8_t pdlSize = 1;
    uint8_t dataType = 3;
    uint8_t commandClass = 0x03;  // CC_GET_SET
    uint8_t unit = 0;
    uint8_t prefix = 0;
    uint32_t minValue = 0;
    uint32_t maxValue = 255;
    uint32_t defaultValue = 0;
    std::string description;      // at most 32 characters, 8-bit text
    std::vector<uint8_t> value;   // the bytes GET answers with
};

// A sensor as SENSOR_DEFINITION describes it, and its reading. Each SENSOR_VALUE
// read moves the reading by `drift` (turning back at the range's ends), as a
// fixture warming up or a fan speeding up.
struct Sensor {
    uint8_t type = 0x00;  // E1.20's sensor types: 0x00 temperature, 0x01 voltage, 0x05 fan...
    uint8_t unit = 0x01;  // CENTIGRADE
    uint8_t prefix = 0x00;
    int16_t rangeMin = -40, rangeMax = 120;
    int16_t normalMin = 0, normalMax = 60;
    std::string description;
    int16_t value = 25;
    int16_t drift = 0;
};

// One STATUS_MESSAGES entry.
struct StatusMessage {
    uint16_t subDevice = 0;
    uint8_t type = 0x03;  // STATUS_WARNING
    uint16_t id = 0;      // E1.20's status message IDs (0x0021 over temperature...)
    int16_t data1 = 0, data2 = 0;
};

// A standard setting of one byte (an invert, a swap, a display level, a lamp-on
// mode): read and set as it is, up to `max`.
struct StandardSetting {
    uint16_t pid = 0;
    uint8_t value = 0;
    uint8_t max = 1;
};

struct ResponderModel {
    uint16_t modelId = 0x0001;
    uint16_t productCategory = 0x0101;
    uint32_t softwareVersionId = 0x01000000;
    std::string manufacturerLabel = "Vantrell Rig";
    std::string modelDescription = "Virtual fixture";
    std::string softwareVersionLabel = "1.0.0";
    std::vector<Personality> personalities{{1, "Default"}};
    uint16_t subDeviceCount = 0;
    uint16_t subDeviceFootprint = 1;  // each sub-device's, as a rack's channels
    uint8_t sensorCount = 0;
    std::vector<uint16_t> supportedParameters;  // what SUPPORTED_PARAMETERS lists
    std::vector<ManufacturerParam> manufacturerParams;
    std::vector<Sensor> sensors;  // answered when SENSOR_DEFINITION is listed
    std::vector<StandardSetting> settings;  // as they leave the factory; listed in supportedParameters
};

struct Reply {
    std::vector<uint8_t> bytes;  // as sent on the line, without the break
    bool discovery = false;      // an encoded DISC_UNIQUE_BRANCH reply (sent with no break)
    uint32_t delayMs = 0;        // extra delay before it starts (the late fault)
    uint8_t noiseBytes = 0;      // noise the line carries ahead of it
};

class Responder {
public:
    Responder(Uid uid, ResponderModel model);

    Uid uid() const { return uid_; }
    const ResponderModel& model() const { return model_; }
    Faults faults;
    int preambleLength = 7;  // 0xFE bytes before a discovery reply's separator
    // How long after a request's end its reply begins, on a paced line. E1.20
    // allows 176 µs to 2 ms; each device gets its own value within that.
    uint32_t turnaroundUs = 0;

    // State a controller can change, kept as long as the responder lives.
    uint16_t startAddress = 1;
    uint8_t personality = 1;
    bool identify = false;
    bool muted = false;
    std::string deviceLabel;
    // Sub-devices 1..subDeviceCount, as a dimmer rack's channels: each has its own
    // start address (one after another at first) and identify.
    struct SubDevice {
        uint16_t startAddress = 1;
        bool identify = false;
    };
    std::vector<SubDevice> subDevices;
    std::vector<StandardSetting> settings;
    // Health: sensor readings, the status messages waiting to be collected, the
    // hours and the lamp. `powered` off, the device hears nothing; switched on
    // again it comes back un-muted, as after a power cycle.
    std::vector<Sensor> sensors;
    std::deque<StatusMessage> statusQueue;
    uint32_t deviceHours = 1200, lampHours = 310;
    uint8_t lampState = 1;  // LAMP_ON
    bool powered = true;
    void setPowered(bool on);
    // Switched off `powerOffAtMs` after the rig starts, for `powerOffForMs` (0: never).
    uint32_t powerOffAtMs = 0, powerOffForMs = 0;

    uint16_t footprint() const;
    ManufacturerParam* findParam(uint16_t pid);

    // The reply to one request, or nothing (broadcasts, unaddressed requests, faults).
    std::optional<Reply> handle(const Request& request);

    // Parameter data of this device's DEVICE_INFO.
    std::vector<uint8_t> deviceInfo() const;

private:
    // An answer held back: the one an ACK_TIMER promised (given to QUEUED_MESSAGE),
    // and the rest of one too long for a reply (given to the same request again).
    struct HeldAnswer {
        uint8_t commandClass = 0;
        uint16_t pid = 0;
        uint8_t type = 0;
        std::vector<uint8_t> data;
    };
    std::deque<HeldAnswer> queued_;
    std::optional<HeldAnswer> overflow_;
    // Whether the line loses this reply (the loss faults).
    bool replyLost();
    // Whether the device is without power for this request (the vanish fault).
    bool powerLost();
    uint32_t requestsSeen_ = 0;
    uint32_t repliesSent_ = 0;
    std::mt19937 random_;

    Uid uid_;
    ResponderModel model_;
};

// A turnaround within E1.20's range that differs from device to device.
uint32_t DefaultTurnaroundUs(Uid uid);

// Builds a complete response message to `request` from `responder`.
std::vector<uint8_t> BuildResponse(const Request& request, Uid responder, uint8_t responseType,
                                   const std::vector<uint8_t>& data);

// The standard parameters every stock responder supports on top of the required ones.
std::vector<uint16_t> StandardSupportedPids();

} // namespace rig
