// Every bound of the player engine in one place: queue sizes, waits and
// tolerances. docs/ENGINE.md lists them with what each one protects.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace playersdk {

// Speeds: 2^step, from 1/16 to 16; from 8x on only key frames are decoded.
constexpr int kMinSpeedStep = -4;
constexpr int kMaxSpeedStep = 4;
constexpr int kKeyFramesOnlyStep = 3;

// Read-ahead: the read thread waits once every stream has this much queued,
// or all streams together this many bytes. Enough to ride out a slow read.
constexpr int64_t kQueueAheadUs = 2000000;
constexpr size_t kMinQueuedPackets = 25;
constexpr size_t kMaxQueuedBytes = 32u << 20;
// A queue taken down to this share of full wakes the read thread, so that it
// refills in one go rather than a packet at a time.
constexpr double kRefillShare = 0.75;
// Decoded pictures waiting for the presenter. Once full, the queue is
// refilled only when the presenter has taken it down to kPictureQueueRefillAt:
// the picture thread then decodes several pictures in a row, with the
// decoder's tables and references still in the processor's caches, rather than
// one picture for every one shown (which cost 4-6 % more decoding time).
constexpr size_t kPictureQueueSize = 6;
constexpr size_t kPictureQueueRefillAt = 2;

// Decoded sound waiting for the device.
constexpr int64_t kSoundAheadUs = 250000;
// Unheard sound is dropped in batches of about this much.
constexpr int64_t kUnheardSoundBatchUs = 200000;
// Sound packets this far behind the clock are not worth decoding.
constexpr int64_t kSoundSkipBehindUs = 300000;
// Sound within this of the clock plays as it comes; further away it is
// dropped (late) or waited for with silence (early). Also how far apart two
// pieces may be and still be stretched as one.
constexpr int64_t kSoundSyncToleranceUs = 40000;
// The clock follows the sound once they are this far apart.
constexpr int64_t kClockAnchorToleranceUs = 2000;
// The device takes sound in periods of about this length whatever the rate:
// a fixed count of samples would be 128 ms a period at a camera's 8 kHz.
constexpr int64_t kDevicePeriodUs = 20000;

// At the start and after a seek the clock starts once the sound is ready, or after this.
constexpr std::chrono::milliseconds kSoundReadyWait{500};
// How often the presenter looks again whether that sound is ready.
constexpr std::chrono::milliseconds kSoundReadyPoll{5};
// A late picture is still shown when nothing was shown for this long, so the
// picture keeps moving on a machine too slow for the speed asked.
constexpr std::chrono::milliseconds kLongestWithoutPicture{250};
// The presenter looks at the clock again at least this often while it waits
// for a picture's time, and this often for the end once every picture is out.
constexpr std::chrono::milliseconds kLongestPresenterSleep{100};
constexpr std::chrono::milliseconds kEndPoll{10};

// Seeking in a container without an index: how far before the target the
// search for a key frame starts (then 4x further each time), and how much it
// reads at most from each start.
constexpr int64_t kKeyFrameSearchStepUs = 1000000;
// The first search in a local file reads on this far past the target, so that the key frames
// there are known: seeks into it that follow soon decode on (a seek bar
// dragged) rather than search again.
constexpr int64_t kKeyFrameLookAheadUs = 1000000;

// A fragmented MP4 or an MPEG-TS still being written: how often the read
// thread looks for where what was added ends, for the total and the seek bar.
constexpr std::chrono::milliseconds kWrittenEndLookEvery{500};
constexpr int64_t kKeyFrameSearchBytes = 256 << 20;

// The read thread tries again this soon when the input has nothing yet, or
// after a failed read; reads that fail (the end of the file included) this
// many times in a row end the media.
constexpr std::chrono::milliseconds kReadRetryWait{10};
constexpr int kReadRetries = 10;

// The open looks for the first picture in at most this much of the file, or
// this much media time, whichever comes first; the sound read meanwhile is
// queued for playing. Past half the bytes with no key frame yet, pictures are
// decoded from whatever comes.
constexpr int64_t kFirstPictureBytes = 8 << 20;
constexpr int64_t kFirstPictureUs = 10000000;

// A sound track that has carried nothing for this much of the pictures read
// counts as silent: it holds back neither reading, nor a start, nor a stream.
constexpr int64_t kSilentSoundUs = 2000000;

// Picture decoding: one thread per full-HD picture's worth of pixels while
// playing (a thread decodes full HD several times faster than it plays, and
// each thread more costs CPU time of its own: frame hand-over, copied state);
// an exact seek decodes on every core, up to this many.
constexpr int64_t kPixelsPerDecoderThread = 1920 * 1088;
constexpr int64_t kMaxDecoderThreads = 4;
// The picture decoding threads run this much nicer than the others, so that
// the sound thread (and the presenter) get the processor first when decoding
// wants all of it: late pictures are caught up with, missing sound is heard.
constexpr int kDecoderNiceness = 5;
// Catching up when pictures decode slower than they play (CatchUp.h), by how
// late the packet to decode is behind the clock, in wall time: the loop
// filter goes beyond this many frame intervals, the pictures nothing refers
// to beyond 300 ms, and beyond a second everything up to the next key frame.
constexpr int64_t kCatchUpLoopFilterLateFrames = 2;
constexpr int64_t kCatchUpNonReferenceLateUs = 300000;
constexpr int64_t kCatchUpKeyFrameLateUs = 1000000;
// ...and only while this much media is queued for the decoder (or all there
// is): a picture late for want of data (an input that stalled) is not the
// decoder's to catch up.
constexpr int64_t kCatchUpQueuedUs = 1000000;
// An exact seek decodes on from its key frame for about this long (a seek
// merged into it, from when it was asked): beyond it the seek lands on the
// picture reached. From kDecodeOnJudgedAfter on, it goes
// to the next key frame instead when that is nearer the target than decoding
// on, at its pace so far, would get within the budget.
constexpr std::chrono::milliseconds kDecodeOnBudget{1000};
constexpr std::chrono::milliseconds kDecodeOnJudgedAfter{250};
// A packet the decoder refuses while it has pictures to give is offered again this many times.
constexpr int kDecoderSendAttempts = 8;

// Bytes the input is read in.
constexpr int kAvioBufferSize = 64 * 1024;

}  // namespace playersdk
