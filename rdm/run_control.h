#pragma once
// What a long RDM operation offers the window around it: a way to stop it
// between two exchanges, and word of how far it has come.
#include <functional>

struct RunControl {
    std::function<bool()> stopRequested;              // polled before each exchange
    std::function<void(int done, int total)> progress;  // after each step

    bool stopped() const { return stopRequested && stopRequested(); }
    void step(int done, int total) const
    {
        if (progress)
            progress(done, total);
    }
};

namespace status_text {
inline const char* const kStoppedByUser = "Остановлено пользователем.";
} // namespace status_text
