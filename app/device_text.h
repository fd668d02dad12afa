#pragma once
// Device texts as the window shows them: Unicode, with each control character a
// device may send (ESC, BEL, ...) as the visible symbol that stands for it, so a
// label can neither hide its content nor act on the screen. An edited text goes
// back to the device with the same characters it came with.
#include <QString>
#include <string>

// From a device's Windows-1251 bytes.
QString FromDevice(const std::string& cp1251);
// From text already in UTF-8 (as decoded by the protocol code).
QString FromDeviceUtf8(const std::string& utf8);
// To Windows-1251 for the device; the symbols shown for control characters are
// those characters again.
std::string ToDevice(const QString& text);
// Control characters as their symbols (U+2400 to U+241F, U+2421 for DEL); line
// breaks (LF, CR) stay when `keepLineBreaks`.
QString VisibleControls(QString text, bool keepLineBreaks = false);
