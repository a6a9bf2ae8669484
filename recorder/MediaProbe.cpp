#include "MediaProbe.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
}

#include <fcntl.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <mutex>

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

bool isJpeg(const std::filesystem::path& file) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    unsigned char head[3] = {};
    const bool jpeg = ::read(fd, head, 3) == 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF;
    ::close(fd);
    return jpeg;
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

}  // namespace

CivilSeconds localCivilTime(int64_t unixSeconds) {
    const time_t t = static_cast<time_t>(unixSeconds);
    struct tm local {};
    localtime_r(&t, &local);
    return toCivilSeconds({local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                           local.tm_min, std::min(local.tm_sec, 59)})
        .value_or(unixSeconds);
}

ProbeResult probeMedia(const std::filesystem::path& file) {
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_callback(keepLibraryErrors); });
    ProbeResult result;
    std::error_code ec;
    const auto size = std::filesystem::file_size(file, ec);
    if (ec) {
        result.error = ec.message();
        return result;
    }
    if (size == 0) {
        result.error = "empty file";
        return result;
    }
    if (isJpeg(file)) {
        result.ok = true;
        result.type = RecordingType::Jpeg;
        return result;
    }
    lastLibraryError.clear();
    AVFormatContext* ctx = nullptr;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "probesize", "1048576", 0);
    const int rc = avformat_open_input(&ctx, file.c_str(), nullptr, &options);
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
    } else {
        result.ok = true;
        result.created = creationTime(ctx);
        result.durationMs = lengthFromStreams(ctx);
        if (result.durationMs <= 0 && ctx->duration != AV_NOPTS_VALUE && ctx->duration > 0)
            result.durationMs = ctx->duration / 1000;
        if (result.durationMs <= 0) result.durationMs = lengthFromTimestamps(ctx, static_cast<int64_t>(size));
        if (result.durationMs <= 0) {
            result.ok = false;
            result.error = "no playable length (" + format + ")";
        }
    }
    avformat_close_input(&ctx);
    return result;
}

}  // namespace recorder
