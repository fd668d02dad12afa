#pragma once
// The page "Расстановка": the universe map of the listed devices' footprints,
// where the selected device is dragged to a new start; Read and Write over the
// line, Save and Load through a patch file.
#include "app/page_context.h"
#include "patch/patch_file.h"

#include <QWidget>
#include <vector>

class QLabel;
class QPainter;
class QPushButton;
class PaintBoxWidget;

class PatchTab : public QWidget {
    Q_OBJECT
public:
    explicit PatchTab(PageContext context);

    PaintBoxWidget* PaintBox1;
    QLabel* Label28;
    QPushButton* Button6;
    QPushButton* Button7;
    QPushButton* Button8;
    QPushButton* Button9;
    QPushButton* ButtonAuto;  // consecutive start addresses, asked before they are written
    QPushButton* ButtonBackup;   // every settable parameter of the listed devices into a file
    QPushButton* ButtonRestore;  // and back, asked before it is written

    uint16_t mapPosition = 0;  // the selected device's start index while it is dragged

    void PaintBox1Paint(QPainter& painter);
    void PaintBox1MouseMove(Qt::MouseButtons buttons, int x, int y);
    void PaintBox1MouseUp(Qt::MouseButton button, int x, int y);
    void Button6Click();  // Read
    void Button7Click();  // Write
    void Button8Click();  // Save
    void Button9Click();  // Load
    // Reads the listed devices' footprints, gives those with one consecutive start
    // addresses from 1 in their present order and, once the user agrees, keeps
    // the arrangement before in a patch file, writes and reads the addresses back.
    void ButtonAutoClick();
    // Keeps the listed devices' settings in a backup file, as vantrell-cli backup does.
    void ButtonBackupClick();
    // Writes a backup file's values to the listed devices it names, once the user
    // agrees, and reads each back, as vantrell-cli restore does.
    void ButtonRestoreClick();
    // The list's selection on this page: the map starts from the device's start.
    void deviceSelected();
    void repaintMap();
    void setLocked(bool locked);

private:
    void buildControls();
    int deviceAtMap(int x, int y) const;
    QString PaintBox1ToolTip(int x, int y) const;
    void PaintBox1MouseDown(Qt::MouseButton button, int x, int y);
    void paintMapLabels(QPainter& painter, int selected);
    void autoAddressRead();  // after the read that starts ButtonAutoClick
    void autoAddressCheck(const std::vector<PatchRecord>& wanted);  // after the write's read-back

    PageContext context_;
    DeviceList& devices_;
    bool mapDragged_ = false;
};
