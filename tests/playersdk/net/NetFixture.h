// A real recorder on loopback with small recordings made by the test, and
// the library's entry points to talk to it.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include <httplib.h>

#include "FakeWindow.h"
#include "RecorderProcess.h"
#include "Sdk.h"

namespace net_test {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

inline const char* const kLogin = "246135";

inline std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void WriteAll(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

// Waits for `condition` for at most `timeout`, looking every 10 ms.
template <typename Condition>
bool WaitFor(Condition condition, std::chrono::milliseconds timeout = 30s) {
    const auto until = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= until) return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

// Waits until the recorder on `port` lists the recording `name` (channel 1,
// MPEG-4): a file that has just come is indexed a moment later.
inline bool WaitForListing(int port, const std::string& name) {
    httplib::Client client("127.0.0.1", port);
    client.set_basic_auth(kLogin, kLogin);
    return WaitFor([&] {
        const auto found = client.Get("/api/search?channel=1&type=1&limit=0");
        return found && found->status == 200 && found->body.find(name + "\t") != std::string::npos;
    });
}

// One process-wide library initialisation and drive root for the binary.
// Sound goes into a file (SDL's disk driver, 16-bit samples) for the tests
// that listen to it; the library brings the sound device up in PlayerInit.
class NetEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        drive_ = std::make_unique<testing_support::TempFolder>();
        ::setenv("PLAYERSDK_DRIVE_ROOT", drive_->path().c_str(), 1);
        ::setenv("SDL_AUDIODRIVER", "disk", 1);
        ::setenv("SDL_DISKAUDIOFILE", SoundFile().c_str(), 1);
        PlayerInit();
    }
    void TearDown() override { drive_.reset(); }
    static fs::path DriveRoot() { return std::getenv("PLAYERSDK_DRIVE_ROOT"); }
    static fs::path SoundFile() { return DriveRoot() / "sound.raw"; }

private:
    std::unique_ptr<testing_support::TempFolder> drive_;
};

}  // namespace net_test
