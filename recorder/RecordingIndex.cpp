#include "RecordingIndex.h"

#include <algorithm>
#include <cstdio>
#include <system_error>

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

RecordingIndex RecordingIndex::scan(const std::filesystem::path& root,
                                    std::vector<std::string>* warnings) {
    namespace fs = std::filesystem;
    RecordingIndex index;
    std::unordered_map<std::string, std::string> seen;  // name -> where first found
    std::error_code ec;
    auto it = fs::recursive_directory_iterator(root, fs::directory_options::skip_permission_denied,
                                               ec);
    if (ec && warnings) warnings->push_back(root.string() + ": " + ec.message());
    for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        std::error_code fileEc;
        if (!it->is_regular_file(fileEc)) continue;
        const std::string name = it->path().filename().string();
        if (!parseRecordingName(name)) continue;
        const uint64_t size = it->file_size(fileEc);
        if (fileEc) continue;
        const auto [first, isNew] = seen.emplace(name, it->path().string());
        if (!isNew) {
            if (warnings)
                warnings->push_back(it->path().string() + ": same name as " + first->second +
                                    ", ignored");
            continue;
        }
        const std::string folder = it->path().parent_path().lexically_relative(root).string();
        index.add(folder, name, size);
    }
    if (ec && warnings) warnings->push_back(root.string() + ": " + ec.message());
    index.finish();
    return index;
}

bool RecordingIndex::add(const std::string& folder, const std::string& name, uint64_t size) {
    const auto key = parseRecordingName(name);
    if (!key || name.size() > kMaxNameBytes) return false;
    if (finished_) {
        // Reopening for more: the name map holds views into recordings_.
        byName_.clear();
        finished_ = false;
    }
    auto [it, inserted] = folderIds_.try_emplace(folder, static_cast<uint32_t>(folders_.size()));
    if (inserted) folders_.push_back(folder);
    recordings_.push_back({name, it->second, *key, size});
    return true;
}

size_t RecordingIndex::groupOf(int channel, RecordingType type) {
    return static_cast<size_t>(channel - 1) * 2 + (type == RecordingType::Jpeg ? 1 : 0);
}

void RecordingIndex::finish() {
    std::stable_sort(recordings_.begin(), recordings_.end(),
                     [](const Recording& a, const Recording& b) {
                         const size_t ga = groupOf(a.key.channel, a.key.type);
                         const size_t gb = groupOf(b.key.channel, b.key.type);
                         if (ga != gb) return ga < gb;
                         if (a.key.start != b.key.start) return a.key.start < b.key.start;
                         return a.name < b.name;
                     });
    // Drop repeated names, keeping the first in sort order; the name map is
    // built last, over the vector that keeps the strings.
    std::unordered_map<std::string_view, bool> seen;
    seen.reserve(recordings_.size());
    std::vector<bool> keep(recordings_.size());
    for (size_t i = 0; i < recordings_.size(); ++i)
        keep[i] = seen.emplace(recordings_[i].name, true).second;
    seen.clear();
    size_t kept = 0;
    for (size_t i = 0; i < recordings_.size(); ++i)
        if (keep[i]) {
            if (kept != i) recordings_[kept] = std::move(recordings_[i]);
            ++kept;
        }
    recordings_.resize(kept);
    byName_.clear();
    byName_.reserve(recordings_.size());
    for (size_t i = 0; i < recordings_.size(); ++i) byName_.emplace(recordings_[i].name, i);
    for (auto& g : groups_) g = Group{};
    for (size_t i = 0; i < recordings_.size(); ++i) {
        Group& g = groups_[groupOf(recordings_[i].key.channel, recordings_[i].key.type)];
        if (g.end == 0) g.begin = i;
        g.end = i + 1;
        g.longest = std::max(g.longest, recordings_[i].key.end - recordings_[i].key.start);
    }
    finished_ = true;
}

std::vector<const Recording*> RecordingIndex::search(const SearchQuery& q) const {
    std::vector<const Recording*> found;
    if (!finished_ || q.channel < 1 || q.channel > 4) return found;
    const Group& g = groups_[groupOf(q.channel, q.type)];
    auto first = recordings_.begin() + static_cast<ptrdiff_t>(g.begin);
    auto last = recordings_.begin() + static_cast<ptrdiff_t>(g.end);
    if (q.limitToRange) {
        if (q.to < q.from) return found;
        // A recording overlapping [from, to] starts no later than `to` and no
        // earlier than `from` minus the group's longest duration.
        auto byStart = [](const Recording& r, CivilSeconds t) { return r.key.start < t; };
        auto startAfter = [](CivilSeconds t, const Recording& r) { return t < r.key.start; };
        const auto lo = std::lower_bound(first, last, q.from - g.longest, byStart);
        const auto hi = std::upper_bound(lo, last, q.to, startAfter);
        for (auto it = lo; it != hi; ++it)
            if (it->key.end >= q.from) found.push_back(&*it);
    } else {
        found.reserve(static_cast<size_t>(last - first));
        for (auto it = first; it != last; ++it) found.push_back(&*it);
    }
    return found;
}

const Recording* RecordingIndex::find(std::string_view name) const {
    if (!finished_) return nullptr;
    const auto it = byName_.find(name);
    return it == byName_.end() ? nullptr : &recordings_[it->second];
}

std::filesystem::path RecordingIndex::relativePath(const Recording& r) const {
    return std::filesystem::path(folders_[r.folder]) / r.name;
}

}  // namespace recorder
