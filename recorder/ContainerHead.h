// The first bytes of the two containers recorders write, read without a
// demuxer: the header of one top-level MP4 box, and the sync bytes of an
// MPEG transport stream.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>

namespace recorder {

struct Mp4BoxHead {
    char type[4] = {};
    uint64_t size = 0;        // the whole box, header included
    uint64_t headerSize = 0;  // 8, or 16 with a 64-bit size

    bool is(const char* name) const { return std::memcmp(type, name, 4) == 0; }
};

// The box starting at `at` of a file of `fileSize` bytes; nothing when its
// header is not all there or is malformed. A size of 0 means "to the end".
inline std::optional<Mp4BoxHead> readMp4BoxHead(int fd, uint64_t at, uint64_t fileSize) {
    if (at + 8 > fileSize) return std::nullopt;
    unsigned char head[16];
    const ssize_t got = ::pread(fd, head, sizeof head, static_cast<off_t>(at));
    if (got < 8) return std::nullopt;
    const auto bigEndian32 = [](const unsigned char* p) {
        return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
    };
    Mp4BoxHead box;
    std::memcpy(box.type, head + 4, 4);
    box.size = bigEndian32(head);
    box.headerSize = 8;
    if (box.size == 1) {
        if (got < 16) return std::nullopt;
        box.size = uint64_t{bigEndian32(head + 8)} << 32 | bigEndian32(head + 12);
        box.headerSize = 16;
    } else if (box.size == 0) {
        box.size = fileSize - at;
    }
    if (box.size < box.headerSize) return std::nullopt;
    return box;
}

inline constexpr size_t kTsPacketBytes = 188;

// A transport stream: at least three packets read, each starting with the
// sync byte.
inline bool transportStreamSynced(const unsigned char* bytes, size_t got) {
    if (got < 3 * kTsPacketBytes) return false;
    for (size_t at = 0; at < got; at += kTsPacketBytes)
        if (bytes[at] != 0x47) return false;
    return true;
}

}  // namespace recorder
