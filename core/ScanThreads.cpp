// The scan on one thread or on many. With many, the file is cut into stretches that threads
// take in turn, each listing the rows whose offsets lie in its stretch into a batch of its
// own; the batches go to the rows in file order, so the rows are one thread's, row for row.
#include <algorithm>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <new>
#include <sched.h>
#include <stdexcept>
#include <sys/mman.h>
#include <system_error>
#include <thread>
#include <type_traits>
#include <vector>

#include "Memory.h"
#include "Scan.h"
#include "ScanEngine.h"

#ifdef __has_feature
#define TARNWICK_HAS_FEATURE(x) __has_feature(x)
#else
#define TARNWICK_HAS_FEATURE(x) 0
#endif

namespace {

// The rows a scan lists again, passed over: the first `count` go nowhere.
class PassOver final : public RowSink {
public:
    PassOver(RowSink& rows, size_t count) : m_rows(rows), m_count(count) {}
    bool Done() const { return m_count == 0; }
    void Append(const char* offset, size_t offsetLen, const char* run, size_t runLen) override {
        if (m_count > 0) {
            --m_count;
            return;
        }
        m_rows.Append(offset, offsetLen, run, runLen);
    }

private:
    RowSink& m_rows;
    size_t m_count;
};

// Large enough that a stretch's few reads before its start are nothing beside it, small
// enough that a stop is heard soon and that the batches waiting their turn stay small.
constexpr ULONGLONG kStretch = ULONGLONG(4) << 20;
constexpr ULONGLONG kMostThreads = 256;

// The processors this process may run on (fewer than the machine has under taskset or a
// container's CPU set).
unsigned Processors() {
    cpu_set_t set;
    if (::sched_getaffinity(0, sizeof set, &set) == 0)
        return static_cast<unsigned>(CPU_COUNT(&set));
    return std::thread::hardware_concurrency();
}

ScanRange RangeOf(const ScanSettings& settings) {
    return ScanRange{settings.minLength, settings.utf16, settings.begin,
                     std::max(settings.begin, settings.end)};
}

} // namespace

GrowingBytes::~GrowingBytes() {
    Release();
}

void GrowingBytes::Release() {
    if (m_data)
        ::munmap(m_data, m_capacity);
    m_data = nullptr;
    m_size = m_capacity = 0;
}

void GrowingBytes::Grow(size_t n) {
    // Doubling from 64 KiB, so that a batch settles at the size its stretches need.
    constexpr size_t kFirst = size_t(64) << 10;
    size_t want = std::max(2 * m_capacity, kFirst);
    while (want < m_size + n)
        want *= 2;
#if defined(__SANITIZE_THREAD__) || TARNWICK_HAS_FEATURE(thread_sanitizer)
    // The thread checker does not follow pages that mremap moves: it would see the writes of
    // a batch's earlier owner as racing with its next.
    void* p = ::mmap(nullptr, want, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED)
        throw std::bad_alloc();
    if (m_data) {
        std::memcpy(p, m_data, m_size);
        ::munmap(m_data, m_capacity);
    }
#else
    void* p =
        m_data ? ::mremap(m_data, m_capacity, want, MREMAP_MAYMOVE)
               : ::mmap(nullptr, want, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED)
        throw std::bad_alloc();
#endif
    m_data = static_cast<char*>(p);
    m_capacity = want;
}

class FileScan::Engine {
public:
    virtual ~Engine() = default;
    virtual bool Step(ULONGLONG bytes) = 0;
    virtual ULONGLONG Position() const = 0;
};

namespace {

// One thread: the range scanned straight into the rows.
class OneThread final : public FileScan::Engine {
public:
    template <class Rows>
    OneThread(FileReader& file, const ScanRange& range, Rows& rows)
        : m_scan(
              MakeRangeScan(file, range, FindRunStarts(file, range.begin, 0, range.utf16), rows)) {}
    bool Step(ULONGLONG bytes) override { return m_scan->Step(bytes); }
    ULONGLONG Position() const override { return m_scan->Position(); }

private:
    std::unique_ptr<RangeScan> m_scan;
};

// Many threads. Stretch k is [begin + k * size, begin + (k + 1) * size), the last one
// reaching to the range's end. A thread takes the next stretch when fewer than kAhead
// stretches are waiting their turn, finds where the runs around its start began (from the
// stretch before when they reach back past its start), and lists its rows into the batch of
// the slot the stretch has. The batches go into the rows in order, each moved by whichever
// thread finds its turn has come, and only while Step runs; Step counts them. Once a
// stretch's turn comes while it is being scanned, its rows so far are moved and the rest go
// straight into the listing, written once instead of twice.
template <class Rows> class ManyThreads final : public FileScan::Engine {
public:
    ManyThreads(FileReader& file, const ScanSettings& settings, ULONGLONG fileSize, Rows& rows,
                unsigned threads)
        : m_file(file), m_range(RangeOf(settings)), m_rows(rows),
          m_size(settings.stretch ? settings.stretch : kStretch),
          m_last(std::min(fileSize, m_range.end)),
          m_stretches((m_last - m_range.begin + m_size - 1) / m_size), m_ahead(threads + 2),
          m_slots(m_ahead), m_readers(threads), m_handOn(m_stretches), m_position(m_range.begin) {
        // Each thread's reader is made here, so that no room is missing once they run.
        for (FileReader& reader : m_readers)
            reader.OpenShared(file);
        m_slots[0].starts = FindRunStarts(file, m_range.begin, 0, m_range.utf16);
        m_slots[0].startsKnown = true;
        // Room for every thread first: once one runs, nothing here may throw.
        m_threads.reserve(threads);
        try {
            for (unsigned i = 0; i < threads; ++i)
                m_threads.emplace_back([this, i] { Work(m_readers[i]); });
        } catch (const std::system_error&) {
            // Fewer threads than asked for: those there are do the work.
            if (m_threads.empty())
                throw;
        }
    }

    ~ManyThreads() override { Stop(); }

    bool Step(ULONGLONG bytes) override {
        if (m_alone)
            return m_alone->Step(bytes);
        // While Step runs, and only then, batches may go into the rows: between steps the
        // rows are the caller's, who may read them.
        struct Stepping {
            ManyThreads& scan;
            bool on = true;
            explicit Stepping(ManyThreads& s) : scan(s) {
                std::lock_guard<std::mutex> lock(scan.m_mutex);
                scan.m_stepping = true;
            }
            ~Stepping() { End(); }
            // Once no batch is moving; then what was moved up to here is counted.
            void End() {
                if (!on)
                    return;
                on = false;
                std::unique_lock<std::mutex> lock(scan.m_mutex);
                scan.m_stepping = false;
                scan.m_ready.wait(lock, [this] { return !scan.m_moving; });
            }
        } stepping(*this);
        ULONGLONG done = 0;
        while (done < bytes && m_next < m_handOn) {
            Slot& slot = m_slots[m_next % m_ahead];
            std::exception_ptr error;
            bool slotFailed = false;
            ULONGLONG moved, endedAt;
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                // The stretches that make up the bytes asked for: only their move wakes Step.
                const ULONGLONG need = (bytes - done) / m_size + 1;
                m_want = std::min(m_next + std::min(need, m_stretches), m_stretches);
                for (;;) {
                    if (m_moved > m_next)
                        break;
                    if (m_moveError) {
                        error = m_moveError;
                        break;
                    }
                    if (slot.done && slot.error) {
                        error = slot.error;
                        slotFailed = true;
                        break;
                    }
                    // (a move of its own that failed has nobody else to wake it)
                    if (!MoveNext(lock, true) && !m_moveError)
                        m_ready.wait(lock);
                }
                moved = m_moved;
                endedAt = m_endedAt;
            }
            if (slotFailed)
                return StretchFailed(slot, error, bytes - done);
            if (error)
                std::rethrow_exception(error);
            done += CountMoved(moved, endedAt);
        }
        // Batches moved while Step counted are in the rows too: the position covers them.
        stepping.End();
        CountMoved(m_moved, m_endedAt);
        // A move, or a stretch written straight, that failed as Step ended has rows in past
        // the position: its failure is this step's.
        Slot& slot = m_slots[m_next % m_ahead];
        std::exception_ptr moveError, stretchError;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            moveError = m_moveError;
            if (m_next < m_handOn && slot.done && slot.straightRows > 0)
                stretchError = slot.error;
        }
        if (moveError)
            std::rethrow_exception(moveError);
        if (stretchError)
            return StretchFailed(slot, stretchError, 0);
        return m_next < m_handOn;
    }

    // Step's own: counts the stretches whose batches are in the rows, up to moved; returns
    // the bytes they cover.
    ULONGLONG CountMoved(ULONGLONG moved, ULONGLONG endedAt) {
        ULONGLONG bytes = 0;
        for (; m_next < moved; ++m_next) {
            const ULONGLONG end = std::min(StretchEnd(m_next), m_last);
            bytes += end - m_position;
            m_position = end;
            // A file cut short while scanned ends where this stretch found its end, as it
            // does on one thread; what later stretches read before the cut is not listed.
            if (m_next == endedAt)
                m_handOn = m_next + 1;
        }
        return bytes;
    }

    ULONGLONG Position() const override {
        return m_alone ? m_alone->Position() : std::max(m_position, m_straightAt);
    }

private:
    static bool OutOfMemory(const std::exception_ptr& error) {
        try {
            std::rethrow_exception(error);
        } catch (const std::bad_alloc&) {
            return true;
        } catch (...) {
            return false;
        }
    }

    // Lets the threads go, with their batches and the rows of the stretch that failed, and
    // scans from that stretch's start on this thread, passing over the stretch's rows that
    // went straight into the listing before it failed.
    void GoOnAlone() {
        Stop();
        for (Slot& slot : m_slots)
            slot.batch.Release();
        // The run starts as a thread finds them: back through the stretch before, then from
        // that stretch's own, which stay until the stretch after has them.
        const ULONGLONG k = m_next;
        const ULONGLONG begin = StretchBegin(k);
        RunStarts starts =
            FindRunStarts(m_file, begin, k > 0 ? StretchBegin(k - 1) : 0, m_range.utf16);
        if (k > 0) {
            const Slot& before = m_slots[(k - 1) % m_ahead];
            if (starts.ascii == kUnknownStart)
                starts.ascii = before.starts.ascii;
            if (starts.wide == kUnknownStart)
                starts.wide = before.starts.wide;
        }
        const ScanRange rest{m_range.minLength, m_range.utf16, begin, m_range.end};
        const size_t listed = m_slots[k % m_ahead].straightRows;
        if (listed == 0) {
            m_alone = MakeRangeScan(m_file, rest, starts, m_rows);
            return;
        }
        m_passOver = std::make_unique<PassOver>(m_rows, listed);
        m_alone = MakeRangeScan(m_file, rest, starts, *m_passOver);
        // Past the rows listed already, so that the position covers them again.
        while (!m_passOver->Done() && m_alone->Step(CFile::kMaxView)) {
        }
    }

    void Stop() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_cancel = true;
        }
        m_wake.notify_all();
        for (std::thread& t : m_threads)
            t.join();
        m_threads.clear();
    }

    struct Slot {
        RowBatch batch;
        RunStarts starts{0, 0};
        bool startsKnown = false;
        bool done = false;
        bool fileEnded = false; // the file ended before the stretch did: it was cut short
        std::exception_ptr error;
        int rowsBefore = 0;      // once written straight: the listing's rows before the stretch's
        size_t straightRows = 0; // and the stretch's own there, once it has ended or failed
    };

    // Step's own, once the stretch whose turn has come failed, with no batch moving.
    bool StretchFailed(Slot& slot, const std::exception_ptr& error, ULONGLONG bytesLeft) {
        if (OutOfMemory(error)) {
            // A thread had no room for its rows: the rest is scanned here alone, which needs
            // none beyond the rows themselves.
            GoOnAlone();
            return m_alone->Step(bytesLeft);
        }
        // The batch goes on before its error: the rows before the error stay, as they do on
        // one thread.
        slot.batch.MoveTo(m_rows);
        std::rethrow_exception(error);
    }

    ULONGLONG StretchBegin(ULONGLONG k) const { return m_range.begin + k * m_size; }
    ULONGLONG StretchEnd(ULONGLONG k) const {
        return k + 1 == m_stretches ? m_range.end : StretchBegin(k + 1);
    }

    void Work(FileReader& reader) {
        for (;;) {
            ULONGLONG k;
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                // A slot is taken again only once the stretch after its last one has read
                // that one's run starts: kAhead - 1 stretches ahead at most.
                m_wake.wait(lock, [&] {
                    return m_cancel || m_taken >= m_stretches || m_taken + 1 < m_moved + m_ahead;
                });
                if (m_cancel || m_taken >= m_stretches)
                    return;
                k = m_taken++;
                if (k > 0)
                    m_slots[k % m_ahead].startsKnown = false;
                m_slots[k % m_ahead].straightRows = 0;
            }
            Slot& slot = m_slots[k % m_ahead];
            try {
                Scan(reader, k, slot);
            } catch (...) {
                std::lock_guard<std::mutex> lock(m_mutex);
                slot.error = std::current_exception();
            }
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                if constexpr (kIntoListing)
                    if (m_straight == k)
                        EndStraight(k, slot);
                slot.done = true;
                // Run starts never found end the wait of the stretch after, which then fails.
                slot.startsKnown = true;
                if (slot.error || !kIntoListing)
                    m_ready.notify_all();
                // The batches whose turn has come go on from here, so that Step need not
                // wake for each.
                while (MoveNext(lock, false)) {
                }
            }
            m_wake.notify_all();
            // While batches go on, the pages they will be written into are made ready.
            if constexpr (kIntoListing)
                while (m_rows.ReadyAhead()) {
                }
        }
    }

    // The listing takes rows from any thread, and has its pages readied ahead; other rows,
    // which may write them out, are moved from Step's thread alone.
    static constexpr bool kIntoListing = std::is_same_v<Rows, Listing>;

    // With the lock held: moves the next batch into the rows if its turn has come, Step
    // runs and no other thread is moving one.
    bool MoveNext(std::unique_lock<std::mutex>& lock, bool fromStep) {
        const ULONGLONG k = m_moved;
        Slot& slot = m_slots[k % m_ahead];
        if (!m_stepping || m_moving || m_moveError || k >= m_stretches || k > m_endedAt ||
            !slot.done || slot.error)
            return false;
        if (!kIntoListing && !fromStep)
            return false;
        m_moving = true;
        lock.unlock();
        std::exception_ptr error;
        try {
            slot.batch.MoveTo(m_rows);
            if constexpr (kIntoListing)
                m_rows.ExpectMore(StretchEnd(k) - m_range.begin,
                                  m_last - std::min(m_last, StretchEnd(k)));
        } catch (...) {
            error = std::current_exception();
        }
        lock.lock();
        m_moving = false;
        const bool ended = slot.fileEnded;
        if (error) {
            m_moveError = error;
        } else {
            if (ended)
                m_endedAt = k;
            // Its run starts stay for the stretch after, which may still be reading them.
            slot.done = slot.fileEnded = false;
            ++m_moved;
            m_wake.notify_all();
        }
        // Step wakes for what it waits on, and for what only it can do: a failed stretch
        // whose turn has come.
        const Slot& next = m_slots[m_moved % m_ahead];
        if (error || ended || m_moved >= m_want || !m_stepping || (next.done && next.error))
            m_ready.notify_all();
        return !error;
    }

    // The listing's, between the blocks of stretch k: once the stretch's turn has come while
    // Step runs, its rows so far are moved and the rest go straight into the listing; true
    // then. Nobody else moves rows meanwhile: the stretches after it wait for it, and Step,
    // should it end, waits for it to end too (a stretch's scan at most).
    bool GoStraight(ULONGLONG k, Slot& slot) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            // (nor once the file has been found cut short before it)
            if (m_moved != k || k > m_endedAt || m_moving || !m_stepping || m_moveError)
                return false;
            m_moving = true;
            m_straight = k;
        }
        slot.rowsBefore = m_rows.Count();
        // (should the listing have no room, the stretch ends here: Work takes the error)
        slot.batch.MoveTo(m_rows);
        slot.batch.SendStraightTo(&m_rows);
        return true;
    }

    // With the lock held, once stretch k, written straight, has ended or failed: its rows
    // go to its batch again, others may move, and the position takes in its rows should Step
    // have ended meanwhile. Should it have failed, the rows it listed are counted, so that
    // they are not listed again.
    void EndStraight(ULONGLONG k, Slot& slot) {
        m_straight = kNone;
        m_moving = false;
        slot.batch.SendStraightTo(nullptr);
        slot.straightRows = static_cast<size_t>(m_rows.Count() - slot.rowsBefore);
        if (!slot.error)
            m_straightAt = std::max(m_straightAt, std::min(StretchEnd(k), m_last));
        m_ready.notify_all();
    }

    void Scan(FileReader& reader, ULONGLONG k, Slot& slot) {
        const ULONGLONG begin = StretchBegin(k);
        if (k > 0) {
            RunStarts starts = FindRunStarts(reader, begin, StretchBegin(k - 1), m_range.utf16);
            if (starts.ascii == kUnknownStart || starts.wide == kUnknownStart) {
                // The run goes back past the stretch before: it began where the runs at that
                // stretch's start did.
                const Slot& before = m_slots[(k - 1) % m_ahead];
                std::unique_lock<std::mutex> lock(m_mutex);
                m_wake.wait(lock, [&] { return m_cancel || before.startsKnown; });
                if (m_cancel)
                    return;
                if (before.error)
                    throw std::runtime_error("the stretch before failed");
                if (starts.ascii == kUnknownStart)
                    starts.ascii = before.starts.ascii;
                if (starts.wide == kUnknownStart)
                    starts.wide = before.starts.wide;
            }
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                slot.starts = starts;
                slot.startsKnown = true;
            }
            m_wake.notify_all();
        }
        const ScanRange range{m_range.minLength, m_range.utf16, begin, StretchEnd(k)};
        const auto scan = MakeRangeScan(reader, range, slot.starts, slot.batch);
        if constexpr (kIntoListing) {
            bool straight = GoStraight(k, slot);
            while (scan->Step(CFile::kMaxView)) {
                if (!straight) {
                    straight = GoStraight(k, slot);
                    continue;
                }
                const ULONGLONG at = scan->Position();
                m_rows.FollowWriter();
                m_rows.ExpectMore(at > m_range.begin ? at - m_range.begin : 0,
                                  m_last - std::min(m_last, at));
            }
        } else {
            while (scan->Step(~ULONGLONG(0))) {
            }
        }
        slot.fileEnded = scan->FileEnd() < StretchEnd(k) && k + 1 < m_stretches;
    }

    FileReader& m_file;
    const ScanRange m_range;
    Rows& m_rows;
    const ULONGLONG m_size;      // the bytes of a stretch
    const ULONGLONG m_last;      // where the file, or the range, ends
    const ULONGLONG m_stretches; // how many there are
    const ULONGLONG m_ahead;     // slots: the stretches taken and not yet handed on, at most
    std::vector<Slot> m_slots;
    std::vector<FileReader> m_readers; // one for each thread
    std::vector<std::thread> m_threads;
    std::mutex m_mutex;
    std::condition_variable m_wake;      // for the threads: a slot is free, starts are known, stop
    std::condition_variable m_ready;     // for Step: what it waits for is moved, or failed
    ULONGLONG m_taken = 0;               // stretches taken by threads
    ULONGLONG m_moved = 0;               // stretches whose rows are in the rows
    ULONGLONG m_want = 0;                // Step wakes once this many are
    ULONGLONG m_endedAt = ~ULONGLONG(0); // the stretch that found the file cut short
    bool m_stepping = false;             // Step runs: batches may go into the rows
    bool m_moving = false;               // a thread is moving a batch into the rows
    static constexpr ULONGLONG kNone = ~ULONGLONG(0);
    ULONGLONG m_straight = kNone;   // the stretch whose rows go straight into the rows
    ULONGLONG m_straightAt = 0;     // where its rows end, once it has ended unmoved
    std::exception_ptr m_moveError; // what a move into the rows threw
    ULONGLONG m_next = 0;           // Step's own: the stretch it counts next
    ULONGLONG m_handOn;             // the stretches Step hands on: all, unless the file ends
    ULONGLONG m_position;           // where the rows handed on end
    bool m_cancel = false;
    std::unique_ptr<PassOver> m_passOver; // the rows the rest of the scan lists again, dropped
    std::unique_ptr<RangeScan> m_alone;   // the rest of the scan, on this thread
};

template <class Rows>
std::unique_ptr<FileScan::Engine> MakeEngine(CFile& file, const ScanSettings& settings,
                                             Rows& rows) {
    FileReader& reader = file.Reader();
    const ScanRange range = RangeOf(settings);
    const ULONGLONG size = reader.ConcurrentSize();
    const ULONGLONG stretch = settings.stretch ? settings.stretch : kStretch;
    const ULONGLONG bytes =
        std::min(size, range.end) > range.begin ? std::min(size, range.end) - range.begin : 0;
    // No more threads than stretches, nor than the system is likely to give.
    const ULONGLONG most = std::min<ULONGLONG>((bytes + stretch - 1) / stretch, kMostThreads);
    const auto threads =
        ThreadsAllowed(static_cast<unsigned>(std::min<ULONGLONG>(
                           settings.threads ? settings.threads : Processors(), most)),
                       AddressSpaceLeft());
    // One thread when the file allows no other, or when it is too small to share out.
    if (threads > 1) {
        try {
            return std::make_unique<ManyThreads<Rows>>(reader, settings, size, rows, threads);
        } catch (const std::system_error&) {
            // No thread could be started: the scan goes on this one.
        } catch (const std::bad_alloc&) {
            // No room for the threads' readers: one thread needs less.
        }
    }
    return std::make_unique<OneThread>(reader, range, rows);
}

} // namespace

FileScan::FileScan(CFile& file, const ScanSettings& settings, RowSink& rows) {
    // The listing's own rows are appended without a call through the face.
    if (auto* listing = dynamic_cast<Listing*>(&rows))
        m_engine = MakeEngine(file, settings, *listing);
    else
        m_engine = MakeEngine(file, settings, rows);
}

FileScan::~FileScan() = default;

bool FileScan::Step(ULONGLONG bytes) {
    return m_engine->Step(bytes);
}

ULONGLONG FileScan::Position() const {
    return m_engine->Position();
}

void ScanFile(CFile& file, const ScanSettings& settings, RowSink& rows) {
    FileScan scan(file, settings, rows);
    while (scan.Step(~ULONGLONG(0))) {
    }
}

void ScanFile(CFile& file, int minLength, Listing& listing, bool utf16) {
    ScanSettings settings;
    settings.minLength = minLength;
    settings.utf16 = utf16;
    settings.threads = 1;
    ScanFile(file, settings, listing);
}
