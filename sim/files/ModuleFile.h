// A module library checked before it is loaded: loading maps the file's
// segments into memory, so a file cut short by a failed copy would kill the
// program with SIGBUS at its first touch, and a FIFO in its place would block
// the loader for ever.
#pragma once

#include <string>

namespace vtal::sim {

// Checks, without blocking, that `path` is a regular, readable file and (on
// ELF systems) a shared library of this machine's word size whose header,
// program headers and every loadable segment's bytes lie inside the file.
// Throws InputError naming the file and why it is refused.
void CheckModuleFile(const std::string &path);

}  // namespace vtal::sim
