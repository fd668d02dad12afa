#pragma once
// The window's bottom strip: the log with its detail switch and "Очистить", and
// right of them what the line is busy with and a way to stop it.
#include <QWidget>

class LogPane;
class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;

class LogPanel : public QWidget {
    Q_OBJECT
public:
    // The strip's top edge in the window; its controls keep the window's positions.
    static constexpr int kTop = 400;
    explicit LogPanel(QWidget* window);

    LogPane* LogMemo;
    QCheckBox* CheckBoxLog;
    QPushButton* ButtonCLR;
    QLabel* RunLabel;
    QProgressBar* RunProgress;
    QPushButton* ButtonStop;

    void showProgress(const QString& text, int done, int total);
    void showRunning(bool running);
};
