#include "sim/base/SafeFiles.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include "sim/base/InputError.h"

namespace fs = std::filesystem;

namespace vtal::sim {
namespace {

// Why a path that exists is no file to read, or empty if it is a regular file.
std::string NotRegularReason(const struct stat &st) {
    if (S_ISREG(st.st_mode)) return "";
    if (S_ISDIR(st.st_mode)) return "is a folder, not a file";
    if (S_ISFIFO(st.st_mode)) return "is a FIFO (named pipe), not a regular file";
    if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) return "is a device, not a regular file";
    if (S_ISSOCK(st.st_mode)) return "is a socket, not a regular file";
    return "is not a regular file";
}

std::string OpenFailureReason(int error) {
    switch (error) {
    case ENOENT: return "cannot be read (no such file)";
    case ENOTDIR: return "cannot be read (no such file: a part of the path is not a folder)";
    case EACCES: return "cannot be read (permission denied)";
    default: return std::string("cannot be read (") + std::strerror(error) + ")";
    }
}

std::string FolderOf(const std::string &path) {
    const fs::path p(path);
    return p.has_parent_path() ? p.parent_path().string() : std::string(".");
}

// The file a path names once symbolic links are followed; the path itself
// if it does not exist (yet) or cannot be resolved.
std::string Resolved(const std::string &path) {
    char buffer[PATH_MAX];
    if (realpath(path.c_str(), buffer)) return buffer;
    return path;
}

mode_t NewFileMode() {
    const mode_t mask = umask(0);
    umask(mask);
    return static_cast<mode_t>(0666 & ~mask);
}

}  // namespace

std::string ReadInputFile(const std::string &path, std::size_t maxBytes) {
    // Opened without blocking, so that a FIFO is recognised rather than waited on.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) throw InputError(At(path, 0, OpenFailureReason(errno)));
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        const int error = errno;
        close(fd);
        throw InputError(At(path, 0, OpenFailureReason(error)));
    }
    const std::string reason = NotRegularReason(st);
    if (!reason.empty()) {
        close(fd);
        throw InputError(At(path, 0, reason));
    }
    if (static_cast<unsigned long long>(st.st_size) > maxBytes) {
        close(fd);
        throw InputError(At(path, 0, "is " + std::to_string(st.st_size) + " bytes long; at most " +
                                         std::to_string(maxBytes) + " bytes are read"));
    }
    std::string text;
    char buffer[1 << 16];
    while (true) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const int error = errno;
            close(fd);
            throw InputError(At(path, 0, std::string("cannot be read (") + std::strerror(error) + ")"));
        }
        if (n == 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
        if (text.size() > maxBytes) {  // it grew while being read
            close(fd);
            throw InputError(At(path, 0, "is longer than the " + std::to_string(maxBytes) + " bytes that are read"));
        }
    }
    close(fd);
    return text;
}

bool RemoveByteOrderMark(std::string &text) {
    static const char kMark[] = "\xEF\xBB\xBF";
    if (text.compare(0, 3, kMark) != 0) return false;
    text.erase(0, 3);
    return true;
}

std::string ByteOrderMarkWarning(const std::string &path) {
    return path + ": starts with a UTF-8 byte-order mark (as Windows editors write); read past it";
}

void CheckOutputPath(const std::string &path, const std::string &option) {
    if (path.empty()) return;
    const std::string what = option + " '" + path + "'";
    const std::string target = Resolved(path);
    struct stat st {};
    if (stat(target.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) throw InputError(what + " is a folder");
        if (access(target.c_str(), W_OK) != 0) throw InputError(what + " cannot be written (permission denied)");
        if (!S_ISREG(st.st_mode)) return;  // a device or FIFO is written directly
    }
    const std::string folder = FolderOf(target);
    struct stat dir {};
    if (stat(folder.c_str(), &dir) != 0) throw InputError(what + ": no folder " + folder);
    if (!S_ISDIR(dir.st_mode)) throw InputError(what + ": " + folder + " is not a folder");
    if (access(folder.c_str(), W_OK | X_OK) != 0)
        throw InputError(what + " cannot be written: the folder " + folder + " takes no new files (permission denied)");
}

AtomicFile::AtomicFile(const std::string &target) : target_(target) {
    const std::string resolved = Resolved(target);
    struct stat st {};
    const bool exists = stat(resolved.c_str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode)) throw WriteError("cannot write " + target_ + ": it is a folder");
    if (exists && !S_ISREG(st.st_mode)) {
        direct_ = true;
        working_ = resolved;
        file_ = std::fopen(resolved.c_str(), "wb");
        if (!file_) Fail("cannot open it", errno);
        return;
    }
    const fs::path p(resolved);
    working_ = (fs::path(FolderOf(resolved)) / ("." + p.filename().string() + ".XXXXXX")).string();
    const int fd = mkstemp(working_.data());
    if (fd < 0) {
        const int error = errno;
        working_.clear();
        Fail("cannot create a temporary file beside it", error);
    }
    // The new file gets the old one's permissions, or those of any new file.
    fchmod(fd, exists ? static_cast<mode_t>(st.st_mode & 07777) : NewFileMode());
    file_ = fdopen(fd, "wb");
    if (!file_) {
        const int error = errno;
        close(fd);
        Fail("cannot open the temporary file", error);
    }
}

AtomicFile::~AtomicFile() {
    if (file_) std::fclose(file_);
    if (!committed_ && !direct_ && !working_.empty()) unlink(working_.c_str());
}

void AtomicFile::Fail(const std::string &what, int error) {
    if (file_) std::fclose(file_);
    file_ = nullptr;
    if (!direct_ && !working_.empty()) unlink(working_.c_str());
    working_.clear();
    committed_ = true;  // nothing is left to remove or rename
    std::string message = "cannot write " + target_ + ": " + what;
    if (error != 0) message += " (" + std::string(std::strerror(error)) + ")";
    if (!direct_) message += "; the file that was there is left as it was";
    throw WriteError(message);
}

void AtomicFile::Write(const std::string &text) {
    if (!file_) throw WriteError("cannot write " + target_ + ": it is closed");
    errno = 0;
    if (std::fwrite(text.data(), 1, text.size(), file_) != text.size()) Fail("writing failed", errno);
}

void AtomicFile::CheckStream() {
    if (file_ && std::ferror(file_)) Fail("writing failed", errno);
}

void AtomicFile::Close() {
    if (!file_) return;
    CheckStream();
    if (std::fflush(file_) != 0) Fail("writing failed", errno);
    // A device or FIFO may not sync; a file must.
    if (fsync(fileno(file_)) != 0 && !(direct_ && (errno == EINVAL || errno == EROFS))) Fail("syncing failed", errno);
    std::FILE *f = file_;
    file_ = nullptr;
    if (std::fclose(f) != 0) Fail("closing failed", errno);
}

void AtomicFile::Commit() {
    if (committed_) throw WriteError("cannot write " + target_ + ": written already, or failed");
    Close();
    if (!direct_ && std::rename(working_.c_str(), Resolved(target_).c_str()) != 0)
        Fail("renaming the finished file over it failed", errno);
    committed_ = true;
}

void WriteFileAtomically(const std::string &path, const std::string &text) {
    AtomicFile file(path);
    file.Write(text);
    file.Commit();
}

bool IsCompletePng(const std::string &path) {
    static const unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    static const unsigned char kEnd[12] = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
    std::FILE *f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    unsigned char head[8] = {}, tail[12] = {};
    bool ok = std::fread(head, 1, sizeof head, f) == sizeof head && std::memcmp(head, kSignature, sizeof head) == 0;
    ok = ok && std::fseek(f, -static_cast<long>(sizeof tail), SEEK_END) == 0 &&
         std::fread(tail, 1, sizeof tail, f) == sizeof tail && std::memcmp(tail, kEnd, sizeof tail) == 0;
    std::fclose(f);
    return ok;
}

}  // namespace vtal::sim
