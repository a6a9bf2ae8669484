#include "RecordingIndex.h"

#include "RecorderProcess.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace recorder;

namespace {

CivilSeconds at(const char* compact) { return *parseCompact(compact); }

std::vector<std::string> names(const RecordingIndex::Found& found) {
    std::vector<std::string> out;
    for (auto* r : found) out.push_back(r->name);
    return out;
}

}  // namespace

TEST(CivilTime, CompactFormRoundTripsAndRejectsImpossibleDates) {
    EXPECT_EQ(formatCompact(at("20110305140709")), "20110305140709");
    EXPECT_EQ(formatCompact(at("20240229235959") + 1), "20240301000000");
    EXPECT_EQ(at("19700101000000"), 0);
    EXPECT_FALSE(parseCompact("20230229000000"));  // not a leap year
    EXPECT_FALSE(parseCompact("20231301000000"));
    EXPECT_FALSE(parseCompact("20230101240000"));
    EXPECT_FALSE(parseCompact("2023010100000"));
    EXPECT_FALSE(parseCompact("2023010100000x"));
}

TEST(RecordingName, ParsesChannelTypeAndTimes) {
    const auto key = parseRecordingName("ch3_20261208_101500_101800.mp4");
    ASSERT_TRUE(key);
    EXPECT_EQ(key->channel, 3);
    EXPECT_EQ(key->type, RecordingType::Mpeg4);
    EXPECT_EQ(key->start, at("20261208101500"));
    EXPECT_EQ(key->end, at("20261208101800"));
    EXPECT_EQ(makeRecordingName(*key), "ch3_20261208_101500_101800.mp4");

    const auto picture = parseRecordingName("ch1_20261208_080000_080000.jpg");
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->type, RecordingType::Jpeg);
    EXPECT_EQ(picture->start, picture->end);
}

TEST(RecordingName, EndBeforeStartRunsPastMidnight) {
    const auto key = parseRecordingName("ch2_20261231_235950_000010.mp4");
    ASSERT_TRUE(key);
    EXPECT_EQ(key->end, at("20270101000010"));
}

TEST(RecordingName, RefusesOtherNames) {
    for (const char* name :
         {"ch0_20261208_101500_101800.mp4", "ch5_20261208_101500_101800.mp4",
          "ch1_20261308_101500_101800.mp4", "ch1_20261208_106000_101800.mp4",
          "ch1_20261208_101500_101800.avi", "ch1_20261208_101500_101800.mp4.part",
          "../20261208_101500_101800.mp4", "ch1_2026120__101500_101800.mp4", "", "notes.txt"})
        EXPECT_FALSE(parseRecordingName(name)) << name;
}

class IndexSearch : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {
                 "ch1_20261208_235000_000500.mp4",  // runs into the 9th
                 "ch1_20261209_080000_080010.mp4", "ch1_20261209_100000_120000.mp4",
                 "ch1_20261209_090000_090010.mp4", "ch1_20261210_000000_000010.mp4",
                 "ch1_20261209_090000_090000.jpg", "ch2_20261209_090000_090010.mp4"})
            ASSERT_TRUE(index.add("somewhere", name, 1000));
        index.finish();
    }
    std::vector<std::string> day9(int channel, RecordingType type) {
        return names(index.search(
            {channel, type, true, at("20261209000000"), at("20261209235959")}));
    }
    RecordingIndex index;
};

TEST_F(IndexSearch, RangeKeepsOverlappingRecordingsOfOneChannelAndTypeByStart) {
    EXPECT_EQ(day9(1, RecordingType::Mpeg4),
              (std::vector<std::string>{"ch1_20261208_235000_000500.mp4",
                                        "ch1_20261209_080000_080010.mp4",
                                        "ch1_20261209_090000_090010.mp4",
                                        "ch1_20261209_100000_120000.mp4"}));
    EXPECT_EQ(day9(1, RecordingType::Jpeg),
              (std::vector<std::string>{"ch1_20261209_090000_090000.jpg"}));
    EXPECT_EQ(day9(2, RecordingType::Mpeg4),
              (std::vector<std::string>{"ch2_20261209_090000_090010.mp4"}));
    EXPECT_TRUE(day9(3, RecordingType::Mpeg4).empty());
}

TEST_F(IndexSearch, RangeEdgesAreInclusive) {
    // A long recording that started before the range is found from inside it.
    EXPECT_EQ(names(index.search({1, RecordingType::Mpeg4, true, at("20261209110000"),
                                  at("20261209110001")})),
              (std::vector<std::string>{"ch1_20261209_100000_120000.mp4"}));
    EXPECT_EQ(names(index.search({1, RecordingType::Mpeg4, true, at("20261209080010"),
                                  at("20261209090000")})),
              (std::vector<std::string>{"ch1_20261209_080000_080010.mp4",
                                        "ch1_20261209_090000_090010.mp4"}));
    EXPECT_TRUE(index.search({1, RecordingType::Mpeg4, true, at("20261209090011"),
                              at("20261209095959")})
                    .empty());
    // An end before the start finds nothing.
    EXPECT_TRUE(index.search({1, RecordingType::Mpeg4, true, at("20261209235959"),
                              at("20261209000000")})
                    .empty());
}

TEST_F(IndexSearch, NoLimitGivesTheWholeChannelInOrder) {
    const auto all = names(index.search({1, RecordingType::Mpeg4, false, 0, 0}));
    ASSERT_EQ(all.size(), 5u);
    EXPECT_EQ(all.front(), "ch1_20261208_235000_000500.mp4");
    EXPECT_EQ(all.back(), "ch1_20261210_000000_000010.mp4");
    EXPECT_TRUE(index.search({0, RecordingType::Mpeg4, false, 0, 0}).empty());
    EXPECT_TRUE(index.search({5, RecordingType::Mpeg4, false, 0, 0}).empty());
}

TEST_F(IndexSearch, FindsByExactNameOnly) {
    const auto r = index.find("ch1_20261209_080000_080010.mp4");
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(index.relativePath(*r), "somewhere/ch1_20261209_080000_080010.mp4");
    EXPECT_EQ(index.find("ch1_20261209_080000_080010"), nullptr);
    EXPECT_EQ(index.find("../somewhere/ch1_20261209_080000_080010.mp4"), nullptr);
}


TEST(RecordingIndex, OfRepeatedNamesTheFirstPathIsKeptAndTheOthersReported) {
    const RecordingKey eight{1, RecordingType::Mpeg4, at("20261209080000"), at("20261209080010")};
    const RecordingKey seven{1, RecordingType::Mpeg4, at("20261209070000"), at("20261209070010")};
    RecordingIndex index;
    std::vector<std::pair<std::string, std::string>> dropped;
    index.replace({{"same.mp4", "b/same.mp4", eight, 1}, {"other.mp4", "other.mp4", seven, 1},
                   {"same.mp4", "a/same.mp4", eight, 1}},
                  &dropped);
    EXPECT_EQ(dropped, (std::vector<std::pair<std::string, std::string>>{{"b/same.mp4", "a/same.mp4"}}));
    ASSERT_NE(index.find("same.mp4"), nullptr);
    EXPECT_EQ(index.find("same.mp4")->path, "a/same.mp4");
    EXPECT_NE(index.find("other.mp4"), nullptr);
    EXPECT_EQ(names(index.search({1, RecordingType::Mpeg4, false, 0, 0})),
              (std::vector<std::string>{"other.mp4", "same.mp4"}));
}
