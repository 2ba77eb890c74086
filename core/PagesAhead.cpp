#include "PagesAhead.h"

#include <algorithm>
#include <cerrno>
#include <sys/mman.h>
#include <unistd.h>

namespace {
const size_t kPage = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
}

void PagesAhead::SetBlock(Kind kind, char* begin, size_t bytes) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const size_t written = m_blocks[kind].written;
    m_blocks[kind] = Block{begin, bytes, 0, 0, written};
}

void PagesAhead::SetWriter(Kind kind, const char* at, size_t written) {
    std::lock_guard<std::mutex> lock(m_mutex);
    Block& block = m_blocks[kind];
    if (at >= block.begin && at <= block.begin + block.size)
        block.writer = static_cast<size_t>(at - block.begin);
    block.written = written;
}

void PagesAhead::SetOutlook(uint64_t done, uint64_t left) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_done = done;
    m_left = left;
}

void PagesAhead::Forget() {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (Block& block : m_blocks)
        block = Block{};
    m_done = m_left = 0;
}

size_t PagesAhead::Reach(const Block& block) const {
    const size_t reach = std::min(kReach, block.written);
    if (m_done == 0)
        return reach;
    // As much again as written for each byte of input still to come, and a quarter more.
    const double likely = double(block.written) * double(m_left) / double(m_done) * 1.25;
    return likely < double(reach) ? static_cast<size_t>(likely) : reach;
}

bool PagesAhead::ReadyOne() {
    char* at = nullptr;
    size_t bytes = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_unable)
            return false;
        // The kind whose readied pages are fewest ahead of its writer goes first.
        Block* pick = nullptr;
        size_t from = 0, to = 0;
        for (Block& block : m_blocks) {
            // The writer's own page and those behind it are in already.
            const size_t writerPage = block.writer & ~(kPage - 1);
            const size_t start = std::max(block.next, writerPage);
            const size_t stop =
                std::min(block.size, (block.writer + Reach(block) + kPage - 1) & ~(kPage - 1));
            if (start >= stop)
                continue;
            if (pick == nullptr || start - writerPage < from - (pick->writer & ~(kPage - 1))) {
                pick = &block;
                from = start;
                to = stop;
            }
        }
        if (pick == nullptr)
            return false;
        bytes = std::min(kChunk, to - from);
        at = pick->begin + from;
        pick->next = from + bytes;
    }
    // Faults the pages in as a write would, without writing: bytes the writer has put there
    // meanwhile stay as they are.
    if (::madvise(at, bytes, MADV_POPULATE_WRITE) == 0)
        return true;
    if (errno == EINVAL) {
        // A system older than this call: the writer faults its pages in itself.
        std::lock_guard<std::mutex> lock(m_mutex);
        m_unable = true;
    }
    // (short of memory: the writer meets it, where it is reported)
    return false;
}
