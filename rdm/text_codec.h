#pragma once
// Device texts travel as 8-bit Windows-1251; the window shows Unicode.
#include <string>
#include <string_view>

std::string Cp1251ToUtf8(std::string_view bytes);
// Characters without a Windows-1251 form become '?'.
std::string Utf8ToCp1251(std::string_view text);
