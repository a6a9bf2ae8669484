// Paths the windows pass to the library are Windows-style drive paths such as
// "C:\haha.bmp". On this platform a drive is a folder under the drive root:
// "X:\a\b" becomes "<root>/x/a/b", the root being PLAYERSDK_DRIVE_ROOT or, when
// that is unset or empty, the working directory. Other paths are kept as given.
//
// Files that must appear whole or not at all (snapshots, finished downloads)
// are written beside their final name and renamed into place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace playersdk {

// "X:\a\b" or "X:/a/b" -> "<root>/x/a/b" (letter lower-cased, backslashes
// turned into slashes, "." and ".." components dropped so a drive path never
// leaves its drive folder). Any other path is returned unchanged.
std::string MapDrivePath(const std::string& path);

// True when the path is a drive path in the sense above.
bool IsDrivePath(const std::string& path);

// Creates every missing folder above the file `path` (like mkdir -p of its
// parent). True when the parent folder exists afterwards.
bool CreateParentFolders(const std::string& path);

// A file written under a temporary name in the same folder as its final name
// and renamed over it by Commit(). Until Commit() succeeds the final name is
// untouched; a writer destroyed without Commit() removes its temporary file.
// What PreferDirectWrites() needs of a write: a multiple of the largest
// logical block size in common use.
constexpr size_t kDirectWriteAlignment = 4096;

class AsideFile {
public:
    AsideFile() = default;
    ~AsideFile();
    AsideFile(const AsideFile&) = delete;
    AsideFile& operator=(const AsideFile&) = delete;

    // Opens a fresh temporary file beside `final_path` (folders created as
    // needed). `final_path` is taken as it is: map drive paths first.
    bool Open(const std::string& final_path);
    bool Write(const void* data, size_t size);
    // From here on, writes of whole aligned blocks (data, size and file
    // offset multiples of kDirectWriteAlignment) go from the caller's buffer
    // straight to the disk, past the page cache: for a large file written
    // once, the copy into the cache and its later write-back cost more CPU
    // than the transfer. The first write that is not aligned, or that the
    // file system refuses to take directly, goes through the cache as
    // usual, and so does every write after it.
    void PreferDirectWrites();
    // Starts writing what has been written since the last call to disk,
    // without waiting for it, so that the flush in Commit() has little left
    // to do. Only the new range is handed over: pages already on their way
    // are not looked at again.
    void StartWriteBack();
    // Flushes to disk and renames into place. False (and the temporary file
    // removed) when anything failed since Open().
    bool Commit();
    // Removes the temporary file; the final name is left as it was.
    void Discard();
    bool IsOpen() const { return fd_ >= 0; }

private:
    bool FitsDirect(const char* data, size_t size) const;
    void LeaveDirect();

    int fd_ = -1;
    bool failed_ = false;
    bool direct_ = false;
    uint64_t written_ = 0;       // bytes written so far
    uint64_t written_back_ = 0;  // of which write-back has been started
    std::string final_path_;
    std::string temp_path_;
};

// Writes the whole buffer to `final_path` through an AsideFile.
bool WriteFileAside(const std::string& final_path, const void* data, size_t size);

}  // namespace playersdk
