#pragma once
// Decoded parameter fields as the command-line tool lists them: rows of a table,
// or one JSON object per parameter with numbers as numbers, repeated groups as
// lists, and E1.20's names beside coded values.
#include "app/cli_output.h"
#include "rdm/pid_layouts.h"

#include <vector>

// The field's value as a cell (device texts shown as UTF-8).
Cell FieldCell(const PidField& field);
// The value as a table shows it: "3 (WARNING)" for a coded value E1.20 names.
std::string FieldText(const PidField& field);

// PARAMETER_DESCRIPTION gives its limits as 32 bits whose meaning follows the
// data type: for a signed type they are read as signed numbers here.
void SignLimitsByDataType(std::vector<PidField>& fields);

// The fields as one JSON object. Fixed fields are members; a repeated group of one
// field is a list under that field's name ("pid": [...]), a group of several a list
// of objects under "items". A coded value also gets "<field>_name".
std::string FieldsJson(const std::vector<PidField>& fields);
