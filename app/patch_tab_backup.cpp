// The page's backup and restore: every settable parameter of the listed devices
// kept in a file and written back, with the command line's code, file and report.
#include "app/patch_tab.h"

#include "patch/backup_file.h"
#include "rdm/uid.h"

#include <algorithm>

void PatchTab::ButtonBackupClick()
{
    if (devices_.listed() == 0) {
        context_.log("Сохранение настроек: в списке нет устройств; сначала «Обнаруж.».");
        return;
    }
    const QString path = context_.dialogs.askSaveBackup();
    if (path.isEmpty())
        return;
    std::vector<Uid> uids;
    for (int i = 0; i < devices_.listed(); ++i)
        uids.push_back(devices_.entries[i].uid);
    context_.service.backup(uids, [this, file = path.toStdString(), wanted = uids.size()](const BackupResult& r) {
        for (const std::string& line : BackupReportLines(r.devices))
            context_.log(line);
        std::string why;
        if (!SaveBackupFile(file, r.devices, why)) {
            context_.log("Настройки не сохранены: " + file + ": " + why);
            context_.dialogs.beep();
            return;
        }
        size_t missing = 0;
        for (const SavedDevice& d : r.devices)
            missing += d.missing.size();
        std::string summary = "Настройки " + std::to_string(r.devices.size()) + " из " + std::to_string(wanted) +
                              " устройств сохранены в " + file;
        if (missing)
            summary += "; не прочитано значений: " + std::to_string(missing) + " (в файле они названы)";
        if (r.stopped || r.interfaceFailed)
            summary += r.stopped ? "; остановлено до остальных" : "; интерфейс отказал";
        context_.log(summary + ".");
    });
}

void PatchTab::ButtonRestoreClick()
{
    const QString path = context_.dialogs.askOpenBackup();
    if (path.isEmpty())
        return;
    std::vector<SavedDevice> saved;
    std::string why;
    if (!LoadBackupFile(path.toStdString(), saved, why)) {
        context_.log("Файл настроек не загружен: " + path.toStdString() + ": " + why);
        context_.dialogs.showMessage(QString::fromUtf8("Файл настроек не загружен: ") + QString::fromStdString(why));
        return;
    }
    // Written only to the devices listed now; the others are named.
    std::vector<SavedDevice> work;
    for (SavedDevice& d : saved) {
        const bool listed = std::any_of(devices_.entries, devices_.entries + devices_.listed(),
                                        [&](const DeviceEntry& e) { return e.uid == d.uid; });
        if (!listed)
            context_.log("Восстановление: " + UidLogText(d.uid) + " есть в файле, но не в списке; не записано.");
        else if (!d.read || d.values.empty())
            context_.log("Восстановление: " + UidLogText(d.uid) + ": в файле нет его значений; не записано.");
        else
            work.push_back(std::move(d));
    }
    if (work.empty()) {
        context_.log("Восстановление: ни одного устройства из файла нет в списке.");
        return;
    }
    if (!context_.dialogs.confirm(QString::fromUtf8("Записать сохранённые настройки в %1 устройств из %2?")
                                      .arg(work.size())
                                      .arg(QString::fromStdString(path.toStdString()))))
        return;
    context_.service.restore(std::move(work), [this](const RestoreResult& r) {
        for (const std::string& line : RestoreReportLines(r.steps))
            context_.log(line);
        for (const Uid uid : r.notReached)
            context_.log("Восстановление: " + UidLogText(uid) + ": ничего не записано (" +
                         (r.interfaceFailed ? "интерфейс отказал" : "остановлено") + ").");
        const size_t matching = size_t(std::count_if(r.steps.begin(), r.steps.end(),
                                                     [](const RestoreStep& s) { return s.matches(); }));
        std::string summary = "Восстановление: совпадает " + std::to_string(matching) + " из " +
                              std::to_string(r.steps.size()) + " значений";
        if (r.stopped || r.interfaceFailed || !r.notReached.empty())
            summary += r.interfaceFailed ? "; интерфейс отказал" : "; остановлено";
        context_.log(summary + (matching == r.steps.size() && r.notReached.empty() ? " (прочитано обратно)." : "."));
        if (matching != r.steps.size() || !r.notReached.empty())
            context_.dialogs.beep();
    });
}
