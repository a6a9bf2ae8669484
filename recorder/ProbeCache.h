// The answers of MediaProbe kept in a small text file, so that each file is
// probed once: an answer holds while the file keeps its size and
// modification time.
#pragma once

#include "MediaProbe.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <unordered_map>

namespace recorder {

struct FileStamp {
    uint64_t size = 0;
    int64_t mtimeNs = 0;
    bool operator==(const FileStamp&) const = default;
};

struct CachedProbe {
    FileStamp stamp;
    ProbeResult result;
};

using ProbeAnswers = std::unordered_map<std::string, CachedProbe>;  // by relative path

// Reads the file; a missing or unreadable one gives no answers, a line that
// does not parse is left out.
ProbeAnswers loadProbeAnswers(const std::filesystem::path& file);
// Writes the answers aside and renames them into place; false, with the
// reason in `error`, when that fails.
bool saveProbeAnswers(const std::filesystem::path& file, const ProbeAnswers& answers,
                      std::string& error);

}  // namespace recorder
