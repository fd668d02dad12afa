#include "rig/rig_file.h"

#include "rdm/text_codec.h"
#include "rig/fixtures.h"
#include "rdm/rdm_defs.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace rig {

bool ParseUid(const std::string& text, Uid& uid)
{
    std::string hex;
    for (char c : text)
        if (c != ':')
            hex += c;
    if (hex.empty() || hex.size() > 12)
        return false;
    uid = 0;
    for (char c : hex) {
        int v = (c >= '0' && c <= '9') ? c - '0' : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                                                 : (c >= 'A' && c <= 'F') ? c - 'A' + 10 : -1;
        if (v < 0)
            return false;
        uid = (uid << 4) | Uid(v);
    }
    return true;
}

namespace {

// "sensorValues": [62, 2400], "status": [{"type": "warning", "id": 33, "data1": 1,
// "data2": 97, "subDevice": 0}], "powerCycle": {"at": 30, "for": 10} (seconds).
bool LoadHealth(const QJsonObject& d, Responder& r, const std::string& where, std::string& error)
{
    const QJsonArray values = d.value("sensorValues").toArray();
    for (int i = 0; i < values.size() && i < int(r.sensors.size()); ++i)
        r.sensors[size_t(i)].value = int16_t(values[i].toInt());
    for (const QJsonValue& v : d.value("status").toArray()) {
        const QJsonObject m = v.toObject();
        const std::string type = m.value("type").toString("warning").toStdString();
        StatusMessage message;
        if (type == "advisory")
            message.type = rdm::STATUS_ADVISORY;
        else if (type == "warning")
            message.type = rdm::STATUS_WARNING;
        else if (type == "error")
            message.type = rdm::STATUS_ERROR;
        else {
            error = where + ": a status type is advisory, warning or error";
            return false;
        }
        message.id = uint16_t(m.value("id").toInt(0));
        message.data1 = int16_t(m.value("data1").toInt(0));
        message.data2 = int16_t(m.value("data2").toInt(0));
        message.subDevice = uint16_t(m.value("subDevice").toInt(0));
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
        if (d.contains("uid") && !ParseUid(d.value("uid").toString().toStdString(), uid)) {
            error = where + ": bad uid";
            return false;
        }
        Responder& r = line.add(uid, model);
        r.startAddress = uint16_t(d.value("startAddress").toInt(1));
        r.personality = uint8_t(d.value("personality").toInt(1));
        r.deviceLabel = Utf8ToCp1251(d.value("label").toString().toStdString());
        r.preambleLength = d.value("preamble").toInt(7);
        if (d.contains("turnaroundUs")) {
            const int us = d.value("turnaroundUs").toInt(-1);
            if (us < 0 || us > 1000000) {
                error = where + ": turnaroundUs takes 0 to 1000000";
                return false;
            }
            r.turnaroundUs = uint32_t(us);
        }
        const QJsonObject f = d.value("faults").toObject();
        r.faults.ignoreMute = f.value("ignoreMute").toBool();
        r.faults.badChecksum = f.value("badChecksum").toBool();
        r.faults.truncated = f.value("truncated").toBool();
        r.faults.lateMs = uint32_t(f.value("lateMs").toInt(0));
        r.faults.ackTimer = f.value("ackTimer").toBool();
        r.faults.silent = f.value("silent").toBool();
        r.faults.wrongSource = f.value("wrongSource").toBool();
        r.faults.wrongTransaction = f.value("wrongTransaction").toBool();
        r.faults.wrongPid = f.value("wrongPid").toBool();
        r.faults.wrongCommandClass = f.value("wrongCommandClass").toBool();
        r.faults.queuesOtherFirst = f.value("queuesOtherFirst").toBool();
        const int noise = f.value("noiseBytes").toInt(0);
        if (noise < 0 || noise > 16) {
            error = where + ": noiseBytes takes 0 to 16";
            return false;
        }
        r.faults.noiseBytes = uint8_t(noise);
        r.faults.garbledDiscovery = f.value("garbledDiscovery").toBool();
        r.faults.malformedStatus = f.value("malformedStatus").toBool();
        if (f.contains("undefinedResponseType")) {
            const int type = f.value("undefinedResponseType").toInt(-1);
            if (type < 4 || type > 255) {
                error = where + ": undefinedResponseType takes 4 to 255";
                return false;
            }
            r.faults.undefinedResponseType = uint8_t(type);
        }
        r.faults.wrongSensorNumber = f.value("wrongSensorNumber").toBool();
        const int loseFirst = f.value("loseFirst").toInt(0), vanishAfter = f.value("vanishAfter").toInt(0),
                  vanishFor = f.value("vanishFor").toInt(0);
        const double loseShare = f.value("loseShare").toDouble(0);
        if (loseFirst < 0 || vanishAfter < 0 || vanishFor < 0) {
            error = where + ": loseFirst, vanishAfter and vanishFor take a count of requests";
            return false;
        }
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
