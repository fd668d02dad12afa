#include "app/device_text.h"

#include "rdm/text_codec.h"

namespace {

constexpr char16_t kPictureOfNul = 0x2400;
constexpr char16_t kPictureOfDel = 0x2421;

} // namespace

QString VisibleControls(QString text, bool keepLineBreaks)
{
    for (QChar& c : text) {
        const char16_t u = c.unicode();
        if (u < 0x20 && !(keepLineBreaks && (u == '\n' || u == '\r')))
            c = QChar(char16_t(kPictureOfNul + u));
        else if (u == 0x7F)
            c = QChar(kPictureOfDel);
    }
    return text;
}

QString FromDevice(const std::string& cp1251) { return VisibleControls(QString::fromStdString(Cp1251ToUtf8(cp1251))); }

QString FromDeviceUtf8(const std::string& utf8) { return VisibleControls(QString::fromStdString(utf8)); }

std::string ToDevice(const QString& text)
{
    QString raw = text;
    for (QChar& c : raw) {
        const char16_t u = c.unicode();
        if (u >= kPictureOfNul && u < kPictureOfNul + 0x20)
            c = QChar(char16_t(u - kPictureOfNul));
        else if (u == kPictureOfDel)
            c = QChar(char16_t(0x7F));
    }
    return Utf8ToCp1251(raw.toStdString());
}
