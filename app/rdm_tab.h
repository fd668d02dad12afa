#pragma once
// The page "RDM": the selected device's parameters in a grid, Get and Set, the
// element editor and the personality drop-down. The grid holds one device's
// values at a time, and only that device is sent what is typed into it.
#include "app/page_context.h"
#include "params/param_desc.h"
#include "params/param_edit.h"

#include <QWidget>
#include <array>
#include <optional>
#include <set>

class QCheckBox;
class QPushButton;
class PopupComboBox;
class StringGridWidget;
class UpDown;

class RdmTab : public QWidget {
    Q_OBJECT
public:
    explicit RdmTab(PageContext context);

    StringGridWidget* StringGrid1;
    StringGridWidget* StringGrid2;
    UpDown* UpDown2;
    QPushButton* Button2;
    QPushButton* Button3;
    QCheckBox* CheckBox12;
    QCheckBox* CheckBoxReadBack;
    PopupComboBox* ComboPersonality = nullptr;

    ParamTable params;  // the records of the device the grid shows

    // DEVICE_INFO's nine rows and the software version label come first, then one
    // row per parameter record.
    static constexpr int kFixedParamRows = 10;
    static constexpr int RowOfRecord(int k) { return kFixedParamRows + k; }
    RDMPARAMDESC* recordAtRow(int row) { return recordIndex(row) < 0 ? nullptr : &params.records[recordIndex(row)]; }
    const RDMPARAMDESC* recordAtRow(int row) const
    {
        return recordIndex(row) < 0 ? nullptr : &params.records[recordIndex(row)];
    }

    void Button2Click();  // Get: the selected device
    void Button3Click();  // Set: the grid's device
    void ResetParamGrid();
    // A new list of devices: the grid's values are no longer current.
    void clearForNewList();
    void ShowDeviceInfo(const std::array<std::string, 9>* rows);  // null: the device did not answer
    bool StringGrid1SelectCell(int column, int row) const;
    void StringGrid1Click();
    void StringGrid1KeyDown();
    void StringGrid1Exit();
    void StringGrid2Click();
    void StringGrid2KeyDown();
    void StringGrid2Exit();
    void UpDown2Click(bool upper);

    // Whose values the grid holds (its last Get's): 0 for nobody's.
    Uid gridUid() const { return gridUid_; }
    // Rows typed into and not sent, marked in the grid.
    const std::set<int>& unsentRows() const { return unsent_; }
    // While the line is busy the grids only scroll and select.
    void setLocked(bool locked);
    void allParametersChanged() { devices_.updateToolTips(context_.allParameters()); }

private:
    void buildControls();
    int recordIndex(int row) const;  // -1 for a fixed row or a row past the records
    // The grid holds a device's values and that device is still listed: only then
    // is anything sent.
    bool gridDeviceListed() const { return devices_.rowOf(gridUid_) >= 0; }
    // The value cell as the window last filled it; a cell that differs was typed into.
    void showValue(int row, const QString& text);
    bool typedInto(int row) const;
    void markUnsent(int row, bool unsent);
    // Says which typed values go unsent because the grid is about to show other values.
    void sayUnsent();
    std::string storedText(const RDMPARAMDESC& record) const;
    // Stores a typed value into its record without sending it; false (said) when it does not fit.
    void storeTyped(int row);
    void commitRow(int row);
    void commitCell(int row, const std::string& text, RdmService::CellCommit commit);
    void commitStandardCell(int row, RDMPARAMDESC& record);
    void showRefused(const RefusedValue& refused);
    void storeEditorElements();
    void hideEditors();
    void showPersonalityEditor(int row);
    bool loadPersonalities();
    void choosePersonality(int index);
    void fillRow(Uid uid, int k, const RDMPARAMDESC& record, const std::string& value);

    PageContext context_;
    DeviceList& devices_;
    RdmService& service_;
    Uid gridUid_ = 0;    // whose values the grid holds
    Uid readingUid_ = 0; // whose Get was asked last: only its rows are shown
    int readRows_ = 0;   // rows the Get in progress listed
    bool locked_ = false;
    Uid personalitiesOf_ = 0;  // whose personalities the drop-down lists
    std::vector<QString> shown_;
    std::set<int> unsent_;
};
