#include "app/up_down.h"

#include <QToolButton>

UpDown::UpDown(QWidget* parent) : QWidget(parent), up_(new QToolButton(this)), down_(new QToolButton(this))
{
    up_->setArrowType(Qt::UpArrow);
    down_->setArrowType(Qt::DownArrow);
    for (QToolButton* b : {up_, down_}) {
        b->setFocusPolicy(Qt::NoFocus);
        b->setAutoRepeat(true);
    }
    connect(up_, &QToolButton::clicked, this, [this] { press(true); });
    connect(down_, &QToolButton::clicked, this, [this] { press(false); });
}

void UpDown::setRange(int min, int max)
{
    min_ = min;
    max_ = max;
    setPosition(position_);
}

void UpDown::setPosition(int position) { position_ = position < min_ ? min_ : position > max_ ? max_ : position; }

void UpDown::press(bool upper)
{
    setPosition(position_ + (upper ? 1 : -1));
    Q_EMIT clicked(upper);
}

void UpDown::resizeEvent(QResizeEvent*)
{
    const int half = height() / 2;
    up_->setGeometry(0, 0, width(), half);
    down_->setGeometry(0, half, width(), height() - half);
}
