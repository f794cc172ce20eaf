// Row records of the bus archive and the topics the bridge answers to.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "bus/bus_rows.h"
#include "bus/bus_settings.h"
#include "support/utf8.h"

namespace {

// Tags 1..9 exist: 5 is a block, the others have type (index % 5): 1 and 6
// 16-bit, 2 real, 3 and 8 text, 4 and 9 32-bit. 10 is not configured.
std::int16_t FakeType(TagRef ref) {
    std::uint32_t index = TagRefIndex(ref);
    if (index == 0 || index > 9) return kTagNotConfigured;
    if (index == 5) return kTagBlock;
    return static_cast<std::int16_t>(index % 5);
}

TableRecord Rec(const std::vector<std::uint8_t>& r) { return {r.data(), static_cast<std::uint32_t>(r.size())}; }

void Put32(std::vector<std::uint8_t>& r, std::size_t at, std::uint32_t v) { std::memcpy(r.data() + at, &v, 4); }
void Put16(std::vector<std::uint8_t>& r, std::size_t at, std::uint16_t v) { std::memcpy(r.data() + at, &v, 2); }
void PutText(std::vector<std::uint8_t>& r, std::size_t at, const char* t) { std::memcpy(r.data() + at, t, std::strlen(t)); }

std::vector<std::uint8_t> CommandRecord(std::uint32_t trigger, std::uint32_t done, std::uint32_t argument,
                                        std::uint16_t mode, std::uint32_t timeout, const char* topic) {
    std::vector<std::uint8_t> r(kCommandRowSize, 0);
    Put32(r, 0, trigger);
    Put32(r, 4, done);
    Put32(r, 8, argument);
    Put32(r, 12, 3);  // first result: a real
    Put32(r, 16, kInvalidTagRef);
    Put32(r, 20, 8);  // third result: a text
    Put32(r, 24, kInvalidTagRef);
    Put16(r, 28, mode);
    Put32(r, 30, timeout);
    PutText(r, 34, topic);
    return r;
}

TEST(BusRows, TagRowFieldsComeFromTheirPlaces) {
    std::vector<std::uint8_t> r(kTagRowSize, 0);
    Put32(r, 0, 4);
    Put16(r, 4, kRowPublish | kRowAcceptWrites);
    PutText(r, 6, "line/speed");
    TagRow row;
    std::string reason;
    ASSERT_TRUE(DecodeTagRow(Rec(r), &FakeType, row, reason)) << reason;
    EXPECT_EQ(row.tag.ref, 4u);
    EXPECT_EQ(row.tag.type, kTagInt32);
    EXPECT_EQ(row.flags, 3);
    EXPECT_EQ(row.topic, "line/speed");

    // A topic of all 48 bytes has no terminator and is read whole.
    std::memset(r.data() + 6, 'a', kRowTopicSize);
    ASSERT_TRUE(DecodeTagRow(Rec(r), &FakeType, row, reason)) << reason;
    EXPECT_EQ(row.topic, std::string(kRowTopicSize, 'a'));

    Put16(r, 4, 4);
    EXPECT_FALSE(DecodeTagRow(Rec(r), &FakeType, row, reason));
    Put16(r, 4, 1);
    Put32(r, 0, 5);  // a block
    EXPECT_FALSE(DecodeTagRow(Rec(r), &FakeType, row, reason));
    EXPECT_EQ(reason, "block tags are not carried");
}

TEST(BusRows, CommandRowFieldsAndModeComeFromTheirPlaces) {
    auto r = CommandRecord(1, 4, 2, kCommandCount, 1234, "mixer/start");
    CommandRow row;
    std::string reason;
    ASSERT_TRUE(DecodeCommandRow(Rec(r), &FakeType, row, reason)) << reason;
    EXPECT_EQ(row.trigger.ref, 1u);
    EXPECT_EQ(row.done.ref, 4u);
    EXPECT_EQ(row.argument.ref, 2u);
    EXPECT_EQ(row.argument.type, kTagReal);
    ASSERT_EQ(row.results.size(), 2u);  // "none" in between is skipped, order kept
    EXPECT_EQ(row.results[0].ref, 3u);
    EXPECT_EQ(row.results[1].ref, 8u);
    EXPECT_EQ(row.mode, kCommandCount);
    EXPECT_EQ(row.timeout_ms, 1234u);
    EXPECT_EQ(row.topic, "mixer/start");

    // Which records are taken: a done tag that is a text, pulse on a text
    // trigger, an unknown mode, a timeout past the limit, a named argument
    // tag that is not configured; the broadcast bit beside a mode, other bits.
    struct Case {
        std::uint32_t trigger, done, argument;
        std::uint16_t mode;
        std::uint32_t timeout;
        bool taken;
    };
    const std::uint32_t none = kInvalidTagRef;
    for (const Case& c : {Case{1, 6, none, kCommandPulse, 0, true}, Case{1, 3, none, 0, 0, false},
                          Case{3, 1, none, kCommandPulse, 0, false}, Case{3, 1, none, 0, 0, true},
                          Case{1, 4, none, 3, 0, false}, Case{1, 4, none, 0, kMaxCommandTimeoutMs, true},
                          Case{1, 4, none, 0, kMaxCommandTimeoutMs + 1, false}, Case{1, 4, 10, 0, 0, false},
                          Case{1, 4, none, kCommandBroadcast | kCommandPulse, 0, true},
                          Case{1, 4, none, 0x0200, 0, false}, Case{1, 4, none, 0x0103, 0, false}}) {
        const bool taken =
            DecodeCommandRow(Rec(CommandRecord(c.trigger, c.done, c.argument, c.mode, c.timeout, "a")), &FakeType, row, reason);
        EXPECT_EQ(taken, c.taken) << c.trigger << " " << c.done << " " << c.mode << " " << c.timeout << ": " << reason;
        if (taken) {
            EXPECT_FALSE(row.argument.Configured());
            EXPECT_EQ(row.broadcast, (c.mode & kCommandBroadcast) != 0);
            EXPECT_EQ(row.mode, c.mode & kCommandModeMask);
        } else if (c.mode > 0xFF) {
            EXPECT_NE(reason.find("256 for broadcasts"), std::string::npos) << reason;
        }
    }
}

TEST(BusRows, ABroadcastPrefixMayNotOverlapTheStationsOwn) {
    EXPECT_EQ(DefaultBroadcastPrefix("SAMPLE", "pla nt"), "SAMPLE/pla_nt/all");
    for (auto [a, b] : std::vector<std::pair<const char*, const char*>>{
             {"S/p/all", "S/p/all"}, {"S/p", "S/p/all"}, {"S/p/all/x", "S/p/all"}})
        EXPECT_TRUE(PrefixesOverlap(a, b) && PrefixesOverlap(b, a)) << a << " " << b;
    for (auto [a, b] : std::vector<std::pair<const char*, const char*>>{
             {"S/p/all", "S/p/allx"}, {"S/p/st1", "S/p/all"}, {"S/p/al", "S/p/all"}})
        EXPECT_FALSE(PrefixesOverlap(a, b) || PrefixesOverlap(b, a)) << a << " " << b;
    EXPECT_TRUE(TopicUnder("S/p/all", "S/p/all") && TopicUnder("S/p/all/x", "S/p/all"));
    EXPECT_FALSE(TopicUnder("S/p/allx", "S/p/all") || TopicUnder("S/p", "S/p/all") ||
                 TopicUnder("S/p", ""));
}

TEST(BusRows, RowTopicsLeaveRoomForTheBridgesOwn) {
    std::string reason;
    for (const char* good : {"a", "line/speed", "status/x", "x/status", "settings", "calls/x"})
        EXPECT_TRUE(ValidRowTopic(good, reason)) << good;
    for (const char* bad : {"", "status", "error", "/a", "a/", "a//b", "a/+/b", "a#", "a b", "x/set", "call", "a/reply/b"})
        EXPECT_FALSE(ValidRowTopic(bad, reason)) << bad;
    EXPECT_FALSE(ValidRowTopic(std::string(kRowTopicSize + 1, 'a'), reason));
}

// Stored in the station's code page, found and published in UTF-8.
TEST(BusRows, RowTopicsAreCheckedAsStoredAndKeptInUtf8) {
    if (StationCodePage() != 1252) GTEST_SKIP() << "the station's code page is not 1252 here";
    std::vector<std::uint8_t> r(kTagRowSize, 0);
    Put32(r, 0, 3);
    Put16(r, 4, kRowAcceptWrites);
    PutText(r, 6, "l\xEDnea/3");
    TagRow row;
    std::string reason;
    ASSERT_TRUE(DecodeTagRow(Rec(r), &FakeType, row, reason)) << reason;
    BusRows rows;
    rows.Add(row);
    EXPECT_EQ(rows.tag_by_topic.count("l\xC3\xADnea/3"), 1u);
    EXPECT_EQ(ClassifyTopic("l\xC3\xADnea/3/set").base, row.topic);
    // 48 stored bytes are 96 in UTF-8; an undefined byte is no character.
    std::memset(r.data() + 6, 0xE9, kRowTopicSize);
    ASSERT_TRUE(DecodeTagRow(Rec(r), &FakeType, row, reason)) << reason;
    EXPECT_EQ(row.topic.size(), 2u * kRowTopicSize);
    r[6] = 0x9D;
    EXPECT_FALSE(DecodeTagRow(Rec(r), &FakeType, row, reason));
    EXPECT_EQ(reason, "topic holds a byte the station's code page does not define");
}

TEST(BusRows, IncomingTopicsAreClassifiedByTheirFirstReservedLevel) {
    auto is = [](std::string_view topic, TopicRequest::Kind kind, const char* base, const char* id = "") {
        TopicRequest r = ClassifyTopic(topic);
        EXPECT_EQ(r.kind, kind) << topic;
        EXPECT_EQ(r.base, base) << topic;
        EXPECT_EQ(r.request_id, id) << topic;
    };
    is("line/speed/set", TopicRequest::kSet, "line/speed");
    is("line/speed/set/x", TopicRequest::kUnknown, "line/speed");
    is("set", TopicRequest::kUnknown, "");
    is("mixer/start/call", TopicRequest::kCall, "mixer/start");
    is("mixer/start/call/r-17", TopicRequest::kCall, "mixer/start", "r-17");
    is("mixer/start/call/", TopicRequest::kUnknown, "mixer/start");
    is("mixer/start/call/a/b", TopicRequest::kUnknown, "mixer/start");
    is("mixer/start/reply/r-17", TopicRequest::kOwn, "mixer/start");
    is("status", TopicRequest::kOwn, "");
    is("error", TopicRequest::kOwn, "");
    is("line/speed", TopicRequest::kState, "line/speed");
}

TEST(BusRows, ATopicIsTakenOncePerKind) {
    BusRows rows;
    TagRow a;
    CommandRow c;
    a.topic = c.topic = "x";
    EXPECT_TRUE(rows.Add(a) && !rows.Add(a) && rows.Add(c) && !rows.Add(c));
    EXPECT_EQ(rows.tags.size() + rows.commands.size(), 2u);
}

}  // namespace
