// The removal of temporary folders: everything in the folder goes, and nothing a link leads to, whether
// the link loops back up the tree or leads out of it. The links are made by the host's `ln -s`, as the
// pack fixture makes its loop.
#include "sim/sim_files.h"
#include "tests/support/unix_shell.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <string>

namespace {

using test_support::RunShell;
using test_support::ShellQuote;
using test_support::ShellResult;
using test_support::TempFolder;

bool Exists(const std::filesystem::path& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void WriteFile(const std::filesystem::path& file)
{
    std::ofstream(file, std::ios::binary) << "kept";
}

struct Case {
    const char* name;
    const char* links;  // shell commands run in the tree's "top" folder
};

// "outside" (a file in it) and "outside-empty" lie beside "top", which the removal is given.
const Case kCases[] = {
    {"no links", ""},
    {"a loop back up", "ln -s .. a/back"},
    {"a loop to itself and to the top", "ln -s . a/self && ln -s ../.. a/b/up"},
    {"a link out of the tree", "ln -s ../../outside a/out"},
    {"a link to an empty folder out of the tree", "ln -s ../../../outside-empty a/b/empty"},
    {"a dangling link", "ln -s nowhere a/dangling"},
};

class RemoveTreeTest : public ::testing::TestWithParam<Case> {};

TEST_P(RemoveTreeTest, RemovesTheTreeAndNothingALinkLeadsTo)
{
    const Case& c = GetParam();
    TempFolder base;
    const std::filesystem::path top = base.File("top");
    ASSERT_TRUE(std::filesystem::create_directories(top / "a" / "b"));
    ASSERT_TRUE(std::filesystem::create_directories(base.File("outside")));
    ASSERT_TRUE(std::filesystem::create_directories(base.File("outside-empty")));
    WriteFile(base.File("outside") / "keep.txt");
    WriteFile(top / "a" / "file.txt");
    WriteFile(top / "a" / "b" / "read-only.txt");
    ASSERT_TRUE(SetFileAttributesW((top / "a" / "b" / "read-only.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    if (*c.links) {
        const ShellResult made = RunShell("cd " + ShellQuote(base.UnixFile("top")) + " && " + c.links);
        ASSERT_TRUE(made.finished && made.exitCode == 0) << made.err;
    }

    EXPECT_TRUE(test_support::RemoveTree(top)) << c.name;
    EXPECT_FALSE(Exists(top)) << c.name;
    EXPECT_TRUE(Exists(base.File("outside") / "keep.txt")) << c.name;
    EXPECT_TRUE(Exists(base.File("outside-empty"))) << c.name;
    EXPECT_TRUE(test_support::RemoveTree(top)) << "a second removal finds nothing to do";
}

INSTANTIATE_TEST_SUITE_P(Trees, RemoveTreeTest, ::testing::ValuesIn(kCases));

// The Windows side alone leaves the links (and the folders that hold them) and says so, having removed
// everything else without entering them.
TEST(RemoveTreeWindowsSideTest, LeavesTheLinksAndSaysSo)
{
    TempFolder base;
    const std::filesystem::path top = base.File("top");
    ASSERT_TRUE(std::filesystem::create_directories(top / "a" / "b"));
    ASSERT_TRUE(std::filesystem::create_directories(top / "plain"));
    WriteFile(top / "a" / "b" / "file.txt");
    WriteFile(top / "plain" / "file.txt");
    const ShellResult made = RunShell("cd " + ShellQuote(base.UnixFile("top")) + " && ln -s ../.. a/b/up");
    ASSERT_TRUE(made.finished && made.exitCode == 0) << made.err;

    EXPECT_FALSE(sim::RemoveTree(top));
    EXPECT_TRUE(Exists(top / "a" / "b"));
    EXPECT_FALSE(Exists(top / "a" / "b" / "file.txt"));
    EXPECT_FALSE(Exists(top / "plain"));

    const std::filesystem::path file = base.File("single.txt");
    WriteFile(file);
    EXPECT_TRUE(sim::RemoveTree(file));
    EXPECT_FALSE(Exists(file));
    EXPECT_TRUE(sim::RemoveTree(base.File("missing") / "deeper"));
}

}  // namespace
