#include "app/rdm_service.h"

#include "patch/patch_transfer.h"
#include "rdm/device_info.h"
#include "rdm/uid.h"

#include <thread>

RdmService::RdmService(SerialApi& serial, D2xx& d2xx, Clock& clock, bool threaded, QObject* owner,
                       ServiceEvents events)
    : port_(serial, d2xx),
      engine_(port_, clock, *this),
      events_(std::move(events)),
      owner_(owner),
      eventThread_(std::this_thread::get_id()),
      runner_(threaded, [owner](Task task) { QMetaObject::invokeMethod(owner, std::move(task), Qt::QueuedConnection); })
{
}

RdmService::~RdmService() { shutDown(); }

void RdmService::shutDown()
{
    queue_.clear();
    runner_.shutDown();
}

void RdmService::post(Task task)
{
    if (std::this_thread::get_id() == eventThread_)
        task();
    else
        QMetaObject::invokeMethod(owner_, std::move(task), Qt::QueuedConnection);
}

void RdmService::appendLine(const std::string& text)
{
    // Lines written by a command reach the window in order, as they are written.
    post([this, text] {
        if (events_.log)
            events_.log(text);
    });
}

void RdmService::stopAll()
{
    queue_.clear();
    stop();
}

void RdmService::stop()
{
    if (runner_.busy())
        runner_.requestStop();
}

// --- the queue ---

void RdmService::enqueue(std::string what, Task job, Task finished)
{
    queue_.push_back({std::move(what), std::move(job), std::move(finished)});
    announce();
    startNext();
}

void RdmService::announce()
{
    // Said once when work begins and once when the last command's results are in,
    // however many commands a result itself asks for (a Read Back after a Set).
    if (announced_ == busy())
        return;
    announced_ = busy();
    if (events_.running)
        events_.running(announced_);
}

void RdmService::startNext()
{
    if (runner_.busy() || queue_.empty())
        return;
    Command command = std::move(queue_.front());
    queue_.pop_front();
    if (events_.progress)
        events_.progress(command.what.empty() ? "Обмен с устройством" : command.what, 0, 0);
    runner_.start(
        std::move(command.job),
        [this, finished = std::move(command.finished)] {
            if (finished)
                finished();
            startNext();
            announce();
        },
        [this](const std::string& error) {
            if (events_.failed)
                events_.failed(error);
            startNext();
            announce();
        });
}

RunControl RdmService::control(const std::string& unit)
{
    RunControl control;
    control.stopRequested = [this] { return runner_.stopRequested(); };
    control.progress = [this, unit](int done, int total) {
        post([this, unit, done, total] {
            if (events_.progress)
                events_.progress(unit + " " + std::to_string(done) + " из " + std::to_string(total), done, total);
        });
    };
    return control;
}

// --- commands ---

void RdmService::discover(DiscoveryEvents events, std::function<void(const DiscoveryVerdict&)> done)
{
    // Output stops here, on the event thread that owns its timers, before the run.
    if (events.stopOutput)
        events.stopOutput();
    auto shared = std::make_shared<DiscoveryEvents>(std::move(events));
    auto verdict = std::make_shared<DiscoveryVerdict>();
    enqueue(
        "Обнаружение",
        [this, shared, verdict] {
            DiscoveryHooks hooks{
                [this, shared] { post([shared] { shared->stopOutput(); }); },
                [this, shared] { post([shared] { shared->resumeOutput(); }); },
                [this, shared] { post([shared] { shared->cleared(); }); },
                [this, shared](Uid uid) { post([shared, uid] { shared->found(uid); }); },
                [this] { return discoveryTimeout_.load(); },
                [this] { return runner_.stopRequested(); },
                [this](int found, uint32_t elapsedMs) {
                    const int timeout = discoveryTimeout_.load();
                    post([this, found, elapsedMs, timeout] {
                        if (events_.progress)
                            events_.progress("Обнаружение: найдено " + std::to_string(found) + ", " +
                                                 std::to_string(elapsedMs / 1000) + " из " + std::to_string(timeout) +
                                                 " с",
                                             int(elapsedMs / 100), timeout * 10);
                    });
                }};
            Discovery discovery(engine_, found_, std::move(hooks));
            *verdict = discovery.Run();
        },
        [verdict, done = std::move(done)] {
            if (done)
                done(*verdict);
        });
}

void RdmService::readDevice(Uid uid, bool allParameters, DeviceReadEvents events, std::function<void()> done)
{
    auto shared = std::make_shared<DeviceReadEvents>(std::move(events));
    ParamReadSink sink;
    sink.listed = [this, shared, uid](int count) { post([shared, uid, count] { shared->listed(uid, count); }); };
    sink.deviceInfo = [this, shared, uid](const std::array<std::string, 9>* info) {
        std::optional<std::array<std::string, 9>> texts;
        if (info)
            texts = *info;
        post([shared, uid, texts] { shared->deviceInfo(uid, texts); });
    };
    sink.softwareVersionLabel = [this, shared, uid](const std::string& label) {
        post([shared, uid, label] { shared->softwareVersionLabel(uid, label); });
    };
    sink.row = [this, shared, uid](int k, const RDMPARAMDESC& record, const std::string& value) {
        post([shared, uid, k, record, value] { shared->row(uid, k, record, value); });
    };
    enqueue(
        "Получение параметров",
        [this, uid, allParameters, sink] {
            ReadDeviceParameters(engine_, uid, read_, sink, control("Параметр"), allParameters);
        },
        std::move(done));
}

void RdmService::commitValue(Uid uid, int index, const RDMPARAMDESC& record, const std::string& text, bool readBack,
                             CellCommit commit, std::function<void(const CommitResult&)> done)
{
    auto result = std::make_shared<CommitResult>();
    result->uid = uid;
    result->index = index;
    result->record = record;
    enqueue(
        std::string(),
        [this, result, text, readBack, commit] {
            result->shown = commit(engine_, result->uid, result->record, text, readBack);
        },
        [result, done = std::move(done)] { done(*result); });
}

void RdmService::sendRecord(Uid uid, int index, const RDMPARAMDESC& record,
                            std::function<void(const std::optional<RefusedValue>&)> done)
{
    auto refused = std::make_shared<std::optional<RefusedValue>>();
    enqueue(
        std::string(), [this, uid, index, record, refused] { *refused = SetRecord(engine_, uid, index, record); },
        [refused, done = std::move(done)] { done(*refused); });
}

void RdmService::sendAll(Uid uid, const ParamTable& table, std::vector<std::string> texts,
                         std::function<void(Uid, const std::vector<RefusedValue>&, bool stopped)> done)
{
    auto copy = std::make_shared<ParamTable>(table);
    auto refused = std::make_shared<std::vector<RefusedValue>>();
    auto stopped = std::make_shared<bool>(false);
    enqueue(
        "Установка параметров",
        [this, uid, copy, texts = std::move(texts), refused, stopped] {
            *refused = SendAllValues(engine_, uid, *copy, texts, control("Параметр"));
            *stopped = runner_.stopRequested();
        },
        [uid, refused, stopped, done = std::move(done)] { done(uid, *refused, *stopped); });
}

void RdmService::readPersonalities(Uid uid, int count,
                                   std::function<void(Uid, const std::vector<Personality>&)> done)
{
    auto read = std::make_shared<std::vector<Personality>>();
    enqueue(
        std::string(), [this, uid, count, read] { *read = ReadPersonalities(engine_, uid, count); },
        [uid, read, done = std::move(done)] { done(uid, *read); });
}

void RdmService::choosePersonality(Uid uid, int number, std::function<void(const PersonalityResult&)> done)
{
    auto result = std::make_shared<PersonalityResult>();
    result->uid = uid;
    result->number = number;
    enqueue(
        std::string(),
        [this, result] {
            result->sent = SetPersonality(engine_, result->uid, result->number);
            LogSetOutcome(engine_, result->uid, "DMX Personality", result->sent);
            rdm::DeviceInfo info;
            if (GetDeviceInfo(engine_, result->uid, info))
                result->info = info;
        },
        [result, done = std::move(done)] { done(*result); });
}

void RdmService::identify(Uid uid, bool on)
{
    enqueue(std::string(), [this, uid, on] { SetIdentify(engine_, uid, on); }, {});
}

void RdmService::readPatch(const DeviceTable& table, int count,
                           std::function<void(Uid uid, uint16_t footprint, uint16_t startIndex)> row,
                           std::function<void()> done)
{
    auto copy = std::make_shared<DeviceTable>(table);
    enqueue(
        "Чтение расстановки",
        [this, copy, count, row = std::move(row)] {
            ReadPatch(
                engine_, *copy, count,
                [this, row, copy](int i, uint16_t footprint, uint16_t startIndex) {
                    post([row, uid = copy->entries[i].uid, footprint, startIndex] { row(uid, footprint, startIndex); });
                },
                control("Устройство"));
        },
        std::move(done));
}

void RdmService::writePatch(const DeviceTable& table, int count, std::function<void()> done)
{
    auto copy = std::make_shared<DeviceTable>(table);
    enqueue("Запись расстановки", [this, copy, count] { WritePatch(engine_, *copy, count, control("Устройство")); },
            std::move(done));
}

void RdmService::backup(std::vector<Uid> uids, std::function<void(const BackupResult&)> done)
{
    auto result = std::make_shared<BackupResult>();
    enqueue(
        "Сохранение настроек",
        [this, uids = std::move(uids), result] {
            const RunControl c = control("Устройство");
            BackupRun run{c.stopRequested};
            result->devices = BackUpDevices(engine_, uids, run,
                                            [&c](size_t i, size_t n, Uid) { c.step(int(i + 1), int(n)); });
            result->stopped = run.stopped;
            result->interfaceFailed = run.interfaceFailed;
        },
        [result, done = std::move(done)] { done(*result); });
}

void RdmService::restore(std::vector<SavedDevice> saved, std::function<void(const RestoreResult&)> done)
{
    auto result = std::make_shared<RestoreResult>();
    enqueue(
        "Восстановление настроек",
        [this, saved = std::move(saved), result] {
            const RunControl c = control("Устройство");
            BackupRun run{c.stopRequested};
            std::vector<RestoreTarget> targets;
            for (const SavedDevice& d : saved)
                targets.push_back({&d, d.uid});
            static_cast<RestoreRun&>(*result) = RestoreDevices(
                engine_, targets, false, run, [&c](size_t i, size_t n, Uid) { c.step(int(i + 1), int(n)); });
            result->stopped = run.stopped;
            result->interfaceFailed = run.interfaceFailed;
        },
        [result, done = std::move(done)] { done(*result); });
}

void RdmService::healthRound(const std::vector<Uid>& listed,
                             std::function<void(const std::vector<DeviceHealth>&)> done)
{
    auto shown = std::make_shared<std::vector<DeviceHealth>>();
    enqueue(
        "Опрос состояния",
        [this, listed, shown] {
            // A new list (another discovery, a patch file loaded) starts the watch afresh.
            // Without its own discovery the watch holds exactly the devices it follows.
            if (!watch_ || watched_ != listed) {
                watch_ = std::make_unique<HealthWatch>(engine_);
                watch_->discover = false;  // the list's own discovery finds the devices
                watched_ = listed;
            }
            watch_->follow(listed);
            watch_->discoveryTimeoutSeconds = discoveryTimeout_.load();
            watch_->round([this] { return runner_.stopRequested(); });
            *shown = watch_->devices();
        },
        [this, shown, done = std::move(done)] {
            health_ = *shown;
            done(health_);
        });
}
