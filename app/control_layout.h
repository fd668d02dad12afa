#pragma once
// Placing the window's controls at their pixel positions, in its fonts.
#include <QButtonGroup>
#include <QCheckBox>
#include <QFont>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <vector>

namespace layout {

// Metric-compatible stand-ins where the original faces are not installed.
inline QFont SansFont(int pixels, bool bold = false)
{
    QFont f;
    f.setFamilies({"MS Sans Serif", "Microsoft Sans Serif", "Liberation Sans", "Arial", "DejaVu Sans"});
    f.setPixelSize(pixels);
    f.setBold(bold);
    return f;
}

inline QFont MonoFont(int pixels, bool bold = false)
{
    QFont f;
    f.setFamilies({"Courier New", "Liberation Mono", "DejaVu Sans Mono"});
    f.setStyleHint(QFont::TypeWriter);
    f.setFixedPitch(true);
    f.setPixelSize(pixels);
    f.setBold(bold);
    return f;
}

// `w` at (x, y) in its parent, named as the control it is.
template <typename W> W* Place(W* w, int x, int y, int width, int height, const char* name = nullptr)
{
    w->setGeometry(x, y, width, height);
    if (name)
        w->setObjectName(QString::fromLatin1(name));
    return w;
}

inline QPushButton* Button(QWidget* parent, const char* name, const char* text, int x, int y, int w = 51, int h = 25)
{
    return Place(new QPushButton(QString::fromUtf8(text), parent), x, y, w, h, name);
}

inline QCheckBox* Check(QWidget* parent, const char* name, const char* text, int x, int y, int w, int h)
{
    return Place(new QCheckBox(QString::fromUtf8(text), parent), x, y, w, h, name);
}

inline QGroupBox* RadioGroup(QWidget* parent, const char* name, const char* caption,
                             const std::vector<const char*>& items, QButtonGroup*& group, int x, int y, int w, int h)
{
    auto* box = Place(new QGroupBox(QString::fromUtf8(caption), parent), x, y, w, h, name);
    auto* column = new QVBoxLayout(box);
    column->setContentsMargins(8, 2, 4, 2);
    column->setSpacing(0);
    group = new QButtonGroup(box);
    for (size_t i = 0; i < items.size(); ++i) {
        auto* radio = new QRadioButton(QString::fromUtf8(items[i]), box);
        column->addWidget(radio);
        group->addButton(radio, int(i));
    }
    return box;
}

// Keys that move the current row of a list, as a click on the new row would.
inline bool IsListNavigationKey(int key)
{
    return key == Qt::Key_Up || key == Qt::Key_Down || key == Qt::Key_Home || key == Qt::Key_End ||
           key == Qt::Key_PageUp || key == Qt::Key_PageDown;
}

} // namespace layout
