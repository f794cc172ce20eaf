#include "support/files.h"

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "support/environment.h"
#include "tests/support/scratch_dir.h"

namespace {

struct Record {
    PathRecord* p;
    explicit Record(PathRecord* record) : p(record) {}
    ~Record() { path_free(p); }
    PathRecord* operator->() const { return p; }
};

class FilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        env_set("VDHOST", (dir_ / ".host").generic_string().c_str());
    }
    void TearDown() override {
        env_set("VDHOST", nullptr);
    }
    std::string Path(const std::string& relative = "") const {
        std::string p = dir_.generic_string();
        return relative.empty() ? p : p + "/" + relative;
    }
    void Write(const std::string& relative, const std::string& content) const {
        vdtest::WriteFile(dir_ / relative, content);
    }
    vdtest::ScratchDir scratch_{"vdfiles_"};
    const std::filesystem::path dir_ = scratch_.Dir();
};

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
    path_set_name_pattern(r.p, "*.txt");
    std::set<std::string> names;
    for (int rc = dir_first(r.p); rc == 0; rc = dir_next(r.p)) {
        names.insert(r->name);
        EXPECT_EQ(r->is_directory, 0);
        if (std::string(r->name) == "a.txt") {
            EXPECT_EQ(r->size, 5u);
        }
    }
    dir_close(r.p);
    EXPECT_EQ(names, (std::set<std::string>{"a.txt", "b.txt"}));

    path_set_name_pattern(r.p, "");
    std::set<std::string> dirs, all;
    for (int rc = dir_first(r.p); rc == 0; rc = dir_next(r.p)) {
        all.insert(r->name);
        if (r->is_directory == 1) dirs.insert(r->name);
        EXPECT_NE(r->timestamp, 0u);
    }
    EXPECT_EQ(dir_next(r.p), -1);  // stays at the end
    dir_close(r.p);
    dir_close(r.p);  // nothing open: no effect
    EXPECT_TRUE(all.count("c.log") == 1 && all.count("sub") == 1) << all.size();
    EXPECT_EQ(dirs.count("sub"), 1u);
    EXPECT_EQ(dirs.count("a.txt"), 0u);

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
    Record dot(path_parse(nullptr, "."));
    EXPECT_EQ(path_stat(dot.p), 1);
    Record root(path_parse(nullptr, "\\"));
    EXPECT_EQ(path_stat(root.p), 1);

    Record missing(path_parse(nullptr, Path("s/none").c_str()));
    missing->timestamp = 7;
    EXPECT_EQ(path_stat(missing.p), -1);
    EXPECT_EQ(missing->timestamp, 0u);

    // Drive roots go by the drive mask.
    Record bad_drive(path_parse(nullptr, "Q:\\"));
    EXPECT_EQ(path_stat(bad_drive.p), -1);
    EXPECT_EQ(bad_drive->timestamp, 0u);
    Record not_a_letter(path_parse(nullptr, "1:\\"));
    EXPECT_EQ(path_stat(not_a_letter.p), -1);
    Record c_root(path_parse(nullptr, "c:\\"));
    EXPECT_EQ(path_stat(c_root.p), 1);
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
