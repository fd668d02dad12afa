#include "app/status_tab.h"

#include "app/device_text.h"
#include "rdm/e120_names.h"
#include "rdm/uid.h"

#include <QFontMetrics>
#include <QHeaderView>
#include <QTableWidget>
#include <QTimer>
#include <algorithm>

namespace {

constexpr int kModelColumn = 2;
constexpr int kSensorsColumn = 6;
constexpr int kLampColumn = 7;

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

StatusTab::StatusTab(PageContext context) : context_(std::move(context))
{
    setObjectName("TabSheet5");
    StatusTable = new QTableWidget(0, 8, this);
    StatusTable->setObjectName("StatusTable");
    StatusTable->setGeometry(8, 8, 433, 340);
    StatusTable->setHorizontalHeaderLabels({"UID", QString::fromUtf8("Метка"), QString::fromUtf8("Модель"),
                                            QString::fromUtf8("Адрес"), QString::fromUtf8("Связь"),
                                            QString::fromUtf8("Состояние"), QString::fromUtf8("Датчики, лампа"),
                                            QString::fromUtf8("Лампа, ч")});
    StatusTable->verticalHeader()->setVisible(false);
    StatusTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    StatusTable->setSelectionMode(QAbstractItemView::NoSelection);
    // Everything fits the page, nothing scrolls sideways: the model goes to the tool
    // tips of the UID and the label, the lamp hours follow the sensors, and the
    // sensors take what the others leave and wrap onto more lines.
    QHeaderView* header = StatusTable->horizontalHeader();
    QFont small = StatusTable->font();
    small.setPixelSize(10);
    StatusTable->setFont(small);
    header->setFont(small);
    // Each column as wide as its widest usual text in this font; the label is cut
    // (its tool tip has it whole) and the sensors take the rest.
    const QFontMetrics metrics(small);
    auto fit = [&metrics](std::initializer_list<const char*> texts) {
        int widest = 0;
        for (const char* t : texts)
            widest = std::max(widest, metrics.horizontalAdvance(QString::fromUtf8(t)));
        return widest + 8;
    };
    const int widths[] = {fit({"7FF0:00000000"}), 54, 0, fit({"Адрес", "512"}), fit({"нет связи", "Связь"}),
                          fit({"предупреждение", "Состояние"}), 0, 0};
    for (int c = 0; c < 8; ++c)
        StatusTable->setColumnWidth(c, widths[c]);
    StatusTable->setColumnHidden(kLampColumn, true);  // its hours follow the sensors
    StatusTable->setColumnHidden(kModelColumn, true);
    header->setSectionResizeMode(kSensorsColumn, QHeaderView::Stretch);
    StatusTable->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    StatusTable->setTextElideMode(Qt::ElideRight);
    StatusTable->setWordWrap(true);
    StatusTable->verticalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    StatusTimer = new QTimer(this);
    StatusTimer->setObjectName("StatusTimer");
    StatusTimer->setSingleShot(true);
    context_.on(this, StatusTimer, &QTimer::timeout, [this] { StatusTimerTimer(); });
}

void StatusTab::StatusPageChange(bool shown)
{
    shown_ = shown;
    if (!shown) {
        StatusTimer->stop();
        return;
    }
    showHealth(context_.service.health());
    StatusTimer->start(0);
}

void StatusTab::StatusTimerTimer()
{
    if (!shown_)
        return;
    if (context_.service.busy()) {
        StatusTimer->start(500);  // after the work going on
        return;
    }
    std::vector<Uid> listed;
    for (int i = 0; i < context_.devices.listed(); ++i)
        listed.push_back(context_.devices.entries[i].uid);
    context_.service.healthRound(listed, [this](const std::vector<DeviceHealth>& devices) {
        showHealth(devices);
        if (shown_ && !context_.service.stopRequested())
            StatusTimer->start(kRoundEveryMs);
    });
}

void StatusTab::showHealth(const std::vector<DeviceHealth>& watched)
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
        if (d.lampHours)
            sensors += (sensors.isEmpty() ? "" : "; ") + QString::fromUtf8("лампа %1 ч").arg(*d.lampHours);
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
            QStringList tip;
            if (c < kModelColumn && !cells[kModelColumn].isEmpty())
                tip << QString::fromUtf8("Модель: ") + cells[kModelColumn];
            if (c >= kModelColumn && c != kSensorsColumn && item->text().size() > 8)
                tip << item->text();  // what a narrow cell may cut
            if (!d.problems.empty())
                tip << QString::fromStdString(d.problems.front());
            item->setToolTip(tip.join('\n'));
            StatusTable->setItem(row, c, item);
        }
    }
}
