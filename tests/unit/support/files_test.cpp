#include "support/files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "scratch_fixture.h"

namespace {

using supporttest::Record;

class FilesTest : public supporttest::ScratchTest {};

TEST(FilePackTime, PacksFieldsIntoTheirBits) {
    EXPECT_EQ(file_pack_time(2006, 3, 5, 14, 7, 9),
              (26u << 26) | (3u << 22) | (5u << 17) | (14u << 12) | (7u << 6) | 9u);
    EXPECT_EQ(file_pack_time(1980, 1, 1, 0, 0, 0), (1u << 22) | (1u << 17));
    // The year wraps modulo 64; fields never spill into their neighbours.
    EXPECT_EQ(file_pack_time(2044, 12, 31, 23, 59, 59) >> 26, 0u);
    EXPECT_EQ(file_pack_time(2043, 12, 31, 23, 59, 59) >> 26, 63u);
}

TEST_F(FilesTest, ListingReportsEveryEntry) {
    Write("list/a.txt", "12345");
    Write("list/b.txt", "");
    Write("list/c.log", "x");
    std::filesystem::create_directories(dir_ / "list" / "sub");
    Record r(path_set_directory(nullptr, Path("list").c_str()));
    // Every entry but "." and "..": a directory with "/", a file with its size.
    auto list = [&r] {
        std::set<std::string> out;
        for (int rc = dir_first(r.p); rc == 0; rc = dir_next(r.p)) {
            EXPECT_NE(r->timestamp, 0u);
            if (r->name[0] == '.') continue;
            const int kind = r->is_directory;
            out.insert(r->name + (kind == 1 ? std::string("/") : kind == 0 ? ":" + std::to_string(r->size) : "?"));
        }
        EXPECT_EQ(dir_next(r.p), -1);  // stays at the end
        dir_close(r.p);
        return out;
    };
    path_set_name_pattern(r.p, "*.txt");
    EXPECT_EQ(list(), (std::set<std::string>{"a.txt:5", "b.txt:0"}));
    path_set_name_pattern(r.p, "");
    EXPECT_EQ(list(), (std::set<std::string>{"a.txt:5", "b.txt:0", "c.log:1", "sub/"}));
    dir_close(r.p);  // nothing open: no effect

    // A listing still open when the record is freed goes with it.
    PathRecord* open = path_set_directory(nullptr, Path("list").c_str());
    EXPECT_EQ(dir_first(open), 0);
    path_free(open);

    Record none(path_set_directory(nullptr, Path("missing").c_str()));
    EXPECT_EQ(dir_first(none.p), -1);
    EXPECT_EQ(none->listing, nullptr);
}

}  // namespace
