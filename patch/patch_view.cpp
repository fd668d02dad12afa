#include "patch/patch_view.h"

#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>

void PaintBoxWidget::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    if (onPaint)
        onPaint(painter);
}

void PaintBoxWidget::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint p = event->position().toPoint();
    if (onMouseMove)
        onMouseMove(event->buttons(), p.x(), p.y());
}

void PaintBoxWidget::mousePressEvent(QMouseEvent* event)
{
    const QPoint p = event->position().toPoint();
    if (onMouseDown)
        onMouseDown(event->button(), p.x(), p.y());
}

bool PaintBoxWidget::event(QEvent* event)
{
    if (event->type() != QEvent::ToolTip || !onToolTip)
        return QWidget::event(event);
    auto* help = static_cast<QHelpEvent*>(event);
    const QString text = onToolTip(help->pos().x(), help->pos().y());
    if (text.isEmpty()) {
        QToolTip::hideText();
        event->ignore();
    } else {
        QToolTip::showText(help->globalPos(), text, this);
    }
    return true;
}

void PaintBoxWidget::mouseReleaseEvent(QMouseEvent* event)
{
    const QPoint p = event->position().toPoint();
    if (onMouseUp)
        onMouseUp(event->button(), p.x(), p.y());
}
