#include "sim/files/ModuleFile.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#if defined(__ELF__)
#include <elf.h>
#include <link.h>
#endif

#include "sim/base/InputError.h"

namespace vtal::sim {
namespace {

// Closes the descriptor however the check ends.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) close(fd_);
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    int Get() const { return fd_; }

private:
    int fd_;
};

[[noreturn]] void Refuse(const std::string &path, const std::string &why) {
    throw InputError(At(path, 0, "module refused: " + why));
}

std::string NotRegularReason(mode_t mode) {
    if (S_ISDIR(mode)) return "it is a folder, not a library file";
    if (S_ISFIFO(mode)) return "it is a FIFO (named pipe), not a library file";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "it is a device, not a library file";
    if (S_ISSOCK(mode)) return "it is a socket, not a library file";
    return "it is not a regular file";
}

#if defined(__ELF__)

using Header = ElfW(Ehdr);
using ProgramHeader = ElfW(Phdr);
constexpr unsigned char kNativeClass = sizeof(void *) == 8 ? ELFCLASS64 : ELFCLASS32;
constexpr int kNativeBits = sizeof(void *) == 8 ? 64 : 32;

// Reads exactly `size` bytes at `offset`; false if the file holds fewer.
bool ReadAt(int fd, void *out, std::size_t size, std::uint64_t offset) {
    auto *p = static_cast<char *>(out);
    while (size > 0) {
        const ssize_t n = pread(fd, p, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= static_cast<std::size_t>(n);
        offset += static_cast<std::uint64_t>(n);
    }
    return true;
}

// Whether [offset, offset + length) lies inside a file of `fileSize` bytes,
// without the sum overflowing.
bool Inside(std::uint64_t offset, std::uint64_t length, std::uint64_t fileSize) {
    return offset <= fileSize && length <= fileSize - offset;
}

std::string Bytes(std::uint64_t n) { return std::to_string(n) + " bytes"; }

void CheckElfLayout(const std::string &path, int fd, std::uint64_t fileSize) {
    unsigned char ident[EI_NIDENT] = {};
    if (fileSize < EI_NIDENT || !ReadAt(fd, ident, EI_NIDENT, 0) || std::memcmp(ident, ELFMAG, SELFMAG) != 0)
        Refuse(path, "it is not a shared library (no ELF header; " + Bytes(fileSize) + " long)");
    if (ident[EI_CLASS] != kNativeClass)
        Refuse(path, std::string("it is a ") + (ident[EI_CLASS] == ELFCLASS32 ? "32" : ident[EI_CLASS] == ELFCLASS64 ? "64" : "?") +
                         "-bit ELF file; this vtal-sim loads " + std::to_string(kNativeBits) + "-bit modules");
    Header header{};
    if (!Inside(0, sizeof header, fileSize) || !ReadAt(fd, &header, sizeof header, 0))
        Refuse(path, "it is cut short inside its ELF header (" + Bytes(fileSize) + " long)");
    if (header.e_type != ET_DYN)
        Refuse(path, header.e_type == ET_EXEC ? "it is a program, not a shared library"
                     : header.e_type == ET_REL ? "it is an object file, not a shared library"
                                               : "it is not a shared library (ELF type " + std::to_string(header.e_type) + ")");
    if (header.e_phnum == 0) Refuse(path, "it has no program headers");
    if (header.e_phentsize != sizeof(ProgramHeader))
        Refuse(path, "its program headers are " + Bytes(header.e_phentsize) + " each, not " +
                         Bytes(sizeof(ProgramHeader)));
    const std::uint64_t tableBytes = static_cast<std::uint64_t>(header.e_phnum) * header.e_phentsize;
    if (!Inside(header.e_phoff, tableBytes, fileSize))
        Refuse(path, "it is cut short: its program headers end at byte " +
                         std::to_string(static_cast<std::uint64_t>(header.e_phoff) + tableBytes) + " of a file " +
                         Bytes(fileSize) + " long (a copy that failed?)");
    for (unsigned i = 0; i < header.e_phnum; ++i) {
        ProgramHeader segment{};
        if (!ReadAt(fd, &segment, sizeof segment, header.e_phoff + static_cast<std::uint64_t>(i) * sizeof segment))
            Refuse(path, "its program headers cannot be read");
        if (segment.p_type != PT_LOAD) continue;
        if (!Inside(segment.p_offset, segment.p_filesz, fileSize))
            Refuse(path, "it is cut short: loadable segment " + std::to_string(i) + " ends at byte " +
                             std::to_string(static_cast<std::uint64_t>(segment.p_offset) + segment.p_filesz) +
                             " of a file " + Bytes(fileSize) + " long (a copy that failed?)");
    }
}

#endif

}  // namespace

void CheckModuleFile(const std::string &path) {
    // Opened without blocking, so that a FIFO is recognised rather than waited on.
    const Descriptor fd(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (fd.Get() < 0) {
        const int error = errno;
        Refuse(path, error == EACCES ? "it cannot be read (permission denied)"
                     : error == ENOENT ? "there is no such file"
                                       : std::string("it cannot be opened (") + std::strerror(error) + ")");
    }
    struct stat st {};
    if (fstat(fd.Get(), &st) != 0) Refuse(path, std::string("it cannot be examined (") + std::strerror(errno) + ")");
    if (!S_ISREG(st.st_mode)) Refuse(path, NotRegularReason(st.st_mode));
#if defined(__ELF__)
    CheckElfLayout(path, fd.Get(), static_cast<std::uint64_t>(st.st_size));
#endif
}

}  // namespace vtal::sim
