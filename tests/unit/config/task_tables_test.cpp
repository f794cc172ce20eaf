// The walk over the task's configuration tables, as both tasks read them:
// records of the types asked for, in table and record order, read whole;
// short and absurd records refused per table.
#include "config/task_tables.h"

#include "support/archive_writer.h"
#include "tests/support/log_fixture.h"

namespace fs = std::filesystem;

namespace {

struct TableSpec {
    std::uint16_t type;
    const char* name;
    std::uint32_t record_size;
    std::uint32_t records;  // byte i of record k of table t: t * 50 + k * 16 + i
    bool has_data = true;
};

const std::vector<TableSpec> kTables = {
    {1, "SYSCMD", 12, 3}, {2, "KEYBOARD", 0, 2}, {4, "EVENTLOG", 40, 1}, {9, "EMPTY", 0, 0, false}, {1, "SMALL", 8, 2},
};

class TaskTablesTest : public logtest::TaskFixture {
protected:
    void SetUp() override {
        TaskFixture::SetUp();
        ASSERT_NO_FATAL_FAILURE(AttachWithOther());
        fs::create_directories(dir_ / "plant" / "ct");
        TaskState& state = task_state();
        copy_fixed(state.vd_app, kEnvDirSize, dir_.string().c_str());
        copy_fixed(state.vd_domain, kEnvDomainSize, "plant");
        ClearMessageTag();
    }
    fs::path ArchivePath() const { return dir_ / "plant" / "ct" / "VDWINUT.ct"; }

    // Writes the task's archive with the archive writer.
    void Build(const std::vector<TableSpec>& tables) {
        CtArchive ct{};
        ASSERT_EQ(ct_create(&ct, dir_.string().c_str(), "plant/ct/VDWINUT.ct"), CT_OK);
        for (std::size_t t = 0; t < tables.size(); ++t) {
            const TableSpec& spec = tables[t];
            ASSERT_EQ(ct_add_table(&ct, spec.type, spec.name, nullptr, 0, spec.record_size, spec.has_data), CT_OK);
            for (std::uint32_t k = 0; spec.has_data && k < spec.records; ++k) {
                std::vector<std::uint8_t> rec(spec.record_size + 1);
                for (std::uint32_t i = 0; i < spec.record_size; ++i)
                    rec[i] = static_cast<std::uint8_t>(t * 50 + k * 16 + i);
                ASSERT_EQ(ct_append_records(&ct, rec.data(), rec.size(), 1), CT_OK);
            }
        }
        ASSERT_EQ(ct_close(&ct), CT_OK);
    }

    // The walk with minimum sizes 10 for type 1 and 40 for type 4 (others
    // skipped): each record visited as "type/table/record:size:first,last".
    std::vector<std::string> Walk() {
        std::vector<std::string> seen;
        WalkTaskTables(
            "VDWINUT", [](std::int32_t type) { return type == 1 ? 10u : type == 4 ? 40u : 0u; },
            [&](std::int32_t type, const TableRecord& r) {
                seen.push_back(std::to_string(type) + "/" + std::to_string(r.table) + "/" + std::to_string(r.index) +
                               ":" + std::to_string(r.size) + ":" + std::to_string(r.data[0]) + "," +
                               std::to_string(r.data[r.size - 1]));
            });
        return seen;
    }
};

TEST_F(TaskTablesTest, RecordsOfTheTypesAskedForAreVisitedInOrder) {
    Build(kTables);
    // The larger table reads after the smaller one into a grown buffer; the
    // short table is refused as a whole.
    EXPECT_EQ(Walk(), (std::vector<std::string>{"1/0/0:12:0,11", "1/0/1:12:16,27", "1/0/2:12:32,43",
                                                "4/2/0:40:100,139"}));
    EXPECT_EQ(MessageTag(), "CTRECORD 4 0");
}

TEST_F(TaskTablesTest, MissingArchiveSaysSoAndATooLongNameIsNotCut) {
    EXPECT_TRUE(Walk().empty());
    EXPECT_EQ(MessageTag(), "NOCT");
    Build(kTables);
    const std::string huge(200, 'n');
    TaskConfigReader too_long(huge.c_str());
    EXPECT_EQ(too_long.is_open, 0u);
    EXPECT_LT(std::strlen(too_long.path), sizeof too_long.path);
}

TEST_F(TaskTablesTest, AbsurdRecordSizeIsRefusedAndTheWalkGoesOn) {
    Build({kTables[0], kTables[1], kTables[2]});
    std::string archive = vdtest::ReadFile(ArchivePath());
    const std::uint32_t size = 0xFFFFFFF0u;
    archive.replace(8 + 0 * 28 + 20, 4, reinterpret_cast<const char*>(&size), 4);  // the first table's
    vdtest::WriteFile(ArchivePath(), archive);
    EXPECT_EQ(Walk(), std::vector<std::string>{"4/2/0:40:100,139"});
    EXPECT_EQ(MessageTag(), "NOMEMORY");
}

TEST_F(TaskTablesTest, FieldsAreReadLittleEndianAndTextsStayInsideFieldAndRecord) {
    const std::uint8_t data[] = {0x01, 0x02, 0x03, 0x04, 'a', 'b', 0, 'c', 'd', 'e'};
    const TableRecord r{data, sizeof data, 0, 0};
    EXPECT_EQ(r.Word(1), 0x0302);
    EXPECT_EQ(r.Dword(0), 0x04030201u);
    EXPECT_EQ(r.Text(4, 8), "ab");
    EXPECT_EQ(r.Text(7, 2), "cd");
    EXPECT_EQ(r.Text(7, 50), "cde");
    EXPECT_EQ(r.Text(10, 4), "");
}

}  // namespace
