#pragma once
// Where the protocol code reports: the log pane of the window, or a test's list.
#include <string>
#include <vector>

class LogSink {
public:
    virtual ~LogSink() = default;
    // One text, UTF-8; a CR LF inside starts a new line, a trailing CR LF leaves an empty line.
    virtual void appendLine(const std::string& text) = 0;
    // Whether the detailed-log switch is ticked right now.
    virtual bool detailed() const = 0;
};

// The lines a text makes in the log: each CR LF starts a new one.
inline std::vector<std::string> SplitLogLines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    for (;;) {
        const size_t at = text.find("\r\n", start);
        lines.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos)
            return lines;
        start = at + 2;
    }
}

namespace status_text {
inline const char* const kSendError = "Ошибка при отправке RDM сообщения";
inline const char* const kInterfaceReady = "RDM интерфейс инициализирован";
inline const char* const kInterfaceError = "Ошибка при инициализации RDM интерфейса";
inline const char* const kNoResponse = "Нет ответа";
} // namespace status_text
