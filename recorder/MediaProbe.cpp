#include "MediaProbe.h"
#include "ContainerHead.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
}

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <system_error>
#include <thread>

namespace recorder {
namespace {

// The library's own words for a failure ("moov atom not found") say more
// than its error code; each probing thread keeps the last one.
thread_local std::string lastLibraryError;

void keepLibraryErrors(void*, int level, const char* format, va_list args) {
    if (level > AV_LOG_ERROR) return;
    char text[256];
    std::vsnprintf(text, sizeof text, format, args);
    std::string line = text;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    lastLibraryError = line;
}

std::string errorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

// What the first bytes say: a JPEG picture, or the container of the two
// kinds of segment recorders write. Naming the container spares the
// library's guess, which tries every format it knows on the file's start
// and costs more than reading a short segment's header.
struct FileHead {
    bool jpeg = false;
    const AVInputFormat* container = nullptr;  // null: let the library guess
};


FileHead readHead(const unsigned char* bytes, size_t got) {
    FileHead head;
    if (got < 3) return head;
    head.jpeg = bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF;
    if (got >= 8 && std::memcmp(bytes + 4, "ftyp", 4) == 0) {
        static const AVInputFormat* const mp4 = av_find_input_format("mov");
        head.container = mp4;
    } else if (transportStreamSynced(bytes, got)) {
        static const AVInputFormat* const ts = av_find_input_format("mpegts");
        head.container = ts;
    }
    return head;
}

// The file read by the library through the descriptor it was first read
// with, rather than opened and looked up again by the library's file layer.
struct OpenFile {
    int fd = -1;
    int64_t size = 0;  // when opened; a file still growing is read up to there
    AVIOContext* io = nullptr;
    OpenFile() = default;
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;
    ~OpenFile() {
        if (io) {
            av_freep(&io->buffer);
            avio_context_free(&io);
        }
        if (fd >= 0) ::close(fd);
    }
};

int readFile(void* opaque, uint8_t* into, int bytes) {
    const ssize_t n = ::read(static_cast<OpenFile*>(opaque)->fd, into, static_cast<size_t>(bytes));
    if (n < 0) return AVERROR(errno);
    return n == 0 ? AVERROR_EOF : static_cast<int>(n);
}

int64_t seekFile(void* opaque, int64_t offset, int whence) {
    const auto* file = static_cast<OpenFile*>(opaque);
    if (whence & AVSEEK_SIZE) return file->size;
    const off_t at = ::lseek(file->fd, static_cast<off_t>(offset), whence & ~AVSEEK_FORCE);
    return at < 0 ? AVERROR(errno) : static_cast<int64_t>(at);
}

std::optional<CivilSeconds> creationTime(AVFormatContext* ctx) {
    const AVDictionaryEntry* e = av_dict_get(ctx->metadata, "creation_time", nullptr, 0);
    if (!e) return std::nullopt;
    CivilDateTime t;
    if (std::sscanf(e->value, "%d-%d-%dT%d:%d:%d", &t.year, &t.month, &t.day, &t.hour, &t.minute,
                    &t.second) != 6)
        return std::nullopt;
    const auto utc = toCivilSeconds(t);  // the Unix time of a UTC date-time
    // Writers that know no time leave zero (1970 or 1904): no creation time.
    if (!utc || t.year < 1990) return std::nullopt;
    return localCivilTime(*utc);
}

// Length from the timestamps of the first packets and the last ones, for
// containers whose header does not say it.
int64_t lengthFromTimestamps(AVFormatContext* ctx, int64_t fileSize) {
    AVPacket* pkt = av_packet_alloc();
    if (!pkt) return 0;
    auto seconds = [&](int64_t ts, int stream) {
        return static_cast<double>(ts) * av_q2d(ctx->streams[stream]->time_base);
    };
    double first = -1, last = -1;
    for (int n = 0; n < 500 && first < 0 && av_read_frame(ctx, pkt) >= 0; ++n) {
        if (pkt->pts != AV_NOPTS_VALUE) first = seconds(pkt->pts, pkt->stream_index);
        av_packet_unref(pkt);
    }
    constexpr int64_t kTailBytes = 1 << 20;
    if (first >= 0 && fileSize > kTailBytes)
        av_seek_frame(ctx, -1, fileSize - kTailBytes, AVSEEK_FLAG_BYTE);
    while (first >= 0 && av_read_frame(ctx, pkt) >= 0) {
        if (pkt->pts != AV_NOPTS_VALUE) {
            const double end = seconds(pkt->pts + std::max<int64_t>(pkt->duration, 0), pkt->stream_index);
            if (end > last) last = end;
        }
        av_packet_unref(pkt);
    }
    av_packet_free(&pkt);
    return last > first && first >= 0 ? static_cast<int64_t>((last - first) * 1000 + 0.5) : 0;
}

// Length from the header: where the last stream ends, counted from the
// first one's start. A segment cut from a longer recording keeps its
// timestamps, and the container's own duration then includes the leading
// gap up to its first one. Zero when the header gives no stream a length.
int64_t lengthFromStreams(AVFormatContext* ctx) {
    int64_t first = AV_NOPTS_VALUE, last = AV_NOPTS_VALUE;
    for (unsigned i = 0; i < ctx->nb_streams; ++i) {
        const AVStream* s = ctx->streams[i];
        if (s->duration == AV_NOPTS_VALUE || s->duration <= 0) continue;
        const int64_t start = s->start_time != AV_NOPTS_VALUE ? s->start_time : 0;
        const int64_t from = av_rescale_q(start, s->time_base, AV_TIME_BASE_Q);
        const int64_t to = av_rescale_q(start + s->duration, s->time_base, AV_TIME_BASE_Q);
        if (first == AV_NOPTS_VALUE || from < first) first = from;
        if (last == AV_NOPTS_VALUE || to > last) last = to;
    }
    return last != AV_NOPTS_VALUE && last > first ? (last - first) / 1000 : 0;
}

// An MP4 written in fragments (no media data before its first fragment)
// that holds no whole fragment yet, a 'moof' with its 'mdat': nothing in it
// can be played. Walks the top-level box headers only.
bool fragmentedWithNoWholeFragment(int fd, int64_t size) {
    bool inFragment = false;
    const auto fileSize = static_cast<uint64_t>(size);
    uint64_t at = 0;
    for (int boxes = 0; boxes < 4096; ++boxes) {
        const auto box = readMp4BoxHead(fd, at, fileSize);
        if (!box) break;
        const bool whole = box->size <= fileSize - at;
        if (box->is("moof")) inFragment = true;
        if (box->is("mdat")) return !inFragment ? false : !whole;
        if (!whole) break;
        at += box->size;
    }
    return true;
}

}  // namespace

CivilSeconds localCivilTime(int64_t unixSeconds) {
    const time_t t = static_cast<time_t>(unixSeconds);
    struct tm local {};
    localtime_r(&t, &local);
    return toCivilSeconds({local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                           local.tm_min, std::min(local.tm_sec, 59)})
        .value_or(unixSeconds);
}

ProbeResult probeMedia(const std::filesystem::path& path) {
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_callback(keepLibraryErrors); });
    ProbeResult result;
    OpenFile file;
    struct stat st {};
    file.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (file.fd < 0 || ::fstat(file.fd, &st) != 0) {
        result.error = std::strerror(errno);
        return result;
    }
    file.size = static_cast<int64_t>(st.st_size);
    if (file.size == 0) {
        result.error = "empty file";
        return result;
    }
    unsigned char bytes[kTsPacketBytes * 8] = {};
    const ssize_t got = ::pread(file.fd, bytes, sizeof bytes, 0);
    const FileHead head = readHead(bytes, got > 0 ? static_cast<size_t>(got) : 0);
    if (head.jpeg) {
        result.ok = true;
        result.type = RecordingType::Jpeg;
        return result;
    }
    constexpr int kBufferBytes = 32 * 1024;
    auto* buffer = static_cast<unsigned char*>(av_malloc(kBufferBytes));
    if (buffer) file.io = avio_alloc_context(buffer, kBufferBytes, 0, &file, readFile, nullptr, seekFile);
    AVFormatContext* ctx = file.io ? avformat_alloc_context() : nullptr;
    if (!ctx) {
        if (!file.io) av_free(buffer);
        result.error = "out of memory";
        return result;
    }
    ctx->pb = file.io;
    ctx->flags |= AVFMT_FLAG_CUSTOM_IO;
    lastLibraryError.clear();
    AVDictionary* options = nullptr;
    av_dict_set(&options, "probesize", "1048576", 0);
    const int rc = avformat_open_input(&ctx, path.c_str(), head.container, &options);
    av_dict_free(&options);
    if (rc < 0) {
        result.error = "not a video recording (" +
                       (lastLibraryError.empty() ? errorText(rc) : lastLibraryError) + ")";
        return result;
    }
    const std::string format = ctx->iformat->name;
    bool video = false;
    for (unsigned i = 0; i < ctx->nb_streams; ++i) {
        const AVStream* s = ctx->streams[i];
        // Text files open as "video" of the terminal-art demuxer: not a recording.
        if (s->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && s->codecpar->codec_id != AV_CODEC_ID_ANSI &&
            !(s->disposition & AV_DISPOSITION_ATTACHED_PIC))
            video = true;
    }
    // Streams of a transport stream appear as its packets are read.
    const bool streamsLater = ctx->ctx_flags & AVFMTCTX_NOHEADER;
    if (format == "tty") {
        result.error = "not a video recording (text)";
    } else if (format.find("image") != std::string::npos || format.find("_pipe") != std::string::npos) {
        result.error = "a still picture (" + format + "), not a video or JPEG";
    } else if (!video && !streamsLater) {
        result.error = "no video in it (" + format + ")";
    } else if (head.container && format.compare(0, 3, "mov") == 0 &&
               fragmentedWithNoWholeFragment(file.fd, file.size)) {
        result.error = "no whole fragment yet";
    } else {
        result.ok = true;
        result.created = creationTime(ctx);
        result.durationMs = lengthFromStreams(ctx);
        if (result.durationMs <= 0 && ctx->duration != AV_NOPTS_VALUE && ctx->duration > 0)
            result.durationMs = ctx->duration / 1000;
        if (result.durationMs <= 0) result.durationMs = lengthFromTimestamps(ctx, file.size);
        if (result.durationMs <= 0) {
            result.ok = false;
            result.error = "no playable length (" + format + ")";
        }
    }
    avformat_close_input(&ctx);
    return result;
}

std::vector<ProbeResult> probeMediaFor(const std::vector<std::filesystem::path>& files, unsigned threads,
                                       std::chrono::steady_clock::duration slice,
                                       const std::function<void()>& meanwhile) {
    using Clock = std::chrono::steady_clock;
    std::vector<ProbeResult> results(files.size());
    // Files are taken in order and each one taken is finished: those done
    // are the first `taken`.
    std::atomic<size_t> taken{0};
    std::atomic<Clock::rep> until{Clock::time_point::max().time_since_epoch().count()};
    auto work = [&] {
        for (;;) {
            if (taken.load() > 0 && Clock::now().time_since_epoch().count() >= until.load()) return;
            const size_t i = taken.fetch_add(1);
            if (i >= files.size()) return;
            results[i] = probeMedia(files[i]);
        }
    };
    std::vector<std::thread> helpers;
    for (size_t t = 1; t < std::min<size_t>(std::max(threads, 1u), files.size()); ++t) {
        try {
            helpers.emplace_back(work);
        } catch (const std::system_error&) {
            break;  // fewer threads, the same answers
        }
    }
    if (meanwhile) meanwhile();
    until = (Clock::now() + slice).time_since_epoch().count();
    work();
    for (auto& h : helpers) h.join();
    results.resize(std::min(taken.load(), files.size()));
    return results;
}

}  // namespace recorder
