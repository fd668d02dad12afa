#pragma once
// E1.20's tables of codes, by the names the standard gives them, for tools that
// print what a device reports: product categories, status types, units, unit
// prefixes and data types. Each returns nullptr for a code the standard does not
// name. (NACK reasons: NackReasonName in parameter_exchange.h.)
#include <cstdint>

const char* ProductCategoryCodeName(uint16_t code);  // "FIXTURE_MOVING_YOKE"
const char* StatusTypeName(uint8_t code);            // "WARNING"
const char* UnitName(uint8_t code);                  // "CENTIGRADE"
const char* PrefixName(uint8_t code);                // "MILLI"
const char* DataTypeName(uint8_t code);              // "SIGNED_WORD"

// Which of those tables, if any, names the values of a decoded field of this name
// ("product_category", "status_type", "unit", "prefix", "data_type").
const char* CodeNameForField(const char* field, uint32_t value);
