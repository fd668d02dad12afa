#include "params/param_grid.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QStyledItemDelegate>

namespace {

class KeyFilter : public QObject {
public:
    KeyFilter(QLineEdit* edit, const StringGridWidget* grid) : QObject(edit), edit_(edit), grid_(grid) {}

    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() != QEvent::KeyPress || !grid_->charFilter)
            return false;
        auto* key = static_cast<QKeyEvent*>(event);
        const QString text = key->text();
        if (text.isEmpty() || key->key() == Qt::Key_Backspace || key->key() == Qt::Key_Return ||
            key->key() == Qt::Key_Enter)
            return false;
        const QString replaced = grid_->charFilter(text);
        if (replaced == text)
            return false;
        if (!replaced.isEmpty())
            edit_->insert(replaced);
        return true;
    }

private:
    QLineEdit* edit_;
    const StringGridWidget* grid_;
};

class GridDelegate : public QStyledItemDelegate {
public:
    explicit GridDelegate(StringGridWidget* grid) : QStyledItemDelegate(grid), grid_(grid) {}

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
        if (auto* edit = qobject_cast<QLineEdit*>(editor))
            edit->installEventFilter(new KeyFilter(edit, grid_));
        return editor;
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::paint(painter, option, index);
        if (grid_->readOnlyCell && grid_->readOnlyCell(index.column(), index.row())) {
            painter->fillRect(option.rect, QColor(192, 192, 192));
            painter->setPen(Qt::black);
            painter->drawText(option.rect, Qt::AlignLeft | Qt::AlignTop, index.data().toString());
        }
    }

private:
    StringGridWidget* grid_;
};

} // namespace

StringGridWidget::StringGridWidget(QWidget* parent) : QTableWidget(parent)
{
    setItemDelegate(new GridDelegate(this));
    horizontalHeader()->hide();
    verticalHeader()->hide();
    setShowGrid(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditingAllowed(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setTabKeyNavigation(false);
}

QString StringGridWidget::cellText(int column, int row) const
{
    const QTableWidgetItem* it = item(row, column);
    return it ? it->text() : QString();
}

void StringGridWidget::setCellText(int column, int row, const QString& text)
{
    QTableWidgetItem* it = item(row, column);
    if (!it) {
        it = new QTableWidgetItem;
        setItem(row, column, it);
    }
    it->setText(text);
    // Column 0 is the fixed column of names.
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (column != 0)
        flags |= Qt::ItemIsEditable;
    it->setFlags(flags);
}

void StringGridWidget::finishEditing()
{
    if (QWidget* editor = indexWidget(currentIndex()))
        commitData(editor);
    if (editing())
        QTableWidget::closeEditor(indexWidget(currentIndex()), QAbstractItemDelegate::NoHint);
}

void StringGridWidget::setEditingAllowed(bool allowed)
{
    setEditTriggers(allowed ? QAbstractItemView::AnyKeyPressed | QAbstractItemView::DoubleClicked |
                                  QAbstractItemView::SelectedClicked | QAbstractItemView::EditKeyPressed
                            : QAbstractItemView::NoEditTriggers);
}

void StringGridWidget::setLastColumnFills(bool fills)
{
    lastColumnFills_ = fills;
    fitLastColumn();
}

void StringGridWidget::fitLastColumn()
{
    const int last = columnCount() - 1;
    if (!lastColumnFills_ || last < 0)
        return;
    int others = 0;
    for (int c = 0; c < last; ++c)
        others += columnWidth(c);
    const int rest = viewport()->width() - others;
    if (rest > 0 && columnWidth(last) != rest)
        setColumnWidth(last, rest);
}

bool StringGridWidget::viewportEvent(QEvent* event)
{
    if (event->type() == QEvent::Resize)
        fitLastColumn();
    return QTableWidget::viewportEvent(event);
}

void StringGridWidget::mousePressEvent(QMouseEvent* event)
{
    const QModelIndex index = indexAt(event->position().toPoint());
    const bool allowed = index.isValid() && (!selectCell || selectCell(index.column(), index.row()));
    if (allowed || !index.isValid())
        QTableWidget::mousePressEvent(event);
    else
        setFocus(Qt::MouseFocusReason);
    Q_EMIT clicked();
}

void StringGridWidget::keyPressEvent(QKeyEvent* event)
{
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && !editing()) {
        Q_EMIT enterPressed();
        return;
    }
    QTableWidget::keyPressEvent(event);
    switch (event->key()) {
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Home:
    case Qt::Key_End:
        if (!editing())
            Q_EMIT clicked();
        break;
    default:
        break;
    }
}

QModelIndex StringGridWidget::moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers)
{
    const QModelIndex target = QTableWidget::moveCursor(action, modifiers);
    if (target.isValid() && selectCell && !selectCell(target.column(), target.row()))
        return currentIndex();
    return target;
}

void StringGridWidget::closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint)
{
    QTableWidget::closeEditor(editor, hint);
    if (hint == QAbstractItemDelegate::SubmitModelCache)
        Q_EMIT enterPressed();
}
