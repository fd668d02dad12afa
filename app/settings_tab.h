#pragma once
// The page "Настройки": the interface kind and device, the DMX timer, the
// discovery time-out, the universe size and the DMX period, and the exchange's
// options. What is chosen here goes to the settings record at once.
#include "app/page_context.h"
#include "link/enumeration.h"

#include <QWidget>
#include <functional>
#include <vector>

class QButtonGroup;
class QCheckBox;
class QGroupBox;
class QLineEdit;
class QListWidget;
class QPushButton;
class UpDown;

class SettingsTab : public QWidget {
    Q_OBJECT
public:
    explicit SettingsTab(PageContext context);

    QGroupBox* RadioGroupInterface;
    QButtonGroup* InterfaceItems;
    QListWidget* ListBoxInterfaces;
    QPushButton* ButtonConnect;
    // The Art-Net nodes to poll by address, beside "Подключить"; shown for that kind.
    QLineEdit* EditNodes;
    QGroupBox* RadioGroup1;
    QButtonGroup* TimerItems;
    QCheckBox* CheckBoxFastExchange;
    QCheckBox* CheckBoxAllParameters;
    QLineEdit* EditTimeout;
    QLineEdit* EditUniverse;
    QLineEdit* EditPeriod;
    UpDown* UpDownTimeout;
    UpDown* UpDownUnivSize;
    UpDown* UpDownPeriod;

    std::vector<InterfaceEntry> interfaces;  // the rows of ListBoxInterfaces

    void RadioGroupInterfaceClick();
    // Selects the row of the interface the settings name; false, said in the log,
    // when that interface is not attached.
    bool ChooseStoredInterface();
    void ListBoxInterfacesClick();
    void ButtonConnectClick();
    void EditNodesDone();
    void RadioGroup1Click();
    void CheckBoxFastExchangeClick();
    void CheckBoxAllParametersClick();

    // The controls as the settings record has them, at start-up.
    void showSettings();
    // The chosen interface row and its text, into the record before it is saved.
    void storeChoice();
    void setLocked(bool locked);
    int periodShown() const;  // the period box's value as it reads now

    std::function<void()> allParametersChanged;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct NumberBox {
        QLineEdit* edit;
        UpDown* upDown;
        std::function<void(int)> store;
    };
    void buildControls();
    NumberBox* numberBoxFor(QObject* edit);
    bool ValidateNumberBox(QLineEdit* edit, int min, int max);
    void CommitNumberBox(NumberBox& box);
    void UpDownClick(NumberBox& box);

    PageContext context_;
    NumberBox boxes_[3];
};
