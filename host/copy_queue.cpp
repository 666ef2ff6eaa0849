#include "copy_queue.h"

#include <cerrno>
#include <chrono>

namespace host {

namespace {
// Files in hand at most (made, not yet filled): enough to keep a worker busy, few enough for descriptors.
constexpr size_t kInHand = 64;
// Smaller files are filled at once by the thread that made them: handing them over costs more than it saves.
constexpr uint64_t kHandOver = uint64_t{1} << 20;
// Files from this size on are filled in two halves at once when there are two workers.
constexpr uint64_t kSplit = uint64_t{16} << 20;
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

// The job's bytes (length 0) or those of [from, from + length) of its one file, at their place in the output.
int32_t CopyQueue::Copy(CopyJob &job, uint64_t from, uint64_t length, bool worker) {
    Copier copier{this, worker};
    const uint32_t flags = QORVEX_EX_COPY_KEEP_OPEN | (job.joined ? QORVEX_EX_COPY_JOINED : 0u);
    if (length > 0) {
        if (cancelled_) return ENGINE_ABORTED;
        return copy_(handle_, track_, kind_, job.indexes.front(), job.file->Native(), from, from, length, flags,
                     &Counter, &copier);
    }
    uint64_t at = 0;
    for (size_t k = 0; k < job.indexes.size(); ++k) {
        if (cancelled_) return ENGINE_ABORTED;
        const int32_t result =
            copy_(handle_, track_, kind_, job.indexes[k], job.file->Native(), at, 0, 0, flags, &Counter, &copier);
        if (result != 0) return result;
        if (k < job.sizes.size()) at += job.sizes[k];  // the next extent goes on where this one ends
    }
    return 0;
}

void CopyQueue::Run(Piece &piece, bool worker) {
    Held &held = *piece.held;
    const int32_t result = Copy(held.job, piece.from, piece.length, worker);
    int32_t none = 0;
    if (result != 0) held.result.compare_exchange_strong(none, result);
    if (--held.pieces > 0) return;  // the other piece ends the file
    CopyFailure failure;
    failure.tag = held.job.tag;
    failure.result = held.result;
    if (failure.result != 0) {
        held.job.file->Discard();
    } else if (held.job.file->Finish(held.job.modified, &failure.problem)) {
        held.job.file.reset();
        return;
    }
    held.job.file.reset();
    std::lock_guard<std::mutex> guard(lock_);
    failures_.push_back(std::move(failure));
}

void CopyQueue::Submit(CopyJob job, const std::function<void()> &poll) {
    Piece whole{std::make_shared<Held>()};
    whole.held->job = std::move(job);
    const CopyJob &made = whole.held->job;
#ifndef _WIN32
    Tell();
    if (!workers_.empty() && made.size >= kHandOver) {
        std::unique_lock<std::mutex> guard(lock_);
        while (pending_.size() + busy_ >= kInHand) {
            changed_.wait_for(guard, std::chrono::milliseconds(50));
            guard.unlock();
            Tell();
            if (poll) poll();
            guard.lock();
        }
        // A large file of one entry is filled by two workers at once, each a half of it.
        const bool split =
            workers_.size() >= 2 && made.size >= kSplit && made.divisible && (made.indexes.size() == 1 || made.joined);
        if (split) {
            const uint64_t half = made.size / 2 / kHandOver * kHandOver;
            whole.held->pieces = 2;
            pending_.push_back({whole.held, 0, half});
            pending_.push_back({whole.held, half, made.size - half});
        } else {
            pending_.push_back(std::move(whole));
        }
        changed_.notify_all();
        return;
    }
#endif
    Run(whole, false);
}

void CopyQueue::Work() {
    std::unique_lock<std::mutex> guard(lock_);
    for (;;) {
        changed_.wait(guard, [&] { return closing_ || !pending_.empty(); });
        if (pending_.empty()) return;
        Piece piece = std::move(pending_.front());
        pending_.pop_front();
        ++busy_;
        guard.unlock();
        Run(piece, true);
        piece.held.reset();
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
