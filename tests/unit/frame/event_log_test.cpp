#include "frame/event_log.h"

#include "tests/support/log_fixture.h"
#include "platform/registry.h"

namespace {

using logtest::ReadLines;
using logtest::SimulatedHost;

const std::string kAppKey = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application";

// The registry shapes are those of the simulated host's fresh registry.
class EventLogTest : public logtest::TaskFixture {
protected:
    void SetUp() override {
        TaskFixture::SetUp();
        if (!SimulatedHost()) GTEST_SKIP() << "registry and log shapes of the simulated host";
    }
    static win::HKEY MakeAppKey() {
        win::HKEY key = nullptr;
        EXPECT_EQ(win::RegCreateKeyExA(win::HKEY_LOCAL_MACHINE, kAppKey.c_str(), 0, nullptr, 0, win::KEY_ALL_ACCESS,
                                       nullptr, &key, nullptr),
                  win::ERROR_SUCCESS);
        return key;
    }
    static void SetSources(const std::string& data) {
        win::HKEY key = MakeAppKey();
        win::RegSetValueExA(key, "Sources", 0, win::REG_MULTI_SZ, reinterpret_cast<const win::BYTE*>(data.data()),
                            static_cast<win::DWORD>(data.size()));
        win::RegCloseKey(key);
    }
    // The raw bytes of a value, after its type number and ":" when `typed`;
    // "<none>" or "<no key>" when missing.
    static std::string Value(const std::string& key_path, const char* name, bool typed = false) {
        win::HKEY key = nullptr;
        if (win::RegOpenKeyExA(win::HKEY_LOCAL_MACHINE, key_path.c_str(), 0, win::KEY_READ, &key) != win::ERROR_SUCCESS)
            return "<no key>";
        char data[512];
        win::DWORD size = sizeof data, type = 0;
        win::LONG rc = win::RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<win::BYTE*>(data), &size);
        win::RegCloseKey(key);
        if (rc != win::ERROR_SUCCESS) return "<none>";
        return typed ? Typed(type, std::string(data, size)) : std::string(data, size);
    }
    static std::string Typed(win::DWORD type, const std::string& bytes) { return std::to_string(type) + ":" + bytes; }
};

TEST_F(EventLogTest, InstallWritesTheSourceAndAddsItToSourcesOnce) {
    EXPECT_EQ(EventLogWriter::Install("Src", "C:\\x.dll", 7), 0) << "no application key";
    win::RegCloseKey(MakeAppKey());
    EXPECT_EQ(EventLogWriter::Install("Src", "C:\\x.dll", 7), 1);
    EXPECT_EQ(Value(kAppKey, "Sources"), "<none>") << "a missing list is not created";

    SetSources(std::string("Application\0Other\0\0", 19));
    const std::string file = "C:\\Windows\\system32\\VdMsgZAR.dll";
    EXPECT_EQ(EventLogWriter::Install("Windows Host Utilities", file.c_str(), kEventTypesSupported), 1);
    const std::string source = kAppKey + "\\Windows Host Utilities";
    EXPECT_EQ(Value(source, "EventMessageFile", true), Typed(win::REG_SZ, file + std::string(1, '\0')));
    const std::uint32_t seven = 7;
    EXPECT_EQ(Value(source, "TypesSupported", true), Typed(win::REG_DWORD, std::string(reinterpret_cast<const char*>(&seven), 4)));
    const std::string expected("Application\0Other\0Windows Host Utilities\0\0", 42);
    EXPECT_EQ(Value(kAppKey, "Sources", true), Typed(win::REG_MULTI_SZ, expected));

    // Again: the list is left as it is, the values are rewritten.
    EXPECT_EQ(EventLogWriter::Install("Windows Host Utilities", "C:\\other.dll", 7), 1);
    EXPECT_EQ(Value(kAppKey, "Sources"), expected);
    EXPECT_EQ(Value(source, "EventMessageFile"), std::string("C:\\other.dll\0", 13));

    // A name differing only in case is another entry.
    EXPECT_EQ(EventLogWriter::Install("WINDOWS HOST UTILITIES", file.c_str(), 7), 1);
    EXPECT_EQ(Value(kAppKey, "Sources"),
              std::string("Application\0Other\0Windows Host Utilities\0WINDOWS HOST UTILITIES\0\0", 65));
}

TEST_F(EventLogTest, SourcesWithoutItsFinalEmptyStringIsNotReadPastItsEnd) {
    SetSources(std::string("Alpha\0Beta", 10));  // no terminator at all after Beta
    EXPECT_EQ(EventLogWriter::Install("Gamma", "C:\\x.dll", 7), 1);
    EXPECT_EQ(Value(kAppKey, "Sources"), std::string("Alpha\0Beta\0Gamma\0\0", 18));
    SetSources(std::string("Alpha\0\0Hidden\0\0", 15));  // the list ends at the first empty string
    EXPECT_EQ(EventLogWriter::Install("Hidden", "C:\\x.dll", 7), 1);
    EXPECT_EQ(Value(kAppKey, "Sources"), std::string("Alpha\0Hidden\0\0", 14));
}

TEST_F(EventLogTest, WriterOpensTheSourceForEachReportOnly) {
    EventLogWriter writer(nullptr, "Src");
    EXPECT_EQ(writer.Deregister(), 1) << "nothing open: nothing to do";
    const char* strings[2] = {"one", "two"};
    EXPECT_EQ(writer.Report(2, 5, 9, nullptr, 2, 0, strings, nullptr), 1);
    EXPECT_EQ(writer.Deregister(), 1) << "no handle stays open after a report";
    EXPECT_EQ(ReadLines(State() / "eventlog.txt"), std::vector<std::string>{"Src\t2\t5\t0x00000009\t-\tone\ttwo"});

    EventLogWriter remote("\\\\elsewhere", "Src");
    EXPECT_EQ(remote.Report(4, 0, 1, nullptr, 1, 0, strings, nullptr), 0) << "a source that cannot be opened";
    EXPECT_EQ(ReadLines(State() / "eventlog.txt").size(), 1u);
}

}  // namespace
