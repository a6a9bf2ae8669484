#include "RecordingIndex.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <utility>

namespace recorder {
namespace {

bool digits(std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

int number(std::string_view s) {
    int v = 0;
    for (char c : s) v = v * 10 + (c - '0');
    return v;
}

std::optional<int> timeOfDay(std::string_view hhmmss) {
    if (hhmmss.size() != 6 || !digits(hhmmss)) return std::nullopt;
    const int h = number(hhmmss.substr(0, 2)), m = number(hhmmss.substr(2, 2)),
              s = number(hhmmss.substr(4, 2));
    if (h > 23 || m > 59 || s > 59) return std::nullopt;
    return h * 3600 + m * 60 + s;
}

}  // namespace

std::optional<RecordingKey> parseRecordingName(std::string_view name) {
    // ch1_20261208_101500_101800.mp4: 30 bytes exactly.
    if (name.size() != 30 || name.substr(0, 2) != "ch" || name[3] != '_' || name[12] != '_' ||
        name[19] != '_' || name[26] != '.')
        return std::nullopt;
    RecordingKey key;
    if (name[2] < '1' || name[2] > '4') return std::nullopt;
    key.channel = name[2] - '0';
    const std::string_view ext = name.substr(27);
    if (ext == "mp4")
        key.type = RecordingType::Mpeg4;
    else if (ext == "jpg")
        key.type = RecordingType::Jpeg;
    else
        return std::nullopt;
    const std::string_view day = name.substr(4, 8);
    if (!digits(day)) return std::nullopt;
    const auto midnight = toCivilSeconds(
        {number(day.substr(0, 4)), number(day.substr(4, 2)), number(day.substr(6, 2)), 0, 0, 0});
    const auto start = timeOfDay(name.substr(13, 6));
    const auto end = timeOfDay(name.substr(20, 6));
    if (!midnight || !start || !end) return std::nullopt;
    key.start = *midnight + *start;
    key.end = *midnight + *end + (*end < *start ? 86400 : 0);
    return key;
}

std::string makeRecordingName(const RecordingKey& key) {
    const CivilDateTime s = fromCivilSeconds(key.start);
    const CivilDateTime e = fromCivilSeconds(key.end);
    char name[64];
    std::snprintf(name, sizeof name, "ch%d_%04d%02d%02d_%02d%02d%02d_%02d%02d%02d.%s", key.channel,
                  s.year, s.month, s.day, s.hour, s.minute, s.second, e.hour, e.minute, e.second,
                  key.type == RecordingType::Mpeg4 ? "mp4" : "jpg");
    return name;
}

std::string_view mediaType(const Recording& r) {
    if (r.key.type == RecordingType::Jpeg) return "image/jpeg";
    std::string ext = std::filesystem::path(r.path).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (ext == ".ts" || ext == ".m2ts" || ext == ".mts") return "video/mp2t";
    if (ext == ".mkv") return "video/x-matroska";
    if (ext == ".webm") return "video/webm";
    if (ext == ".mov") return "video/quicktime";
    if (ext == ".avi") return "video/x-msvideo";
    if (ext == ".flv") return "video/x-flv";
    return "video/mp4";
}

struct RecordingIndex::Catalogue {
    struct Group {  // one (channel, type): a range of recordings
        size_t begin = 0;
        size_t end = 0;
        CivilSeconds longest = 0;  // longest duration, to bound overlap lookups
    };
    static size_t groupOf(int channel, RecordingType type) {
        return static_cast<size_t>(channel - 1) * 2 + (type == RecordingType::Jpeg ? 1 : 0);
    }

    std::vector<Recording> recordings;
    std::unordered_map<std::string_view, size_t> byName;  // views into recordings
    Group groups[8];
};

RecordingIndex::RecordingIndex() : catalogue_(std::make_shared<Catalogue>()) {}

RecordingIndex::~RecordingIndex() = default;

bool RecordingIndex::add(const std::string& folder, const std::string& name, uint64_t size) {
    const auto key = parseRecordingName(name);
    if (!key || name.size() > kMaxNameBytes) return false;
    added_.push_back({name, (std::filesystem::path(folder) / name).string(), *key, size});
    return true;
}

void RecordingIndex::finish() { replace(added_); }

void RecordingIndex::replace(std::vector<Recording> recordings,
                             std::vector<std::pair<std::string, std::string>>* dropped) {
    using Catalogue = RecordingIndex::Catalogue;
    // Channels outside 1..4 have no group; the indexer never makes them.
    std::erase_if(recordings, [](const Recording& r) { return r.key.channel < 1 || r.key.channel > 4; });
    std::sort(recordings.begin(), recordings.end(), [](const Recording& a, const Recording& b) {
        const size_t ga = Catalogue::groupOf(a.key.channel, a.key.type);
        const size_t gb = Catalogue::groupOf(b.key.channel, b.key.type);
        if (ga != gb) return ga < gb;
        if (a.key.start != b.key.start) return a.key.start < b.key.start;
        return a.path < b.path;
    });
    auto next = std::make_shared<Catalogue>();
    next->recordings = std::move(recordings);
    auto& all = next->recordings;
    // Drop repeated names, keeping the first in sort order. The name map
    // points into the vector: when names repeat, it is built again after
    // the others have been moved out.
    auto& byName = next->byName;
    byName.reserve(all.size());
    std::vector<bool> keep(all.size());
    for (size_t i = 0; i < all.size(); ++i) {
        const auto [first, isNew] = byName.emplace(all[i].name, i);
        keep[i] = isNew;
        if (!isNew && dropped) dropped->emplace_back(all[i].path, all[first->second].path);
    }
    if (byName.size() != all.size()) {
        byName.clear();
        size_t kept = 0;
        for (size_t i = 0; i < all.size(); ++i)
            if (keep[i]) {
                if (kept != i) all[kept] = std::move(all[i]);
                ++kept;
            }
        all.resize(kept);
        for (size_t i = 0; i < all.size(); ++i) byName.emplace(all[i].name, i);
    }
    for (size_t i = 0; i < all.size(); ++i) {
        auto& g = next->groups[Catalogue::groupOf(all[i].key.channel, all[i].key.type)];
        if (g.end == 0) g.begin = i;
        g.end = i + 1;
        g.longest = std::max(g.longest, all[i].key.end - all[i].key.start);
    }
    // The one replaced is freed (unless a search still holds it) outside
    // the lock, which searches take to begin.
    std::shared_ptr<const Catalogue> replaced;
    std::lock_guard<std::mutex> guard(lock_);
    replaced = std::exchange(catalogue_, std::move(next));
}

std::shared_ptr<const RecordingIndex::Catalogue> RecordingIndex::current() const {
    std::lock_guard<std::mutex> guard(lock_);
    return catalogue_;
}

RecordingIndex::Found RecordingIndex::search(const SearchQuery& q) const {
    Found found;
    if (q.channel < 1 || q.channel > 4) return found;
    found.keep_ = current();
    const Catalogue& c = *found.keep_;
    const auto& g = c.groups[Catalogue::groupOf(q.channel, q.type)];
    auto first = c.recordings.begin() + static_cast<ptrdiff_t>(g.begin);
    auto last = c.recordings.begin() + static_cast<ptrdiff_t>(g.end);
    if (q.limitToRange) {
        if (q.to < q.from) return found;
        // A recording overlapping [from, to] starts no later than `to` and no
        // earlier than `from` minus the group's longest duration.
        auto byStart = [](const Recording& r, CivilSeconds t) { return r.key.start < t; };
        auto startAfter = [](CivilSeconds t, const Recording& r) { return t < r.key.start; };
        const auto lo = std::lower_bound(first, last, q.from - g.longest, byStart);
        const auto hi = std::upper_bound(lo, last, q.to, startAfter);
        for (auto it = lo; it != hi; ++it)
            if (it->key.end >= q.from) found.items_.push_back(&*it);
    } else {
        found.items_.reserve(static_cast<size_t>(last - first));
        for (auto it = first; it != last; ++it) found.items_.push_back(&*it);
    }
    return found;
}

RecordingIndex::Ref RecordingIndex::find(std::string_view name) const {
    auto c = current();
    const auto it = c->byName.find(name);
    if (it == c->byName.end()) return nullptr;
    const Recording* r = &c->recordings[it->second];
    return Ref(std::move(c), r);  // shares ownership of the whole catalogue
}

size_t RecordingIndex::size() const { return current()->recordings.size(); }

}  // namespace recorder
