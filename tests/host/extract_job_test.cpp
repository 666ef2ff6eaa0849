// The extraction job both hosts run, on an image xorriso makes: every entry type in every view, every answer to
// the overwrite question, the hostile destinations, and the selection patterns.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "disc.h"
#include "extract_job.h"
#include "linked_engine.h"
#include "support/peers.h"
#include "support/planted.h"
#include "support/temp_dir.h"

namespace {

namespace qt = qorvex::test;
using qt::TempDir;

// The answers of a scripted user, one per question (the last repeats); failures and skips are counted.
class Script : public host::Decisions {
public:
    explicit Script(std::vector<Answer> answers) : answers_(std::move(answers)) {}
    Answer AtTarget(const host::ExtractItem &, const std::string &shown) override {
        asked.push_back(shown);
        return answers_[std::min(asked.size(), answers_.size()) - 1];
    }
    void Finished(const host::ExtractItem &, const std::string &shown, const host::Outcome &o) override {
        ended.push_back(shown + (o.kind == host::Outcome::Kind::kFailed ? " failed: " : " skipped: ") +
                        host::DescribeOutcome(o));
    }
    std::vector<std::string> asked, ended;

private:
    std::vector<Answer> answers_;
};

struct Extraction {
    host::ExtractPlan plan;
    host::JobSummary summary;
};

Extraction Extract(const std::string &image, int32_t kind, const std::string &dest, host::Decisions &decisions,
                   std::vector<std::string> patterns = {}) {
    host::Disc disc(host::LinkedEngineApi());
    EXPECT_EQ(disc.Open(image, OPEN_EXTENSIONS), 0) << image;
    host::PathSelection selection(patterns);
    Extraction x;
    x.plan = host::PlanTree(disc, 0, kind, selection, {});
    host::OutputTree tree;
    host::OutputProblem problem;
    EXPECT_TRUE(tree.Open(dest, &problem)) << problem.Describe();
    x.summary = host::RunExtraction(disc, x.plan, tree, decisions, {dest + "/", false, 1});
    return x;
}

class JobImage : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir = new TempDir;
        const std::string src = *dir / "src";
        ASSERT_EQ(qt::RunCommand("mkdir -p " + qt::Quote(src + "/sub/empty") + " && cd " + qt::Quote(src) +
                                 " && printf 12345 > sub/data.txt && printf copy > COPYING && printf old > old.txt"
                                 " && printf new > future.txt && ln -s sub/data.txt inside && ln -s ../x outside"
                                 " && ln sub/data.txt hard && touch -d @0 old.txt"
                                 " && touch -d '2040-01-02 03:04:05 UTC' future.txt"),
                  0);
        ASSERT_EQ(qt::RunCommand("xorriso -as mkisofs -quiet -R -J --hardlinks -o " + qt::Quote(*dir / "job.iso") +
                                 " " + qt::Quote(src) + " >/dev/null 2>&1"),
                  0);
    }
    static void TearDownTestSuite() { delete dir; }
    static TempDir *dir;
};
TempDir *JobImage::dir = nullptr;

// Every view gives folders (the empty one too), files with their dates (1970-01-01 00:00:00 and 2040 kept),
// and only Rock Ridge has links; ISO 9660 drops the dot of an empty extension ("COPYING.;1").
TEST_F(JobImage, EveryEntryTypeInEveryView) {
    const std::string old_file = "f 3 @0", future = "f 3 @2209086245";
    const std::map<std::string, std::string> common = {
        {"sub", "d"}, {"sub/empty", "d"}, {"old.txt", old_file}, {"future.txt", future}};
    struct Case {
        int32_t kind;
        std::map<std::string, std::string> more;
    } cases[] = {
        {KIND_ROCKRIDGE, {{"COPYING", "f 4"}, {"inside", "l -> sub/data.txt"}, {"hard", "f 5"}}},
        {KIND_JOLIET, {{"COPYING", "f 4"}, {"hard", "f 5"}}},  // links are not recorded in Joliet
        {KIND_ISO9660, {{"COPYING", "f 4"}, {"INSIDE", "f 0"}, {"OUTSIDE", "f 0"}, {"HARD", "f 5"}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(host::KindName(c.kind));
        TempDir out;
        Script yes({host::Decisions::Answer::kReplace});
        const Extraction x = Extract(*dir / "job.iso", c.kind, out.path(), yes);
        EXPECT_EQ(x.summary.failed, 0u);
        std::map<std::string, std::string> tree = qt::TreeSummary(out.path());
        for (auto &[path, text] : tree)  // the dates of the files made for this test are checked
            if (path.find("old") == std::string::npos && path.find("OLD") == std::string::npos &&
                path.find("uture") == std::string::npos && path.find("UTURE") == std::string::npos)
                text = text.substr(0, text.find(" @"));
        std::map<std::string, std::string> want = common;
        want.insert(c.more.begin(), c.more.end());
        if (c.kind == KIND_ISO9660) {  // ISO 9660 names are upper case
            want = {{"SUB", "d"}, {"SUB/EMPTY", "d"}, {"OLD.TXT", old_file}, {"FUTURE.TXT", future}};
            want.insert(c.more.begin(), c.more.end());
            want["SUB/DATA.TXT"] = "f 5";
        } else {
            want["sub/data.txt"] = "f 5";
        }
        EXPECT_EQ(tree, want);
        if (c.kind == KIND_ROCKRIDGE) {  // the link leading out is reported, not made
            ASSERT_EQ(x.plan.notes.size(), 1u);
            EXPECT_EQ(x.plan.notes[0].shown, "outside");
        }
    }
}

// The answers to "something is at the target": each decides the file, and "all" and "abort" hold for the rest.
TEST_F(JobImage, EveryAnswerToTheOverwriteQuestion) {
    using A = host::Decisions::Answer;
    struct Case {
        const char *name;
        std::vector<A> answers;
        size_t asked;
        std::string old_txt;  // what old.txt holds afterwards
        bool aborted;
    } cases[] = {
        {"replace", {A::kReplace}, 2, "old", false},
        {"skip", {A::kSkip}, 2, "mine", false},
        {"replace all", {A::kReplaceAll}, 1, "old", false},
        {"skip, then abort", {A::kSkip, A::kAbort}, 2, "mine", true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TempDir out;
        qt::WriteFile(out / "future.txt", std::string("mine"));
        qt::WriteFile(out / "old.txt", std::string("mine"));
        Script script(c.answers);
        const Extraction x = Extract(*dir / "job.iso", KIND_JOLIET, out.path(), script, {"*.txt"});
        EXPECT_EQ(script.asked.size(), c.asked);
        EXPECT_EQ(qt::ReadText(out / "old.txt"), c.old_txt);
        EXPECT_EQ(x.summary.aborted, c.aborted);
        EXPECT_EQ(x.summary.failed, 0u);
    }
}

// Whatever an attacker planted in the destination, nothing outside it changes (the matrix both hosts share).
TEST(JobPlanted, NothingOutsideTheDestinationChanges) {
    for (const qt::PlantedCase &c : qt::PlantedCases()) {
        SCOPED_TRACE(c.name);
        TempDir root;
        qt::PrepareRoot(root.path());
        qt::WriteFile(root / "image.iso", qt::PlantedCaseImage());
        c.plant(root.path());
        const qt::TreeRecord before = qt::RecordTree(root.path(), "dest");
        Script yes({host::Decisions::Answer::kReplace});
        const Extraction x = Extract(root / "image.iso", KIND_JOLIET, root / "dest", yes);
        EXPECT_EQ(qt::TreeDifference(before, qt::RecordTree(root.path(), "dest")), "");
        EXPECT_EQ(qt::IsRegularWith(root / "dest/F.TXT", qt::kPlantedFileData), c.file_written);
        // Only what can be replaced is asked about: a FIFO in the way is reported without a question.
        EXPECT_EQ(yes.asked.size(), c.needs_replace && !c.blocked ? 1u : 0u);
        const bool reported = !yes.ended.empty() && yes.ended[0].find("\"" + std::string(c.blocked ? c.blocked : "") +
                                                                      "\" is in the way") != std::string::npos;
        EXPECT_EQ(reported, c.blocked != nullptr) << (yes.ended.empty() ? "" : yes.ended[0]);
    }
}

TEST(PathSelection, PatternsWildcardsAndCase) {
    const std::vector<std::string> paths = {"\\README.TXT;1", "\\DOCS\\A.TXT;1", "\\DOCS\\SUB\\B.;1", "\\X.BIN;1"};
    struct Case {
        std::vector<std::string> patterns;
        std::vector<bool> selected;
        std::vector<std::string> unused;
    } cases[] = {
        {{}, {true, true, true, true}, {}},
        {{"*.TXT"}, {true, false, false, false}, {}},
        {{"**/*.txt"}, {true, true, false, false}, {}},  // no exact match: case folded
        {{"docs"}, {false, true, true, false}, {}},
        {{"/DOCS/*"}, {false, true, true, false}, {}},
        {{"DOCS\\SUB\\B", "README.TXT;1", "none"}, {true, false, true, false}, {"none"}},
        {{"X.BI?", "X.bin"}, {false, false, false, true}, {}},
    };
    for (const Case &c : cases) {
        host::PathSelection selection(c.patterns);
        selection.FoldCaseWhereUnmatched(paths);
        std::vector<bool> selected;
        for (const std::string &p : paths) selected.push_back(selection.Selects(p));
        EXPECT_EQ(selected, c.selected) << testing::PrintToString(c.patterns);
        EXPECT_EQ(selection.Unused(), c.unused) << testing::PrintToString(c.patterns);
    }
}

}  // namespace
