#pragma once
// A drop-down whose list can be filled when it is about to open: `beforePopup`
// says whether to open now (false: it opens later, through openPopup).
#include <QComboBox>
#include <functional>

class PopupComboBox : public QComboBox {
    Q_OBJECT
public:
    explicit PopupComboBox(QWidget* parent = nullptr) : QComboBox(parent) {}
    std::function<bool()> beforePopup;
    void showPopup() override
    {
        if (!beforePopup || beforePopup())
            QComboBox::showPopup();
    }
    void openPopup() { QComboBox::showPopup(); }
};
