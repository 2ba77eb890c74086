// New memory made ready ahead of the thread that writes it (one at a time): others fault in the
// pages the writer will reach soon, so that the writer does not stop at each page it
// touches first. New pages cost much more here than the bytes written into them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>

class PagesAhead {
public:
    // The writer's blocks: one of each kind at a time.
    enum Kind { kTexts, kRows, kKinds };
    // How far past the writer pages are made ready at most (never further than the writer
    // has written so far, so that a small listing stays small), and how many a thread
    // readies at once.
    static constexpr size_t kReach = size_t(8) << 20;
    static constexpr size_t kChunk = size_t(1) << 20;

    // The writer's, as it takes a block or moves on in one. A block is never given back
    // while another thread may be readying it: forget it first (or the threads are gone).
    void SetBlock(Kind kind, char* begin, size_t bytes);
    // at: where the writer is in its block; written: how much it has written of this kind.
    void SetWriter(Kind kind, const char* at, size_t written);
    // What the writer is likely still to write: it has written for `done` bytes of its
    // input and has `left` more to go. Pages are readied no further than the rest is
    // likely to need, and a quarter more, so that where the writing is spread through the
    // input the end of a scan readies few pages it never writes. Until it is known, the
    // reach is at most what the writer has written.
    void SetOutlook(uint64_t done, uint64_t left);
    // Forgets the blocks and the outlook.
    void Forget();

    // Any thread's: readies the next chunk within reach of the writer; false when there is
    // none, or when the system cannot ready pages.
    bool ReadyOne();

private:
    // Places in a block as offsets from its start.
    struct Block {
        char* begin = nullptr;
        size_t size = 0;
        size_t next = 0;    // the first byte not yet readied
        size_t writer = 0;  // where the writer is
        size_t written = 0; // how much it has written of the block's kind
    };
    // How far past its writer a block's pages are made ready.
    size_t Reach(const Block& block) const;

    std::mutex m_mutex;
    Block m_blocks[kKinds];
    uint64_t m_done = 0, m_left = 0; // the outlook; none while done is 0
    bool m_unable = false;
};
