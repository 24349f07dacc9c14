// Which processor a plug-in library is built for, from its PE header, so a
// scan can list a 32-bit library without loading it (a 64-bit process
// cannot). Untrusted bytes: every offset is checked against what was read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "host/wrapperprotocol.h"

enum class LibraryArch { Unknown, X86, X64 };

// The architecture a PE image's header names: `data` holds the file's
// first `size` bytes.
inline LibraryArch libraryArchOf(const uint8_t* data, size_t size) {
    if (size < 0x40 || data[0] != 'M' || data[1] != 'Z') return LibraryArch::Unknown;
    const uint32_t pe = static_cast<uint32_t>(data[0x3C]) | static_cast<uint32_t>(data[0x3D]) << 8 |
                        static_cast<uint32_t>(data[0x3E]) << 16 | static_cast<uint32_t>(data[0x3F]) << 24;
    if (pe > size || size - pe < 6) return LibraryArch::Unknown;
    if (data[pe] != 'P' || data[pe + 1] != 'E' || data[pe + 2] != 0 || data[pe + 3] != 0) return LibraryArch::Unknown;
    const uint16_t machine = static_cast<uint16_t>(data[pe + 4] | data[pe + 5] << 8);
    if (machine == 0x014C) return LibraryArch::X86;
    if (machine == 0x8664) return LibraryArch::X64;
    return LibraryArch::Unknown;
}

// The same for a file (its first 4 KB, where the header must be).
inline LibraryArch libraryArchOfFile(const char* path) {
    uint8_t head[4096];
    FILE* f = std::fopen(path, "rb");
    if (!f) return LibraryArch::Unknown;
    const size_t n = std::fread(head, 1, sizeof head, f);
    std::fclose(f);
    return libraryArchOf(head, n);
}

// What a scan does with a module built for `module`, in a build for
// `native`: load it here, list it for the 32-bit helper (a 32-bit module
// seen by the 64-bit build), or leave it to the other build (a 64-bit
// module seen by the 32-bit helper's). A module whose width cannot be
// told is tried here, as before.
enum class ModuleWidth { Native, Helper32, OtherBuild };

inline ModuleWidth moduleWidth(LibraryArch module, LibraryArch native) {
    if (module == LibraryArch::Unknown || native == LibraryArch::Unknown || module == native)
        return ModuleWidth::Native;
    return module == LibraryArch::X86 ? ModuleWidth::Helper32 : ModuleWidth::OtherBuild;
}

// The architecture of this build's libraries; Unknown where they are not PE images.
constexpr LibraryArch nativeLibraryArch() {
#if defined(_WIN64)
    return LibraryArch::X64;
#elif defined(_WIN32)
    return LibraryArch::X86;
#else
    return LibraryArch::Unknown;
#endif
}
