#pragma once
// The layout of a manufacturer PID's data as its PARAMETER_DESCRIPTION gives it,
// in the notation of pid_layouts.h, with the limits a value sent must keep.
#include "rdm/standard_replies.h"

#include <cstdint>
#include <string>
#include <vector>

struct DescribedLayout {
    std::string layout;      // "value:s8", "(value:u16)*" for an array, "data:hex" when unknown
    bool numeric = false;    // values are numbers, checked against min..max
    bool limited = false;    // the description gives a range (not 0..0, not inverted)
    int64_t min = 0, max = 0;
    std::string name;        // the description's text, 8-bit as the device sent it
};

DescribedLayout LayoutFromDescription(const rdm::ParameterDescription& description);

// Checks each value given for a numeric layout against its limits; false with
// `error` naming the first that is outside them.
bool WithinDescribedLimits(const DescribedLayout& layout, const std::vector<std::string>& values,
                           std::string& error);
