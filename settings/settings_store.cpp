#include "settings/settings_store.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace {

const char* const kInterfaceNameKey = "InterfaceName";
const char* const kNodeAddressesKey = "ArtNetNodes";

// A stored value as the 32 bits it holds; throws for text that is no such value.
// Values are stored in decimal, so a leading 0 or 0x is not read as another base.
int32_t ReadValue(const QSettings& ini, const char* name)
{
    const QVariant raw = ini.value(name);
    if (raw.typeId() == QMetaType::QStringList)
        throw SettingsError(std::string("Invalid data type for '") + name + "'");
    const QString text = raw.toString().trimmed();
    bool ok = false;
    const qlonglong v = text.toLongLong(&ok, 10);
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
    return int32_t(uint32_t(v));
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
    std::string firstError;
    for (int i = 0; i < kSettingCount; ++i) {
        const SettingField& field = kSettingFields[i];
        if (!ini.contains(field.name))
            continue;
        try {
            field.set(r, field.accept(ReadValue(ini, field.name)));
        } catch (const SettingsError& e) {
            r.unreadable |= 1u << i;
            if (firstError.empty())
                firstError = e.what();
        }
    }
    r.InterfaceName = ini.value(kInterfaceNameKey).toString().toStdString();
    // Several addresses written with commas come back from QSettings as a list.
    r.NodeAddresses = ini.value(kNodeAddressesKey).toStringList().join(", ").toStdString();
    if (!firstError.empty())
        throw SettingsError(firstError);
}

SettingsRecord SettingsStore::LoadOrDefaults() const
{
    SettingsRecord r;
    try {
        Load(r);
    } catch (const SettingsError&) {
        // Every value that could be read is kept; the bad one has its default.
    }
    return r;
}

bool SettingsStore::Save(const SettingsRecord& r) const
{
    const QString file = QString::fromStdString(path_);
    if (!QDir().mkpath(QFileInfo(file).absolutePath()))
        return false;
    {
        QSettings ini(file, QSettings::IniFormat);
        SettingsRecord defaults;
        SetDefaults(defaults);
        for (int i = 0; i < kSettingCount; ++i) {
            const SettingField& field = kSettingFields[i];
            if ((r.unreadable & (1u << i)) && field.get(r) == field.get(defaults))
                continue;  // never read, never changed: the stored text stays
            ini.setValue(field.name, field.get(r));
        }
        ini.setValue(kInterfaceNameKey, QString::fromStdString(r.InterfaceName));
        // A file without nodes named keeps none.
        if (!r.NodeAddresses.empty())
            ini.setValue(kNodeAddressesKey, QString::fromStdString(r.NodeAddresses));
        else
            ini.remove(kNodeAddressesKey);
        ini.sync();
        if (ini.status() == QSettings::NoError && QFileInfo(file).isFile())
            return true;
    }
    throw SettingsError(std::string("Failed to set data for '") + kSettingFields[0].name + "'");
}
