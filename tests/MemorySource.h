// A file whose bytes come from memory, for scans that fail or change on purpose.
#pragma once

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <functional>
#include <string>

#include "File.h"

class MemorySource : public CFile::Source {
public:
    explicit MemorySource(std::string data) : m_data(std::move(data)) {}

    // Reads at or past this offset fail with this error.
    ULONGLONG m_failAt = ULLONG_MAX;
    int m_error = EIO;
    // Called before every read with the bytes and the number of the read, to change them.
    std::function<void(std::string&, int)> m_onRead;
    int m_reads = 0;

    long ReadAt(ULONGLONG offset, BYTE* buf, size_t n) override {
        ++m_reads;
        if (m_onRead)
            m_onRead(m_data, m_reads);
        if (offset >= m_failAt)
            return -m_error;
        if (m_failAt - offset < n)
            n = static_cast<size_t>(m_failAt - offset);
        if (offset >= m_data.size())
            return 0;
        n = std::min(n, m_data.size() - static_cast<size_t>(offset));
        std::memcpy(buf, m_data.data() + offset, n);
        return static_cast<long>(n);
    }

private:
    std::string m_data;
};

// A file in memory that several threads may read at once, as they may the system's files.
class SharedMemorySource : public CFile::Source {
public:
    // Reads at or past failAt fail with EIO.
    explicit SharedMemorySource(std::string data, ULONGLONG failAt = ULLONG_MAX)
        : m_data(std::move(data)), m_failAt(failAt) {}

    long ReadAt(ULONGLONG offset, BYTE* buf, size_t n) override {
        if (offset >= m_failAt)
            return -EIO;
        n = static_cast<size_t>(std::min<ULONGLONG>(n, m_failAt - offset));
        if (offset >= m_data.size())
            return 0;
        n = std::min(n, m_data.size() - static_cast<size_t>(offset));
        std::memcpy(buf, m_data.data() + offset, n);
        return static_cast<long>(n);
    }
    ULONGLONG ConcurrentSize() const override { return m_data.size(); }

private:
    const std::string m_data;
    const ULONGLONG m_failAt;
};
