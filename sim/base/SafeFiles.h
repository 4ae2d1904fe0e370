// Files in and out without losing any: inputs are read only if they are
// regular files of a sane size, and every output is written to a temporary
// file beside its target, flushed and closed with every error checked, and
// only then renamed over the target. A write that fails leaves the file that
// was there before as it was.
#pragma once

#include <cstddef>
#include <cstdio>
#include <stdexcept>
#include <string>

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

// One output file. Regular files (and names not yet taken) go through a
// temporary file in the target's folder; an existing device or FIFO (for
// example /dev/null) is written directly, as it cannot be replaced.
class AtomicFile {
public:
    // Creates the temporary file; throws WriteError.
    explicit AtomicFile(const std::string &target);
    ~AtomicFile();  // removes the temporary file unless committed
    AtomicFile(const AtomicFile &) = delete;
    AtomicFile &operator=(const AtomicFile &) = delete;

    const std::string &Target() const { return target_; }
    // Where the contents go until Commit: for a program that writes the
    // file itself (gnuplot), which must be done before Commit.
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

// Writes the whole text to `path` through an AtomicFile; throws WriteError.
void WriteFileAtomically(const std::string &path, const std::string &text);

// Whether a file holds a whole PNG image (signature, and the end chunk last):
// a picture cut short by a full disk is not one.
bool IsCompletePng(const std::string &path);

}  // namespace vtal::sim
