#include "app/log_panel.h"

#include "app/control_layout.h"
#include "app/log_pane.h"

#include <QLabel>
#include <QProgressBar>

using namespace layout;

LogPanel::LogPanel(QWidget* window) : QWidget(window)
{
    setObjectName("LogPanel");
    setGeometry(0, kTop, window->width(), window->height() - kTop);
    auto at = [](int y) { return y - kTop; };
    LogMemo = Place(new LogPane(this), 8, at(400), 625, 153, "LogMemo");
    LogMemo->setFont(MonoFont(12));
    CheckBoxLog = Check(this, "CheckBoxLog", "Подробный лог", 16, at(560), 113, 17);
    ButtonCLR = Button(this, "ButtonCLR", "Очистить", 144, at(556), 75, 25);
    // The free strip right of "Очистить": what a run is doing, and a way to stop it.
    RunLabel = Place(new QLabel(this), 230, at(560), 222, 17, "RunLabel");
    RunProgress = Place(new QProgressBar(this), 456, at(559), 104, 19, "RunProgress");
    RunProgress->setTextVisible(false);
    ButtonStop = Button(this, "ButtonStop", "Стоп", 566, at(556), 67, 25);
    for (QWidget* w : std::initializer_list<QWidget*>{RunLabel, RunProgress, ButtonStop})
        w->hide();
}

void LogPanel::showProgress(const QString& text, int done, int total)
{
    RunLabel->setText(text);
    RunProgress->setRange(0, total);  // 0 of 0: the bar only shows that work goes on
    RunProgress->setValue(done);
}

void LogPanel::showRunning(bool running)
{
    RunLabel->setVisible(running);
    RunProgress->setVisible(running);
    ButtonStop->setVisible(running);
}
