#pragma once
// The command-line tool's listings: rows of named columns, printed as an aligned
// table, as CSV or as JSON (an array of objects), on stdout. Numbers stay numbers
// in JSON and a value that is missing is null there, empty elsewhere. Texts have
// their control characters escaped: as \x1B in a table or CSV, by JSON's rules.
#include "rdm/text_codec.h"

#include <string>
#include <vector>

enum class Format { Table, Csv, Json };

// One value of a listing.
struct Cell {
    enum class Kind { Null, Text, Number, Flag };
    Kind kind = Kind::Null;
    std::string text;  // the digits of a number; "on" or "off" for a flag

    Cell() = default;
    Cell(std::string t) : kind(Kind::Text), text(std::move(t)) {}
    Cell(const char* t) : Cell(std::string(t)) {}
    static Cell number(long long v) { return numberText(std::to_string(v)); }
    static Cell numberText(std::string digits);
    static Cell flag(bool on);

    std::string json() const;
    // As a table or CSV shows it: empty for null.
    const std::string& plain() const { return text; }
};

class Table {
public:
    explicit Table(std::vector<std::string> columns) : columns_(std::move(columns)) {}
    void add(std::vector<Cell> row) { rows_.push_back(std::move(row)); }
    bool empty() const { return rows_.empty(); }
    void print(Format format) const;
    // The text each format prints (print writes it to stdout). The header comes
    // even when there are no rows.
    std::string text(Format format) const;

private:
    std::vector<std::string> columns_;
    std::vector<std::vector<Cell>> rows_;
};

std::string JsonString(const std::string& utf8);

// A JSON object built member by member, in order.
class JsonObject {
public:
    JsonObject& add(const std::string& key, const Cell& value) { return addRaw(key, value.json()); }
    JsonObject& addRaw(const std::string& key, const std::string& json);
    std::string text() const { return "{" + members_ + "}"; }

private:
    std::string members_;
};

// "[a, b]" of values already in JSON.
std::string JsonArray(const std::vector<std::string>& items);

// Writes `text` to stdout.
void PrintText(const std::string& text);
