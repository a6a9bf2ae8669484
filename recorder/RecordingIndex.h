// The recorder's catalogue: every recording it serves, kept sorted by
// (channel, type, start) so that a channel's recordings in a time range are
// found by binary search.
//
// The catalogue is published whole: a folder indexer (FolderIndexer) builds
// the list of recordings and replaces the catalogue when files come, go or
// change, while searches and downloads go on reading the one they started
// with. Results hold on to their catalogue, so they stay valid after a
// replacement.
//
// The recorder's own file names carry everything the index needs:
//   ch<channel>_<YYYYMMDD>_<HHMMSS>_<HHMMSS>.<mp4|jpg>
// channel 1 to 4, the day and the start and end times of day in the
// recorder's local calendar; an end before the start means the recording ran
// past midnight. Other layouts are read by RecordingLayout and MediaProbe.
#pragma once

#include "CivilTime.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace recorder {

// Type 1 is every video recording, whatever its container; 2 a JPEG picture.
enum class RecordingType : uint8_t { Mpeg4 = 1, Jpeg = 2 };

inline constexpr size_t kMaxNameBytes = 99;

struct RecordingKey {
    int channel = 0;
    RecordingType type = RecordingType::Mpeg4;
    CivilSeconds start = 0;
    CivilSeconds end = 0;
};

// Parses a file name of the recorder's own layout; nullopt for any other.
std::optional<RecordingKey> parseRecordingName(std::string_view name);
// The file name for a recording (the inverse of parseRecordingName).
std::string makeRecordingName(const RecordingKey& key);

struct Recording {
    std::string name;  // the name on the wire, unique in the catalogue
    std::string path;  // relative to the recorder's folder
    RecordingKey key;
    uint64_t size = 0;
};

// The Content-Type a recording is served with, from its file's extension.
std::string_view mediaType(const Recording& r);

struct SearchQuery {
    int channel = 1;
    RecordingType type = RecordingType::Mpeg4;
    bool limitToRange = false;
    CivilSeconds from = 0;
    CivilSeconds to = 0;
};

class RecordingIndex {
    struct Catalogue;

public:
    // The recordings a search found, ordered by start; they stay valid for
    // as long as this result lives.
    class Found {
    public:
        using const_iterator = std::vector<const Recording*>::const_iterator;
        const_iterator begin() const { return items_.begin(); }
        const_iterator end() const { return items_.end(); }
        size_t size() const { return items_.size(); }
        bool empty() const { return items_.empty(); }
        const Recording* operator[](size_t i) const { return items_[i]; }

    private:
        friend class RecordingIndex;
        std::shared_ptr<const Catalogue> keep_;
        std::vector<const Recording*> items_;
    };
    // One recording, kept valid while the pointer lives; null when unknown.
    using Ref = std::shared_ptr<const Recording>;

    RecordingIndex();
    ~RecordingIndex();
    RecordingIndex(const RecordingIndex&) = delete;
    RecordingIndex& operator=(const RecordingIndex&) = delete;

    // Adds a recording of the own layout; folder is a path relative to the
    // root. Returns false for a name without that layout. Call finish()
    // after the last add to publish what was added.
    bool add(const std::string& folder, const std::string& name, uint64_t size);
    void finish();

    // Replaces the whole catalogue. Of repeated names the first in
    // (channel, type, start, path) order is kept; the paths of the others
    // are appended to `dropped` with the path they lost to.
    void replace(std::vector<Recording> recordings,
                 std::vector<std::pair<std::string, std::string>>* dropped = nullptr);

    // The recordings of one channel and type ordered by start: all of them,
    // or, when the query limits to its range, those overlapping [from, to].
    Found search(const SearchQuery& query) const;

    Ref find(std::string_view name) const;
    // While files are still waiting for a probe, a name not found may only
    // not have been looked at yet (a recorder just started again).
    void setStillProbing(bool probing) { stillProbing_.store(probing); }
    bool stillProbing() const { return stillProbing_.load(); }
    std::filesystem::path relativePath(const Recording& r) const { return r.path; }
    size_t size() const;

private:
    std::shared_ptr<const Catalogue> current() const;

    std::vector<Recording> added_;
    mutable std::mutex lock_;  // guards catalogue_ (the pointer, not what it points to)
    std::shared_ptr<const Catalogue> catalogue_;
    std::atomic<bool> stillProbing_{false};
};

}  // namespace recorder
