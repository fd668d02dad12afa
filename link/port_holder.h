#pragma once
// Who holds a device node open, for a message that says more than "in use".
#include <string>

// The programs that have `node` open, as "vantrell (PID 1234)", joined with ", ";
// empty when none can be seen (another user's processes are not readable).
std::string ProgramsHolding(const std::string& node);
