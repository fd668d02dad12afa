// The page "Состояние": the listed devices' health, refreshed by rounds on the
// worker while the page is shown and no other run is going.
#include "app/form1.h"

#include "app/device_text.h"
#include "rdm/e120_names.h"

#include <QHeaderView>
#include <QListWidget>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <algorithm>

namespace {

constexpr int kStatusPage = 4;
constexpr int kRoundEveryMs = 6000;


QString StatusText(uint8_t worst)
{
    switch (worst) {
    case rdm::STATUS_ADVISORY: return QString::fromUtf8("сообщение");
    case rdm::STATUS_WARNING: return QString::fromUtf8("предупреждение");
    case rdm::STATUS_ERROR: return QString::fromUtf8("ошибка");
    default: return QString::fromUtf8("норма");
    }
}

} // namespace

void TForm1::buildStatusPage()
{
    StatusTable = new QTableWidget(0, 8, TabSheet5);
    StatusTable->setGeometry(8, 8, 433, 340);
    StatusTable->setHorizontalHeaderLabels({"UID", QString::fromUtf8("Метка"), QString::fromUtf8("Модель"),
                                            QString::fromUtf8("Адрес"), QString::fromUtf8("Связь"),
                                            QString::fromUtf8("Состояние"), QString::fromUtf8("Датчики"),
                                            QString::fromUtf8("Лампа, ч")});
    StatusTable->verticalHeader()->setVisible(false);
    StatusTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    StatusTable->setSelectionMode(QAbstractItemView::NoSelection);
    StatusTable->horizontalHeader()->setStretchLastSection(true);
    // UID, label, model, address, online, status, sensors, lamp hours: the first
    // six fit the page; the sensors take what their readings need.
    const int widths[] = {92, 60, 110, 44, 66, 100, 230, 60};
    for (int c = 0; c < 8; ++c)
        StatusTable->setColumnWidth(c, widths[c]);
    StatusTable->setWordWrap(false);
    StatusTimer = new QTimer(this);
    StatusTimer->setSingleShot(true);
    connect(StatusTimer, &QTimer::timeout, this, [this] { guarded([this] { StatusTimerTimer(); }); });
}

void TForm1::StatusPageChange()
{
    if (PageControl1->currentIndex() != kStatusPage) {
        StatusTimer->stop();
        return;
    }
    if (health_)
        showHealth(health_->devices());
    StatusTimer->start(0);
}

void TForm1::StatusTimerTimer()
{
    if (PageControl1->currentIndex() != kStatusPage)
        return;
    if (running()) {
        StatusTimer->start(500);  // after the run going on
        return;
    }
    std::vector<Uid> listed;
    for (int i = 0; i < listedDevices(); ++i)
        listed.push_back(devices.entries[i].uid);
    // A new list (another discovery, a patch file loaded) starts the table afresh.
    // Without its own discovery the watch holds exactly the devices it follows.
    const auto followsListed = [&] {
        const std::vector<DeviceHealth>& followed = health_->devices();
        return std::equal(listed.begin(), listed.end(), followed.begin(), followed.end(),
                          [](Uid uid, const DeviceHealth& d) { return uid == d.uid; });
    };
    if (!health_ || !followsListed()) {
        health_ = std::make_unique<HealthWatch>(engine);
        health_->discover = false;  // the list's own discovery finds the devices
    }
    health_->follow(listed);
    health_->discoveryTimeoutSeconds = discoveryTimeout();
    auto shown = std::make_shared<std::vector<DeviceHealth>>();
    startRun(
        QString::fromUtf8("Опрос состояния"),
        [this, shown] {
            health_->round([this] { return runner_->stopRequested(); });
            *shown = health_->devices();
        },
        [this, shown] {
            showHealth(*shown);
            if (PageControl1->currentIndex() == kStatusPage && !runner_->stopRequested())
                StatusTimer->start(kRoundEveryMs);
        });
}

void TForm1::showHealth(const std::vector<DeviceHealth>& watched)
{
    StatusTable->setRowCount(int(watched.size()));
    for (int row = 0; row < int(watched.size()); ++row) {
        const DeviceHealth& d = watched[size_t(row)];
        QString sensors;
        for (const SensorHealth& s : d.sensors) {
            if (!s.value)
                continue;
            const std::string unit = UnitSymbol(s.unit, s.prefix);
            sensors += (sensors.isEmpty() ? "" : "; ") + FromDeviceUtf8(s.description) + " " + QString::number(*s.value) +
                       (unit.empty() ? "" : " " + QString::fromStdString(unit)) +
                       (s.defined && !s.inNormalRange() ? " (!)" : "");
        }
        const QStringList cells{QString::fromStdString(UidColonText(d.uid)),
                                FromDeviceUtf8(d.label),
                                FromDeviceUtf8(d.model),
                                d.footprint ? QString::number(d.startAddress) : QString(),
                                d.online ? QString::fromUtf8("есть") : QString::fromUtf8("нет связи"),
                                StatusText(d.worstStatus()),
                                sensors,
                                d.lampHours ? QString::number(*d.lampHours) : QString()};
        // Offline rows stay, marked; warnings and errors stand out.
        const QColor colour = !d.online                                   ? QColor(200, 200, 200)
                              : d.worstStatus() >= rdm::STATUS_ERROR      ? QColor(255, 150, 150)
                              : d.worstStatus() >= rdm::STATUS_WARNING    ? QColor(255, 230, 130)
                              : !d.problems.empty()                       ? QColor(255, 240, 200)
                                                                          : QColor(255, 255, 255);
        for (int c = 0; c < cells.size(); ++c) {
            auto* item = new QTableWidgetItem(cells[c]);
            item->setBackground(colour);
            if (!d.problems.empty())
                item->setToolTip(QString::fromStdString(d.problems.front()));
            StatusTable->setItem(row, c, item);
        }
    }
}
