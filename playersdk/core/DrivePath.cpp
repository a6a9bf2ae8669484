#include "core/DrivePath.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <vector>

namespace playersdk {
namespace {

std::string DriveRoot() {
    const char* root = std::getenv("PLAYERSDK_DRIVE_ROOT");
    if (root != nullptr && root[0] != '\0') return root;
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof cwd) != nullptr) return cwd;
    return ".";
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

}  // namespace

bool IsDrivePath(const std::string& path) {
    return path.size() >= 2 && std::isalpha(static_cast<unsigned char>(path[0])) != 0 &&
           path[1] == ':';
}

std::string MapDrivePath(const std::string& path) {
    if (!IsDrivePath(path)) return path;
    std::string mapped = DriveRoot();
    while (mapped.size() > 1 && mapped.back() == '/') mapped.pop_back();
    mapped += '/';
    mapped += static_cast<char>(std::tolower(static_cast<unsigned char>(path[0])));
    size_t i = 2;
    while (i < path.size()) {
        while (i < path.size() && IsSeparator(path[i])) ++i;
        size_t end = i;
        while (end < path.size() && !IsSeparator(path[end])) ++end;
        std::string part = path.substr(i, end - i);
        i = end;
        if (part.empty() || part == "." || part == "..") continue;
        mapped += '/';
        mapped += part;
    }
    return mapped;
}

bool CreateParentFolders(const std::string& path) {
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos || slash == 0) return true;
    std::string parent = path.substr(0, slash);
    struct stat info;
    if (stat(parent.c_str(), &info) == 0) return S_ISDIR(info.st_mode);
    if (!CreateParentFolders(parent)) return false;
    if (mkdir(parent.c_str(), 0777) == 0 || errno == EEXIST) {
        return stat(parent.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
    }
    return false;
}

AsideFile::~AsideFile() { Discard(); }

bool AsideFile::Open(const std::string& final_path) {
    Discard();
    failed_ = false;
    if (final_path.empty() || final_path.back() == '/') return false;
    if (!CreateParentFolders(final_path)) return false;
    std::string pattern = final_path + ".partXXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    int fd = mkstemp(name.data());
    if (fd < 0) return false;
    fchmod(fd, 0644);
    fd_ = fd;
    direct_ = false;
    written_ = written_back_ = 0;
    final_path_ = final_path;
    temp_path_ = name.data();
    return true;
}

bool AsideFile::Write(const void* data, size_t size) {
    if (fd_ < 0 || failed_) return false;
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        if (direct_ && !FitsDirect(bytes, size)) LeaveDirect();
        ssize_t n = write(fd_, bytes, size);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EINVAL && direct_) {
            LeaveDirect();  // a stricter alignment than assumed: the cache takes it
            continue;
        }
        if (n <= 0) {
            failed_ = true;
            return false;
        }
        bytes += n;
        size -= static_cast<size_t>(n);
        written_ += static_cast<uint64_t>(n);
    }
    return true;
}

void AsideFile::PreferDirectWrites() {
    if (fd_ < 0 || direct_) return;
    const int flags = fcntl(fd_, F_GETFL);
    // File systems that cannot write directly refuse the flag.
    direct_ = flags >= 0 && fcntl(fd_, F_SETFL, flags | O_DIRECT) == 0;
}

bool AsideFile::FitsDirect(const char* data, size_t size) const {
    return reinterpret_cast<uintptr_t>(data) % kDirectWriteAlignment == 0 && size % kDirectWriteAlignment == 0 &&
           written_ % kDirectWriteAlignment == 0;
}

void AsideFile::LeaveDirect() {
    const int flags = fcntl(fd_, F_GETFL);
    if (flags >= 0) fcntl(fd_, F_SETFL, flags & ~O_DIRECT);
    direct_ = false;
}

void AsideFile::StartWriteBack() {
    if (fd_ < 0 || failed_ || written_ == written_back_) return;
    sync_file_range(fd_, static_cast<off_t>(written_back_), static_cast<off_t>(written_ - written_back_),
                    SYNC_FILE_RANGE_WRITE);
    written_back_ = written_;
}

bool AsideFile::Commit() {
    if (fd_ < 0) return false;
    bool ok = !failed_ && fsync(fd_) == 0;
    ok = (close(fd_) == 0) && ok;
    fd_ = -1;
    if (ok) ok = rename(temp_path_.c_str(), final_path_.c_str()) == 0;
    if (!ok) unlink(temp_path_.c_str());
    temp_path_.clear();
    return ok;
}

void AsideFile::Discard() {
    if (fd_ < 0) return;
    close(fd_);
    fd_ = -1;
    unlink(temp_path_.c_str());
    temp_path_.clear();
}

bool WriteFileAside(const std::string& final_path, const void* data, size_t size) {
    AsideFile file;
    return file.Open(final_path) && file.Write(data, size) && file.Commit();
}

}  // namespace playersdk
