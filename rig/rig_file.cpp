#include "rig/rig_file.h"

#include "rdm/e120_names.h"
#include "rdm/text_codec.h"
#include "rig/fixtures.h"
#include "rdm/rdm_defs.h"

#include <QFile>
#include <cmath>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace rig {

namespace {

// An integer key in its range, or its default when it is absent. Anything else
// (a fraction, a text, a value outside the range) is an error that names the key.
bool IntIn(const QJsonObject& o, const char* key, long long fallback, long long low, long long high, long long& out,
           const std::string& where, std::string& error)
{
    out = fallback;
    if (!o.contains(key))
        return true;
    const QJsonValue v = o.value(key);
    const double d = v.toDouble();
    // In range first: a value beyond long long must not be converted to one.
    if (v.isDouble() && d >= double(low) && d <= double(high) && d == std::trunc(d)) {
        out = static_cast<long long>(d);
        return true;
    }
    error = where + ": " + key + " takes a whole number from " + std::to_string(low) + " to " + std::to_string(high);
    return false;
}

// "sensorValues": [62, 2400], "status": [{"type": "warning", "id": 33, "data1": 1,
// "data2": 97, "subDevice": 0}], "powerCycle": {"at": 30, "for": 10} (seconds).
bool LoadHealth(const QJsonObject& d, Responder& r, const std::string& where, std::string& error)
{
    const QJsonArray values = d.value("sensorValues").toArray();
    for (int i = 0; i < values.size() && i < int(r.sensors.size()); ++i) {
        const double v = values[i].toDouble(1e9);
        if (!(v >= -32768 && v <= 32767)) {
            error = where + ": sensorValues take -32768 to 32767";
            return false;
        }
        r.sensors[size_t(i)].value = int16_t(v);
    }
    for (const QJsonValue& v : d.value("status").toArray()) {
        const QJsonObject m = v.toObject();
        const std::string type = m.value("type").toString("warning").toStdString();
        StatusMessage message;
        if (const auto named = StatusSeverityByName(type)) {
            message.type = *named;
        } else {
            error = where + ": a status type is advisory, warning or error";
            return false;
        }
        long long id = 0, data1 = 0, data2 = 0, subDevice = 0;
        if (!IntIn(m, "id", 0, 0, 0xFFFF, id, where + ": status", error) ||
            !IntIn(m, "data1", 0, -32768, 32767, data1, where + ": status", error) ||
            !IntIn(m, "data2", 0, -32768, 32767, data2, where + ": status", error) ||
            !IntIn(m, "subDevice", 0, 0, 512, subDevice, where + ": status", error))
            return false;
        message.id = uint16_t(id);
        message.data1 = int16_t(data1);
        message.data2 = int16_t(data2);
        message.subDevice = uint16_t(subDevice);
        r.statusQueue.push_back(message);
    }
    if (d.contains("powerCycle")) {
        const QJsonObject p = d.value("powerCycle").toObject();
        const double at = p.value("at").toDouble(-1), length = p.value("for").toDouble(10);
        if (!(at >= 0 && at < 86400 && length > 0 && length < 86400)) {
            error = where + ": powerCycle takes \"at\" and \"for\" in seconds";
            return false;
        }
        r.powerOffAtMs = uint32_t(at * 1000);
        r.powerOffForMs = uint32_t(length * 1000);
    }
    return true;
}

} // namespace

bool LoadRigFile(const std::string& path, VirtualLine& line, std::string& name, std::string& error)
{
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly)) {
        error = "cannot open " + path;
        return false;
    }
    QJsonParseError parse{};
    QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &parse);
    if (doc.isNull() || !doc.isObject()) {
        error = path + ": " + parse.errorString().toStdString();
        return false;
    }
    QJsonObject root = doc.object();
    if (root.contains("name"))
        name = root.value("name").toString().toStdString();
    const QString collisions = root.value("collisions").toString("and");
    if (collisions != "and" && collisions != "or") {
        error = path + ": collisions is \"and\" or \"or\"";
        return false;
    }
    line.combine = collisions == "or" ? Combine::Or : Combine::And;
    if (root.contains("noise")) {
        // {"everyMs": 200, "maxBytes": 8}: bursts of 1..maxBytes bytes between messages.
        const QJsonObject n = root.value("noise").toObject();
        const double everyMs = n.value("everyMs").toDouble(-1);
        const int maxBytes = n.value("maxBytes").toInt(8);
        if (!(everyMs >= 1 && everyMs <= 60000) || maxBytes < 1 || maxBytes > 64) {
            error = path + ": noise takes everyMs 1 to 60000 and maxBytes 1 to 64";
            return false;
        }
        line.noise.everyUs = uint32_t(everyMs * 1000);
        line.noise.maxBytes = uint8_t(maxBytes);
    }
    const QJsonArray devices = root.value("devices").toArray();
    if (devices.size() > kMaxRigDevices) {
        error = path + ": at most " + std::to_string(kMaxRigDevices) + " devices on one line";
        return false;
    }
    int index = 0;
    for (const QJsonValue& v : devices) {
        const QJsonObject d = v.toObject();
        const std::string where = path + ": device " + std::to_string(index++);
        ResponderModel model;
        const std::string modelName = d.value("model").toString("led-par").toStdString();
        if (!ModelByName(modelName, model)) {
            error = where + ": unknown model '" + modelName + "'";
            return false;
        }
        Uid uid = MakeUid(kRigManufacturer, uint32_t(0x100 + index));
        const std::optional<Uid> given = Uid::parse(d.value("uid").toString().toStdString());
        if (given)
            uid = *given;
        if (d.contains("uid") && !given) {
            error = where + ": bad uid";
            return false;
        }
        if (!IsDeviceUid(uid)) {
            error = where + ": uid is not one device's (0, a broadcast, or above 48 bits)";
            return false;
        }
        long long start = 1, personality = 1, preamble = 7, turnaround = -1;
        if (!IntIn(d, "startAddress", 1, 1, 512, start, where, error) ||
            !IntIn(d, "personality", 1, 1, static_cast<long long>(model.personalities.size()), personality, where, error) ||
            !IntIn(d, "preamble", 7, 0, 7, preamble, where, error) ||
            !IntIn(d, "turnaroundUs", -1, 0, 1000000, turnaround, where, error))
            return false;
        Responder& r = line.add(uid, model);
        r.startAddress = uint16_t(start);
        r.personality = uint8_t(personality);
        r.deviceLabel = Utf8ToCp1251(d.value("label").toString().toStdString());
        r.preambleLength = int(preamble);
        if (turnaround >= 0)
            r.turnaroundUs = uint32_t(turnaround);
        const QJsonObject f = d.value("faults").toObject();
        r.faults.ignoreMute = f.value("ignoreMute").toBool();
        r.faults.badChecksum = f.value("badChecksum").toBool();
        r.faults.truncated = f.value("truncated").toBool();
        long long lateMs = 0;
        if (!IntIn(f, "lateMs", 0, 0, 60000, lateMs, where, error))
            return false;
        r.faults.lateMs = uint32_t(lateMs);
        r.faults.ackTimer = f.value("ackTimer").toBool();
        r.faults.silent = f.value("silent").toBool();
        r.faults.wrongSource = f.value("wrongSource").toBool();
        r.faults.wrongTransaction = f.value("wrongTransaction").toBool();
        r.faults.wrongPid = f.value("wrongPid").toBool();
        r.faults.wrongCommandClass = f.value("wrongCommandClass").toBool();
        r.faults.queuesOtherFirst = f.value("queuesOtherFirst").toBool();
        long long noise = 0;
        if (!IntIn(f, "noiseBytes", 0, 0, 16, noise, where, error))
            return false;
        r.faults.noiseBytes = uint8_t(noise);
        r.faults.garbledDiscovery = f.value("garbledDiscovery").toBool();
        r.faults.malformedStatus = f.value("malformedStatus").toBool();
        if (f.contains("undefinedResponseType")) {
            long long type = 0;
            if (!IntIn(f, "undefinedResponseType", 0, 4, 255, type, where, error))
                return false;
            r.faults.undefinedResponseType = uint8_t(type);
        }
        r.faults.wrongSensorNumber = f.value("wrongSensorNumber").toBool();
        long long loseFirst = 0, vanishAfter = 0, vanishFor = 0;
        constexpr long long kMaxCount = 1000000000;
        if (!IntIn(f, "loseFirst", 0, 0, kMaxCount, loseFirst, where, error) ||
            !IntIn(f, "vanishAfter", 0, 0, kMaxCount, vanishAfter, where, error) ||
            !IntIn(f, "vanishFor", 0, 0, kMaxCount, vanishFor, where, error))
            return false;
        const double loseShare = f.value("loseShare").toDouble(0);
        if (!(loseShare >= 0 && loseShare <= 1)) {
            error = where + ": loseShare takes 0 to 1";
            return false;
        }
        r.faults.loseFirst = uint32_t(loseFirst);
        r.faults.loseShare = loseShare;
        r.faults.vanishAfter = uint32_t(vanishAfter);
        r.faults.vanishFor = uint32_t(vanishFor);
        if (f.value("twin").toBool())
            line.addTwin(r);
        if (!LoadHealth(d, r, where, error))
            return false;
    }
    return true;
}

} // namespace rig
