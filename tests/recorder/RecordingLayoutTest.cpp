// Layouts of other recorders' folders, and the indexer that follows a folder
// as it changes, in-process on small files.
#include "FolderIndexer.h"
#include "RecordingLayout.h"

#include "RecorderProcess.h"

#include <gtest/gtest.h>

#include <fstream>
#include <thread>

using namespace recorder;
namespace fs = std::filesystem;

namespace {

CivilSeconds at(const char* compact) { return *parseCompact(compact); }

NamePattern compiled(const char* text) {
    std::string error;
    auto p = NamePattern::compile(text, &error);
    EXPECT_TRUE(p) << error;
    return p ? *p : *NamePattern::compile("%{channel}%Y%m%d%H", nullptr);
}

void writeFile(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

template <typename Condition>
bool waitFor(Condition condition) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

}  // namespace

TEST(NamePattern, FoldersAndNamesGiveChannelAndStart) {
    const auto nested = compiled("%{channel}/%Y-%m-%d/%H/%M.%S.mp4");
    // Only the last components count: the root may sit higher up.
    const auto m = nested.match("site/cam1/2026-12-09/10/05.07.mp4");
    ASSERT_TRUE(m);
    EXPECT_EQ(m->channel, "cam1");
    EXPECT_EQ(m->start, at("20261209100507"));
    EXPECT_FALSE(nested.match("cam1/2026-12-09/10/5.07.mp4"));
    EXPECT_FALSE(nested.match("2026-12-09/10/05.07.mp4"));  // no channel folder
    EXPECT_FALSE(nested.match("cam1/2026-12-09/10/05.07.mp4.part"));
    EXPECT_FALSE(nested.match("cam1/2026-02-30/10/05.07.mp4"));  // no such day

    // The channel may hold the separator that follows it.
    const auto flat = compiled("%{channel}_%Y-%m-%d_%H-%M-%S.*");
    const auto f = flat.match("front_door_2026-12-09_23-59-58.ts");
    ASSERT_TRUE(f);
    EXPECT_EQ(f->channel, "front_door");
    EXPECT_EQ(f->start, at("20261209235958"));
    EXPECT_FALSE(flat.match("x/_2026-12-09_23-59-58.ts"));
}

TEST(NamePattern, RefusesPatternsThatCannotNameARecording) {
    for (const char* text : {"%Y-%m-%d/%H.mp4", "%{channel}/%Y-%m.mp4", "%{channel}/%Y%m%d%H%q",
                             "%{camera}/%Y%m%d%H.mp4", "/%{channel}/%Y%m%d%H.mp4", "%{channel}%Y%m%d%H%"}) {
        std::string error;
        EXPECT_FALSE(NamePattern::compile(text, &error)) << text;
        EXPECT_NE(error.find(text), std::string::npos) << error;
    }
}

TEST(ChannelMap, MapFirstThenOneTrailingDigit) {
    ChannelMap map;
    ASSERT_TRUE(map.add("garage=4"));
    ASSERT_TRUE(map.add("cam1=2"));  // a map entry wins over the digit
    EXPECT_FALSE(map.add("garage=5"));
    EXPECT_FALSE(map.add("=1"));
    EXPECT_FALSE(map.add("garage"));
    EXPECT_EQ(map.resolve("garage"), 4);
    EXPECT_EQ(map.resolve("cam1"), 2);
    EXPECT_EQ(map.resolve("ch3"), 3);
    EXPECT_EQ(map.resolve("2"), 2);
    EXPECT_FALSE(map.resolve("cam12"));
    EXPECT_FALSE(map.resolve("cam5"));
    EXPECT_FALSE(map.resolve("yard"));
}

TEST(EstimateEnds, UnprobedSegmentsRunToTheNextStartAtMostTheUsualSpacing) {
    std::vector<Recording> all;
    for (const char* start : {"20261209100000", "20261209100010", "20261209100020", "20261209101000"})
        all.push_back({start, start, {1, RecordingType::Mpeg4, at(start), at(start)}, 1});
    all.push_back({"other", "other", {2, RecordingType::Mpeg4, at("20261209100005"), at("20261209100059")}, 1});
    all[1].key.end = at("20261209100013");  // probed: kept
    estimateEnds(all, {true, false, true, true, true});
    EXPECT_EQ(all[0].key.end, at("20261209100010"));
    EXPECT_EQ(all[1].key.end, at("20261209100013"));
    EXPECT_EQ(all[2].key.end, at("20261209100030"));  // a gap follows: the usual 10 s
    EXPECT_EQ(all[3].key.end, at("20261209101010"));
    EXPECT_EQ(all[4].key.end, all[4].key.start);  // alone in its channel: nothing to go by
}

TEST(MediaProbe, FilesProbedOnSeveralThreadsAnswerInTheirOrder) {
    testing_support::TempFolder root;
    std::vector<fs::path> files;
    for (int i = 0; i < 24; ++i) {  // empty files and JPEG pictures in turn
        files.push_back(root.path() / std::to_string(i));
        writeFile(files.back(), i % 2 ? std::string("\xFF\xD8\xFF\xE0", 4) : "");
    }
    const auto all = probeMediaFor(files, 3, std::chrono::hours(1));
    ASSERT_EQ(all.size(), files.size());
    for (size_t i = 0; i < all.size(); ++i) EXPECT_EQ(all[i].ok, i % 2 == 1) << i;
    // A slice that is over at once still answers the first file.
    const auto first = probeMediaFor(files, 3, {});
    ASSERT_FALSE(first.empty());
    for (size_t i = 0; i < first.size(); ++i) EXPECT_EQ(first[i].ok, i % 2 == 1) << i;
}

TEST(FolderIndexer, ProbeAnswersAreKeptUntilAFileChanges) {
    testing_support::TempFolder root;
    writeFile(root.path() / "exports/cam2/a.mp4", "not really a video");
    writeFile(root.path() / "cam1/notes.txt", "hello");
    IndexerOptions options;
    options.root = root.path();
    options.answersFile = root.path() / ".answers";
    options.watch = false;
    auto run = [&] {
        RecordingIndex index;
        FolderIndexer indexer(index, options, [](const std::string&) {});
        EXPECT_TRUE(indexer.start());
        EXPECT_TRUE(indexer.waitUntilIdle(std::chrono::seconds(20)));
        return indexer.countsAfterWalk();
    };
    EXPECT_EQ(run().toProbe, 2u);
    auto again = run();
    EXPECT_EQ(again.answered, 2u);
    EXPECT_EQ(again.toProbe, 0u);
    writeFile(root.path() / "cam1/notes.txt", "hello, longer");
    again = run();
    EXPECT_EQ(again.answered, 1u);
    EXPECT_EQ(again.toProbe, 1u);
}

TEST(FolderIndexer, FollowsFilesAndFoldersThatComeAndGo) {
    testing_support::TempFolder root;
    const char* const first = "ch1_20261209_080000_080010.mp4";
    const char* const later = "ch2_20261209_090000_090010.mp4";
    writeFile(root.path() / "ch1" / first, "a");
    writeFile(root.path() / "ch1" / "empty.mp4", "");
    fs::last_write_time(root.path() / "ch1" / "empty.mp4", fs::file_time_type::clock::now() - std::chrono::hours(1));
    writeFile(root.path() / "ch1" / "opened.mp4", "");  // a segment writer's file, just created
    RecordingIndex index;
    std::mutex lock;
    std::vector<std::string> log;
    IndexerOptions options;
    options.root = root.path();
    FolderIndexer indexer(index, options, [&](const std::string& line) {
        std::lock_guard<std::mutex> guard(lock);
        log.push_back(line);
    });
    ASSERT_TRUE(indexer.start());
    EXPECT_NE(index.find(first), nullptr);
    {
        std::lock_guard<std::mutex> guard(lock);
        EXPECT_NE(std::find(log.begin(), log.end(), "ch1/empty.mp4: skipped: empty file"), log.end());
        EXPECT_NE(std::find(log.begin(), log.end(),
                            "ch1/opened.mp4: not served yet: still being written (empty so far); "
                            "looked at again when it changes"),
                  log.end());
    }
    // A new folder with a file written aside and renamed in, as writers do.
    writeFile(root.path() / "ch2/20261209/.partial", "bb");
    fs::rename(root.path() / "ch2/20261209/.partial", root.path() / "ch2/20261209" / later);
    EXPECT_TRUE(waitFor([&] { return index.find(later) != nullptr; }));
    const auto found = index.find(later);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->size, 2u);
    EXPECT_EQ(found->path, std::string("ch2/20261209/") + later);
    fs::remove(root.path() / "ch1" / first);
    EXPECT_TRUE(waitFor([&] { return index.find(first) == nullptr; }));
    fs::remove_all(root.path() / "ch2");
    EXPECT_TRUE(waitFor([&] { return index.size() == 0; }));
}
