#pragma once
// Watching a rig's health: every round finds devices that are new or came back
// after a power cycle, tells online from offline, and reads each device's status
// messages, sensors and lamp. What changed since the last round is reported.
#include "rdm/discovery.h"
#include "rdm/transaction.h"

#include <optional>
#include <string>
#include <vector>

struct SensorHealth {
    uint8_t number = 0;
    bool defined = false;  // its SENSOR_DEFINITION came and makes sense
    uint8_t type = 0, unit = 0, prefix = 0;
    int16_t rangeMin = 0, rangeMax = 0, normalMin = 0, normalMax = 0;
    std::string description;  // UTF-8
    std::optional<int16_t> value;
    bool inNormalRange() const { return !value || (*value >= normalMin && *value <= normalMax); }
};

struct StatusEntry {
    uint16_t subDevice = 0;
    uint8_t type = 0;  // STATUS_ADVISORY, STATUS_WARNING or STATUS_ERROR
    uint16_t id = 0;
    int16_t data1 = 0, data2 = 0;
    std::string text;  // UTF-8, from the device's STATUS_ID_DESCRIPTION or E1.20's table
};

struct DeviceHealth {
    Uid uid = 0;
    bool online = false;
    bool described = false;  // DEVICE_INFO and the supported PIDs were read
    std::string label, model;  // UTF-8
    uint16_t startAddress = 0, footprint = 0, subDeviceCount = 0;
    std::vector<uint16_t> supported;
    std::vector<StatusEntry> active;  // warnings and errors not cleared yet
    std::vector<SensorHealth> sensors;
    std::optional<uint32_t> lampHours, deviceHours;
    std::optional<uint8_t> lampState;
    std::vector<std::string> problems;  // this round's: malformed answers, NACKs, ACK_TIMER
    bool vanished = false;              // stopped answering during this round
    // Polls in a row it did not answer: offline from the second, so that one lost
    // reply is not taken for a device that left.
    int missed = 0;
    // STATUS_NONE when nothing is active, else the most severe active type.
    uint8_t worstStatus() const;
    // A sensor reads outside its normal range.
    bool sensorOutOfRange() const;
    bool supports(uint16_t pid) const;
};

struct HealthChange {
    enum class Kind { New, Online, Offline, Status, StatusCleared, SensorOutOfRange, SensorInRange, LampState, Problem };
    HealthChange(Kind k, Uid device, std::string words) : kind(k), uid(device), text(std::move(words)) {}
    Kind kind;
    Uid uid = 0;
    std::string text;  // what happened, in words (UTF-8)
    uint8_t statusType = 0;
    int sensor = -1;
    std::optional<int16_t> value;
};
const char* HealthChangeName(HealthChange::Kind kind);  // "online", "offline", "status"...

class HealthWatch {
public:
    explicit HealthWatch(RdmEngine& engine) : engine_(engine) {}

    // The first round un-mutes every device and discovers them all; later rounds
    // discover incrementally. Each known device is then polled. A stop asked for
    // ends the round after the current exchange.
    std::vector<HealthChange> round(const std::function<bool()>& stopRequested = {});

    const std::vector<DeviceHealth>& devices() const { return devices_; }
    // Watches these devices too (the window's list), without a first full
    // discovery: rounds from here on discover incrementally.
    void follow(const std::vector<Uid>& listed);
    // How the last round's discovery went.
    const DiscoveryVerdict& verdict() const { return verdict_; }
    // The interface failed: nothing more can be asked.
    bool interfaceFailed() const { return interfaceFailed_; }
    int discoveryTimeoutSeconds = 5;
    // Off, a round only polls the devices it follows (the window's list, whose own
    // discovery finds devices) and its log carries no discovery every few seconds.
    bool discover = true;
    Discovery::Search search = Discovery::Search::FollowExchange;

private:
    bool poll(DeviceHealth& d, std::vector<HealthChange>& changes);
    void describe(DeviceHealth& d);
    void readStatus(DeviceHealth& d, std::vector<HealthChange>& changes);
    void readSensors(DeviceHealth& d, std::vector<HealthChange>& changes);
    void readLamp(DeviceHealth& d, std::vector<HealthChange>& changes);
    // A GET with the page's one-shot exchange; NACKs and ACK_TIMER noted as problems.
    bool get(DeviceHealth& d, uint16_t pid, const std::vector<uint8_t>& data, std::vector<uint8_t>& out);

    RdmEngine& engine_;
    std::vector<DeviceHealth> devices_;
    std::vector<Uid> found_;
    DiscoveryVerdict verdict_;
    bool first_ = true;
    bool interfaceFailed_ = false;
};
