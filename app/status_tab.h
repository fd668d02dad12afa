#pragma once
// The page "Состояние": the listed devices' health, refreshed by a round of the
// service's health watch every few seconds while the page is shown.
#include "app/page_context.h"
#include "rdm/health_watch.h"

#include <QWidget>

class QTableWidget;
class QTimer;

class StatusTab : public QWidget {
    Q_OBJECT
public:
    explicit StatusTab(PageContext context);

    QTableWidget* StatusTable;
    QTimer* StatusTimer;

    static constexpr int kRoundEveryMs = 6000;

    void StatusPageChange(bool shown);  // the page shown or left
    void StatusTimerTimer();            // the next round, when the line is free
    void showHealth(const std::vector<DeviceHealth>& devices);

private:
    PageContext context_;
    bool shown_ = false;
};
