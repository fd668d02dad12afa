#pragma once
// A small pair of arrow buttons with a position between bounds, not tied to any
// edit box: handlers copy values between the two.
#include <QWidget>

class QToolButton;

class UpDown : public QWidget {
    Q_OBJECT
public:
    explicit UpDown(QWidget* parent = nullptr);
    void setRange(int min, int max);
    int minimum() const { return min_; }
    int maximum() const { return max_; }
    int position() const { return position_; }
    void setPosition(int position);
    void press(bool upper);  // what a click on one half does

Q_SIGNALS:
    void clicked(bool upper);

protected:
    void resizeEvent(QResizeEvent*) override;

private:
    QToolButton* up_;
    QToolButton* down_;
    int min_ = 0, max_ = 100, position_ = 0;
};
