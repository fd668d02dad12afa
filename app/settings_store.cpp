#include "app/settings_store.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace {

const int32_t kDefaults[7] = {0, 24, 0, 0, 32, 0, 10};

int32_t Clamp(int64_t v, int64_t lo, int64_t hi) { return int32_t(v < lo ? lo : v > hi ? hi : v); }

// A stored value as the 32 bits it holds; throws for text that is no such value.
int64_t ReadValue(const QSettings& ini, const char* name)
{
    const QVariant raw = ini.value(name);
    if (raw.typeId() == QMetaType::QStringList)
        throw SettingsError(std::string("Invalid data type for '") + name + "'");
    const QString text = raw.toString().trimmed();
    bool ok = false;
    const qlonglong v = text.toLongLong(&ok, 0);
    if (!ok) {
        // Digits that overflow even 64 bits are still a number too long for the value.
        bool digits = !text.isEmpty();
        for (int i = 0; i < text.size(); ++i)
            digits = digits && (text[i].isDigit() || (i == 0 && text[i] == '-'));
        throw SettingsError(std::string(digits ? "Failed to get data for '" : "Invalid data type for '") + name +
                            "'");
    }
    if (v < INT32_MIN || v > int64_t(UINT32_MAX))
        throw SettingsError(std::string("Failed to get data for '") + name + "'");
    return v > INT32_MAX ? int64_t(int32_t(uint32_t(v))) : v;
}

} // namespace

std::string SettingsStore::DefaultPath()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return (folder + "/Vantrell/Vantrell.conf").toStdString();
}

SettingsStore::SettingsStore(std::string path) : path_(path.empty() ? DefaultPath() : std::move(path)) {}

void SettingsStore::Load(SettingsRecord& r) const
{
    SetDefaults(r);
    QFileInfo info(QString::fromStdString(path_));
    if (info.exists() && (!info.isFile() || !info.isReadable()))
        return;
    QSettings ini(QString::fromStdString(path_), QSettings::IniFormat);
    if (ini.status() != QSettings::NoError)
        return;
    for (int i = 0; i < 7; ++i) {
        const char* name = kSettingNames[i];
        const int64_t v = ini.contains(name) ? ReadValue(ini, name) : kDefaults[i];
        switch (i) {
        case 0:
            // Only the three kinds exist; anything else falls back to the first.
            r.InterfaceType = int8_t(uint8_t(v));
            if (r.InterfaceType < 0 || r.InterfaceType > 2)
                r.InterfaceType = 0;
            break;
        case 1: r.UniverseSize = uint16_t(Clamp(v, SettingsBounds::kUniverseMin, SettingsBounds::kUniverseMax)); break;
        case 2: r.TimerType = int32_t(v); break;
        case 3: r.TabIndex = (v < 0 || v >= SettingsBounds::kPages) ? 0 : int32_t(v); break;
        case 4: r.DMXPeriod = Clamp(v, SettingsBounds::kPeriodMin, SettingsBounds::kPeriodMax); break;
        case 5: r.InterfaceSelection = int32_t(v); break;
        case 6: r.discoTimeout = Clamp(v, SettingsBounds::kTimeoutMin, SettingsBounds::kTimeoutMax); break;
        }
    }
}

bool SettingsStore::Save(const SettingsRecord& r) const
{
    const QString file = QString::fromStdString(path_);
    if (!QDir().mkpath(QFileInfo(file).absolutePath()))
        return false;
    const int32_t values[7] = {int32_t(r.InterfaceType), int32_t(uint32_t(r.UniverseSize)), r.TimerType,
                               r.TabIndex, r.DMXPeriod, r.InterfaceSelection, r.discoTimeout};
    {
        QSettings ini(file, QSettings::IniFormat);
        for (int i = 0; i < 7; ++i)
            ini.setValue(kSettingNames[i], values[i]);
        ini.sync();
        if (ini.status() == QSettings::NoError && QFileInfo(file).isFile())
            return true;
    }
    throw SettingsError(std::string("Failed to set data for '") + kSettingNames[0] + "'");
}
