// vantrell-cli watch: the rig's health round after round, one line per change.
#include "app/cli_commands.h"
#include "app/cli_fields.h"
#include "rdm/e120_names.h"
#include "rdm/health_watch.h"

#include <csignal>
#include <ctime>
#include <unistd.h>

namespace cli {
namespace {


std::string Timestamp()
{
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

void PrintChange(const HealthChange& c, Format format)
{
    const std::string text = c.text;
    if (format != Format::Json) {
        PrintText(Timestamp() + "  " + UidColonText(c.uid) + "  " + HealthChangeName(c.kind) +
                  (c.kind == HealthChange::Kind::Online || c.kind == HealthChange::Kind::Offline ||
                           c.kind == HealthChange::Kind::New
                       ? ""
                       : "  " + EscapeControls(text)) +
                  "\n");
        return;
    }
    JsonObject o;
    o.add("time", Timestamp()).add("uid", UidColonText(c.uid)).add("event", HealthChangeName(c.kind));
    o.add("text", text);
    if (c.kind == HealthChange::Kind::Status || c.kind == HealthChange::Kind::StatusCleared)
        o.add("status_type", Cell(StatusSeverityName(c.statusType)));
    if (c.sensor >= 0)
        o.add("sensor", Cell::number(c.sensor));
    if (c.value)
        o.add("value", Cell::number(*c.value));
    PrintText(o.text() + "\n");
}

std::string SensorText(const SensorHealth& s)
{
    if (!s.value)
        return std::string();
    const std::string unit = UnitSymbol(s.unit, s.prefix);
    return s.description + " " + std::to_string(*s.value) + (unit.empty() ? "" : " " + unit) +
           (s.defined && !s.inNormalRange() ? " (!)" : "");
}

// Every device, every sensor with its value and unit.
void PrintSnapshot(const HealthWatch& watch, Format format)
{
    if (format == Format::Json) {
        std::vector<std::string> devices;
        for (const DeviceHealth& d : watch.devices()) {
            JsonObject o;
            o.add("uid", UidColonText(d.uid)).add("online", Cell::flag(d.online));
            o.add("label", Cell(d.label)).add("model", Cell(d.model));
            o.add("start", d.footprint ? Cell::number(d.startAddress) : Cell());
            o.add("footprint", Cell::number(d.footprint));
            o.add("status", Cell(StatusSeverityName(d.worstStatus())));
            std::vector<std::string> statuses, sensors, problems;
            for (const StatusEntry& s : d.active)
                statuses.push_back(JsonObject()
                                       .add("type", Cell(StatusSeverityName(s.type)))
                                       .add("sub_device", Cell::number(s.subDevice))
                                       .add("id", Cell::number(s.id))
                                       .add("text", Cell(s.text))
                                       .text());
            for (const SensorHealth& s : d.sensors)
                sensors.push_back(JsonObject()
                                      .add("sensor", Cell::number(s.number))
                                      .add("description", Cell(s.description))
                                      .add("type", SensorTypeName(s.type) ? Cell(SensorTypeName(s.type)) : Cell())
                                      .add("value", s.value ? Cell::number(*s.value) : Cell())
                                      .add("unit", Cell(UnitSymbol(s.unit, s.prefix)))
                                      .add("normal_min", Cell::number(s.normalMin))
                                      .add("normal_max", Cell::number(s.normalMax))
                                      .add("in_normal_range", Cell::flag(s.inNormalRange()))
                                      .text());
            for (const std::string& p : d.problems)
                problems.push_back(Cell(p).json());
            o.addRaw("statuses", JsonArray(statuses)).addRaw("sensors", JsonArray(sensors));
            o.add("lamp_hours", d.lampHours ? Cell::number(*d.lampHours) : Cell());
            o.add("device_hours", d.deviceHours ? Cell::number(*d.deviceHours) : Cell());
            o.add("lamp_state", d.lampState ? Cell::number(*d.lampState) : Cell());
            o.addRaw("problems", JsonArray(problems));
            devices.push_back(o.text());
        }
        std::string out = "[";
        for (size_t i = 0; i < devices.size(); ++i)
            out += (i ? ",\n " : "\n ") + devices[i];
        PrintText(out + (devices.empty() ? "]\n" : "\n]\n"));
        return;
    }
    Table t({"uid", "online", "label", "model", "start", "status", "sensors", "lamp_hours"});
    for (const DeviceHealth& d : watch.devices()) {
        std::string sensors;
        for (const SensorHealth& s : d.sensors)
            if (!SensorText(s).empty())
                sensors += (sensors.empty() ? "" : "; ") + SensorText(s);
        t.add({UidColonText(d.uid), d.online ? "online" : "offline", d.label, d.model,
               d.footprint ? Cell::number(d.startAddress) : Cell(), StatusSeverityName(d.worstStatus()), sensors,
               d.lampHours ? Cell::number(*d.lampHours) : Cell()});
    }
    t.print(format);
}

} // namespace

int Watch(const Options& o)
{
    Session s(o);
    if (!s.open())
        return kNoInterface;
    HealthWatch watch(s.engine);
    watch.discoveryTimeoutSeconds = o.timeout;
    watch.search = o.search;
    const uint64_t started = MonotonicUs();
    int status = kDone;
    for (;;) {
        const uint64_t roundStart = MonotonicUs();
        const auto changes = watch.round([] { return StopRequested(); });
        if (watch.interfaceFailed()) {
            std::fprintf(stderr, "vantrell-cli: the interface stopped working; replug it and try again\n");
            status = kInterfaceFailed;
            break;
        }
        if (o.once) {
            PrintSnapshot(watch, o.format);
            for (const DeviceHealth& d : watch.devices())
                if (d.worstStatus() >= rdm::STATUS_WARNING || d.sensorOutOfRange())
                    status = kWarnings;
            break;
        }
        for (const HealthChange& c : changes)
            PrintChange(c, o.format);
        // The next round one period after this one began, or at once when it took longer.
        const uint64_t next = roundStart + uint64_t(o.every * 1e6);
        while (!StopRequested() && MonotonicUs() < next && (o.seconds <= 0 || MonotonicUs() < started + uint64_t(o.seconds * 1e6)))
            usleep(20000);
        if (StopRequested() || (o.seconds > 0 && MonotonicUs() >= started + uint64_t(o.seconds * 1e6)))
            break;
    }
    s.port.PortClose();
    return status;
}

} // namespace cli
