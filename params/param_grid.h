#pragma once
// A string grid in the manner of the parameter editor: cells of text, a per-cell
// selection veto, silver read-only cells, in-place editing with a key filter, and
// signals for clicks and for Enter.
#include <QTableWidget>
#include <functional>

class StringGridWidget : public QTableWidget {
    Q_OBJECT
public:
    explicit StringGridWidget(QWidget* parent = nullptr);

    // May the cell (column, row) become current?
    std::function<bool(int, int)> selectCell;
    // Is the cell painted silver, as a value that cannot be edited?
    std::function<bool(int, int)> readOnlyCell;
    // Filters characters typed into the cell editor: the text to insert, or an
    // empty string to drop the character.
    std::function<QString(const QString&)> charFilter;

    QString cellText(int column, int row) const;
    void setCellText(int column, int row, const QString& text);
    // The current row as the grid sees it; row 0 before anything was selected.
    int row() const { return currentRow() < 0 ? 0 : currentRow(); }
    bool editing() const { return state() == QAbstractItemView::EditingState; }
    // Ends an open cell editor, keeping what was typed.
    void finishEditing();
    // The last column takes whatever width the viewport leaves to it, so the grid
    // never scrolls sideways, with or without its vertical scroll bar.
    void setLastColumnFills(bool fills);
    // Whether typing, a double click or F2 opens a cell editor.
    void setEditingAllowed(bool allowed);

Q_SIGNALS:
    void clicked();
    void enterPressed();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
    void closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) override;
    bool viewportEvent(QEvent* event) override;

private:
    void fitLastColumn();
    bool lastColumnFills_ = false;
};
