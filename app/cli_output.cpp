#include "app/cli_output.h"

#include <cstdio>

namespace {

std::string CsvField(const std::string& s)
{
    if (s.find_first_of(",\"\n\r") == std::string::npos)
        return s;
    std::string out = "\"";
    for (char c : s)
        out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

// Characters a terminal shows, for the column widths: UTF-8 continuation bytes
// take no room of their own.
size_t Width(const std::string& s)
{
    size_t n = 0;
    for (unsigned char c : s)
        n += (c & 0xC0) != 0x80;
    return n;
}

} // namespace

std::string JsonString(const std::string& s)
{
    std::string out = "\"";
    char esc[8];
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20) {
            std::snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
        } else {
            out += char(c);
        }
    }
    return out + "\"";
}

std::string Table::text(Format format) const
{
    std::string out;
    if (format == Format::Json) {
        out = "[";
        for (size_t r = 0; r < rows_.size(); ++r) {
            out += r ? ",\n {" : "\n {";
            for (size_t c = 0; c < columns_.size(); ++c)
                out += (c ? ", " : "") + JsonString(columns_[c]) + ": " +
                       JsonString(c < rows_[r].size() ? rows_[r][c] : "");
            out += "}";
        }
        return out + (rows_.empty() ? "]\n" : "\n]\n");
    }
    if (format == Format::Csv) {
        for (size_t c = 0; c < columns_.size(); ++c)
            out += (c ? "," : "") + CsvField(columns_[c]);
        out += "\n";
        for (const auto& row : rows_) {
            for (size_t c = 0; c < row.size(); ++c)
                out += (c ? "," : "") + CsvField(row[c]);
            out += "\n";
        }
        return out;
    }
    if (rows_.empty())
        return out;  // nothing to show; a failure says why on stderr
    std::vector<size_t> widths(columns_.size());
    for (size_t c = 0; c < columns_.size(); ++c) {
        widths[c] = Width(columns_[c]);
        for (const auto& row : rows_)
            if (c < row.size() && Width(row[c]) > widths[c])
                widths[c] = Width(row[c]);
    }
    auto line = [&](const std::vector<std::string>& cells) {
        std::string l;
        for (size_t c = 0; c < cells.size(); ++c) {
            l += cells[c];
            if (c + 1 < cells.size())
                l += std::string(widths[c] - Width(cells[c]) + 2, ' ');
        }
        return l + "\n";
    };
    out = line(columns_);
    for (const auto& row : rows_)
        out += line(row);
    return out;
}

void Table::print(Format format) const
{
    const std::string t = text(format);
    std::fwrite(t.data(), 1, t.size(), stdout);
    std::fflush(stdout);
}
