#include "frame/status_message.h"

#include "tests/support/log_fixture.h"

namespace {

class StatusMessageTest : public logtest::TaskFixture {
protected:
    void SetUp() override {
        TaskFixture::SetUp();
        log_settings().debug_level = 4;
        log_settings().log_to_file = 1;
    }
};

TEST_F(StatusMessageTest, BeforeAttachOnlyTheBareKeyIsLogged) {
    msg_insert(msg_root_slot(), "VDERROR", "Error %d");
    task_state().LastStatusLevel = 3;
    StatusMessage(2, "VDERROR", 107);
    StatusMessage(1, nullptr);
    EXPECT_EQ(Texts(), (std::vector<std::string>{"VDERROR"})) << "the key, without catalog text or arguments";
    EXPECT_EQ(task_state().LastStatusLevel, 3);
}

TEST_F(StatusMessageTest, AttachedWritesTextLevelAndLog) {
    Attach();
    msg_insert(msg_root_slot(), "VDERROR", "Error %d");
    msg_insert(msg_root_slot(), "FULL", "disk 100%% full");
    // Catalog texts asking for more than their callers pass, or for "%n":
    // the extra conversions are shown as they stand.
    msg_insert(msg_root_slot(), "DISKACCESS", "Disk %s: %s%s %n");
    msg_insert(msg_root_slot(), "HOSTILE", "%s error %d%f");
    const std::string big(400, 'y');
    const struct {
        std::int32_t level;
        const char* key;
        std::vector<FormatArg> args;
        std::string shown;
    } rows[] = {
        {3, "START", {}, "START"},  // a key without catalog text stands for itself
        {2, "VDERROR", {107}, "Error 107"},
        {4, "NOCATALOG", {107}, "NOCATALOG"},  // the key is the format
        {2, "FULL", {}, "disk 100% full"},
        {2, "50% %s %d", {}, "50% %s %d"},  // without arguments nothing is read as a conversion
        {2, "DISKACCESS", {"A:\\"}, "Disk A:\\: %s%s n"},
        {2, "HOSTILE", {107}, "%s error %d%f"},  // a number is no text
        {1, "%s", {big.c_str()}, std::string(kStatusTextSize - 1, 'y')},
    };
    // Log level 2 for errors, 4 otherwise: with the setting at 3 only the
    // errors reach the log, with their formatted texts unchanged.
    log_settings().debug_level = 3;
    std::vector<std::string> logged;
    for (const auto& r : rows) {
        StatusMessageArgs(r.level, r.key, r.args);
        EXPECT_EQ(MessageTag(), r.shown) << "the tags are written whatever the log level";
        EXPECT_EQ(StatusTag(), r.level);
        EXPECT_EQ(task_state().LastStatusLevel, r.level);
        if (r.level == kLevelError) logged.push_back(r.shown);
    }
    StatusMessage(4, nullptr);
    EXPECT_EQ(StatusTag(), 4) << "a level alone";
    EXPECT_EQ(MessageTag(), rows[7].shown) << "the text stays";
    EXPECT_EQ(Texts(), logged);
}

TEST_F(StatusMessageTest, KernelFailuresAreIgnored) {
    Attach();
    win::test::FailCalls(kernel_op_name(kOpWrite), kKernelErrNoDatabase, 2);
    StatusMessage(2, "VDERROR", 9);  // both writes fail
    EXPECT_EQ(task_state().LastStatusLevel, 2);
    EXPECT_EQ(Texts(), (std::vector<std::string>{"VDERROR"}));
}

}  // namespace
