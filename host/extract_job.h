// The extraction job both hosts run: the folders, files and links of a plan (extract_plan.h) made through the
// safe output tree, the files filled by the engine's copy export on worker threads, and every question to the
// user asked through Decisions, which each host answers in its own way (options on the command line, the
// overwrite dialog on the desktop).
#pragma once

#include <cstdint>
#include <string>

#include "copy_queue.h"
#include "disc.h"
#include "extract_plan.h"
#include "output_tree.h"

namespace host {

// How one item ended.
struct Outcome {
    enum class Kind { kDone, kSkipped, kFailed };
    Kind kind = Kind::kDone;
    int32_t result = 0;     // the engine's code, when it failed
    OutputProblem problem;  // else what the output tree or the system said
};

class Decisions {
public:
    enum class Answer { kReplace, kSkip, kReplaceAll, kAbort };
    virtual ~Decisions() = default;
    // Something is already at the target of a file or link: replace it, leave it, replace it and every later
    // one without asking, or stop the job.
    virtual Answer AtTarget(const ExtractItem &item, const std::string &shown) = 0;
    // A file begins (its target as shown, its size); then bytes as they are copied: false stops the job.
    virtual void Begin(const ExtractItem &, const std::string &) {}
    virtual bool Advance(uint64_t) { return true; }
    // An item that was skipped (the answer, or something in the way: see the problem) or failed.
    virtual void Finished(const ExtractItem &, const std::string &, const Outcome &) {}
};

struct JobOptions {
    std::string shown_root;        // put before a target's components when it is shown ("out/")
    bool stop_at_failure = false;  // the first failure ends the job (the desktop's rule)
    unsigned workers = CopyQueue::DefaultWorkers();
};

struct JobSummary {
    size_t done = 0, skipped = 0, failed = 0;
    bool aborted = false;   // Decisions answered kAbort
    bool stopped = false;   // Advance answered false
    Outcome first_failure;  // of the first failed item
    std::string first_failed_shown;
};

// Runs a plan into the tree. Without the engine's copy export every file fails with ENGINE_BAD_KIND.
JobSummary RunExtraction(const Disc &disc, const ExtractPlan &plan, const OutputTree &tree, Decisions &decisions,
                         const JobOptions &options = {});

// "writing failed: No space left on device", "exists", or the engine's result as "0x8115".
std::string DescribeOutcome(const Outcome &outcome);

}  // namespace host
