#pragma once
// Device texts travel as 8-bit Windows-1251; the window shows Unicode.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

std::string Cp1251ToUtf8(std::string_view bytes);
// A text field of a device's reply, as shown: up to its first NUL (the padding
// some devices send), in UTF-8.
std::string DeviceText(const uint8_t* bytes, size_t count);
// Characters without a Windows-1251 form become '?'.
std::string Utf8ToCp1251(std::string_view text);
// Text for a terminal, a CSV file or a report: control characters (C0, DEL, C1)
// as \x1B, so that a device's text cannot retitle or clear the terminal, or break a row.
std::string EscapeControls(const std::string& utf8);
