#include "app/dmx_tab.h"

#include "app/control_layout.h"

#include <QLabel>
#include <QScrollBar>
#include <QTimer>
#include <algorithm>

using namespace layout;

DmxTab::DmxTab(PageContext context)
    : dmx(context.service.port(), context.settings.UniverseSize), context_(std::move(context))
{
    setObjectName("TabSheet3");
    for (int i = 0; i < 16; ++i) {
        ScrollBar[i] = Place(new QScrollBar(Qt::Vertical, this), 16 + 24 * i, 40, 17, 200);
        ScrollBar[i]->setObjectName(QString("ScrollBar%1").arg(i + 1));
        ScrollBar[i]->setRange(0, 255);
        ScrollBar[i]->setPageStep(1);  // a click in the trough moves one step
        ScrollBar[i]->setSingleStep(1);
        ScrollBar[i]->setValue(255);
        FaderLabel[i] = Place(new QLabel("000", this), 15 + 24 * i, 16, 24, 16);
        FaderLabel[i]->setObjectName(QString("Label%1").arg(12 + i));
        context_.on(this, ScrollBar[i], &QScrollBar::valueChanged, [this, i] { ScrollBarChange(i + 1); });
    }
    for (int i = 1; i < 16; ++i)
        QWidget::setTabOrder(ScrollBar[i - 1], ScrollBar[i]);
    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setInterval(30);
    Timer1->setTimerType(Qt::PreciseTimer);
    context_.on(this, Timer1, &QTimer::timeout, [this] { Timer1Timer(); });
    // The high-resolution tick runs on its own thread; the log belongs to the event thread.
    dmx.onHighResFailure = [this](const std::string& text) {
        context_.service.post([this, text] { context_.log(text); });
    };
}

DmxTab::~DmxTab()
{
    // No tick may run against a page that is going away.
    dmx.DmxTimerStop();
    dmx.onHighResFailure = nullptr;
    Timer1->stop();
}

void DmxTab::stopOutput()
{
    Timer1->stop();
    dmx.DmxTimerStop();
}

void DmxTab::startOutput()
{
    const SettingsRecord& settings = context_.settings;
    const int periodMs = period ? period() : settings.DMXPeriod;
    const uint64_t frameUs = DmxOutput::FrameUs(std::min<int>(settings.UniverseSize, DmxOutput::kMaxSlots));
    if (uint64_t(periodMs) * 1000 < frameUs && (settings.TimerType == 0 || settings.TimerType == 1))
        context_.log("Период " + std::to_string(periodMs) + " мс короче кадра DMX из " +
                     std::to_string(settings.UniverseSize) + " каналов (" + std::to_string((frameUs + 999) / 1000) +
                     " мс на линии): кадры идут подряд, не чаще.");
    if (settings.TimerType == 0) {
        Timer1->setInterval(periodMs);
        Timer1->start();
    } else if (settings.TimerType == 1) {
        dmx.DmxTimerStart(periodMs);
    }
}

void DmxTab::Timer1Timer()
{
    if (dmx.SendFrame() == 0) {
        context_.log(status_text::kInterfaceError);
        Timer1->stop();
    }
}

void DmxTab::ScrollBarChange(int fader)
{
    const int level = 255 - ScrollBar[fader - 1]->value();
    dmx.SetSlot(fader, uint8_t(level));
    FaderLabel[fader - 1]->setText(QString::asprintf("%i", level));
}
