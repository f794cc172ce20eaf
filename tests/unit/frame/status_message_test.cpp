#include "frame/status_message.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "frame/kernel_access.h"
#include "frame/log_writer.h"
#include "tests/support/log_fixture.h"

namespace {

using logtest::ReadLines;

class StatusMessageTest : public logtest::TaskFixture {
protected:
    void SetUp() override {
        TaskFixture::SetUp();
        LogSettings& log = log_settings();
        log.debug_level = 4;
        log.log_to_file = 1;
        log.log_path = (App() / "task.log").generic_string();
    }
    std::vector<std::string> Texts() const {
        std::vector<std::string> texts;
        static const std::regex record(R"(\d\d/\d\d/\d\d \d\d:\d\d:\d\d (.*)\r)");
        for (const std::string& line : ReadLines(App() / "task.log")) {
            std::smatch m;
            texts.push_back(std::regex_match(line, m, record) ? std::string(m[1]) : "<bad: " + line + ">");
        }
        return texts;
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
    StatusMessage(3, "START");
    EXPECT_EQ(MessageTag(), "START") << "a key without catalog text stands for itself";
    EXPECT_EQ(StatusTag(), 3);
    EXPECT_EQ(task_state().LastStatusLevel, 3);

    StatusMessage(2, "VDERROR", 107);
    EXPECT_EQ(MessageTag(), "Error 107");
    EXPECT_EQ(StatusTag(), 2);
    StatusMessage(2, "NOCATALOG", 107);
    EXPECT_EQ(MessageTag(), "NOCATALOG") << "the key is the format";
    StatusMessage(2, "FULL");
    EXPECT_EQ(MessageTag(), "disk 100% full");
    StatusMessage(2, "50% %s %d");
    EXPECT_EQ(MessageTag(), "50% %s %d") << "without arguments nothing is read as a conversion";
    StatusMessage(2, "DISKACCESS", "A:\\");
    EXPECT_EQ(MessageTag(), "Disk A:\\: %s%s n");
    StatusMessage(2, "HOSTILE", 107);
    EXPECT_EQ(MessageTag(), "%s error %d%f") << "a number is no text";
    std::string big(400, 'y');
    StatusMessage(2, "%s", big.c_str());
    EXPECT_EQ(MessageTag(), std::string(kStatusTextSize - 1, 'y'));

    StatusMessage(1, nullptr);
    EXPECT_EQ(StatusTag(), 1) << "a level alone";
    EXPECT_EQ(MessageTag(), std::string(kStatusTextSize - 1, 'y')) << "the text stays";
    EXPECT_EQ(task_state().LastStatusLevel, 1);
    // The formatted texts reach the log unchanged.
    EXPECT_EQ(Texts(), (std::vector<std::string>{"START", "Error 107", "NOCATALOG", "disk 100% full", "50% %s %d",
                                                 "Disk A:\\: %s%s n", "%s error %d%f",
                                                 std::string(kStatusTextSize - 1, 'y')}));
}

TEST_F(StatusMessageTest, LogLevelIsTwoForErrorsAndFourOtherwise) {
    Attach();
    log_settings().debug_level = 3;
    StatusMessage(3, "START");
    StatusMessage(2, "VDERROR", 1);
    StatusMessage(4, "STOPPING");
    EXPECT_EQ(Texts(), (std::vector<std::string>{"VDERROR"}));
    EXPECT_EQ(MessageTag(), "STOPPING") << "the tags are written whatever the log level";
}

TEST_F(StatusMessageTest, NestsInsideTheRunStepsLockAndWorksFromOtherThreads) {
    Attach();
    ASSERT_EQ(CreateKernelAccessSemaphores(), 0);
    AcquireKernelAccess(1);
    StatusMessage(2, "VDERROR", 5);  // would deadlock without nesting
    EXPECT_EQ(kernel_access_state().id_depth, 1);
    ReleaseKernelAccess();
    EXPECT_EQ(MessageTag(), "VDERROR");

    std::thread([] { StatusMessage(4, "STOPPING"); }).join();
    EXPECT_EQ(MessageTag(), "STOPPING");
    EXPECT_EQ(StatusTag(), 4);
    EXPECT_EQ(kernel_access_state().id_owner.load(), 0u);
}

TEST_F(StatusMessageTest, KernelFailuresAreIgnored) {
    Attach();
    win::test::FailCalls(kernel_op_name(kOpWrite), kKernelErrNoDatabase, 2);
    StatusMessage(2, "VDERROR", 9);  // both writes fail
    EXPECT_EQ(task_state().LastStatusLevel, 2);
    EXPECT_EQ(Texts(), (std::vector<std::string>{"VDERROR"}));
    task_state().environment.message_tag = kInvalidTagRef;
    task_state().environment.status_tag = 0x1234FFFFu;
    StatusMessage(1, "RUN");  // tags that name nothing are skipped
    EXPECT_EQ(Texts().back(), "RUN");
}

}  // namespace
