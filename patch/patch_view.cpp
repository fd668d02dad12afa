#include "patch/patch_view.h"

#include <QMouseEvent>
#include <QPainter>

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

void PaintBoxWidget::mouseReleaseEvent(QMouseEvent* event)
{
    const QPoint p = event->position().toPoint();
    if (onMouseUp)
        onMouseUp(event->button(), p.x(), p.y());
}
