#include "support/files.h"

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <set>
#include <string>
#include <utility>

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

TEST_F(FilesTest, StatTellsFilesDirectoriesAndMissing) {
    Write("s/f.bin", "abc");
    Record file(path_parse(nullptr, Path("s/f.bin").c_str()));
    EXPECT_EQ(path_stat(file.p), 0);
    EXPECT_EQ(file->size, 3u);
    EXPECT_STREQ(file->name, "f.bin");
    std::time_t now = std::time(nullptr);
    int year = std::gmtime(&now)->tm_year + 1900;
    EXPECT_EQ(file->timestamp >> 26, static_cast<unsigned>((year - 1980) % 64));

    Record dir(path_set_directory(nullptr, Path("s").c_str()));
    EXPECT_EQ(path_stat(dir.p), 1);
    Record trailing(path_set_directory(nullptr, (Path("s") + "/").c_str()));
    EXPECT_EQ(path_stat(trailing.p), 1);
    // Missing, and drive roots by the drive mask: -1 and no timestamp.
    const std::pair<std::string, int> others[] = {{".", 1}, {"\\", 1}, {"c:\\", 1}, {"Q:\\", -1}, {"1:\\", -1},
                                                  {Path("s/none"), -1}};
    for (const auto& [text, kind] : others) {
        Record r(path_parse(nullptr, text.c_str()));
        r->timestamp = 7;
        EXPECT_EQ(path_stat(r.p), kind) << text;
        EXPECT_TRUE(kind > 0 || r->timestamp == 0u) << text;
    }
}

TEST_F(FilesTest, MakeRemoveCreateDelete) {
    Record deep(path_set_directory(nullptr, Path("m/a/b/c").c_str()));
    EXPECT_EQ(dir_make(deep.p), 0);
    EXPECT_TRUE(std::filesystem::is_directory(dir_ / "m/a/b/c"));
    EXPECT_EQ(dir_make(deep.p), 0);  // every level exists

    // The record's name is not part of the directory chain.
    Record with_name(path_parse(nullptr, Path("m/x/file.txt").c_str()));
    EXPECT_EQ(dir_make(with_name.p), 0);
    EXPECT_TRUE(std::filesystem::is_directory(dir_ / "m/x"));
    EXPECT_FALSE(std::filesystem::exists(dir_ / "m/x/file.txt"));

    EXPECT_EQ(file_create(with_name.p), 0);
    EXPECT_TRUE(std::filesystem::is_regular_file(dir_ / "m/x/file.txt"));
    Write("m/x/file.txt", "old content");
    EXPECT_EQ(file_create(with_name.p), 0);
    EXPECT_EQ(std::filesystem::file_size(dir_ / "m/x/file.txt"), 0u);
    EXPECT_EQ(file_delete(with_name.p), 0);
    EXPECT_EQ(file_delete(with_name.p), -1);

    Record c(path_set_directory(nullptr, Path("m/a/b/c").c_str()));
    EXPECT_EQ(dir_remove(c.p), 0);
    EXPECT_EQ(dir_remove(c.p), -1);
    Record a(path_set_directory(nullptr, Path("m/a").c_str()));
    EXPECT_EQ(dir_remove(a.p), -1);  // not empty

    Record no_drive(path_set_directory(nullptr, "Q:\\vdtest\\x"));
    EXPECT_EQ(dir_make(no_drive.p), -1);
    Record no_parent(path_parse(nullptr, Path("m/none/f.txt").c_str()));
    EXPECT_EQ(file_create(no_parent.p), -1);
}

}  // namespace
