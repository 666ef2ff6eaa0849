// The safe output tree against hostile names and what it finds at a target (every planted destination goes
// through the job: JobPlanted), the buffered output file, and the grouping of extents into output files.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <csignal>

#include "extent_groups.h"
#include "output_tree.h"
#include "support/temp_dir.h"

namespace {

using host::OutputFile;
using host::OutputProblem;
using host::OutputTree;
using host::Refusal;
using qorvex::test::ReadText;
using qorvex::test::TempDir;

TEST(TargetComponents, ImagePathsBecomeNamesThatStayInside) {
    struct Case {
        const char *path;
        bool cut_version;
        std::vector<std::string> expected;
    } cases[] = {
        {"\\DOCS\\README.TXT;1", true, {"DOCS", "README.TXT"}},
        {"\\DOCS\\README.TXT;1", false, {"DOCS", "README.TXT;1"}},
        {"\\A;1\\B;x", true, {"A;1", "B;x"}},  // only a numeric suffix of the file name is a version
        {"\\..\\..\\etc\\passwd", true, {"etc", "passwd"}},
        {"\\.\\a\\\\b\\", true, {"a", "b"}},
        {"\\../../x/y", true, {".._.._x_y"}},
        {"\\..", true, {}},
        {"", true, {}},
        {"\\;1", true, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(host::TargetComponents(c.path, c.cut_version), c.expected);
    }
    // (Each component goes through SafeComponent: "\\.." and "\\../../x/y" above are its cases.)
    EXPECT_EQ(host::TargetComponents(std::string_view("\\a\0b", 4), false), std::vector<std::string>{"a_b"});
}

TEST(GroupExtents, OnlyFlaggedRunsAndUdfExtentsMakeOneFile) {
    using host::ListedEntry;
    struct Case {
        const char *what;
        bool udf;
        std::vector<ListedEntry> entries;
        std::vector<std::vector<size_t>> groups;
        std::vector<uint64_t> sizes;
    } cases[] = {
        {"flagged run of three",
         false,
         {{"\\A", 10, 1, 0, true}, {"\\A", 20, 1, 0, true}, {"\\A", 5, 1, 0, false}, {"\\B", 1, 1, 0, false}},
         {{0, 1, 2}, {3}},
         {35, 1}},
        {"same name without the flag: two files",
         false,
         {{"\\A", 10, 1, 0, false}, {"\\A", 20, 1, 0, false}},
         {{0}, {1}},
         {10, 20}},
        {"flag but another name follows",
         false,
         {{"\\A", 10, 1, 0, true}, {"\\B", 20, 1, 0, false}},
         {{0}, {1}},
         {10, 20}},
        {"UDF extents by name, wherever listed",
         true,
         {{"\\M", 4, 3, 0}, {"\\X", 1, 1, 0}, {"\\M", 4, 3, 1}, {"\\M", 2, 3, 2}},
         {{0, 2, 3}, {1}},
         {10, 1}},
        {"UDF ignores the ISO flag", true, {{"\\A", 10, 1, 0, true}, {"\\A", 20, 1, 0, false}}, {{0}, {1}}, {10, 20}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const auto groups = host::GroupExtents(c.entries, c.udf);
        ASSERT_EQ(groups.size(), c.groups.size());
        for (size_t g = 0; g < groups.size(); ++g) {
            EXPECT_EQ(groups[g].entries, c.groups[g]);
            EXPECT_EQ(groups[g].size, c.sizes[g]);
            EXPECT_EQ(groups[g].engine_joins, c.udf && c.entries[c.groups[g][0]].extent_count > 1);
        }
    }
}

TEST(OutputTree, ProbeSeesWithoutMakingOrFollowing) {
    TempDir root;
    OutputTree tree;
    OutputProblem problem;
    ASSERT_TRUE(tree.Open(root / "made/on/demand", &problem)) << problem.Describe();
    EXPECT_EQ(tree.Probe({"a", "b", "c"}, &problem), OutputTree::Presence::kNothing);
    struct stat st {};
    EXPECT_NE(lstat((root / "made/on/demand/a").c_str(), &st), 0) << "a probe makes no folder";
    ASSERT_EQ(symlink("/", (root / "made/on/demand/a").c_str()), 0);
    EXPECT_EQ(tree.Probe({"a", "etc"}, &problem), OutputTree::Presence::kBlocked);
    EXPECT_EQ(problem.where, "a");
    EXPECT_EQ(tree.Probe({"a"}, &problem), OutputTree::Presence::kSomething);
    EXPECT_EQ(tree.Probe({}, &problem), OutputTree::Presence::kBlocked);
    EXPECT_EQ(problem.refusal, Refusal::kNothingLeft);
    OutputFile file;
    EXPECT_FALSE(tree.Create({}, true, &file, &problem));
    EXPECT_EQ(problem.refusal, Refusal::kNothingLeft);
    // An existing folder at the file's name is not replaced.
    ASSERT_EQ(mkdir((root / "made/on/demand/dir").c_str(), 0755), 0);
    EXPECT_FALSE(tree.Create({"dir"}, true, &file, &problem));
    EXPECT_EQ(problem.refusal, Refusal::kInTheWay);
}

TEST(OutputFile, GathersSmallBlocksIntoLargeWritesAndSetsTheDate) {
    TempDir root;
    OutputTree tree;
    OutputProblem problem;
    ASSERT_TRUE(tree.Open(root.path(), &problem));
    OutputFile file;
    // The engine's callback delivers 2 KiB at a time; a large run handed over at once is written straight through.
    struct Case {
        const char *name;
        size_t bytes;
        size_t most_writes;
        size_t handed = 2048;
    } cases[] = {
        {"empty", 0, 0},
        {"small", 10 * 1024 + 7, 1},
        {"one block", OutputFile::kBlock, 1},
        {"three blocks and a tail", 3 * OutputFile::kBlock + 100, 4},
        {"large run", 2 * OutputFile::kBlock + 5, 2, 2 * OutputFile::kBlock + 5},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(tree.Create({c.name}, false, &file, &problem)) << problem.Describe();
        std::string expected;
        for (size_t done = 0; done < c.bytes;) {
            const size_t n = std::min(c.handed, c.bytes - done);
            const std::string block(n, static_cast<char>('a' + done / 2048 % 26));
            ASSERT_TRUE(file.Append(block.data(), n));
            expected += block;
            done += n;
        }
        ASSERT_TRUE(file.Finish(946684798, &problem)) << problem.Describe();
        EXPECT_LE(file.WriteCalls(), c.most_writes);
        EXPECT_TRUE(ReadText(root / c.name) == expected);
        struct stat st {};
        ASSERT_EQ(stat((root / c.name).c_str(), &st), 0);
        EXPECT_EQ(st.st_mtime, 946684798);
    }
}

// A write that fails part way (the file-size limit stands in for a full disk) leaves no file behind; so does
// an extraction that stops, and so does a file that was never finished.
TEST(OutputFile, AFailedOrUnfinishedFileIsRemoved) {
    TempDir root;
    OutputTree tree;
    OutputProblem problem;
    ASSERT_TRUE(tree.Open(root.path(), &problem));
    {
        OutputFile file;
        ASSERT_TRUE(tree.Create({"full"}, false, &file, &problem));
        struct rlimit old {};
        ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
        const auto previous = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit = old;
        limit.rlim_cur = OutputFile::kBlock + 4096;
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
        bool appended = true;
        const std::string block(2048, 'x');
        for (int i = 0; i < 2048 && appended; ++i) appended = file.Append(block.data(), block.size());
        const bool finished = appended && file.Finish(host::kKeepTime, &problem);
        setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, previous);
        EXPECT_FALSE(appended && finished);
        EXPECT_EQ(file.WriteError(), EFBIG);
        EXPECT_FALSE(file.Finish(host::kKeepTime, &problem));
        EXPECT_EQ(problem.refusal, Refusal::kWriteFailed);
        EXPECT_EQ(access((root / "full").c_str(), F_OK), -1) << "the partial file is gone";
    }
    {
        OutputFile file;
        ASSERT_TRUE(tree.Create({"stopped"}, false, &file, &problem));
        ASSERT_TRUE(file.Append("part", 4));
        file.Discard();
        EXPECT_EQ(access((root / "stopped").c_str(), F_OK), -1);
        ASSERT_TRUE(tree.Create({"dropped"}, false, &file, &problem));
    }
    EXPECT_EQ(access((root / "dropped").c_str(), F_OK), -1) << "an unfinished file goes with its object";
}

}  // namespace
