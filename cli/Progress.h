// tarnwick-scan's progress line on standard error.
#pragma once

#include <chrono>
#include <string>

#include "Types.h"

class Progress {
public:
    enum class Mode { automatic, on, off };
    // Automatic shows the line once the work has taken a second, when standard error is a
    // terminal and standard output is not (rows on the same terminal would break it up).
    explicit Progress(Mode mode);
    // How far the scan of name is: done of total bytes (total 0 when it is not known). Shown
    // a few times a second on a terminal, once a second as lines elsewhere.
    void Show(const std::string& name, ULONGLONG done, ULONGLONG total);
    // Takes the line off the terminal, so that what is written next starts on a clean line.
    void Clear();

private:
    using Clock = std::chrono::steady_clock;
    bool m_enabled;
    bool m_terminal;
    Clock::time_point m_from;  // no line before this
    Clock::time_point m_shown; // the last line, or none
    bool m_showing = false;
};
