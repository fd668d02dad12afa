#include "app/log_pane.h"

#include <QScrollBar>

LogPane::LogPane(QWidget* parent) : QPlainTextEdit(parent)
{
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

void LogPane::appendText(const QString& text)
{
    QString lines = text;
    lines.replace("\r\n", "\n");
    appendPlainText(lines);
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

QStringList LogPane::lines() const
{
    const QString all = toPlainText();
    return all.isEmpty() ? QStringList() : all.split('\n');
}
