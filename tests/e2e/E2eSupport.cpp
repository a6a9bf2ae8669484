#include "tests/e2e/E2eSupport.h"

#include <dirent.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>

#include "player/Binding.h"

namespace e2e {
namespace {

int RunShell(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Capture(const std::string& command) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return output;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
    pclose(pipe);
    return output;
}

std::string Quoted(const fs::path& path) { return "'" + path.string() + "'"; }

// The rectangle a picture area fills with a picture of the source's aspect.
struct Fitted {
    int x, y, width, height;
};
Fitted FitInto(int area_width, int area_height, int source_width, int source_height) {
    const double scale = std::min(double(area_width) / source_width, double(area_height) / source_height);
    const int width = std::max(1, int(std::lround(source_width * scale)));
    const int height = std::max(1, int(std::lround(source_height * scale)));
    return {(area_width - width) / 2, (area_height - height) / 2, width, height};
}

}  // namespace

std::string BindRealLibrary() {
    static std::once_flag once;
    static std::string problem;
    std::call_once(once, [] { problem = player::LoadLibrary(VARNEL_PLAYER_LIBRARY); });
    return problem;
}

Scratch::Scratch() {
    std::string pattern = (fs::temp_directory_path() / "varnel-e2e-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    fs::create_directories(drives());
    ::setenv("PLAYERSDK_DRIVE_ROOT", drives().c_str(), 1);
}

Scratch::~Scratch() {
    std::error_code ignored;
    if (!path_.empty()) fs::remove_all(path_, ignored);
}

fs::path Scratch::DrivePath(const std::string& windows_path) const {
    // "X:\a\b" -> drives/x/a/b, as the library maps it.
    std::string rest = windows_path.substr(3);
    for (char& c : rest)
        if (c == '\\') c = '/';
    const char drive = static_cast<char>(std::tolower(static_cast<unsigned char>(windows_path[0])));
    return drives() / std::string(1, drive) / rest;
}

bool MakeClip(const fs::path& file, double seconds, bool with_sound) {
    fs::create_directories(file.parent_path());
    std::ostringstream command;
    command << "ffmpeg -nostdin -hide_banner -loglevel error -y -threads 1 -filter_complex \""
            << "color=black:s=320x120:r=25:d=" << seconds
            << ",format=yuv420p,geq=lum='16+mod(N,25)*8':cb=128:cr=128[top];"
            << "smptebars=s=320x120:r=25:d=" << seconds << ",format=yuv420p[bottom];"
            << "[top][bottom]vstack[v]\" ";
    if (with_sound) command << "-f lavfi -i sine=frequency=440:sample_rate=22050:duration=" << seconds << " ";
    command << "-map [v] -c:v libx264 -preset ultrafast -qp 10 -g 25 -pix_fmt yuv420p ";
    if (with_sound) command << "-map 0:a -c:a aac -b:a 32k -ac 1 ";
    command << "-movflags +faststart " << Quoted(file);
    return RunShell(command.str()) == 0;
}

bool MakeRecording(const fs::path& file, double seconds, const std::string& size) {
    fs::create_directories(file.parent_path());
    std::ostringstream command;
    command << "ffmpeg -nostdin -hide_banner -loglevel error -y -threads 1 -f lavfi -i testsrc2=size="
            << size << ":rate=15 -f lavfi -i sine=frequency=660:sample_rate=16000 -t " << seconds
            << " -map 0:v -map 1:a -c:v libx264 -preset ultrafast -g 15 -pix_fmt yuv420p "
               "-c:a aac -b:a 32k -ac 1 -movflags +faststart "
            << Quoted(file);
    return RunShell(command.str()) == 0;
}

double ProbeDuration(const fs::path& file) {
    const std::string text = Capture("ffprobe -v error -show_entries format=duration -of csv=p=0 " +
                                     Quoted(file) + " 2>/dev/null");
    char* end = nullptr;
    const double seconds = std::strtod(text.c_str(), &end);
    return end != text.c_str() ? seconds : -1;
}

std::string ProbeVideoSize(const fs::path& file) {
    std::string text = Capture("ffprobe -v error -select_streams v:0 -show_entries stream=width,height "
                               "-of csv=s=x:p=0 " + Quoted(file) + " 2>/dev/null");
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

bool DecodesCleanly(const fs::path& file) {
    const std::string errors =
        Capture("ffmpeg -nostdin -v error -i " + Quoted(file) + " -f null - 2>&1");
    return errors.empty() && ProbeDuration(file) > 0;
}

std::string ReadWholeFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

double DifferenceFromShown(const QImage& shown, const QImage& source) {
    if (shown.isNull() || source.isNull()) return 255;
    const QImage area = shown.convertToFormat(QImage::Format_RGB32);
    const Fitted fit = FitInto(area.width(), area.height(), source.width(), source.height());
    const QImage scaled = source.convertToFormat(QImage::Format_RGB32)
                              .scaled(fit.width, fit.height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    double total = 0;
    // A pixel's edge of the fitted rectangle may be rounded either way.
    const int margin = 2;
    long count = 0;
    for (int y = margin; y < fit.height - margin; ++y) {
        for (int x = margin; x < fit.width - margin; ++x) {
            const QRgb a = area.pixel(fit.x + x, fit.y + y);
            const QRgb b = scaled.pixel(x, y);
            total += std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) +
                     std::abs(qBlue(a) - qBlue(b));
            count += 3;
        }
    }
    return count > 0 ? total / double(count) : 255;
}

double TopHalfBrightness(const QImage& picture) {
    if (picture.isNull()) return -1;
    const QImage image = picture.convertToFormat(QImage::Format_RGB32);
    // The clip's aspect is 4:3; find the fitted picture, then its top half
    // less a margin.
    const Fitted fit = FitInto(image.width(), image.height(), 4, 3);
    double total = 0;
    long count = 0;
    for (int y = fit.y + fit.height / 10; y < fit.y + fit.height * 4 / 10; ++y) {
        for (int x = fit.x + fit.width / 10; x < fit.x + fit.width * 9 / 10; ++x) {
            total += qGray(image.pixel(x, y));
            ++count;
        }
    }
    return count > 0 ? total / double(count) : -1;
}

namespace {
// Calls visit(local_port, remote_port, state) for each TCP socket.
template <typename Visit>
void ForEachConnection(Visit visit) {
    for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        std::ifstream in(table);
        std::string line;
        std::getline(in, line);  // header
        while (std::getline(in, line)) {
            std::istringstream fields(line);
            std::string slot, local, remote, state;
            fields >> slot >> local >> remote >> state;
            auto port_of = [](const std::string& address) {
                const auto colon = address.rfind(':');
                return colon == std::string::npos ? -1 : std::stoi(address.substr(colon + 1), nullptr, 16);
            };
            visit(port_of(local), port_of(remote), state);
        }
    }
}

bool StillOpen(const std::string& state) { return state != "0A" && state != "06"; }
}  // namespace

int OpenConnectionsOnPort(int port) {
    int open = 0;
    ForEachConnection([&](int local, int remote, const std::string& state) {
        if ((local == port || remote == port) && StillOpen(state)) ++open;
    });
    return open;
}

std::string DescribeConnectionsOnPort(int port) {
    // Kernel state numbers: 01 established, 08 close-wait, 04/05 fin-wait...
    std::string text;
    ForEachConnection([&](int local, int remote, const std::string& state) {
        if ((local == port || remote == port) && StillOpen(state))
            text += std::to_string(local) + "->" + std::to_string(remote) + " state " + state + "; ";
    });
    return text;
}

int OpenFileDescriptors() {
    int count = 0;
    DIR* folder = ::opendir("/proc/self/fd");
    if (folder == nullptr) return -1;
    while (const dirent* entry = ::readdir(folder))
        if (entry->d_name[0] != '.') ++count;
    ::closedir(folder);
    return count - 1;  // the folder's own descriptor
}

long ResidentKb() {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    return -1;
}

}  // namespace e2e
