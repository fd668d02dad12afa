#pragma once
// The page "DMX-Tx": sixteen faders for the first slots of the universe, sent
// while the page is shown, by the window's timer or the high-resolution one.
#include "app/page_context.h"
#include "dmx/dmx_output.h"

#include <QWidget>

class QLabel;
class QScrollBar;
class QTimer;

class DmxTab : public QWidget {
    Q_OBJECT
public:
    explicit DmxTab(PageContext context);
    ~DmxTab() override;

    QScrollBar* ScrollBar[16];  // ScrollBar1..16
    QLabel* FaderLabel[16];     // Label12..27
    QTimer* Timer1;             // the standard DMX timer
    DmxOutput dmx;

    void ScrollBarChange(int fader);  // fader 1..16
    void Timer1Timer();
    // Output starts at the chosen period while the page is shown; `shown` false stops it.
    void startOutput();
    void stopOutput();
    // The period as its box on the settings page reads now, in ms.
    std::function<int()> period;

private:
    PageContext context_;
};
