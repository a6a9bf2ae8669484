// What the end-to-end tests share: a scratch folder that is also the
// library's drive root, media made with the ffmpeg command, the real player
// library bound as the programs bind it, pictures compared as a user would
// see them, and the loopback connections of a recorder counted from the
// kernel's socket table.
#pragma once

#include <QImage>

#include <chrono>
#include <filesystem>
#include <string>

namespace e2e {

namespace fs = std::filesystem;

// Binds the real libPlayerSDK.so into the entry-point table, once per
// process, as the programs do at start. Empty on success, else the reason.
std::string BindRealLibrary();

// A fresh folder for one test, removed afterwards. The library's drive root
// points at drives(), so "C:\haha.bmp" lands at drives()/c/haha.bmp.
class Scratch {
public:
    Scratch();
    ~Scratch();
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    const fs::path& path() const { return path_; }
    fs::path drives() const { return path_ / "drives"; }
    // Where the library puts a fixed drive path such as "C:\cut.mp4".
    fs::path DrivePath(const std::string& windows_path) const;

private:
    fs::path path_;
};

// A clip of `seconds` at 320x240, 25 pictures a second, key frame every
// second, with a 440 Hz AAC sound track unless silent. The top half's
// brightness tells the picture apart from its neighbours (it steps by 8 grey
// levels per picture, over a cycle of 25); the bottom half carries colour
// bars, so that a wrongly placed or coloured picture shows.
bool MakeClip(const fs::path& file, double seconds, bool with_sound = true);
// A short recording of the recorder's kind (H.264 + AAC, moov first).
bool MakeRecording(const fs::path& file, double seconds, const std::string& size = "320x180");

// ffprobe's figures; negative / empty when it cannot read the file.
double ProbeDuration(const fs::path& file);
std::string ProbeVideoSize(const fs::path& file);  // "WxH"
// Whether ffmpeg decodes every packet of the file without an error.
bool DecodesCleanly(const fs::path& file);

std::string ReadWholeFile(const fs::path& file);

// Mean absolute difference per colour channel (0..255) between `shown`, a
// picture as a picture area presents it (fitted with its aspect kept, black
// bars around), and `source`, the picture at its own size.
double DifferenceFromShown(const QImage& shown, const QImage& source);
// Mean grey level of the top half of the part of `shown` that holds the
// picture of a clip of the given aspect.
double TopHalfBrightness(const QImage& picture);

// TCP connections that have the port at either end and are not yet fully
// closed (anything but LISTEN and TIME_WAIT), from /proc/net/tcp.
int OpenConnectionsOnPort(int port);
// Those connections as text, "local->remote state NN; ...", for messages.
std::string DescribeConnectionsOnPort(int port);
// File descriptors this process holds open.
int OpenFileDescriptors();
// Resident memory of this process, in kB.
long ResidentKb();

}  // namespace e2e
