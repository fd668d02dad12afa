#pragma once
// The log pane: one text per line, CR LF inside a text starts a new line.
#include <QPlainTextEdit>

class LogPane : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit LogPane(QWidget* parent = nullptr);
    void appendText(const QString& text);
    QStringList lines() const;
};
