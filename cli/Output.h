// Standard output for tarnwick-scan: rows go into one large buffer and out in big writes.
#pragma once

#include <cstddef>
#include <cstring>
#include <memory>

// A write to standard output failed for a reason other than a reader that left.
struct OutputFailed {
    int error;
};

class Output {
public:
    explicit Output(int fd);
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;

    void Put(const char* p, size_t n) {
        if (n <= m_cap - m_len) {
            std::memcpy(m_buf.get() + m_len, p, n);
            m_len += n;
            return;
        }
        PutSlow(p, n);
    }
    void Put(char c) {
        if (m_len == m_cap)
            Flush();
        m_buf[m_len++] = c;
    }
    // Writes out what is held. A reader that left ends the program (see ReaderLeft); another
    // failure throws OutputFailed.
    void Flush();
    // Ends the program at once, as a closed pipe ends a program that writes to it, when the
    // output is a pipe or socket whose reader has gone, even with nothing to write yet.
    void EndIfReaderLeft() const;
    bool Terminal() const { return m_terminal; }

private:
    void PutSlow(const char* p, size_t n);
    void WriteAll(const char* p, size_t n);

    int m_fd;
    bool m_terminal;
    bool m_pipe; // a pipe or socket: its reader may leave
    std::unique_ptr<char[]> m_buf;
    size_t m_cap;
    size_t m_len = 0;
};

// Ends the program quietly, as SIGPIPE ends it: whoever read its output has stopped reading,
// so there is nothing to say and nobody to say it to.
[[noreturn]] void ReaderLeft();
