#pragma once
// The paint box of the universe map; the window paints it and handles its mouse.
#include <QWidget>
#include <functional>

class PaintBoxWidget : public QWidget {
    Q_OBJECT
public:
    explicit PaintBoxWidget(QWidget* parent = nullptr) : QWidget(parent) {}

    std::function<void(QPainter&)> onPaint;
    std::function<void(Qt::MouseButtons, int, int)> onMouseMove;
    std::function<void(Qt::MouseButton, int, int)> onMouseUp;

protected:
    void paintEvent(QPaintEvent*) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
};
