// The recorder's catalogue: every recording in its folder, found once at
// start from the file names, kept sorted by (channel, type, start) so that a
// channel's recordings in a time range are found by binary search.
//
// A recording's file name carries everything the index needs:
//   ch<channel>_<YYYYMMDD>_<HHMMSS>_<HHMMSS>.<mp4|jpg>
// channel 1 to 4, the day and the start and end times of day in the
// recorder's local calendar; an end before the start means the recording ran
// past midnight. The file name is also the recording's name on the wire.
#pragma once

#include "CivilTime.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace recorder {

enum class RecordingType : uint8_t { Mpeg4 = 1, Jpeg = 2 };

inline constexpr size_t kMaxNameBytes = 99;

struct RecordingKey {
    int channel = 0;
    RecordingType type = RecordingType::Mpeg4;
    CivilSeconds start = 0;
    CivilSeconds end = 0;
};

// Parses a file name of the layout above; nullopt for any other name.
std::optional<RecordingKey> parseRecordingName(std::string_view name);
// The file name for a recording (the inverse of parseRecordingName).
std::string makeRecordingName(const RecordingKey& key);

struct Recording {
    std::string name;
    uint32_t folder = 0;  // index into RecordingIndex's folder list
    RecordingKey key;
    uint64_t size = 0;
};

struct SearchQuery {
    int channel = 1;
    RecordingType type = RecordingType::Mpeg4;
    bool limitToRange = false;
    CivilSeconds from = 0;
    CivilSeconds to = 0;
};

class RecordingIndex {
public:
    // Walks root recursively and indexes every file whose name has the
    // recording layout; other files are not served. Problems (a name found
    // twice, an unreadable folder) are appended to warnings.
    static RecordingIndex scan(const std::filesystem::path& root,
                               std::vector<std::string>* warnings = nullptr);

    // Adds a recording; folder is a path relative to the root. Call finish()
    // after the last add; it keeps the first of repeated names. Returns false
    // for a name without the recording layout.
    bool add(const std::string& folder, const std::string& name, uint64_t size);
    void finish();

    // The recordings of one channel and type ordered by start: all of them,
    // or, when the query limits to its range, those overlapping [from, to].
    std::vector<const Recording*> search(const SearchQuery& query) const;

    const Recording* find(std::string_view name) const;
    std::filesystem::path relativePath(const Recording& r) const;
    size_t size() const { return recordings_.size(); }

private:
    struct Group {  // one (channel, type): a range of recordings_
        size_t begin = 0;
        size_t end = 0;
        CivilSeconds longest = 0;  // longest duration, to bound overlap lookups
    };
    static size_t groupOf(int channel, RecordingType type);

    std::vector<Recording> recordings_;
    std::vector<std::string> folders_;
    std::unordered_map<std::string, uint32_t> folderIds_;
    std::unordered_map<std::string_view, size_t> byName_;
    Group groups_[8];
    bool finished_ = false;
};

}  // namespace recorder
