#include "config/task_tables.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "support/archive_writer.h"
#include "tests/support/tags_fixture.h"
#include "tests/support/scratch_dir.h"

namespace fs = std::filesystem;
using tagtest::KernelFixture;

namespace {

struct TableSpec {
    std::uint16_t type;
    const char* name;
    std::uint32_t record_size;
    std::uint32_t records;  // record k holds bytes k*16 + i
    bool has_data = true;
};

class TaskTablesTest : public KernelFixture {
protected:
    void SetUp() override {
        KernelFixture::SetUp();
        fs::create_directories(dir_ / "plant" / "ct");
        TaskState& state = task_state();
        copy_fixed(state.vd_app, kEnvDirSize, dir_.string().c_str());
        copy_fixed(state.vd_domain, kEnvDomainSize, "plant");
        ClearStatus();
    }
    fs::path ArchivePath() const { return dir_ / "plant" / "ct" / "VDWINUT.ct"; }

    // Writes the task's archive with the archive writer.
    void Build(const std::vector<TableSpec>& tables) {
        CtArchive ct{};
        ASSERT_EQ(ct_create(&ct, dir_.string().c_str(), "plant/ct/VDWINUT.ct"), CT_OK);
        for (const TableSpec& t : tables) {
            ASSERT_EQ(ct_add_table(&ct, t.type, t.name, nullptr, 0, t.record_size, t.has_data), CT_OK);
            if (!t.has_data) continue;
            for (std::uint32_t k = 0; k < t.records; ++k) {
                std::vector<std::uint8_t> rec(t.record_size + 1);
                for (std::uint32_t i = 0; i < t.record_size; ++i) rec[i] = static_cast<std::uint8_t>(k * 16 + i);
                ASSERT_EQ(ct_append_records(&ct, rec.data(), rec.size(), 1), CT_OK);
            }
        }
        ASSERT_EQ(ct_close(&ct), CT_OK);
    }

    vdtest::ScratchDir scratch_{"task_tables_"};
    const fs::path dir_ = scratch_.Dir();
};

const std::vector<TableSpec> kTables = {
    {1, "SYSCMD", 12, 3},
    {2, "KEYBOARD", 0, 2},
    {4, "EVENTLOG", 40, 1},
    {9, "EMPTY", 0, 0, false},
    {1, "SMALL", 8, 2},
};

TEST_F(TaskTablesTest, MissingArchiveIsLeftToTheCaller) {
    TaskConfigReader reader("VDWINUT");
    EXPECT_EQ(reader.is_open, 0u);
    EXPECT_STREQ(reader.path, "plant/ct/VDWINUT.ct");
    EXPECT_EQ(reader.TableType(), -1);
    EXPECT_EQ(reader.ReadRecord(0), nullptr);
    EXPECT_EQ(StatusText(), "") << "the reader reports nothing";

    // A name that would not fit the path is not opened under a cut name.
    Build(kTables);
    std::string huge(200, 'n');
    TaskConfigReader too_long(huge.c_str());
    EXPECT_EQ(too_long.is_open, 0u);
    EXPECT_LT(std::strlen(too_long.path), sizeof too_long.path);
    TaskConfigReader null_name(nullptr);
    EXPECT_EQ(null_name.is_open, 0u);
}

TEST_F(TaskTablesTest, WalksTablesAndRecords) {
    Build(kTables);
    TaskConfigReader reader("VDWINUT");
    ASSERT_EQ(reader.is_open, 1u);
    ASSERT_EQ(reader.table_count, 5u);
    EXPECT_EQ(reader.current_table, -1);
    EXPECT_EQ(reader.ReadRecord(0), nullptr) << "no table selected: nothing read";
    EXPECT_NE(reader.LastReadResult(), CT_OK);

    ASSERT_EQ(reader.SelectTable(0), 0);
    EXPECT_EQ(reader.TableType(), 1);
    EXPECT_EQ(reader.RecordCount(), 3);
    const std::uint8_t* rec = reader.ReadRecord(2);
    ASSERT_NE(rec, nullptr);
    EXPECT_EQ(reader.record_capacity, 12u);
    for (int i = 0; i < 12; ++i) EXPECT_EQ(rec[i], 32 + i);
    EXPECT_EQ(reader.LastReadResult(), CT_OK);

    // Record size 0: nothing read, the earlier buffer comes back.
    ASSERT_EQ(reader.SelectTable(1), 0);
    EXPECT_EQ(reader.TableType(), 2);
    EXPECT_EQ(reader.RecordCount(), 2);
    EXPECT_EQ(reader.ReadRecord(1), rec);
    EXPECT_EQ(reader.record_capacity, 12u);

    // Larger records replace the buffer; smaller ones reuse it.
    ASSERT_EQ(reader.SelectTable(2), 0);
    EXPECT_EQ(reader.TableType(), 4);
    rec = reader.ReadRecord(0);
    ASSERT_NE(rec, nullptr);
    EXPECT_EQ(reader.record_capacity, 40u);
    EXPECT_EQ(rec[39], 39);
    ASSERT_EQ(reader.SelectTable(3), 0);
    EXPECT_EQ(reader.TableType(), 9);
    EXPECT_EQ(reader.RecordCount(), 0);
    ASSERT_EQ(reader.SelectTable(4), 0);
    const std::uint8_t* small = reader.ReadRecord(1);
    EXPECT_EQ(small, rec);
    EXPECT_EQ(reader.record_capacity, 40u);
    EXPECT_EQ(small[0], 16);
    EXPECT_EQ(small[7], 23);
    EXPECT_EQ(StatusText(), "");

    // A record size 0 table first: no buffer to hand back.
    Build({{2, "KEYBOARD", 0, 3}, {1, "SYSCMD", 4, 1}});
    TaskConfigReader zero_first("VDWINUT");
    ASSERT_EQ(zero_first.SelectTable(0), 0);
    EXPECT_EQ(zero_first.ReadRecord(0), nullptr);
    EXPECT_EQ(zero_first.record_capacity, 0u);
}

TEST_F(TaskTablesTest, RefusalsAreReported) {
    Build(kTables);
    TaskConfigReader reader("VDWINUT");
    ASSERT_EQ(reader.SelectTable(2), 0);

    EXPECT_NE(reader.SelectTable(5), 0);
    EXPECT_EQ(StatusText(), "CTINDEX 5");
    EXPECT_EQ(reader.current_table, 2) << "the previous table stays selected";
    EXPECT_EQ(reader.TableType(), 4);
    EXPECT_EQ(reader.RecordCount(), 1);
    EXPECT_NE(reader.SelectTable(-1), 0);
    EXPECT_EQ(StatusText(), "CTINDEX -1");

    ClearStatus();
    EXPECT_NE(reader.ReadRecord(1), nullptr) << "the buffer comes back after a refused read";
    EXPECT_EQ(StatusText(), "CTRECORD 2 1");
    EXPECT_EQ(reader.LastReadResult(), CT_ERR_RANGE);
    reader.ReadRecord(-3);
    EXPECT_EQ(StatusText(), "CTRECORD 2 -3");

    // A record size 0 table is never read, so nothing is refused.
    ASSERT_EQ(reader.SelectTable(1), 0);
    ClearStatus();
    reader.ReadRecord(7);
    EXPECT_EQ(StatusText(), "");
}

// Cut and malformed archives are refused by the archive reader (its own
// tests) and reported per record by the task (TruncatedArchiveBuildsNoRow...);
// the record size in the index is the reader's own to check.
TEST_F(TaskTablesTest, AbsurdRecordSizeIsRefusedWithoutHarm) {
    Build(kTables);
    std::string huge = vdtest::ReadFile(ArchivePath());
    const std::uint32_t size = 0xFFFFFFF0u;
    huge.replace(8 + 0 * 28 + 20, 4, reinterpret_cast<const char*>(&size), 4);
    vdtest::WriteFile(ArchivePath(), huge);
    TaskConfigReader reader("VDWINUT");
    ASSERT_EQ(reader.SelectTable(0), 0);
    ClearStatus();
    EXPECT_EQ(reader.ReadRecord(0), nullptr);
    EXPECT_EQ(StatusText(), "NOMEMORY");
    EXPECT_EQ(reader.record_capacity, 0u);
    EXPECT_EQ(reader.LastReadResult(), CT_ERR_NOMEM);
}

}  // namespace
