// Links in the safe output tree: which symbolic link targets stay inside, and links, hard links and folder
// attributes made without following anything planted in the destination.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "output_tree.h"
#include "support/planted.h"
#include "support/temp_dir.h"

namespace {

using host::OutputProblem;
using host::OutputTree;
using host::Refusal;
using qorvex::test::TempDir;

TEST(LinkStaysInside, OnlyLeadingStepsUpThatStayBelowTheDestination) {
    struct Case {
        std::vector<std::string> folder;
        const char *target;
        bool inside;
    } cases[] = {
        {{}, "file", true},          {{}, "./a//b/", true},
        {{"a"}, "../b", true},       {{"a", "b"}, "../../c/d", true},
        {{}, "../x", false},         {{"a"}, "../../x", false},
        {{}, "/etc/passwd", false},  {{"a"}, "b/../../x", false},  // a ".." after a name: "b" may itself be a link
        {{"a", "b"}, "c/..", false}, {{}, "", false},
        {{"a"}, "..", true},
    };
    for (const Case &c : cases) EXPECT_EQ(host::LinkStaysInside(c.folder, c.target), c.inside) << c.target;
}

TEST(OutputTreeLinks, MadeWithoutFollowingWhatIsPlanted) {
    TempDir dir, outside;
    const std::string out = dir / "out";
    OutputTree tree;
    OutputProblem problem;
    ASSERT_TRUE(tree.Open(out, &problem));
    ASSERT_EQ(chmod(outside.path().c_str(), 0755), 0);
    ASSERT_EQ(symlink(outside.path().c_str(), (out + "/planted").c_str()), 0);
    qorvex::test::WriteFile(out + "/file", "data");

    // A folder on the way that is a link is in the way, for links, hard links and attributes alike.
    EXPECT_FALSE(tree.CreateSymlink({"planted", "l"}, "x", 0, true, &problem));
    EXPECT_EQ(problem.refusal, Refusal::kInTheWay);
    EXPECT_FALSE(tree.CreateHardLink({"file"}, {"planted", "h"}, true, &problem));
    EXPECT_EQ(problem.refusal, Refusal::kInTheWay);
    EXPECT_FALSE(tree.CreateHardLink({"planted"}, {"h"}, true, &problem));  // never a link to a link's target
    EXPECT_FALSE(tree.SetFolderAttributes({"planted"}, 0700, 0, &problem));
    struct stat st {};
    ASSERT_EQ(stat(outside.path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0755u);

    // An existing name: refused unless replacing; a folder is never replaced.
    EXPECT_TRUE(tree.CreateSymlink({"l"}, "file", 981173106, false, &problem));
    EXPECT_FALSE(tree.CreateSymlink({"l"}, "other", 0, false, &problem));
    EXPECT_EQ(problem.refusal, Refusal::kExists);
    EXPECT_TRUE(tree.CreateSymlink({"l"}, "other", 0, true, &problem));
    ASSERT_TRUE(tree.MakeFolder({"d", "e"}, &problem));
    EXPECT_FALSE(tree.CreateSymlink({"d"}, "x", 0, true, &problem));
    EXPECT_EQ(problem.refusal, Refusal::kInTheWay);

    EXPECT_TRUE(tree.CreateHardLink({"file"}, {"d", "e", "same"}, false, &problem));
    EXPECT_TRUE(tree.SetFolderAttributes({"d", "e"}, 0751, 981173106, &problem));
    const qorvex::test::TreeRecord made = qorvex::test::RecordTree(out);
    EXPECT_EQ(made.at("l").link_target, "other");
    EXPECT_EQ(made.at("d/e/same").inode, made.at("file").inode);
    ASSERT_EQ(stat((out + "/d/e").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0751u);
    EXPECT_EQ(st.st_mtime, 981173106);
}

}  // namespace
