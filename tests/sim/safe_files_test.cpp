// Reading inputs and writing outputs without losing a file: what is refused
// as input and why, and what a write leaves behind when it works and when it
// fails.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "CommandRun.h"
#include "sim/base/InputError.h"
#include "sim/base/SafeFiles.h"

namespace vtal::clitest {
namespace {

using sim::AtomicFile;
using sim::InputError;
using sim::WriteError;

std::string InputProblem(const std::string &path, std::size_t maxBytes = sim::kMaxInputFileBytes) {
    try {
        sim::ReadInputFile(path, maxBytes);
    } catch (const InputError &e) {
        return e.what();
    }
    return "";
}

class Files : public CommandTest {};

TEST_F(Files, InputsAreReadWholeOnlyFromRegularFilesOfASaneSize) {
    const std::string text = std::string("line\n\0with a zero byte\xFF", 24);
    WriteAll(In("a.txt"), text);
    EXPECT_EQ(sim::ReadInputFile(In("a.txt")), text);
    fs::create_directory(In("dir"));
    ASSERT_EQ(mkfifo(In("fifo").c_str(), 0600), 0);
    EXPECT_EQ(InputProblem(In("dir")), In("dir") + ": is a folder, not a file");
    EXPECT_EQ(InputProblem(In("fifo")), In("fifo") + ": is a FIFO (named pipe), not a regular file");
    EXPECT_EQ(InputProblem("/dev/zero"), "/dev/zero: is a device, not a regular file");
    EXPECT_EQ(InputProblem(In("none")), In("none") + ": cannot be read (no such file)");
    EXPECT_EQ(InputProblem(In("a.txt/x")), In("a.txt/x") + ": cannot be read (no such file: a part of the path is not a folder)");
    EXPECT_EQ(InputProblem(In("a.txt"), 23), In("a.txt") + ": is 24 bytes long; at most 23 bytes are read");
    EXPECT_EQ(InputProblem(In("a.txt"), 24), "");
}

TEST_F(Files, ACommittedFileReplacesTheOldOneWithItsPermissionsAndLeavesNothingElse) {
    WriteAll(In("out.txt"), "old");
    chmod(In("out.txt").c_str(), 0604);
    {
        AtomicFile f(In("out.txt"));
        f.Write("new ");
        EXPECT_EQ(ReadAll(In("out.txt")), "old") << "the target is untouched until the commit";
        EXPECT_EQ(Listing().size(), 2u) << "the temporary file lies beside it";
        f.Write("text");
        f.Commit();
    }
    EXPECT_EQ(ReadAll(In("out.txt")), "new text");
    struct stat st {};
    ASSERT_EQ(stat(In("out.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0604u);
    EXPECT_EQ(Listing(), std::set<std::string>{"out.txt"});
}

TEST_F(Files, AFileNeverCommittedLeavesTheOldOneAndNoTemporaryFile) {
    WriteAll(In("out.txt"), "old");
    {
        AtomicFile f(In("out.txt"));
        f.Write("half of it");
    }  // a failure elsewhere unwinds here
    EXPECT_EQ(ReadAll(In("out.txt")), "old");
    EXPECT_EQ(Listing(), std::set<std::string>{"out.txt"});
}

TEST_F(Files, AFolderThatVanishesFailsTheCommitAndSaysSo) {
    fs::create_directory(In("sub"));
    AtomicFile f(In("sub/out.txt"));
    f.Write("text");
    f.Close();
    fs::remove_all(In("sub"));
    try {
        f.Commit();
        FAIL() << "committed into a folder that is gone";
    } catch (const WriteError &e) {
        EXPECT_NE(std::string(e.what()).find("cannot write " + In("sub/out.txt") + ": renaming"), std::string::npos)
            << e.what();
    }
}

TEST_F(Files, DevicesAreWrittenDirectlyWithTheirErrorsReported) {
    EXPECT_NO_THROW(sim::WriteFileAtomically("/dev/null", "anything"));
    try {
        sim::WriteFileAtomically("/dev/full", std::string(100000, 'x'));
        FAIL() << "a full device took the text";
    } catch (const WriteError &e) {
        EXPECT_EQ(std::string(e.what()), "cannot write /dev/full: writing failed (No space left on device)");
    }
}

TEST_F(Files, WritingThroughASymbolicLinkReplacesTheFileItNames) {
    WriteAll(In("real.txt"), "old");
    fs::create_symlink(In("real.txt"), In("link.txt"));
    sim::WriteFileAtomically(In("link.txt"), "new");
    EXPECT_TRUE(fs::is_symlink(In("link.txt")));
    EXPECT_EQ(ReadAll(In("real.txt")), "new");
}

TEST_F(Files, OutputPathsAreCheckedBeforeAnythingRuns) {
    const auto problem = [](const std::string &path) {
        try {
            sim::CheckOutputPath(path, "--out");
        } catch (const InputError &e) {
            return std::string(e.what());
        }
        return std::string();
    };
    fs::create_directory(In("dir"));
    EXPECT_EQ(problem(In("dir")), "--out '" + In("dir") + "' is a folder");
    EXPECT_EQ(problem(In("none/x")), "--out '" + In("none/x") + "': no folder " + In("none"));
    EXPECT_EQ(problem(In("new.txt")), "");
    EXPECT_EQ(problem("/dev/null"), "");
    EXPECT_EQ(problem(""), "");
}

TEST_F(Files, APictureIsCompleteOnlyWithItsSignatureAndEndChunk) {
    const std::string signature = "\x89PNG\r\n\x1A\n";
    const std::string end("\0\0\0\0IEND\xAE\x42\x60\x82", 12);
    WriteAll(In("whole.png"), signature + std::string(100, 'x') + end);
    WriteAll(In("cut.png"), signature + std::string(100, 'x'));
    WriteAll(In("empty.png"), "");
    EXPECT_TRUE(sim::IsCompletePng(In("whole.png")));
    EXPECT_FALSE(sim::IsCompletePng(In("cut.png")));
    EXPECT_FALSE(sim::IsCompletePng(In("empty.png")));
    EXPECT_FALSE(sim::IsCompletePng(In("missing.png")));
}

}  // namespace
}  // namespace vtal::clitest
