#pragma once
// Decimal 32-bit integers typed by the user, with the message the user sees when
// a text is not one.
#include <cstdint>
#include <stdexcept>
#include <string>

class ConvertError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Optional sign and digits, surrounding blanks allowed; anything else, or a value
// beyond 32 bits, throws ConvertError("'<text>' is not a valid integer value").
int32_t StrToInt(const std::string& text);
bool TryStrToInt(const std::string& text, int32_t& value);
