#include "copy_queue.h"

#include <cerrno>
#include <chrono>

namespace host {

namespace {
// Files in hand at most (made, not yet filled): enough to keep a worker busy, few enough for descriptors.
constexpr size_t kInHand = 64;
// Smaller files are filled at once by the thread that made them: handing them over costs more than it saves.
constexpr uint64_t kHandOver = uint64_t{1} << 20;
}  // namespace

unsigned CopyQueue::DefaultWorkers() {
#ifndef _WIN32
    return std::thread::hardware_concurrency() >= 2 ? 2 : 1;
#else
    return 0;
#endif
}

CopyQueue::CopyQueue(CopyExport copy, QorvexHandle handle, int32_t track, int32_t kind, unsigned workers,
                     std::function<bool(uint64_t)> copied)
    : copy_(copy), on_copied_(std::move(copied)), handle_(handle), track_(track), kind_(kind) {
#ifndef _WIN32
    for (unsigned i = 0; i < workers; ++i) workers_.emplace_back([this] { Work(); });
#else
    (void)workers;
#endif
}

CopyQueue::~CopyQueue() {
    Cancel();
    Finish();
}

int32_t QORVEX_CALL CopyQueue::Counter(int32_t kind, void *user, const void *, int32_t length) {
    const Copier *copier = static_cast<const Copier *>(user);
    CopyQueue *queue = copier->queue;
    if (kind == QORVEX_EX_CALLBACK_COPIED && length > 0) {
        queue->copied_ += static_cast<uint64_t>(length);
        if (copier->worker)
            queue->untold_ += static_cast<uint64_t>(length);
        else if (queue->on_copied_ && !queue->on_copied_(static_cast<uint64_t>(length)))
            queue->cancelled_ = true;
    }
    return queue->cancelled_ ? 0 : 1;
}

void CopyQueue::Tell() {
    if (!on_copied_) return;
    const uint64_t bytes = untold_.exchange(0);
    if (bytes > 0 && !on_copied_(bytes)) cancelled_ = true;
}

void CopyQueue::Run(CopyJob &job, bool worker) {
    Copier copier{this, worker};
    CopyFailure failure;
    failure.tag = job.tag;
    uint64_t at = 0;
    const uint32_t flags = QORVEX_EX_COPY_KEEP_OPEN | (job.joined ? QORVEX_EX_COPY_JOINED : 0u) |
                           (job.zero_fill ? QORVEX_EX_COPY_ZERO_FILL : 0u);
    for (size_t k = 0; k < job.indexes.size(); ++k) {
        if (cancelled_) {
            failure.result = ENGINE_ABORTED;
            break;
        }
        errno = 0;
        failure.result =
            copy_(handle_, track_, kind_, job.indexes[k], job.file->Native(), at, flags, &Counter, &copier);
        if (failure.result == ENGINE_WRITE_FAILED && errno != 0) {
            // The engine's code says only that a write failed; the system's cause is still in errno.
            failure.problem.refusal = Refusal::kWriteFailed;
            failure.problem.error = errno;
        }
        if (failure.result != 0) break;
        if (k < job.sizes.size()) at += job.sizes[k];  // the next extent goes on where this one ends
    }
    if (failure.result != 0) {
        job.file->Discard();
    } else if (!job.file->Finish(job.modified, &failure.problem)) {
        failure.result = 0;
    } else {
        return;
    }
    std::lock_guard<std::mutex> guard(lock_);
    failures_.push_back(std::move(failure));
}

void CopyQueue::Submit(CopyJob job, const std::function<void()> &poll) {
#ifndef _WIN32
    Tell();
    if (!workers_.empty() && job.size >= kHandOver) {
        std::unique_lock<std::mutex> guard(lock_);
        while (pending_.size() + busy_ >= kInHand) {
            changed_.wait_for(guard, std::chrono::milliseconds(50));
            guard.unlock();
            Tell();
            if (poll) poll();
            guard.lock();
        }
        pending_.push_back(std::move(job));
        changed_.notify_all();
        return;
    }
#else
    (void)poll;  // no workers here: every file is filled at once
#endif
    Run(job, false);
}

void CopyQueue::Work() {
    std::unique_lock<std::mutex> guard(lock_);
    for (;;) {
        changed_.wait(guard, [&] { return closing_ || !pending_.empty(); });
        if (pending_.empty()) return;
        CopyJob job = std::move(pending_.front());
        pending_.pop_front();
        ++busy_;
        guard.unlock();
        Run(job, true);
        job.file.reset();
        guard.lock();
        --busy_;
        changed_.notify_all();
    }
}

void CopyQueue::Wait(const std::function<void()> &poll) {
#ifndef _WIN32
    {
        std::unique_lock<std::mutex> guard(lock_);
        while (!pending_.empty() || busy_ > 0) {
            changed_.wait_for(guard, std::chrono::milliseconds(50));
            guard.unlock();
            Tell();
            if (poll) poll();
            guard.lock();
        }
    }
#endif
    Tell();
    if (poll) poll();
}

void CopyQueue::Finish(const std::function<void()> &poll) {
    Wait(poll);
#ifndef _WIN32
    {
        std::lock_guard<std::mutex> guard(lock_);
        closing_ = true;
        changed_.notify_all();
    }
    for (std::thread &worker : workers_) worker.join();
    workers_.clear();
#endif
}

std::vector<CopyFailure> CopyQueue::TakeFailures() {
    std::lock_guard<std::mutex> guard(lock_);
    std::vector<CopyFailure> taken;
    taken.swap(failures_);
    return taken;
}

}  // namespace host
