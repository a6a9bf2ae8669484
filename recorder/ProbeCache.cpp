#include "ProbeCache.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string_view>

namespace recorder {
namespace {

// Version 2: lengths no longer include the leading gap of a cut segment.
const char* const kHeader = "varnel-recorder probe answers 2";

// path TAB size TAB mtime-ns TAB ok TAB type TAB duration-ms TAB created|- TAB error
size_t split(std::string_view line, std::string_view (&fields)[8]) {
    size_t count = 0, at = 0;
    for (; count < 8; ++count) {
        const size_t tab = line.find('\t', at);
        fields[count] = line.substr(at, tab == std::string_view::npos ? std::string_view::npos : tab - at);
        if (tab == std::string_view::npos) return count + 1;
        at = tab + 1;
    }
    return count + 1;  // more than 8
}

bool toInt(std::string_view s, int64_t& out) {
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
    return !s.empty() && ec == std::errc() && end == s.data() + s.size();
}

}  // namespace

ProbeAnswers loadProbeAnswers(const std::filesystem::path& file) {
    ProbeAnswers answers;
    std::ifstream in(file);
    std::string line;
    if (!std::getline(in, line) || line != kHeader) return answers;
    while (std::getline(in, line)) {
        std::string_view f[8];
        int64_t size, mtime, ok, type, duration, created = 0;
        if (split(line, f) != 8 || f[0].empty() || !toInt(f[1], size) || size < 0 ||
            !toInt(f[2], mtime) || !toInt(f[3], ok) || !toInt(f[4], type) || (type != 1 && type != 2) ||
            !toInt(f[5], duration) || (f[6] != "-" && !toInt(f[6], created)))
            continue;
        CachedProbe& c = answers[std::string(f[0])];
        c.stamp = {static_cast<uint64_t>(size), mtime};
        c.result.ok = ok == 1;
        c.result.type = static_cast<RecordingType>(type);
        c.result.durationMs = duration;
        if (f[6] != "-") c.result.created = created;
        c.result.error = f[7];
    }
    return answers;
}

bool saveProbeAnswers(const std::filesystem::path& file, const ProbeAnswers& answers,
                      std::string& error) {
    std::ostringstream out;
    out << kHeader << '\n';
    auto oneLine = [](std::string text) {
        for (char& c : text)
            if (c == '\t' || c == '\n' || c == '\r') c = ' ';
        return text;
    };
    for (const auto& [path, c] : answers) {
        if (path.find_first_of("\t\r\n") != std::string::npos) continue;
        out << path << '\t' << c.stamp.size << '\t' << c.stamp.mtimeNs << '\t'
            << (c.result.ok ? 1 : 0) << '\t' << static_cast<int>(c.result.type) << '\t'
            << c.result.durationMs << '\t';
        if (c.result.created)
            out << *c.result.created;
        else
            out << '-';
        out << '\t' << oneLine(c.result.error) << '\n';
    }
    const std::string text = out.str();
    const std::filesystem::path aside = file.string() + ".new";
    std::FILE* f = std::fopen(aside.c_str(), "wb");
    if (!f) {
        error = std::strerror(errno);
        return false;
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    const bool closed = std::fclose(f) == 0;
    std::error_code ec;
    if (!written || !closed) {
        error = "write failed";
        std::filesystem::remove(aside, ec);
        return false;
    }
    std::filesystem::rename(aside, file, ec);
    if (ec) {
        error = ec.message();
        std::filesystem::remove(aside, ec);
        return false;
    }
    return true;
}

}  // namespace recorder
