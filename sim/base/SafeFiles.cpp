#include "sim/base/SafeFiles.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <pthread.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "sim/base/ExitCodes.h"
#include "sim/base/InputError.h"

extern char **environ;

namespace fs = std::filesystem;

namespace vtal::sim {
namespace {

// --- The tables an interruption reads ---------------------------------------
// A slot is claimed (kClaimed) before its path is written and becomes
// visible to the handler (kLive) only once the path is complete. Each entry
// names the process that made it: a forked child inherits its parent's
// tables but must not remove its parent's files.
enum SlotState : int { kFree = 0, kClaimed = 1, kLive = 2 };

struct FileSlot {
    std::atomic<int> state{kFree};
    std::atomic<pid_t> owner{0};
    char path[PATH_MAX] = {};
};

struct HelperSlot {
    std::atomic<pid_t> pid{0};
    std::atomic<pid_t> owner{0};
};

static_assert(std::atomic<int>::is_always_lock_free && std::atomic<pid_t>::is_always_lock_free,
              "a signal handler reads the tables");

FileSlot gTemporaryFiles[kMaxTemporaryFiles];
HelperSlot gHelpers[kMaxHelperPrograms];

constexpr int kInterruptionSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

sigset_t InterruptionSignalSet() {
    sigset_t set;
    sigemptyset(&set);
    for (const int s : kInterruptionSignals) sigaddset(&set, s);
    return set;
}

void RegisterHelper(pid_t pid) {
    for (HelperSlot &slot : gHelpers) {
        pid_t expected = 0;
        if (slot.pid.compare_exchange_strong(expected, -1)) {
            slot.owner.store(getpid());
            slot.pid.store(pid);
            return;
        }
    }
    // A full table only means that this helper is not ended early.
}

void ForgetHelper(pid_t pid) {
    for (HelperSlot &slot : gHelpers)
        if (slot.pid.load() == pid) slot.pid.store(0);
}

// What the handler says, one fixed text per signal (nothing is formatted in it).
const char *InterruptionMessage(int signal) {
    switch (signal) {
    case SIGINT: return "vtal-sim: interrupted (SIGINT): temporary files removed; outputs not yet written are left as they were\n";
    case SIGTERM: return "vtal-sim: terminated (SIGTERM): temporary files removed; outputs not yet written are left as they were\n";
    case SIGHUP: return "vtal-sim: hung up (SIGHUP): temporary files removed; outputs not yet written are left as they were\n";
    default: return nullptr;  // a closed pipe: nobody reads the message
    }
}

extern "C" void OnInterruption(int signal) {
    RemoveTemporaryFilesNow();
    if (const char *message = InterruptionMessage(signal)) {
        const ssize_t ignored = write(STDERR_FILENO, message, std::strlen(message));
        (void)ignored;
    }
    _exit(kExitSignalBase + signal);
}

void RemoveAtExit() { RemoveTemporaryFilesNow(); }

// The descriptor of this process that a path names, or -1.
int NamedDescriptor(const std::string &path) {
    if (path == "/dev/stdin") return STDIN_FILENO;
    if (path == "/dev/stdout") return STDOUT_FILENO;
    if (path == "/dev/stderr") return STDERR_FILENO;
    constexpr std::size_t kMostDigits = 6;
    for (const std::string prefix : {"/dev/fd/", "/proc/self/fd/"}) {
        if (path.compare(0, prefix.size(), prefix) != 0) continue;
        const std::string digits = path.substr(prefix.size());
        if (digits.empty() || digits.size() > kMostDigits || digits.find_first_not_of("0123456789") != std::string::npos)
            return -1;
        return std::atoi(digits.c_str());
    }
    return -1;
}

// What identifies a file: its device and inode if it exists, else its
// absolute name with the symbolic links of the folders above it resolved.
struct FileIdentity {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    std::string name;
};

FileIdentity IdentityOf(const std::string &path) {
    FileIdentity id;
    struct stat st {};
    if (stat(path.c_str(), &st) == 0) {
        id.exists = true;
        id.device = st.st_dev;
        id.inode = st.st_ino;
        return id;
    }
    std::error_code ec;
    const fs::path absolute = fs::absolute(path, ec);
    const fs::path canonical = ec ? fs::path(path) : fs::weakly_canonical(absolute, ec);
    id.name = ec ? absolute.lexically_normal().string() : canonical.string();
    return id;
}

bool SameFile(const FileIdentity &a, const FileIdentity &b) {
    if (a.exists != b.exists) return false;
    return a.exists ? a.device == b.device && a.inode == b.inode : a.name == b.name;
}

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
    if (const int descriptor = NamedDescriptor(path); descriptor >= 0) {
        const int flags = fcntl(descriptor, F_GETFL);
        if (flags < 0) throw InputError(what + ": descriptor " + std::to_string(descriptor) + " is not open");
        if ((flags & O_ACCMODE) == O_RDONLY)
            throw InputError(what + ": descriptor " + std::to_string(descriptor) + " is open for reading only");
        return;
    }
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

bool IsWrittenInPlace(const std::string &path) {
    if (NamedDescriptor(path) >= 0) return true;
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode);
}

void CheckOutputsApart(const std::vector<NamedFile> &outputs, const std::vector<NamedFile> &inputs) {
    std::vector<FileIdentity> inputIds;
    for (const NamedFile &in : inputs) inputIds.push_back(in.path.empty() ? FileIdentity{} : IdentityOf(in.path));
    std::vector<std::pair<const NamedFile *, FileIdentity>> checked;
    for (const NamedFile &out : outputs) {
        if (out.path.empty() || IsWrittenInPlace(out.path)) continue;
        const FileIdentity id = IdentityOf(out.path);
        for (std::size_t k = 0; k < inputs.size(); ++k) {
            const NamedFile &in = inputs[k];
            if (in.path.empty() || !inputIds[k].exists || !SameFile(id, inputIds[k])) continue;
            if (!in.replaceableBy.empty() && in.replaceableBy == out.what) continue;
            std::string message = out.what + " " + Quote(out.path) + " names " + in.what + " (" + Quote(in.path) +
                                   "), which this run reads: writing it would replace it";
            if (!in.replaceableBy.empty()) message += "; only " + in.replaceableBy + " may replace it";
            throw InputError(message);
        }
        for (const auto &[other, otherId] : checked)
            if (SameFile(id, otherId))
                throw InputError(other->what + " " + Quote(other->path) + " and " + out.what + " " + Quote(out.path) +
                                 " name one file: one output would replace the other");
        checked.emplace_back(&out, id);
    }
}

AtomicFile::AtomicFile(const std::string &target) : target_(target) {
    if (const int descriptor = NamedDescriptor(target); descriptor >= 0) {
        // Through a copy of the descriptor, with the flags the shell gave it
        // (a log opened for appending stays appended to), after what this
        // program has written there already.
        direct_ = true;
        working_ = target;
        std::fflush(nullptr);
        const int fd = fcntl(descriptor, F_DUPFD_CLOEXEC, 0);
        if (fd < 0) Fail("its descriptor is not open", errno);
        file_ = fdopen(fd, "wb");
        if (!file_) {
            const int error = errno;
            close(fd);
            Fail("cannot open it", error);
        }
        return;
    }
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
    int fd = -1;
    {
        // Created and registered as one step: an interruption between the
        // two would leave the file behind.
        InterruptionsHeld held;
        fd = mkstemp(working_.data());
        if (fd >= 0) {
            try {
                RegisterTemporaryFile(working_);
            } catch (const WriteError &) {
                close(fd);
                unlink(working_.c_str());
                working_.clear();
                throw;
            }
        }
    }
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
    if (!committed_ && !direct_ && !working_.empty()) {
        unlink(working_.c_str());
        ForgetTemporaryFile(working_);
    }
}

void AtomicFile::Fail(const std::string &what, int error) {
    if (file_) std::fclose(file_);
    file_ = nullptr;
    if (!direct_ && !working_.empty()) {
        unlink(working_.c_str());
        ForgetTemporaryFile(working_);
    }
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
    if (!direct_) {
        InterruptionsHeld held;  // renamed and forgotten as one step
        if (std::rename(working_.c_str(), Resolved(target_).c_str()) != 0)
            Fail("renaming the finished file over it failed", errno);
        ForgetTemporaryFile(working_);
    }
    committed_ = true;
}

void WriteFileAtomically(const std::string &path, const std::string &text) {
    AtomicFile file(path);
    file.Write(text);
    file.Commit();
}

void CleanUpOnInterruption() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    struct sigaction action {};
    action.sa_handler = OnInterruption;
    action.sa_mask = InterruptionSignalSet();  // one handler at a time
    for (const int signal : kInterruptionSignals) {
        struct sigaction previous {};
        if (sigaction(signal, nullptr, &previous) != 0 || previous.sa_handler == SIG_IGN) continue;
        sigaction(signal, &action, nullptr);
    }
    std::atexit(RemoveAtExit);
}

void RemoveTemporaryFilesNow() noexcept {
    const int savedErrno = errno;
    const pid_t self = getpid();
    // The helpers first: a helper still running could write its file again.
    for (HelperSlot &slot : gHelpers) {
        const pid_t pid = slot.pid.load();
        if (pid <= 0 || slot.owner.load() != self) continue;
        kill(pid, SIGKILL);
        while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        slot.pid.store(0);
    }
    for (FileSlot &slot : gTemporaryFiles) {
        if (slot.state.load() != kLive || slot.owner.load() != self) continue;
        unlink(slot.path);
        slot.state.store(kFree);
    }
    errno = savedErrno;
}

InterruptionsHeld::InterruptionsHeld() {
    const sigset_t set = InterruptionSignalSet();
    pthread_sigmask(SIG_BLOCK, &set, &previous_);
}

InterruptionsHeld::~InterruptionsHeld() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }

void RegisterTemporaryFile(const std::string &path) {
    if (path.size() >= PATH_MAX) throw WriteError("cannot write " + path + ": the temporary file's name is too long");
    for (FileSlot &slot : gTemporaryFiles) {
        int expected = kFree;
        if (!slot.state.compare_exchange_strong(expected, kClaimed)) continue;
        std::memcpy(slot.path, path.c_str(), path.size() + 1);
        slot.owner.store(getpid());
        slot.state.store(kLive);
        return;
    }
    throw WriteError("cannot write " + path + ": more than " + std::to_string(kMaxTemporaryFiles) +
                     " temporary files at once");
}

void ForgetTemporaryFile(const std::string &path) noexcept {
    const pid_t self = getpid();
    for (FileSlot &slot : gTemporaryFiles) {
        if (slot.state.load() != kLive || slot.owner.load() != self || path != slot.path) continue;
        slot.state.store(kFree);
        return;
    }
}

std::string TemporaryFolder() {
    const char *folder = std::getenv("TMPDIR");
    return folder && *folder ? folder : "/tmp";
}

TemporaryFile::TemporaryFile(const std::string &prefix) {
    std::string name = (fs::path(TemporaryFolder()) / (prefix + "-XXXXXX")).string();
    InterruptionsHeld held;
    const int fd = mkstemp(name.data());
    if (fd < 0)
        throw WriteError("cannot create a temporary file in " + TemporaryFolder() + " (" + std::strerror(errno) + ")");
    close(fd);
    try {
        RegisterTemporaryFile(name);
    } catch (const WriteError &) {
        unlink(name.c_str());
        throw;
    }
    path_ = name;
}

TemporaryFile::~TemporaryFile() {
    InterruptionsHeld held;
    unlink(path_.c_str());
    ForgetTemporaryFile(path_);
}

int RunHelperProgram(const std::vector<std::string> &arguments, int outputFd) {
    if (arguments.empty()) return -1;
    std::vector<std::string> copies = arguments;
    std::vector<char *> argv;
    for (std::string &a : copies) argv.push_back(a.data());
    argv.push_back(nullptr);
    // The helper starts with the signal mask this thread had before holding
    // interruptions back; exec resets the handlers to their defaults.
    sigset_t mask;
    pthread_sigmask(SIG_BLOCK, nullptr, &mask);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setsigmask(&attributes, &mask);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (outputFd >= 0) {
        posix_spawn_file_actions_adddup2(&actions, outputFd, STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, outputFd, STDERR_FILENO);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    }
    pid_t pid = 0;
    int rc = 0;
    {
        InterruptionsHeld held;  // started and registered as one step
        rc = posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ);
        if (rc == 0) RegisterHelper(pid);
    }
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (rc != 0) return -1;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno == EINTR) continue;
        // With SIGCHLD ignored (a live session that started a browser) the
        // helper was reaped by the system: its status is unknown, and the
        // caller judges what it wrote.
        status = errno == ECHILD ? 0 : -1;
        break;
    }
    ForgetHelper(pid);
    return status;
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
