// How a folder of recordings names them: which file is which channel, and
// when it started, read from its path without opening it.
//
//   own      ch<C>/<YYYYMMDD>/ch<C>_<YYYYMMDD>_<HHMMSS>_<HHMMSS>.<mp4|jpg>
//   pattern  a strftime-style pattern over the end of the relative path,
//            e.g. "%{channel}/%Y-%m-%d/%H/%M.%S.mp4" or
//            "%{channel}_%Y-%m-%d_%H-%M-%S.*"; the name gives the start,
//            the length comes from the file (MediaProbe)
//   probe    any other file: start and length from the file itself
// The automatic layout tries them in this order, with a few common
// patterns after the given ones.
#pragma once

#include "RecordingIndex.h"

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace recorder {

enum class Layout { Auto, Own, Pattern, Probe };
std::optional<Layout> parseLayout(std::string_view text);

// Folder or pattern names to channel numbers 1..4: the explicit map first,
// then a name ending in the number itself ("cam2", "ch3", "4").
class ChannelMap {
public:
    // "NAME=N" with N 1..4; false for anything else.
    bool add(std::string_view assignment);
    std::optional<int> resolve(std::string_view name) const;

private:
    std::map<std::string, int, std::less<>> names_;
};

// A compiled name pattern. Fields: %Y (4 digits) %m %d %H %M %S (2 digits),
// %{channel} (one or more characters of one path component), * (any run of
// characters of one component), %% (a percent sign); anything else stands
// for itself. A pattern of k components matches the last k components of a
// relative path.
class NamePattern {
public:
    // nullopt, with the reason in `error`, for a pattern that cannot work
    // (no %{channel}, no date and time of day, an unknown field).
    static std::optional<NamePattern> compile(std::string_view text, std::string* error);

    struct Match {
        std::string channel;
        CivilSeconds start = 0;
    };
    std::optional<Match> match(std::string_view relativePath) const;
    const std::string& text() const { return text_; }

private:
    enum class Kind { Literal, Year, Month, Day, Hour, Minute, Second, Channel, Any };
    struct Token {
        Kind kind;
        char literal = 0;
    };
    struct Fields;
    bool matchFrom(size_t token, std::string_view rest, Fields& fields) const;

    std::string text_;
    std::vector<Token> tokens_;
    size_t components_ = 1;
};

// The common names of segment writers, tried after the given patterns.
const std::vector<NamePattern>& commonPatterns();

// Type by extension: a video container or a JPEG picture; nullopt otherwise.
std::optional<RecordingType> typeFromExtension(std::string_view path);

// Until a segment named only by its start has been probed, it is taken to
// run until the next one of its channel and type starts, and no longer than
// their usual (median) spacing. Sets the end of each recording marked in
// `provisional` (same indexes as `all`).
void estimateEnds(std::vector<Recording>& all, const std::vector<bool>& provisional);

// What a path says about its recording without opening the file.
struct NamedRecording {
    int channel = 0;
    RecordingType type = RecordingType::Mpeg4;
    CivilSeconds start = 0;
    std::optional<CivilSeconds> end;  // the own layout names its end
    std::string wireName;
};

struct LayoutOptions {
    Layout layout = Layout::Auto;
    std::vector<NamePattern> patterns;
    ChannelMap channels;
};

enum class NameVerdict {
    Named,        // `named` is filled
    NeedsProbe,   // not named by the layout: the file must tell
    Skipped,      // not a recording; `why` says it
};

NameVerdict readName(const LayoutOptions& options, std::string_view relativePath,
                     NamedRecording& named, std::string& why);

// The channel of a file that its name does not give: the nearest folder on
// its path that the map resolves (relativePath's folders, then rootName).
std::optional<int> channelFromFolders(const ChannelMap& channels, std::string_view relativePath,
                                      std::string_view rootName);

// The name on the wire for a recording at relativePath: the file name for
// the own layout, the relative path for the others; empty when it cannot be
// one (too long, or holds a tab or line break), with the reason in `why`.
std::string wireName(std::string_view relativePath, bool ownLayout, std::string& why);

}  // namespace recorder
