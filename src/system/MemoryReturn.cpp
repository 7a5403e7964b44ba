#include "system/MemoryReturn.h"

#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <cstdlib>
#include <thread>
#include <vector>

namespace MemoryReturn {

void setAllocatorPolicy()
{
#ifdef __GLIBC__
    // A heap for every thread. Once as many heaps as allowed are taken, the allocator gives a
    // thread that starts one already in use, the main thread's first: a worker put there (the sync
    // decoding thousands of records, a reader of the to-dos) then holds the window at the heap's
    // lock on every block either makes, 200 ms and more at a start with 20,000 to-dos. The
    // toolkit's painting threads are one per processor, the program's own threads fewer than
    // sixteen. A heap costs the pages its thread uses; a trim gives back what they freed.
    mallopt(M_ARENA_MAX, int(std::thread::hardware_concurrency()) + 16);
    // A fixed threshold also stops the allocator from raising it after a large block is freed,
    // which would put the next large blocks (a file's text, a list of ten thousand to-dos) in the
    // heap, where they stay after they are freed.
    mallopt(M_MMAP_THRESHOLD, 256 * 1024);
    mallopt(M_TRIM_THRESHOLD, 1024 * 1024);
#endif
}

void growThreadHeap(qint64 bytes)
{
#ifdef __GLIBC__
    // Blocks under the mapping threshold come from the thread's heap and grow it; freed, they
    // leave it grown (its pages given back, its map unchanged), so the blocks made later fill it
    // without changing the map again.
    constexpr qint64 block = 192 * 1024;
    std::vector<void*> blocks;
    blocks.reserve(size_t(bytes / block + 1));
    for (qint64 made = 0; made < bytes; made += block)
        blocks.push_back(std::malloc(block));
    for (void* b : blocks)
        std::free(b);
#else
    Q_UNUSED(bytes);
#endif
}

void trim()
{
    // Under AddressSanitizer the blocks are not the C library's, and its trim only disturbs the
    // heaps it keeps for its own use: a thread that had trimmed failed the library's check of them
    // when it ended.
#if defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__)
    malloc_trim(0);
#endif
}

} // namespace MemoryReturn

MemoryReleaser::MemoryReleaser(std::function<void()> trim) : m_trim(std::move(trim))
{
    m_worker.setMaxThreadCount(1);
    m_worker.setObjectName(QStringLiteral("MemoryReleaser"));
}

MemoryReleaser::~MemoryReleaser()
{
    m_worker.waitForDone();
}

void MemoryReleaser::post(std::function<void()> work)
{
    m_worker.start(std::move(work));
}

void MemoryReleaser::giveBack()
{
    if (m_trim)
        post(m_trim);
}

void MemoryReleaser::waitForDone()
{
    m_worker.waitForDone();
}
