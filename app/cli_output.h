#pragma once
// The command-line tool's listings: rows of named columns, printed as an aligned
// table, as CSV or as JSON (an array of objects), on stdout.
#include <string>
#include <vector>

enum class Format { Table, Csv, Json };

class Table {
public:
    explicit Table(std::vector<std::string> columns) : columns_(std::move(columns)) {}
    void add(std::vector<std::string> row) { rows_.push_back(std::move(row)); }
    void print(Format format) const;
    // The text each format prints (print writes it to stdout).
    std::string text(Format format) const;

private:
    std::vector<std::string> columns_;
    std::vector<std::vector<std::string>> rows_;
};

std::string JsonString(const std::string& utf8);
