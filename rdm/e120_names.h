#pragma once
// E1.20's tables of codes, by the names the standard gives them, for tools that
// print what a device reports: product categories, status types, units, unit
// prefixes and data types. Each returns nullptr for a code the standard does not
// name. (NACK reasons: NackReasonName in parameter_exchange.h.)
#include <cstdint>
#include <optional>
#include <string>

const char* ProductCategoryCodeName(uint16_t code);  // "FIXTURE_MOVING_YOKE"
const char* StatusTypeName(uint8_t code);            // "WARNING"
const char* UnitName(uint8_t code);                  // "CENTIGRADE"
const char* PrefixName(uint8_t code);                // "MILLI"
const char* DataTypeName(uint8_t code);              // "SIGNED_WORD"

// The severity of a status type: a cleared one counts as the type it clears.
uint8_t StatusSeverity(uint8_t type);
// A status type's severity as tools print it, from the same table: "advisory",
// "warning" or "error" (a cleared type as the one it clears), "none" for others.
std::string StatusSeverityName(uint8_t type);
// The status type of a severity so named; nothing for another name.
std::optional<uint8_t> StatusSeverityByName(const std::string& name);

// E1.20's text of a status message ID with its two data values put in ("Sensor 1
// over temp at 97 degrees C"); empty for an ID the standard does not name.
std::string StatusIdText(uint16_t id, int16_t data1, int16_t data2);
// E1.20's sensor types ("TEMPERATURE", "FAN"...); nullptr for others.
const char* SensorTypeName(uint8_t code);
// A unit as it follows a number ("°C", "V", "rpm"...), with its prefix; empty for none.
std::string UnitSymbol(uint8_t unit, uint8_t prefix);

// Which of those tables, if any, names the values of a decoded field of this name
// ("product_category", "status_type", "unit", "prefix", "data_type").
const char* CodeNameForField(const char* field, uint32_t value);
