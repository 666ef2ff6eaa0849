// Files made by the safe output tree, filled by the engine's copy export (QorvexExCopyFile) on a worker thread
// while the host goes on making the next ones: creating a file and writing one overlap.
//
// The host makes every file itself (and asks any question about replacing) in its own thread, in catalogue order,
// then hands the open file over; the worker copies the entry's bytes into it, dates it and closes it, or removes
// it when the copy fails. Nothing is written anywhere but into files the tree made.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "output_tree.h"
#include "qorvex_ext.h"

#ifndef _WIN32
#include <thread>
#endif

namespace host {

using CopyExport = int32_t(QORVEX_CALL *)(QorvexHandle, int32_t, int32_t, int32_t, intptr_t, uint64_t, uint32_t,
                                          ProgressCallback, void *);

// One output file: the walk entries whose bytes it holds, one after the other.
struct CopyJob {
    std::unique_ptr<OutputFile> file;
    std::vector<int32_t> indexes;
    std::vector<uint64_t> sizes;   // of each entry, to place the next one
    uint64_t size = 0;             // of the whole file
    bool joined = false;           // one UDF entry whose extents the engine joins
    bool zero_fill = false;        // a damaged file kept: what cannot be read is written as zeros
    int64_t modified = kKeepTime;  // seconds since 1970 UTC; kKeepTime leaves the time of writing
    size_t tag = 0;                // the host's, handed back with a failure
};

// A job that failed: the engine's result, or with result 0 the problem of writing or finishing the file.
struct CopyFailure {
    size_t tag = 0;
    int32_t result = 0;
    OutputProblem problem;
};

class CopyQueue {
public:
    // Workers worth having here: two (two large files copied at once) where there are two cores or more.
    static unsigned DefaultWorkers();
    // With workers == 0 (or where there are no threads) each job is done by Submit itself. `copied`, when given,
    // hears of the bytes as they are copied, always on the caller's thread: of each run copied there at once, of
    // those the workers copied at the next Submit or poll of Wait. It stops everything when it answers false.
    CopyQueue(CopyExport copy, QorvexHandle handle, int32_t track, int32_t kind, unsigned workers = 1,
              std::function<bool(uint64_t)> copied = {});
    ~CopyQueue();
    CopyQueue(const CopyQueue &) = delete;
    CopyQueue &operator=(const CopyQueue &) = delete;

    // Hands over a file the tree made (a small one is filled at once); waits while many are in hand, calling
    // `poll` about every 50 ms meanwhile.
    void Submit(CopyJob job, const std::function<void()> &poll = {});
    // Waits until every job handed over is done, calling `poll` about every 50 ms meanwhile (and once at the end).
    void Wait(const std::function<void()> &poll = {});
    // Waits, then ends the workers (later jobs are done by Submit itself).
    void Finish(const std::function<void()> &poll = {});
    // Makes the copies under way stop (they fail with ENGINE_ABORTED, their files removed) and skips the rest.
    void Cancel() { cancelled_ = true; }
    bool Cancelled() const { return cancelled_; }
    // Bytes copied so far, for a progress display.
    uint64_t Copied() const { return copied_; }
    // The failures so far, in the order they happened (taken: a second call gives only newer ones).
    std::vector<CopyFailure> TakeFailures();

private:
    struct Copier {
        CopyQueue *queue;
        bool worker;
    };
    static int32_t QORVEX_CALL Counter(int32_t kind, void *user, const void *, int32_t length);
    void Run(CopyJob &job, bool worker);
    void Tell();  // hands the workers' bytes to `copied`
    void Work();

    CopyExport copy_;
    std::function<bool(uint64_t)> on_copied_;
    QorvexHandle handle_;
    int32_t track_;
    int32_t kind_;
    std::atomic<bool> cancelled_{false};
    std::atomic<uint64_t> copied_{0};
    std::atomic<uint64_t> untold_{0};  // copied by workers, not yet handed to on_copied_

    std::mutex lock_;
    std::condition_variable changed_;
    std::deque<CopyJob> pending_;
    size_t busy_ = 0;
    bool closing_ = false;
    std::vector<CopyFailure> failures_;
#ifndef _WIN32
    std::vector<std::thread> workers_;
#endif
};

}  // namespace host
