#include "extract_job.h"

#include <cstdio>
#include <memory>

namespace host {
namespace {

int64_t TimeOf(const ExtractItem &item) {
    return item.has_date ? item.date : kKeepTime;
}

// The engine's blocks of a system part into the open file (parts have no copy export).
struct PartSink {
    OutputFile *file;
    Decisions *decisions;
    bool stopped = false;
};

int32_t QORVEX_CALL PartBlock(int32_t kind, void *user, const void *data, int32_t length) {
    auto *sink = static_cast<PartSink *>(user);
    if (kind != CALLBACK_DATA || length <= 0) return 1;
    if (!sink->file->Append(data, static_cast<size_t>(length))) return 0;
    if (!sink->decisions->Advance(static_cast<uint64_t>(length))) {
        sink->stopped = true;
        return 0;
    }
    return 1;
}

class Job {
public:
    Job(const Disc &disc, const ExtractPlan &plan, const OutputTree &tree, Decisions &decisions,
        const JobOptions &options)
        : disc_(disc), plan_(plan), tree_(tree), decisions_(decisions), options_(options) {}

    JobSummary Run() {
        const EngineApi &api = disc_.Api();
        if (api.ExCopyFile)
            queue_ = std::make_unique<CopyQueue>(api.ExCopyFile, disc_.handle(), plan_.track, plan_.kind,
                                                 options_.workers, [this](uint64_t n) {
                                                     if (decisions_.Advance(n)) return true;
                                                     summary_.stopped = true;
                                                     return false;
                                                 });
        for (size_t i = 0; i < plan_.items.size() && !Over(); ++i) {
            const ExtractItem &item = plan_.items[i];
            switch (item.type) {
                case ItemType::kFolder: MakeFolder(item); break;
                case ItemType::kFile: MakeFile(item, i); break;
                case ItemType::kSymlink: MakeSymlink(item); break;
                case ItemType::kHardLink: MakeHardLink(item); break;
            }
            Settle();
        }
        if (queue_) {
            if (Over()) queue_->Cancel();
            queue_->Finish([this] { Settle(); });
            Settle();
            if (api.ExCloseImageFiles) api.ExCloseImageFiles(disc_.handle());
        }
        if (!Over()) SetFolderAttributes();
        return summary_;
    }

private:
    bool Over() const {
        return summary_.aborted || summary_.stopped || (options_.stop_at_failure && summary_.failed > 0);
    }
    std::string Shown(const ExtractItem &item) const { return options_.shown_root + JoinComponents(item.target); }

    void Report(const ExtractItem &item, const Outcome &outcome) {
        const std::string shown = Shown(item);
        if (outcome.kind == Outcome::Kind::kFailed) {
            if (summary_.failed++ == 0) {
                summary_.first_failure = outcome;
                summary_.first_failed_shown = shown;
            }
        } else if (outcome.kind == Outcome::Kind::kSkipped) {
            ++summary_.skipped;
        } else {
            ++summary_.done;
        }
        if (outcome.kind != Outcome::Kind::kDone) decisions_.Finished(item, shown, outcome);
    }
    void Fail(const ExtractItem &item, int32_t result, const OutputProblem &problem = {}) {
        Report(item, {Outcome::Kind::kFailed, result, problem});
    }

    // Failures the copy workers met since the last look.
    void Settle() {
        if (!queue_) return;
        for (const CopyFailure &f : queue_->TakeFailures()) {
            --summary_.done;  // counted when it was handed over
            if (f.result == ENGINE_ABORTED && (summary_.stopped || summary_.aborted)) continue;
            Fail(plan_.items[f.tag], f.result, f.problem);
        }
    }

    // Frees the target of a file or link as the answers allow: true when it may be made with `replace`.
    bool MayReplace(const ExtractItem &item, const OutputProblem &problem, bool *replace) {
        *replace = replace_all_;
        if (problem.refusal != Refusal::kExists) return false;
        if (replace_all_) return true;
        switch (decisions_.AtTarget(item, Shown(item))) {
            case Decisions::Answer::kReplaceAll: replace_all_ = true; [[fallthrough]];
            case Decisions::Answer::kReplace: *replace = true; return true;
            case Decisions::Answer::kAbort: summary_.aborted = true; return false;
            case Decisions::Answer::kSkip: break;
        }
        Report(item, {Outcome::Kind::kSkipped, 0, problem});
        if (item.type == ItemType::kFile && !decisions_.Advance(item.size)) summary_.stopped = true;
        return false;
    }
    // The outcome of a refused creation: something in the way is left alone and reported, the rest fails.
    void Refused(const ExtractItem &item, const OutputProblem &problem) {
        if (summary_.aborted) return;
        if (problem.refusal == Refusal::kInTheWay)
            Report(item, {Outcome::Kind::kSkipped, 0, problem});
        else
            Fail(item, 0, problem);
    }

    void MakeFolder(const ExtractItem &item) {
        OutputProblem problem;
        if (!tree_.MakeFolder(item.target, &problem)) Refused(item, problem);
    }

    bool Create(const ExtractItem &item, OutputFile *file) {
        const mode_t mode = 0666;
        OutputProblem problem;
        if (tree_.Create(item.target, replace_all_, file, &problem, mode)) return true;
        bool replace = false;
        if (!MayReplace(item, problem, &replace)) {
            if (problem.refusal != Refusal::kExists) Refused(item, problem);
            return false;
        }
        if (tree_.Create(item.target, true, file, &problem, mode)) return true;
        Refused(item, problem);
        return false;
    }

    void MakeFile(const ExtractItem &item, size_t index) {
        decisions_.Begin(item, Shown(item));
        auto file = std::make_unique<OutputFile>();
        if (!Create(item, file.get())) return;
        if (item.has_mode) file->SetFinalMode(static_cast<mode_t>(item.mode));
        if (item.entries.empty()) {  // an empty file
            OutputProblem problem;
            if (file->Finish(TimeOf(item), &problem))
                Report(item, {});
            else
                Fail(item, 0, problem);
            return;
        }
        if (item.from_parts) return CopyPart(item, *file);
        if (!queue_) return Fail(item, ENGINE_BAD_KIND);
        CopyJob job;
        job.file = std::move(file);
        job.indexes = item.entries;
        job.sizes = item.sizes;
        job.joined = item.joined;
        job.zero_fill = item.damaged;
        job.size = item.size;
        job.modified = TimeOf(item);
        job.tag = index;
        queue_->Submit(std::move(job), [this] { Settle(); });
        ++summary_.done;  // taken back by Settle when it fails
    }

    void CopyPart(const ExtractItem &item, OutputFile &file) {
        const EngineApi &api = disc_.Api();
        PartSink sink{&file, &decisions_};
        int32_t result = ENGINE_NO_CURRENT_ENTRY;
        if (disc_.Seek(plan_.track, plan_.kind, true, item.entries.front())) {
            api.SetCallback(disc_.handle(), &PartBlock, &sink);
            result = api.ExtractCurrentModule(disc_.handle(), nullptr);
            api.SetCallback(disc_.handle(), nullptr, nullptr);
        }
        if (sink.stopped) summary_.stopped = true;
        OutputProblem problem;
        if (result != 0 || file.WriteError()) {
            problem.refusal = file.WriteError() ? Refusal::kWriteFailed : Refusal::kNone;
            problem.error = file.WriteError();
            file.Discard();
            if (!sink.stopped) Fail(item, file.WriteError() ? 0 : result, problem);
            return;
        }
        if (file.Finish(TimeOf(item), &problem))
            Report(item, {});
        else
            Fail(item, 0, problem);
    }

    void MakeSymlink(const ExtractItem &item) {
        OutputProblem problem;
        if (tree_.CreateSymlink(item.target, item.link_target, TimeOf(item), replace_all_, &problem))
            return Report(item, {});
        bool replace = false;
        if (!MayReplace(item, problem, &replace)) {
            if (problem.refusal != Refusal::kExists) Refused(item, problem);
            return;
        }
        if (tree_.CreateSymlink(item.target, item.link_target, TimeOf(item), true, &problem)) return Report(item, {});
        Refused(item, problem);
    }

    void MakeHardLink(const ExtractItem &item) {
        if (queue_) {
            queue_->Wait([this] { Settle(); });  // the file linked to is whole first (a failed one is removed)
            Settle();
        }
        OutputProblem problem;
        if (tree_.CreateHardLink(item.link_to, item.target, replace_all_, &problem)) return Report(item, {});
        bool replace = false;
        if (!MayReplace(item, problem, &replace)) {
            if (problem.refusal != Refusal::kExists) Refused(item, problem);
            return;
        }
        if (tree_.CreateHardLink(item.link_to, item.target, true, &problem)) return Report(item, {});
        Refused(item, problem);
    }

    // Deepest first, so that a folder without write permission is closed only once what it holds is done.
    void SetFolderAttributes() {
        for (auto it = plan_.items.rbegin(); it != plan_.items.rend(); ++it) {
            if (it->type != ItemType::kFolder || (!it->has_mode && !it->has_date)) continue;
            OutputProblem problem;
            const mode_t mode = it->has_mode ? static_cast<mode_t>(it->mode) : kKeepMode;
            if (!tree_.SetFolderAttributes(it->target, mode, TimeOf(*it), &problem)) Fail(*it, 0, problem);
        }
    }

    const Disc &disc_;
    const ExtractPlan &plan_;
    const OutputTree &tree_;
    Decisions &decisions_;
    const JobOptions &options_;
    std::unique_ptr<CopyQueue> queue_;
    JobSummary summary_;
    bool replace_all_ = false;
};

}  // namespace

JobSummary RunExtraction(const Disc &disc, const ExtractPlan &plan, const OutputTree &tree, Decisions &decisions,
                         const JobOptions &options) {
    return Job(disc, plan, tree, decisions, options).Run();
}

std::string DescribeOutcome(const Outcome &outcome) {
    if (outcome.result != 0) {
        char code[16];
        std::snprintf(code, sizeof code, "0x%04X", static_cast<unsigned>(outcome.result));
        return code;
    }
    return outcome.problem.Describe();
}

}  // namespace host
