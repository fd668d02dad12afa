#pragma once
// The paint box of the universe map; the window paints it and handles its mouse.
#include <QString>
#include <QWidget>
#include <functional>

class PaintBoxWidget : public QWidget {
    Q_OBJECT
public:
    explicit PaintBoxWidget(QWidget* parent = nullptr) : QWidget(parent) {}

    std::function<void(QPainter&)> onPaint;
    std::function<void(Qt::MouseButtons, int, int)> onMouseMove;
    std::function<void(Qt::MouseButton, int, int)> onMouseUp;
    std::function<void(Qt::MouseButton, int, int)> onMouseDown;
    // The tool tip for a point of the box; none for an empty text.
    std::function<QString(int, int)> onToolTip;

protected:
    bool event(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent*) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
};
