#pragma once
// The settings store: an INI file in the user's config folder
// (Vantrell/Vantrell.conf), 32-bit integer values.
#include "settings/settings.h"

#include <stdexcept>
#include <string>

class SettingsError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class SettingsStore {
public:
    // Uses the user's config folder unless a file path is given.
    explicit SettingsStore(std::string path = std::string());

    const std::string& path() const { return path_; }

    // Fills the record; a value that is missing takes its default, values outside
    // the page's ranges are brought into them. A store that cannot be read leaves
    // every field at its default. A value that is not a 32-bit integer keeps its
    // default and is marked in `unreadable`; once every other value is loaded,
    // the first such one throws SettingsError ("Invalid data type for '...'", or
    // "Failed to get data for '...'" when it does not fit in 32 bits).
    void Load(SettingsRecord& record) const;

    // Writes the values, but for those that could not be read and still have the
    // default they were given: their stored text stays as it was. Returns false,
    // silently, when the store's folder cannot be created; throws SettingsError
    // ("Failed to set data for '...'") when the values cannot be written.
    bool Save(const SettingsRecord& record) const;

    static std::string DefaultPath();

    // The stored settings for a tool that only borrows the window's choices: a bad
    // value is no error, it takes its default.
    SettingsRecord LoadOrDefaults() const;

private:
    std::string path_;
};
