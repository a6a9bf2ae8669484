#include "TestMedia.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <iterator>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <sstream>

namespace playersdk_test {
namespace {

// Grey levels of the frame-number code (luma, limited range).
constexpr int kLevelBase = 24;
constexpr int kLevelStep = 6;

struct Scratch {
    std::string path;
    Scratch() {
        char pattern[] = "/tmp/playersdk-test-XXXXXX";
        const char* made = mkdtemp(pattern);
        path = made != nullptr ? made : "/tmp";
    }
    ~Scratch() {
        if (path.rfind("/tmp/playersdk-test-", 0) == 0) RunShell("rm -rf " + test_support::ShellQuoted(path));
    }
};

std::mutex made_mutex;
std::map<std::string, std::string>& Made() {
    static std::map<std::string, std::string> made;
    return made;
}

}  // namespace

const std::string& ScratchDir() {
    static Scratch scratch;
    return scratch.path;
}

std::string MakeMedia(const std::string& name, const std::string& ffmpeg_arguments) {
    std::lock_guard lock(made_mutex);
    auto found = Made().find(name);
    if (found != Made().end()) return found->second;
    std::string path = ScratchDir() + "/" + name;
    std::string command = "ffmpeg -nostdin -v error -y -threads 1 " + ffmpeg_arguments + " " + test_support::ShellQuoted(path);
    if (RunShell(command) != 0) return "";
    Made()[name] = path;
    return path;
}

namespace {

// ffmpeg's inputs and encoders for a numbered clip, without the output file.
std::string NumberedClipArguments(const NumberedClip& clip) {
    std::ostringstream arguments;
    arguments << "-f lavfi -i \"color=black:s=64x48:r=" << clip.rate << ":d=" << clip.seconds
              << ",format=yuv420p,geq=lum='if(lt(X,W/2),mod(N,32)*" << kLevelStep << "+" << kLevelBase
              << ",floor(N/32)*" << kLevelStep << "+" << kLevelBase << ")':cb=128:cr=128\" ";
    if (!clip.audio.empty()) arguments << "-f lavfi -i \"sine=f=440:r=44100:d=" << clip.seconds << "\" ";
    arguments << "-c:v " << clip.video << " -g " << clip.gop << " -keyint_min " << clip.gop << " -sc_threshold 0 ";
    if (!clip.audio.empty()) arguments << "-c:a " << clip.audio << " -ac 1 ";
    if (clip.start_offset != 0) arguments << "-output_ts_offset " << clip.start_offset << " ";
    return arguments.str();
}

}  // namespace

std::string MakeNumberedClip(const NumberedClip& clip) {
    std::ostringstream name;
    name << "numbered-" << clip.seconds << "s-g" << clip.gop << "-o" << clip.start_offset << "-"
         << (clip.audio.empty() ? "silent" : clip.audio) << "-" << std::hash<std::string>()(clip.video)
         << (clip.rate != 25 ? "-r" + std::to_string(clip.rate) : "") << "." << clip.container;
    return MakeMedia(name.str(), NumberedClipArguments(clip));
}

NumberedClip RecordedClip(double seconds, const std::string& container) {
    NumberedClip clip;
    clip.seconds = seconds;
    clip.gop = 25;
    clip.container = container;
    clip.video = "libx264 -qp 0 -bf 0 -tune zerolatency";
    return clip;
}

GrowingClip::GrowingClip(const std::string& name, const NumberedClip& clip, const std::string& muxer_options,
                         std::chrono::milliseconds burst)
    : path_(ScratchDir() + "/" + name) {
    std::string flat = name;
    std::replace(flat.begin(), flat.end(), '/', '-');
    std::filesystem::create_directories(std::filesystem::path(path_).parent_path());
    const std::string whole =
        MakeMedia("whole-" + flat, "-i '" + MakeNumberedClip(clip) + "' -c copy " + muxer_options);
    writer_ = std::thread([this, whole, clip, burst] {
        std::ifstream in(whole, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::ofstream out(path_, std::ios::binary | std::ios::trunc);
        const double bytes_per_ms = static_cast<double>(bytes.size()) / (clip.seconds * 1000);
        const size_t piece = std::max<size_t>(static_cast<size_t>(bytes_per_ms * static_cast<double>(burst.count())), 1);
        if (bytes.empty() || !out) return;
        size_t written = std::min(bytes.size(), static_cast<size_t>(bytes_per_ms * 1000));
        out.write(bytes.data(), static_cast<std::streamsize>(written));
        out.flush();
        while (written < bytes.size() && !stop_) {
            std::this_thread::sleep_for(burst);
            const size_t n = std::min(piece, bytes.size() - written);
            out.write(bytes.data() + written, static_cast<std::streamsize>(n));
            out.flush();
            written += n;
        }
        whole_ = written == bytes.size() && static_cast<bool>(out);
    });
}

GrowingClip::~GrowingClip() {
    stop_ = true;
    if (writer_.joinable()) writer_.join();
}

bool GrowingClip::Finish() {
    if (writer_.joinable()) writer_.join();
    return whole_;
}

std::string MakeJoinedRecording(double seconds, double jump_seconds) {
    NumberedClip early;
    early.seconds = seconds;
    early.gop = 25;
    early.audio = "aac";
    early.container = "ts";
    early.start_offset = 10;
    NumberedClip late = early;
    late.start_offset = early.start_offset + seconds + std::abs(jump_seconds) - (jump_seconds < 0 ? 2 * seconds : 0);
    const std::string first = MakeNumberedClip(jump_seconds >= 0 ? early : late);
    const std::string second = MakeNumberedClip(jump_seconds >= 0 ? late : early);
    if (first.empty() || second.empty()) return "";
    std::ostringstream name;
    name << ScratchDir() << "/joined-" << seconds << "s-jump" << jump_seconds << ".ts";
    const std::string path = name.str();
    std::lock_guard lock(made_mutex);
    if (!FileExists(path) && RunShell("cat " + test_support::ShellQuoted(first) + " " + test_support::ShellQuoted(second) +
                                      " > " + test_support::ShellQuoted(path)) != 0) {
        return "";
    }
    return path;
}

std::vector<int> FrameNumbersIn(const std::string& path) {
    constexpr int kWidth = 64, kHeight = 48;
    const std::string pixels = Capture("ffmpeg -nostdin -v error -i " + test_support::ShellQuoted(path) +
                                       " -f rawvideo -pix_fmt bgra -s " + std::to_string(kWidth) + "x" +
                                       std::to_string(kHeight) + " - 2>/dev/null");
    const size_t frame_bytes = static_cast<size_t>(kWidth) * kHeight * 4;
    std::vector<int> numbers;
    for (size_t at = 0; at + frame_bytes <= pixels.size(); at += frame_bytes) {
        Picture picture;
        picture.width = kWidth;
        picture.height = kHeight;
        picture.stride = kWidth * 4;
        picture.pixels.assign(pixels.begin() + static_cast<long>(at), pixels.begin() + static_cast<long>(at + frame_bytes));
        numbers.push_back(FrameNumberOf(picture));
    }
    return numbers;
}

int FrameNumberOf(const Picture& picture) {
    if (picture.width < 8 || picture.height < 8) return -1;
    auto level = [&](int x, int y) {
        const uint8_t* p = picture.At(x, y);
        double grey = (p[0] + p[1] + p[2]) / 3.0;
        double luma = 16 + grey * 219.0 / 255.0;
        return (luma - kLevelBase) / kLevelStep;
    };
    double low = level(picture.width / 4, picture.height / 2);
    double high = level(picture.width * 3 / 4, picture.height / 2);
    if (std::fabs(low - std::round(low)) > 0.35 || std::fabs(high - std::round(high)) > 0.35) return -1;
    return static_cast<int>(std::lround(high)) * 32 + static_cast<int>(std::lround(low));
}

bool ReadBmp(const std::string& path, Bitmap* bitmap) {
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto u16 = [&](size_t at) { return static_cast<uint32_t>(data[at] | data[at + 1] << 8); };
    auto u32 = [&](size_t at) { return u16(at) | u16(at + 2) << 16; };
    if (data.size() < 54 || data[0] != 'B' || data[1] != 'M') return false;
    if (u32(2) != data.size() || u16(28) != 24 || u32(30) != 0) return false;
    int width = static_cast<int>(u32(18));
    int height = static_cast<int>(u32(22));
    uint32_t offset = u32(10);
    size_t row = (static_cast<size_t>(width) * 3 + 3) & ~size_t{3};
    if (width <= 0 || height <= 0 || offset + row * height > data.size()) return false;
    bitmap->width = width;
    bitmap->height = height;
    bitmap->bgr.resize(static_cast<size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y) {
        const uint8_t* source = data.data() + offset + row * (height - 1 - y);
        std::copy(source, source + width * 3, bitmap->bgr.begin() + static_cast<long>(y) * width * 3);
    }
    return true;
}

double ProbeDuration(const std::string& path) {
    std::string out = Capture("ffprobe -v error -show_entries format=duration -of csv=p=0 " + test_support::ShellQuoted(path) + " 2>/dev/null");
    if (out.empty()) return -1;
    char* end = nullptr;
    double value = std::strtod(out.c_str(), &end);
    return end == out.c_str() ? -1 : value;
}

std::string ProbeCodecs(const std::string& path) {
    std::string out = Capture("ffprobe -v error -show_entries stream=codec_name -of csv=p=0 " + test_support::ShellQuoted(path) + " 2>/dev/null");
    std::string joined;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.empty()) continue;
        if (!joined.empty()) joined += ",";
        joined += line;
    }
    return joined;
}

bool FileExists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

int64_t FileSize(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 ? info.st_size : -1;
}

}  // namespace playersdk_test
