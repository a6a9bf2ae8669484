#include "RecordingLayout.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

namespace recorder {
namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

std::string_view fileName(std::string_view path) {
    const size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string lower(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

// The last `count` components of a path ("a/b/c", 2 -> "b/c"); the whole
// path when it has exactly that many; nullopt when it has fewer.
std::optional<std::string_view> lastComponents(std::string_view path, size_t count) {
    size_t at = path.size();
    for (size_t seen = 0; seen < count; ++seen) {
        if (at == 0) return std::nullopt;
        const size_t slash = path.rfind('/', at - 1);
        if (seen + 1 == count) return path.substr(slash == std::string_view::npos ? 0 : slash + 1);
        if (slash == std::string_view::npos) return std::nullopt;
        at = slash;
    }
    return path;
}

}  // namespace

std::optional<Layout> parseLayout(std::string_view text) {
    if (text == "auto") return Layout::Auto;
    if (text == "own") return Layout::Own;
    if (text == "pattern") return Layout::Pattern;
    if (text == "probe") return Layout::Probe;
    return std::nullopt;
}

bool ChannelMap::add(std::string_view assignment) {
    const size_t eq = assignment.rfind('=');
    if (eq == std::string_view::npos || eq == 0 || eq + 2 != assignment.size()) return false;
    const char n = assignment[eq + 1];
    if (n < '1' || n > '4') return false;
    names_[std::string(assignment.substr(0, eq))] = n - '0';
    return true;
}

std::optional<int> ChannelMap::resolve(std::string_view name) const {
    if (const auto it = names_.find(name); it != names_.end()) return it->second;
    size_t digits = 0;
    while (digits < name.size() && isDigit(name[name.size() - 1 - digits])) ++digits;
    // One trailing digit: "cam12" is not channel 2.
    if (digits != 1) return std::nullopt;
    const int n = name.back() - '0';
    if (n < 1 || n > 4) return std::nullopt;
    return n;
}

struct NamePattern::Fields {
    int year = -1, month = -1, day = -1, hour = -1, minute = 0, second = 0;
    std::string_view channel;
};

std::optional<NamePattern> NamePattern::compile(std::string_view text, std::string* error) {
    auto fail = [&](const std::string& why) -> std::optional<NamePattern> {
        if (error) *error = "pattern '" + std::string(text) + "': " + why;
        return std::nullopt;
    };
    NamePattern p;
    p.text_ = text;
    bool year = false, month = false, day = false, hour = false, channel = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '*') {
            p.tokens_.push_back({Kind::Any});
            continue;
        }
        if (c != '%') {
            if (c == '/') ++p.components_;
            p.tokens_.push_back({Kind::Literal, c});
            continue;
        }
        if (++i >= text.size()) return fail("ends in a lone %");
        switch (text[i]) {
            case 'Y': p.tokens_.push_back({Kind::Year}); year = true; break;
            case 'm': p.tokens_.push_back({Kind::Month}); month = true; break;
            case 'd': p.tokens_.push_back({Kind::Day}); day = true; break;
            case 'H': p.tokens_.push_back({Kind::Hour}); hour = true; break;
            case 'M': p.tokens_.push_back({Kind::Minute}); break;
            case 'S': p.tokens_.push_back({Kind::Second}); break;
            case '%': p.tokens_.push_back({Kind::Literal, '%'}); break;
            case '{':
                if (text.substr(i, 9) != "{channel}") return fail("only %{channel} is known in braces");
                p.tokens_.push_back({Kind::Channel});
                channel = true;
                i += 8;
                break;
            default:
                return fail(std::string("unknown field %") + text[i] +
                            " (known: %Y %m %d %H %M %S %{channel} %% *)");
        }
    }
    if (!channel) return fail("needs %{channel}");
    if (!year || !month || !day || !hour) return fail("needs at least %Y, %m, %d and %H");
    if (text.empty() || text.front() == '/' || text.back() == '/')
        return fail("must be a relative path to a file");
    return p;
}

bool NamePattern::matchFrom(size_t token, std::string_view rest, Fields& f) const {
    if (token == tokens_.size()) return rest.empty();
    const Token& t = tokens_[token];
    auto number = [&](size_t width, int& out) {
        if (rest.size() < width) return false;
        int v = 0;
        for (size_t i = 0; i < width; ++i) {
            if (!isDigit(rest[i])) return false;
            v = v * 10 + (rest[i] - '0');
        }
        out = v;
        return matchFrom(token + 1, rest.substr(width), f);
    };
    switch (t.kind) {
        case Kind::Literal:
            return !rest.empty() && rest.front() == t.literal &&
                   matchFrom(token + 1, rest.substr(1), f);
        case Kind::Year: return number(4, f.year);
        case Kind::Month: return number(2, f.month);
        case Kind::Day: return number(2, f.day);
        case Kind::Hour: return number(2, f.hour);
        case Kind::Minute: return number(2, f.minute);
        case Kind::Second: return number(2, f.second);
        case Kind::Channel:
        case Kind::Any: {
            // Shortest first, never across a folder boundary.
            const size_t least = t.kind == Kind::Channel ? 1 : 0;
            for (size_t n = least; n <= rest.size(); ++n) {
                if (n > 0 && rest[n - 1] == '/') break;
                if (t.kind == Kind::Channel) f.channel = rest.substr(0, n);
                if (matchFrom(token + 1, rest.substr(n), f)) return true;
            }
            return false;
        }
    }
    return false;
}

std::optional<NamePattern::Match> NamePattern::match(std::string_view relativePath) const {
    const auto tail = lastComponents(relativePath, components_);
    if (!tail) return std::nullopt;
    Fields f;
    if (!matchFrom(0, *tail, f)) return std::nullopt;
    const auto start = toCivilSeconds({f.year, f.month, f.day, f.hour, f.minute, f.second});
    if (!start) return std::nullopt;
    return Match{std::string(f.channel), *start};
}

const std::vector<NamePattern>& commonPatterns() {
    static const std::vector<NamePattern> patterns = [] {
        std::vector<NamePattern> out;
        for (const char* text :
             {"%{channel}/%Y-%m-%d/%H/%M.%S.*", "%{channel}/%Y-%m-%d/%H-%M-%S.*",
              "%{channel}/%Y%m%d/%H%M%S.*", "%{channel}/%Y-%m-%d_%H-%M-%S.*",
              "%{channel}_%Y-%m-%d_%H-%M-%S.*", "%{channel}_%Y%m%d_%H%M%S.*",
              "%{channel}_%Y%m%d%H%M%S.*"})
            out.push_back(*NamePattern::compile(text, nullptr));
        return out;
    }();
    return patterns;
}

void estimateEnds(std::vector<Recording>& all, const std::vector<bool>& provisional) {
    std::vector<size_t> order(all.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    auto group = [&](size_t i) { return all[i].key.channel * 2 + static_cast<int>(all[i].key.type); };
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        if (group(a) != group(b)) return group(a) < group(b);
        return all[a].key.start < all[b].key.start;
    });
    for (size_t from = 0; from < order.size();) {
        size_t to = from;
        while (to < order.size() && group(order[to]) == group(order[from])) ++to;
        std::vector<CivilSeconds> gaps;
        for (size_t k = from + 1; k < to; ++k) {
            const CivilSeconds gap = all[order[k]].key.start - all[order[k - 1]].key.start;
            if (gap > 0) gaps.push_back(gap);
        }
        CivilSeconds usual = 0;
        if (!gaps.empty()) {
            const auto middle = gaps.begin() + static_cast<ptrdiff_t>(gaps.size() / 2);
            std::nth_element(gaps.begin(), middle, gaps.end());
            usual = *middle;
        }
        for (size_t k = from; k < to; ++k) {
            if (!provisional[order[k]]) continue;
            Recording& r = all[order[k]];
            CivilSeconds length = usual;
            if (k + 1 < to) length = std::min(length, all[order[k + 1]].key.start - r.key.start);
            r.key.end = r.key.start + length;
        }
        from = to;
    }
}

std::optional<RecordingType> typeFromExtension(std::string_view path) {
    const std::string_view file = fileName(path);
    const size_t dot = file.rfind('.');
    if (dot == std::string_view::npos || dot == 0) return std::nullopt;
    const std::string ext = lower(file.substr(dot));
    static const char* const videos[] = {".mp4", ".m4v", ".mov", ".mkv", ".webm", ".ts", ".m2ts",
                                         ".mts", ".avi", ".flv", ".3gp", ".mpg", ".mpeg"};
    if (ext == ".jpg" || ext == ".jpeg") return RecordingType::Jpeg;
    for (const char* v : videos)
        if (ext == v) return RecordingType::Mpeg4;
    return std::nullopt;
}

std::string wireName(std::string_view relativePath, bool ownLayout, std::string& why) {
    std::string name(ownLayout ? fileName(relativePath) : relativePath);
    if (name.size() > kMaxNameBytes) {
        why = "its path is longer than " + std::to_string(kMaxNameBytes) +
              " bytes; point --root closer to the files";
        return {};
    }
    if (name.find_first_of("\t\r\n") != std::string::npos) {
        why = "its path holds a tab or line break";
        return {};
    }
    return name;
}

NameVerdict readName(const LayoutOptions& options, std::string_view relativePath,
                     NamedRecording& named, std::string& why) {
    const Layout layout = options.layout;
    if (layout == Layout::Own || layout == Layout::Auto) {
        if (const auto key = parseRecordingName(fileName(relativePath))) {
            named.wireName = wireName(relativePath, true, why);
            if (named.wireName.empty()) return NameVerdict::Skipped;
            named.channel = key->channel;
            named.type = key->type;
            named.start = key->start;
            named.end = key->end;
            return NameVerdict::Named;
        }
        if (layout == Layout::Own) {
            why = "not named ch<C>_<YYYYMMDD>_<HHMMSS>_<HHMMSS>.mp4 or .jpg";
            return NameVerdict::Skipped;
        }
    }
    if (layout == Layout::Pattern || layout == Layout::Auto) {
        auto tryPatterns = [&](const std::vector<NamePattern>& patterns) -> std::optional<NameVerdict> {
            for (const auto& p : patterns) {
                const auto m = p.match(relativePath);
                if (!m) continue;
                const auto type = typeFromExtension(relativePath);
                if (!type) continue;
                const auto channel = options.channels.resolve(m->channel);
                if (!channel) {
                    why = "channel '" + m->channel + "' is not 1-4; map it with --channel " +
                          m->channel + "=N";
                    return NameVerdict::Skipped;
                }
                named.wireName = wireName(relativePath, false, why);
                if (named.wireName.empty()) return NameVerdict::Skipped;
                named.channel = *channel;
                named.type = *type;
                named.start = m->start;
                named.end.reset();
                return NameVerdict::Named;
            }
            return std::nullopt;
        };
        if (const auto v = tryPatterns(options.patterns)) return *v;
        if (layout == Layout::Auto)
            if (const auto v = tryPatterns(commonPatterns())) return *v;
        if (layout == Layout::Pattern) {
            why = "its path matches no --pattern";
            return NameVerdict::Skipped;
        }
    }
    return NameVerdict::NeedsProbe;
}

std::optional<int> channelFromFolders(const ChannelMap& channels, std::string_view relativePath,
                                      std::string_view rootName) {
    std::filesystem::path folder = std::filesystem::path(relativePath).parent_path();
    for (; !folder.empty(); folder = folder.parent_path())
        if (const auto c = channels.resolve(folder.filename().string())) return c;
    return channels.resolve(rootName);
}

}  // namespace recorder
