#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "chart/header.h"

namespace {

// The header records read from `text`.
struct Header {
    HeaderLines header;
    Header() = default;
    Header(const Header &) = delete;
    ~Header() { header_lines_free(header); }
};
using Reader = std::unique_ptr<Header>;

Reader header_of(const std::string &text, int32_t limit = 1000, int32_t *count = nullptr) {
    Reader r = std::make_unique<Header>();
    ChartStream *s = stream_open_memory(reinterpret_cast<const uint8_t *>(text.data()), static_cast<int64_t>(text.size()));
    const int32_t n = kap_read_header(r->header, s, limit);
    stream_close(s);
    if (count) *count = n;
    return r;
}

std::string record(const Reader &r, int i) { return r->header.lines[i]; }

std::string field(const char *rec, const char *key, int tokens) {
    FieldText v = kap_get_field(rec, key, tokens);
    return v ? std::string(v.get()) : std::string("<none>");
}

}  // namespace

TEST(HeaderReader, JoinsContinuationLinesWithExactlyOneComma) {
    const std::string joined = "KNP/SC=80000,GD=NAD83,PR=MERCATOR,PP=-81.0,PI=0.0,SK=0.0,UN=METERS\r\n";
    for (const char *first : {"KNP/SC=80000,GD=NAD83,PR=MERCATOR,PP=-81.0,\r\n",
                              "KNP/SC=80000,GD=NAD83,PR=MERCATOR,PP=-81.0\r\n"}) {
        int32_t n = 0;
        Reader r = header_of(std::string(first) + "    PI=0.0,SK=0.0,UN=METERS\r\n\x1a", 1000, &n);
        ASSERT_EQ(n, 1);
        EXPECT_EQ(record(r, 0), joined);
    }
}

TEST(HeaderReader, JoinsAcrossCommentsAndSeveralLinesAndKeepsExtraBlanks) {
    int32_t n = 0;
    Reader r = header_of("VER/3.0\r\nBSB/NA=X\r\n! a comment\r\n    NU=1\r\n     RA=5,6\r\nOST/1\r\n", 1000, &n);
    ASSERT_EQ(n, 3);
    EXPECT_EQ(record(r, 1), "BSB/NA=X,NU=1, RA=5,6\r\n");
    EXPECT_EQ(record(r, 2), "OST/1\r\n");
}

TEST(HeaderReader, DropsContinuationBeforeAnyRecordAndJoinsBareLineFeeds) {
    int32_t n = 0;
    Reader r = header_of("    stray preamble\r\nVER/3.0\nKNP/PR=MERCATOR\n    PP=1.0\n", 1000, &n);
    ASSERT_EQ(n, 2);
    EXPECT_EQ(record(r, 0), "VER/3.0\n");
    EXPECT_EQ(record(r, 1), "KNP/PR=MERCATOR,PP=1.0\n");
}

TEST(HeaderReader, JoinsOntoRecordsTooShortToHaveAFieldWithinTheirStorage) {
    int32_t n = 0;
    Reader r = header_of("\r\n    A=1\r\nX\r\n    B=2\r\n", 1000, &n);
    ASSERT_EQ(n, 2);
    EXPECT_EQ(record(r, 0), "A=1\r\n");
    EXPECT_EQ(record(r, 1), "X,B=2\r\n");
}

TEST(HeaderReader, ReadsLongLinesIn499BytePiecesEachClassifiedOnItsOwn) {
    const std::string first(499, 'A');
    int32_t n = 0;
    Reader r = header_of(first + std::string(199, 'B') + "\r\n" + first + "!comment\r\n", 1000, &n);
    ASSERT_EQ(n, 3);
    EXPECT_EQ(record(r, 0), first);
    EXPECT_EQ(record(r, 1), std::string(199, 'B') + "\r\n");
    EXPECT_EQ(record(r, 2), first);   // the piece that begins with "!" is a comment
    // A continuation piece joins onto a record without a line end: nothing
    // of the record is lost.
    Reader joined = header_of(first + "    C=1\r\n", 1000, &n);
    ASSERT_EQ(n, 1);
    EXPECT_EQ(record(joined, 0), first + ",C=1\r\n");
}

TEST(HeaderReader, StopsAtCtrlZAndCountsOnlyRecords) {
    int32_t n = 0;
    Reader r = header_of("! only a comment\r\nVER/3.0\r\n\x1a\r\nKNP/PR=X\r\n", 1000, &n);
    EXPECT_EQ(n, 1);
    header_of("\x1aVER/3.0\r\n", 1000, &n);
    EXPECT_EQ(n, 0);
    header_of("", 1000, &n);
    EXPECT_EQ(n, 0);
    HeaderLines none;
    EXPECT_EQ(kap_read_header(none, nullptr, 1000), -1);
}

TEST(HeaderReader, KeepsAtMostTheLimitAndLeavesTheLastRecordUnextended) {
    std::string text;
    for (int i = 0; i < 150; ++i) {
        text += 'R';
        text += std::to_string(i);
        text += "/X=1\r\n! c\r\n    Y=2\r\n";
    }
    int32_t n = 0;
    Reader r = header_of(text, 100, &n);
    EXPECT_EQ(n, 100);
    EXPECT_EQ(record(r, 98), "R98/X=1,Y=2\r\n");
    EXPECT_EQ(record(r, 99), "R99/X=1\r\n");
}

TEST(HeaderReader, KeepsHundredsOfRecordsInFileOrder) {
    // Records beyond any first guess at their number, each kept whole and
    // in order, continuations joined onto the right one.
    std::string text;
    for (int i = 0; i < 997; ++i) text += "REC/" + std::to_string(i) + (i % 50 == 7 ? "\r\n    MORE=" + std::to_string(i) : "") + "\r\n";
    int32_t n = 0;
    Reader r = header_of(text, 1000, &n);
    ASSERT_EQ(n, 997);
    for (int i = 0; i < 997; ++i)
        ASSERT_EQ(record(r, i), "REC/" + std::to_string(i) + (i % 50 == 7 ? ",MORE=" + std::to_string(i) : "") + "\r\n")
            << i;
}

TEST(RecordLookup, FindsTheFirstRecordByItsThreeLetterName) {
    Reader r = header_of("VER/3.0\r\nKNP/A=1\r\nKNP/A=2\r\n");
    const HeaderLines &h = r->header;
    EXPECT_STREQ(kap_find_record(h, "KNP"), "KNP/A=1\r\n");
    EXPECT_STREQ(kap_find_record(h, "KNPX"), "KNP/A=1\r\n");
    EXPECT_EQ(kap_find_record(h, "knp"), nullptr);
    EXPECT_EQ(kap_find_record(HeaderLines{}, "VER"), nullptr);
}

TEST(FieldLookup, ReturnsTheFieldAfterItsKeyJoinedWithFollowingTokens) {
    const char *bsb = "BSB/NA=HARBOUR,NU=123,RA=9000,6000,DU=254\r\n";
    EXPECT_EQ(field(bsb, "RA", 2), "9000,6000");
    EXPECT_EQ(field(bsb, "RA", 1), "9000");
    EXPECT_EQ(field(bsb, "NU", 1), "123");
    EXPECT_EQ(field(bsb, "DU", 1), "254\r\n");
    EXPECT_EQ(field(bsb, "XX", 1), "<none>");
    // More tokens than the record holds: what was joined so far.
    EXPECT_EQ(field(bsb, "DU", 3), "254\r\n");
    // The record name is never a field, and the record is left alone.
    EXPECT_EQ(field(bsb, "BSB", 1), "<none>");
    EXPECT_STREQ(bsb, "BSB/NA=HARBOUR,NU=123,RA=9000,6000,DU=254\r\n");
}

TEST(FieldLookup, MatchesTokensThatMerelyBeginWithTheKey) {
    const char *bsb = "BSB/NA=CAPE,RACE POINT,RA=9000,6000\r\n";
    EXPECT_EQ(field(bsb, "RA", 1), "E POINT");
    EXPECT_EQ(field(bsb, "RA", 2), "E POINT,RA=9000");
    // A three-character key keeps the '=' in front of the value.
    EXPECT_EQ(field("ARC/UX=1, UN=Meters\r\n", " UN", 1), "=Meters\r\n");
    // Empty fields are skipped; a token shorter than three characters
    // gives an empty value instead of reading past it.
    EXPECT_EQ(field("KNP/A=1,,SK=5", "SK", 1), "5");
    EXPECT_EQ(field("KNP/RA,7", "RA", 1), "");
    EXPECT_EQ(field("NOSLASH", "NO", 1), "<none>");
}

