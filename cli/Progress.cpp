#include "Progress.h"

#include <cstdio>
#include <unistd.h>

namespace {

constexpr std::chrono::seconds kQuietFor(1);
constexpr std::chrono::milliseconds kTerminalEvery(200);
constexpr std::chrono::seconds kLinesEvery(1);

void WriteError(const std::string& text) {
    const char* p = text.data();
    size_t n = text.size();
    while (n > 0) {
        const ssize_t r = ::write(STDERR_FILENO, p, n);
        if (r <= 0)
            return; // progress is never worth failing for
        p += r;
        n -= static_cast<size_t>(r);
    }
}

// Bytes in the largest binary unit that leaves at least 1 of it.
std::string Size(ULONGLONG bytes) {
    static const char* const kUnits[] = {"bytes", "KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
    double value = static_cast<double>(bytes);
    int unit = 0;
    for (; value >= 1024 && unit < 6; ++unit)
        value /= 1024;
    char text[32];
    std::snprintf(text, sizeof text, unit ? "%.1f %s" : "%.0f %s", value, kUnits[unit]);
    return text;
}

} // namespace

Progress::Progress(Mode mode)
    : m_enabled(mode == Mode::on ||
                (mode == Mode::automatic && ::isatty(STDERR_FILENO) && !::isatty(STDOUT_FILENO))),
      m_terminal(::isatty(STDERR_FILENO) == 1),
      // Asked for, the line shows from the start; otherwise only once the work is long.
      m_from(Clock::now() + (mode == Mode::on ? Clock::duration(0) : Clock::duration(kQuietFor))) {}

void Progress::Show(const std::string& name, ULONGLONG done, ULONGLONG total) {
    if (!m_enabled)
        return;
    const Clock::time_point now = Clock::now();
    if (now < m_from ||
        (m_shown != Clock::time_point() &&
         now - m_shown < (m_terminal ? Clock::duration(kTerminalEvery) : kLinesEvery)))
        return;
    m_shown = now;
    std::string line = "tarnwick-scan: " + name + ": ";
    if (total > 0) {
        char percent[16];
        const ULONGLONG part = done < total ? done : total;
        std::snprintf(percent, sizeof percent, "%.1f%%",
                      100.0 * static_cast<double>(part) / static_cast<double>(total));
        line += std::string(percent) + " of " + Size(total);
    } else {
        line += Size(done) + " read";
    }
    if (m_terminal) {
        WriteError("\r" + line + "\033[K");
        m_showing = true;
    } else {
        WriteError(line + "\n");
    }
}

void Progress::Clear() {
    if (m_showing)
        WriteError("\r\033[K");
    m_showing = false;
}
