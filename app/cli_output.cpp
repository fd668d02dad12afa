#include "app/cli_output.h"

#include <algorithm>
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

const Cell kNull;

} // namespace

Cell Cell::numberText(std::string digits)
{
    Cell c;
    c.kind = Kind::Number;
    c.text = std::move(digits);
    return c;
}

Cell Cell::flag(bool on)
{
    Cell c;
    c.kind = Kind::Flag;
    c.text = on ? "on" : "off";
    return c;
}

std::string Cell::json() const
{
    switch (kind) {
    case Kind::Null: return "null";
    case Kind::Number: return text;
    case Kind::Flag: return text == "on" ? "true" : "false";
    case Kind::Text: break;
    }
    return JsonString(text);
}

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

JsonObject& JsonObject::addRaw(const std::string& key, const std::string& json)
{
    members_ += (members_.empty() ? "" : ", ") + JsonString(key) + ": " + json;
    return *this;
}

std::string JsonArray(const std::vector<std::string>& items)
{
    std::string out = "[";
    for (size_t i = 0; i < items.size(); ++i)
        out += (i ? ", " : "") + items[i];
    return out + "]";
}

std::string Table::text(Format format) const
{
    auto cell = [](const std::vector<Cell>& row, size_t c) -> const Cell& { return c < row.size() ? row[c] : kNull; };
    std::string out;
    if (format == Format::Json) {
        out = "[";
        for (size_t r = 0; r < rows_.size(); ++r) {
            JsonObject o;
            for (size_t c = 0; c < columns_.size(); ++c)
                o.add(columns_[c], cell(rows_[r], c));
            out += (r ? ",\n " : "\n ") + o.text();
        }
        return out + (rows_.empty() ? "]\n" : "\n]\n");
    }
    if (format == Format::Csv) {
        for (size_t c = 0; c < columns_.size(); ++c)
            out += (c ? "," : "") + CsvField(columns_[c]);
        out += "\n";
        for (const auto& row : rows_) {
            for (size_t c = 0; c < columns_.size(); ++c)
                out += (c ? "," : "") + CsvField(EscapeControls(cell(row, c).plain()));
            out += "\n";
        }
        return out;
    }
    std::vector<std::vector<std::string>> shown;
    for (const auto& row : rows_) {
        shown.emplace_back();
        for (size_t c = 0; c < columns_.size(); ++c)
            shown.back().push_back(EscapeControls(cell(row, c).plain()));
    }
    std::vector<size_t> widths(columns_.size());
    for (size_t c = 0; c < columns_.size(); ++c) {
        widths[c] = Width(columns_[c]);
        for (const auto& row : shown)
            widths[c] = std::max(widths[c], Width(row[c]));
    }
    auto line = [&](auto textOf) {
        std::string l;
        for (size_t c = 0; c < columns_.size(); ++c) {
            const std::string& t = textOf(c);
            l += t;
            if (c + 1 < columns_.size())
                l += std::string(widths[c] - Width(t) + 2, ' ');
        }
        while (!l.empty() && l.back() == ' ')
            l.pop_back();
        return l + "\n";
    };
    out = line([this](size_t c) -> const std::string& { return columns_[c]; });
    for (const auto& row : shown)
        out += line([&](size_t c) -> const std::string& { return row[c]; });
    return out;
}

void PrintText(const std::string& text)
{
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

void Table::print(Format format) const { PrintText(text(format)); }
