// Files in and out without losing any: inputs are read only if they are
// regular files of a sane size, and every output is written to a temporary
// file beside its target, flushed and closed with every error checked, and
// only then renamed over the target. A write that fails leaves the file that
// was there before as it was. No output may name an input or another
// output, and an interruption (Ctrl+C, kill) leaves no temporary file and no
// helper program behind.
#pragma once

#include <csignal>
#include <cstddef>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <sys/types.h>
#include <vector>

namespace vtal::sim {

// A failure while writing an output (disk full, file size limit, a folder
// that vanished): the program exits with status 1.
class WriteError : public std::runtime_error {
public:
    explicit WriteError(const std::string &what) : std::runtime_error(what) {}
};

// Input files larger than this are refused rather than read into memory.
constexpr std::size_t kMaxInputFileBytes = 64u << 20;

// The whole contents of a regular file. Throws InputError naming the path
// and the reason: no such file, a folder, a FIFO, a device, no permission,
// larger than `maxBytes`, or a read error.
std::string ReadInputFile(const std::string &path, std::size_t maxBytes = kMaxInputFileBytes);

// Removes a UTF-8 byte-order mark (EF BB BF, as Windows editors write one)
// from the start of a file's text; whether there was one.
bool RemoveByteOrderMark(std::string &text);
// The warning that a file's mark was read past.
std::string ByteOrderMarkWarning(const std::string &path);

// Checks, before anything is flown, that `path` can be written as an
// output: its folder exists and takes new files, and it is not a folder.
// Throws InputError naming the option.
void CheckOutputPath(const std::string &path, const std::string &option);

// A file a run reads or writes, and what names it: an option ("--report")
// or the role of an input ("the scenario being flown").
struct NamedFile {
    std::string what;
    std::string path;
    // For an input: the one output option that may replace it (an explicit
    // --save over the scenario being flown); empty: none may.
    std::string replaceableBy = "";
};

// Refuses, before anything runs, an output that would replace an input or
// another output: the same file named directly, through a symbolic link or
// by a hard link (the device and inode are compared; names not yet taken by
// their resolved path). Outputs written in place (see IsWrittenInPlace)
// replace nothing and are left out. Empty paths are skipped. Throws
// InputError naming both.
void CheckOutputsApart(const std::vector<NamedFile> &outputs, const std::vector<NamedFile> &inputs);

// Whether an output is written directly into what is there rather than
// replaced: a descriptor of this process (/dev/stdout, /dev/stderr,
// /dev/fd/N, /proc/self/fd/N: written through that descriptor, so that a
// log the shell appends to stays as it is), or an existing file that is no
// regular file (a FIFO, a terminal, a device such as /dev/null).
bool IsWrittenInPlace(const std::string &path);

// One output file. Regular files (and names not yet taken) go through a
// temporary file in the target's folder; outputs written in place (above)
// are written directly, in order, and never renamed over.
class AtomicFile {
public:
    // Creates the temporary file; throws WriteError.
    explicit AtomicFile(const std::string &target);
    ~AtomicFile();  // removes the temporary file unless committed
    AtomicFile(const AtomicFile &) = delete;
    AtomicFile &operator=(const AtomicFile &) = delete;

    const std::string &Target() const { return target_; }
    // Whether the target is written directly (IsWrittenInPlace).
    bool InPlace() const { return direct_; }
    // Where the contents go until Commit: for a program that writes the
    // file itself (gnuplot), which must be done before Commit. For a target
    // written in place, only this program writes it (through Write).
    const std::string &WorkingPath() const { return working_; }
    std::FILE *Stream() { return file_; }

    // Appends text; throws WriteError once a write has failed.
    void Write(const std::string &text);
    // Throws WriteError if any write so far failed.
    void CheckStream();
    // Flushes, syncs and closes, checking each; throws WriteError.
    void Close();
    // Closes if still open, then renames the temporary file over the target.
    void Commit();

private:
    [[noreturn]] void Fail(const std::string &what, int error);

    std::string target_;
    std::string working_;
    std::FILE *file_ = nullptr;
    bool direct_ = false;
    bool committed_ = false;
};

// --- Interruptions -----------------------------------------------------------
// The temporary files and helper programs of this process are kept in fixed
// tables that a signal handler can read without allocating.
constexpr std::size_t kMaxTemporaryFiles = 64;
constexpr std::size_t kMaxHelperPrograms = 8;

// Installs handlers for SIGINT, SIGTERM, SIGHUP and SIGPIPE (each unless it
// is ignored, as in a background job or under nohup) that remove every
// temporary file of this process, end its helper programs, say so on
// standard error and exit with 128 + the signal's number (130 for SIGINT,
// 143 for SIGTERM); exit() removes them too.
void CleanUpOnInterruption();

// Removes every temporary file of this process and ends (and reaps) every
// helper program it started. Async-signal-safe: for a signal handler of the
// caller's own. Entries a forked child inherited from its parent are left to
// the parent.
void RemoveTemporaryFilesNow() noexcept;

// Holds back the interruption signals while alive (on this thread), so that
// a file created and registered, or renamed and forgotten, is one step.
class InterruptionsHeld {
public:
    InterruptionsHeld();
    ~InterruptionsHeld();
    InterruptionsHeld(const InterruptionsHeld &) = delete;
    InterruptionsHeld &operator=(const InterruptionsHeld &) = delete;

private:
    sigset_t previous_;
};

// Entries of the tables; Register throws WriteError when the table is full.
void RegisterTemporaryFile(const std::string &path);
void ForgetTemporaryFile(const std::string &path) noexcept;

// The folder for temporary files: $TMPDIR if set, else /tmp.
std::string TemporaryFolder();

// A file in the temporary folder, removed when this goes out of scope, at
// exit() and on an interruption.
class TemporaryFile {
public:
    // Creates an empty file named PREFIX-XXXXXX; throws WriteError.
    explicit TemporaryFile(const std::string &prefix);
    ~TemporaryFile();
    TemporaryFile(const TemporaryFile &) = delete;
    TemporaryFile &operator=(const TemporaryFile &) = delete;
    const std::string &Path() const { return path_; }

private:
    std::string path_;
};

// Runs a helper program (looked up on the search path) to its end with the
// interruption signals at their defaults; an interruption of this program
// ends it first. Returns its wait status (0 when it cannot be known, with
// SIGCHLD ignored), or -1 if it could not be started.
// With `outputFd` (not negative) its standard output and error go there.
int RunHelperProgram(const std::vector<std::string> &arguments, int outputFd = -1);

// Writes the whole text to `path` through an AtomicFile; throws WriteError.
void WriteFileAtomically(const std::string &path, const std::string &text);

// Whether a file holds a whole PNG image (signature, and the end chunk last):
// a picture cut short by a full disk is not one.
bool IsCompletePng(const std::string &path);

}  // namespace vtal::sim
