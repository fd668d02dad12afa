#include "patch/backup_file.h"

#include "patch/stored_file.h"
#include "rdm/pid_names.h"
#include "rdm/text_codec.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>
#include <functional>
#include <optional>
#include <cstdio>
#include <set>

namespace {

constexpr size_t kMaxFileBytes = 16u << 20;
constexpr size_t kMaxDevices = 4096;
constexpr char kFormat[] = "vantrell-backup";

QJsonValue FieldJson(const PidField& f)
{
    switch (f.kind) {
    case PidField::Kind::Number: return QJsonValue(qint64(std::strtoll(f.value.c_str(), nullptr, 10)));
    case PidField::Kind::Flag: return QJsonValue(f.value == "on");
    case PidField::Kind::Text: break;
    }
    return QJsonValue(QString::fromStdString(Cp1251ToUtf8(f.value)));
}

// The fields as an object: fixed fields as members, a repeated field as a list
// under its name, a repeated group of several as a list of objects under "items".
QJsonObject ValueJson(const SavedValue& v)
{
    const LayoutNames names = LayoutFieldNames(v.layout.c_str());
    QJsonObject o;
    QJsonArray items;
    for (const PidField& f : v.fields) {
        if (f.repetition < 0) {
            o.insert(QString::fromStdString(f.name), FieldJson(f));
        } else if (names.group.size() == 1) {
            items.append(FieldJson(f));
        } else {
            if (size_t(items.size()) <= size_t(f.repetition))
                items.append(QJsonObject());
            QJsonObject item = items.last().toObject();
            item.insert(QString::fromStdString(f.name), FieldJson(f));
            items.replace(items.size() - 1, item);
        }
    }
    if (!names.group.empty())
        o.insert(names.group.size() == 1 ? QString::fromStdString(names.group[0]) : "items", items);
    return o;
}

QString Text(const std::string& utf8) { return QString::fromStdString(utf8); }

// A member as a value a layout's field takes: numbers whole, flags on or off,
// texts in Windows-1251 as the device keeps them.
bool FieldValue(const QJsonValue& v, std::string& out)
{
    if (v.isBool()) {
        out = v.toBool() ? "on" : "off";
        return true;
    }
    if (v.isDouble()) {
        const double d = v.toDouble();
        if (std::floor(d) != d || std::fabs(d) > 9007199254740992.0)
            return false;
        out = std::to_string((long long)d);
        return true;
    }
    if (v.isString()) {
        out = Utf8ToCp1251(v.toString().toStdString());
        return true;
    }
    return false;
}

// The values of `value` in the layout's order; false with `why` when one is
// missing or of no use.
bool ValuesInOrder(const std::string& layout, const QJsonObject& value, std::vector<std::string>& out,
                   std::string& why)
{
    const LayoutNames names = LayoutFieldNames(layout.c_str());
    out.clear();
    std::string text;
    for (const std::string& name : names.fixed) {
        if (!FieldValue(value.value(Text(name)), text)) {
            why = "the field " + name + " is missing or not a number, flag or text";
            return false;
        }
        out.push_back(text);
    }
    if (names.group.empty())
        return true;
    const bool single = names.group.size() == 1;
    const QJsonValue list = value.value(single ? Text(names.group[0]) : QString("items"));
    if (!list.isArray()) {
        why = "the list " + (single ? names.group[0] : std::string("items")) + " is missing";
        return false;
    }
    for (const QJsonValue& item : list.toArray()) {
        if (single) {
            if (!FieldValue(item, text)) {
                why = "an item of " + names.group[0] + " is not a number, flag or text";
                return false;
            }
            out.push_back(text);
            continue;
        }
        for (const std::string& name : names.group) {
            if (!FieldValue(item.toObject().value(Text(name)), text)) {
                why = "an item lacks the field " + name;
                return false;
            }
            out.push_back(text);
        }
    }
    return true;
}

bool WholeNumber(const QJsonValue& v, int64_t min, int64_t max, int64_t& out)
{
    if (!v.isDouble() || std::floor(v.toDouble()) != v.toDouble() || v.toDouble() < double(min) ||
        v.toDouble() > double(max))
        return false;
    out = int64_t(v.toDouble());
    return true;
}

bool DecodeValue(const QJsonObject& o, SavedValue& value, std::string& why)
{
    int64_t pid = 0;
    if (!WholeNumber(o.value("pid"), 1, 0xFFFF, pid)) {
        why = "a parameter without a pid (1..65535)";
        return false;
    }
    value.pid = uint16_t(pid);
    value.manufacturer = pid >= 0x8000;
    value.name = o.value("name").toString().toStdString();
    if (value.name.empty())
        value.name = PidText(value.pid);
    const std::string where = "parameter " + PidText(value.pid);
    if (!value.manufacturer) {
        if (!KeptStandardPid(value.pid)) {
            why = where + ": not a parameter a backup keeps";
            return false;
        }
        value.layout = FindPidLayout(value.pid)->setRequest;
    } else {
        value.layout = o.value("layout").toString().toStdString();
        if (!ValidLayout(value.layout) || value.layout.empty()) {
            why = where + ": the layout \"" + value.layout + "\" is not one this version reads";
            return false;
        }
    }
    std::vector<std::string> values;
    std::vector<uint8_t> data;
    std::string problem;
    if (!o.value("value").isObject()) {
        why = where + ": no value";
        return false;
    }
    if (!ValuesInOrder(value.layout, o.value("value").toObject(), values, problem) ||
        !EncodeLayout(value.layout.c_str(), values, data, problem)) {
        why = where + ": " + problem;
        return false;
    }
    // Decoded again, the fields carry their kinds as a reply's would.
    const auto fields = DecodeLayout(value.layout.c_str(), data.data(), data.size());
    if (!fields) {
        why = where + ": the value does not fit its layout";
        return false;
    }
    value.fields = *fields;
    if (value.manufacturer && (o.contains("min") || o.contains("max"))) {
        constexpr int64_t kWidest = int64_t(1) << 32;
        value.limited = WholeNumber(o.value("min"), -kWidest, kWidest, value.min) &&
                        WholeNumber(o.value("max"), -kWidest, kWidest, value.max) && value.min <= value.max;
        if (!value.limited) {
            why = where + ": min and max are not a range of whole numbers";
            return false;
        }
    }
    if (!WithinLimits(value, problem)) {
        why = where + ": " + problem;
        return false;
    }
    return true;
}

bool DecodeDevice(const QJsonObject& o, SavedDevice& d, std::string& why)
{
    const std::optional<Uid> uid = ParseUidText(o.value("uid").toString().toStdString());
    if (!uid || !IsDeviceUid(*uid)) {
        why = "a device whose uid is not one device's (\"" + o.value("uid").toString().toStdString() + "\")";
        return false;
    }
    d.uid = *uid;
    const std::string where = "device " + d.uid.colonText();
    d.manufacturerLabel = o.value("manufacturer_label").toString().toStdString();
    d.modelDescription = o.value("model_description").toString().toStdString();
    d.softwareVersionLabel = o.value("software_version_label").toString().toStdString();
    const QJsonArray values = o.value("parameters").toArray();
    d.read = o.contains("model");
    int64_t n = 0;
    struct Number {
        const char* key;
        int64_t max;
        std::function<void(int64_t)> set;
    };
    const Number numbers[] = {
        {"model", 0xFFFF, [&](int64_t v) { d.model = uint16_t(v); }},
        {"software_version", 0xFFFFFFFF, [&](int64_t v) { d.softwareVersion = uint32_t(v); }},
        {"personality", 0xFF, [&](int64_t v) { d.personality = uint8_t(v); }},
        {"footprint", 512, [&](int64_t v) { d.footprint = uint16_t(v); }},
        {"start_address", 0xFFFF, [&](int64_t v) { d.startAddress = uint16_t(v); }},
    };
    for (const Number& number : numbers) {
        if (!o.contains(number.key))
            continue;
        if (!WholeNumber(o.value(number.key), 0, number.max, n)) {
            why = where + ": " + number.key + " is not a whole number 0.." + std::to_string(number.max);
            return false;
        }
        number.set(n);
    }
    if (!values.isEmpty() && !d.read) {
        why = where + ": parameters without the model they were read from";
        return false;
    }
    std::set<uint16_t> seen;
    for (const QJsonValue& v : values) {
        SavedValue value;
        if (!DecodeValue(v.toObject(), value, why)) {
            why = where + ": " + why;
            return false;
        }
        if (!seen.insert(value.pid).second) {
            why = where + ": parameter " + PidText(value.pid) + " is named twice";
            return false;
        }
        d.values.push_back(std::move(value));
    }
    for (const QJsonValue& v : o.value("missing").toArray()) {
        const QJsonObject m = v.toObject();
        int64_t pid = 0;
        WholeNumber(m.value("pid"), 0, 0xFFFF, pid);
        d.missing.push_back({uint16_t(pid), m.value("name").toString().toStdString(),
                             m.value("why").toString().toStdString()});
    }
    return true;
}

} // namespace

std::vector<uint8_t> EncodeBackup(const std::vector<SavedDevice>& devices)
{
    QJsonArray list;
    for (const SavedDevice& d : devices) {
        QJsonObject o;
        o.insert("uid", Text(d.uid.colonText()));
        o.insert("manufacturer", int(d.manufacturer()));
        if (d.read) {
            o.insert("manufacturer_label", Text(d.manufacturerLabel));
            o.insert("model", int(d.model));
            o.insert("model_description", Text(d.modelDescription));
            o.insert("software_version", qint64(d.softwareVersion));
            o.insert("software_version_label", Text(d.softwareVersionLabel));
            o.insert("personality", int(d.personality));
            o.insert("footprint", int(d.footprint));
            o.insert("start_address", int(d.startAddress));
        }
        QJsonArray values;
        for (const SavedValue& v : d.values) {
            QJsonObject value;
            value.insert("pid", int(v.pid));
            value.insert("name", Text(v.name));
            if (v.manufacturer)
                value.insert("manufacturer", true);
            value.insert("layout", Text(v.layout));
            if (v.limited) {
                value.insert("min", qint64(v.min));
                value.insert("max", qint64(v.max));
            }
            value.insert("value", ValueJson(v));
            values.append(value);
        }
        o.insert("parameters", values);
        QJsonArray missing;
        for (const MissingValue& m : d.missing)
            missing.append(QJsonObject{{"pid", int(m.pid)}, {"name", Text(m.name)}, {"why", Text(m.why)}});
        o.insert("missing", missing);
        list.append(o);
    }
    const QJsonObject file{{"format", kFormat},
                           {"version", kBackupFormatVersion},
                           {"saved", QDateTime::currentDateTimeUtc().toString(Qt::ISODate)},
                           {"devices", list}};
    const QByteArray text = QJsonDocument(file).toJson(QJsonDocument::Indented);
    return {text.begin(), text.end()};
}

bool DecodeBackup(const std::vector<uint8_t>& bytes, std::vector<SavedDevice>& devices, std::string& why)
{
    devices.clear();
    QJsonParseError error;
    const QJsonDocument doc =
        QJsonDocument::fromJson(QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size())), &error);
    if (doc.isNull() || !doc.isObject()) {
        why = doc.isNull() ? "not JSON: " + error.errorString().toStdString() + " at byte " +
                                 std::to_string(error.offset)
                           : "not a backup: the file is not a JSON object";
        return false;
    }
    const QJsonObject file = doc.object();
    if (file.value("format").toString() != kFormat) {
        why = "not a backup of this program (its \"format\" is not \"vantrell-backup\")";
        return false;
    }
    int64_t version = 0;
    if (!WholeNumber(file.value("version"), 1, 1000000, version)) {
        why = "the backup has no version number";
        return false;
    }
    if (version > kBackupFormatVersion) {
        why = "the backup is of format version " + std::to_string(version) + ", written by a newer version; "
              "this one reads version " + std::to_string(kBackupFormatVersion);
        return false;
    }
    const QJsonArray list = file.value("devices").toArray();
    if (size_t(list.size()) > kMaxDevices) {
        why = "more than " + std::to_string(kMaxDevices) + " devices";
        return false;
    }
    std::set<Uid> seen;
    for (const QJsonValue& v : list) {
        SavedDevice d;
        if (!DecodeDevice(v.toObject(), d, why)) {
            devices.clear();
            return false;
        }
        if (!seen.insert(d.uid).second) {
            why = "device " + d.uid.colonText() + " is named twice";
            devices.clear();
            return false;
        }
        devices.push_back(std::move(d));
    }
    return true;
}

bool SaveBackupFile(const std::string& path, const std::vector<SavedDevice>& devices, std::string& why)
{
    return SaveFileAtomically(path, EncodeBackup(devices), why);
}

bool LoadBackupFile(const std::string& path, std::vector<SavedDevice>& devices, std::string& why)
{
    std::vector<uint8_t> bytes;
    bool whole = false;
    if (!ReadRegularFile(path, kMaxFileBytes, bytes, whole, why))
        return false;
    if (!whole) {
        why = "larger than any backup (16 MB)";
        return false;
    }
    return DecodeBackup(bytes, devices, why);
}
