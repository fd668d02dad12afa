#pragma once
// The editing rules of the parameter grid, apart from the widgets: what a commit
// stores and sends, and how a value is read for display. Texts are Windows-1251.
#include "params/param_desc.h"
#include "params/param_transfer.h"
#include "rdm/run_control.h"
#include "rdm/transaction.h"

#include <optional>
#include <string>
#include <vector>

// The value text of a record after its value was read, or "n/a" when it was not
// (a failed read, or a data type that Get does not read).
constexpr const char* kNotAvailable = "n/a";

// Reads the record's value from the device as Get does; returns the cell text.
std::string ReadParamValue(RdmEngine& engine, Uid uid, RDMPARAMDESC& record);

// A text cell committed: the first 32 bytes of the store become at most 31
// characters and a zero.
void StoreTextValue(RDMPARAMDESC& record, const std::string& text);

// Commits one typed value of a single-element row (Enter, or the grid losing the
// focus). Returns the new cell text when it changes (after a read-back, or after
// the device refused the value: then its own value is read at once, whatever the
// read-back choice), nothing when the cell keeps what was typed. Throws
// ConvertError for a non-integer.
std::optional<std::string> CommitValue(RdmEngine& engine, Uid uid, RDMPARAMDESC& record, const std::string& text,
                                       bool readBack);

// The same for a standard PID shown by the PID table: the text is checked against
// the field's layout first, and ConvertError says why it does not fit (nothing is
// sent then).
std::optional<std::string> CommitStandardValue(RdmEngine& engine, Uid uid, RDMPARAMDESC& record, const std::string& text,
                                               bool readBack);

// Sends the record's stored value with SET (byte and word types; others send nothing).
SetOutcome SendRecordValue(RdmEngine& engine, Uid uid, const RDMPARAMDESC& record);

// Sends a text value: its characters and one zero byte, cut to `pdlSize`.
SetOutcome SendTextValue(RdmEngine& engine, Uid uid, const RDMPARAMDESC& record, const std::string& text);

// A record whose value the device refused, with the device's own value read back
// at once (or the value held before, when it could not be read) and its cell text.
struct RefusedValue {
    int index = 0;
    RDMPARAMDESC record;
    std::string text;
};

// Sends one record's value (a text row's is `text`), logging a refusal or no
// answer with the device's UID. A refusal is returned with the device's value.
std::optional<RefusedValue> SetRecord(RdmEngine& engine, Uid uid, int index, const RDMPARAMDESC& record,
                                      const std::string* text = nullptr);

// Set: every writable record of the table in order, text rows with `texts[k]`.
// A stopped run ends before the next record. A refused or unanswered SET is logged
// with the device's UID; the refused ones are returned for the grid to show.
std::vector<RefusedValue> SendAllValues(RdmEngine& engine, Uid uid, const ParamTable& table,
                                        const std::vector<std::string>& texts, const RunControl& control);
