#pragma once

#include <QObject>
#include <QThreadPool>
#include <functional>
#include <memory>

// Hands memory that a large piece of work freed back to the system. The C library keeps freed
// pages for later use; a tray program that reads ten thousand records every few minutes and is
// idle in between should not hold on to them.
namespace MemoryReturn {

// The allocator's rules for this process, set before any other thread starts: a heap for each
// thread, so that no worker shares the main thread's, large blocks mapped on their own so that
// freeing them returns them at once, and the top of the heap given back sooner.
void setAllocatorPolicy();

// Makes room at once in the calling thread's heap for about `bytes` of small blocks, for a
// thread about to make many of them while others start. Grown block by block instead, each
// step changes the process's memory map, and every step and every fault on new memory then
// waits on (and holds up) the other threads' own mapping of files and memory.
void growThreadHeap(qint64 bytes);

// Gives every heap's free pages back to the system. Takes a while on a large heap: call it off
// the main thread.
void trim();

} // namespace MemoryReturn

// Frees large data on a worker of its own and then gives the freed pages back, in that order: a
// trim that ran before the data was gone would give back nothing. Everything handed to one
// releaser runs on one thread, one job after another.
class MemoryReleaser {
public:
    // `trim` stands for MemoryReturn::trim (tests count the calls).
    explicit MemoryReleaser(std::function<void()> trim = MemoryReturn::trim);
    ~MemoryReleaser(); // waits for what was handed over

    // Drops this reference to `data` on the worker (the data goes when its last reference does).
    template <typename T> void release(std::shared_ptr<T> data)
    {
        post([data = std::move(data)]() mutable { data.reset(); });
    }
    // Runs `work` on the worker, after everything handed over before it.
    void post(std::function<void()> work);
    // Gives back what the jobs handed over before it freed.
    void giveBack();
    // Waits until the jobs handed over so far are done (for tests and shutdown).
    void waitForDone();

private:
    std::function<void()> m_trim;
    QThreadPool m_worker;
};
