#include "platform/registry.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/environment.h"
#include "platform/registry_dump.h"

namespace {

using win::LONG;

bool SimulatedHost() { return std::filesystem::path::preferred_separator == '/'; }

// Each test works below a fresh key of its own under HKEY_CURRENT_USER and,
// on the simulated host, in a fresh state directory.
class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::random_device rd;
        std::string tag = std::to_string(rd());
        dir_ = std::filesystem::temp_directory_path() / ("vdreg_" + tag);
        std::filesystem::create_directories(dir_);
        win::SetEnvironmentVariableA("VDHOST", dir_.generic_string().c_str());
        sub_ = "Software\\VdRegistryTest" + tag;
    }
    void TearDown() override {
        // Delete the test's keys leaf first.
        for (auto it = made_.rbegin(); it != made_.rend(); ++it) win::RegDeleteKeyA(win::HKEY_CURRENT_USER, it->c_str());
        win::SetEnvironmentVariableA("VDHOST", nullptr);
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    win::HKEY Create(const std::string& relative = "") {
        std::string path = relative.empty() ? sub_ : sub_ + "\\" + relative;
        win::HKEY key = nullptr;
        EXPECT_EQ(win::RegCreateKeyExA(win::HKEY_CURRENT_USER, path.c_str(), 0, nullptr,
                                       win::REG_OPTION_NON_VOLATILE, win::KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  win::ERROR_SUCCESS);
        made_.push_back(path);
        return key;
    }
    std::string RegistryText() const {
        std::ifstream in(dir_ / "registry.txt", std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    void WriteRegistry(const std::string& text) const { std::ofstream(dir_ / "registry.txt", std::ios::binary) << text; }

    std::filesystem::path dir_;
    std::string sub_;
    std::vector<std::string> made_;
};

LONG SetString(win::HKEY key, const char* name, const std::string& text) {
    return win::RegSetValueExA(key, name, 0, win::REG_SZ, reinterpret_cast<const win::BYTE*>(text.c_str()),
                               static_cast<win::DWORD>(text.size() + 1));
}

TEST_F(RegistryTest, CreateOpenAndDispositions) {
    win::HKEY key = nullptr;
    win::DWORD how = 0;
    std::string path = sub_ + "\\Deep\\Er";
    ASSERT_EQ(win::RegOpenKeyExA(win::HKEY_CURRENT_USER, path.c_str(), 0, win::KEY_READ, &key),
              static_cast<LONG>(win::ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(key, nullptr);
    ASSERT_EQ(win::RegCreateKeyExA(win::HKEY_CURRENT_USER, path.c_str(), 0, nullptr, win::REG_OPTION_NON_VOLATILE,
                                   win::KEY_ALL_ACCESS, nullptr, &key, &how),
              win::ERROR_SUCCESS);
    made_ = {sub_, sub_ + "\\Deep", path};
    EXPECT_EQ(how, win::REG_CREATED_NEW_KEY);
    EXPECT_EQ(win::RegCloseKey(key), win::ERROR_SUCCESS);
    ASSERT_EQ(win::RegCreateKeyExA(win::HKEY_CURRENT_USER, path.c_str(), 0, nullptr, win::REG_OPTION_NON_VOLATILE,
                                   win::KEY_ALL_ACCESS, nullptr, &key, &how),
              win::ERROR_SUCCESS);
    EXPECT_EQ(how, win::REG_OPENED_EXISTING_KEY);
    win::RegCloseKey(key);

    // Parents were created; names compare without case.
    std::string upper = sub_ + "\\DEEP\\er";
    ASSERT_EQ(win::RegOpenKeyExA(win::HKEY_CURRENT_USER, upper.c_str(), 0, win::KEY_READ, &key), win::ERROR_SUCCESS);
    win::HKEY again = nullptr;
    EXPECT_EQ(win::RegOpenKeyA(key, nullptr, &again), win::ERROR_SUCCESS);
    win::RegCloseKey(again);
    win::RegCloseKey(key);
    win::HKEY short_form = nullptr;
    ASSERT_EQ(win::RegCreateKeyA(win::HKEY_CURRENT_USER, sub_.c_str(), &short_form), win::ERROR_SUCCESS);
    EXPECT_EQ(win::RegOpenKeyA(short_form, "deep", &again), win::ERROR_SUCCESS);
    win::RegCloseKey(again);
    win::RegCloseKey(short_form);

    EXPECT_NE(win::RegOpenKeyExA(win::HKEY_CURRENT_USER, sub_.c_str(), 0, win::KEY_READ, nullptr), win::ERROR_SUCCESS);
}

TEST_F(RegistryTest, QueryReportsSizesTypesAndShortBuffers) {
    win::HKEY key = Create();
    ASSERT_EQ(SetString(key, "ScreenSaveTimeOut", "600"), win::ERROR_SUCCESS);
    win::DWORD number = 0x01020304;
    ASSERT_EQ(win::RegSetValueExA(key, "Count", 0, win::REG_DWORD, reinterpret_cast<win::BYTE*>(&number), 4),
              win::ERROR_SUCCESS);

    // Size query with null data.
    win::DWORD type = 0;
    win::DWORD size = 0;
    EXPECT_EQ(win::RegQueryValueExA(key, "screensavetimeout", nullptr, &type, nullptr, &size), win::ERROR_SUCCESS);
    EXPECT_EQ(type, win::REG_SZ);
    EXPECT_EQ(size, 4u);

    // Too small: ERROR_MORE_DATA with the size needed, buffer bytes beyond untouched.
    char small[2] = {'x', 'y'};
    size = sizeof small;
    EXPECT_EQ(win::RegQueryValueExA(key, "ScreenSaveTimeOut", nullptr, &type, reinterpret_cast<win::BYTE*>(small),
                                    &size),
              static_cast<LONG>(win::ERROR_MORE_DATA));
    EXPECT_EQ(size, 4u);

    char text[16] = {};
    size = sizeof text;
    EXPECT_EQ(win::RegQueryValueExA(key, "ScreenSaveTimeOut", nullptr, nullptr, reinterpret_cast<win::BYTE*>(text),
                                    &size),
              win::ERROR_SUCCESS);
    EXPECT_STREQ(text, "600");
    EXPECT_EQ(size, 4u);

    win::DWORD back = 0;
    size = sizeof back;
    EXPECT_EQ(win::RegQueryValueExA(key, "Count", nullptr, &type, reinterpret_cast<win::BYTE*>(&back), &size),
              win::ERROR_SUCCESS);
    EXPECT_EQ(type, win::REG_DWORD);
    EXPECT_EQ(back, 0x01020304u);

    size = sizeof back;
    EXPECT_EQ(win::RegQueryValueExA(key, "Missing", nullptr, &type, reinterpret_cast<win::BYTE*>(&back), &size),
              static_cast<LONG>(win::ERROR_FILE_NOT_FOUND));

    // Overwrite keeps one value with the new type and bytes.
    ASSERT_EQ(SetString(key, "COUNT", "seven"), win::ERROR_SUCCESS);
    size = sizeof text;
    EXPECT_EQ(win::RegQueryValueExA(key, "Count", nullptr, &type, reinterpret_cast<win::BYTE*>(text), &size),
              win::ERROR_SUCCESS);
    EXPECT_EQ(type, win::REG_SZ);
    EXPECT_STREQ(text, "seven");
    win::RegCloseKey(key);
}

TEST_F(RegistryTest, BinaryValuesAndEnumeration) {
    win::HKEY key = Create();
    const win::BYTE blob[] = {0, '"', '\\', 0xFF, '\n', 0x7F, 'a'};
    ASSERT_EQ(win::RegSetValueExA(key, "Blob", 0, win::REG_BINARY, blob, sizeof blob), win::ERROR_SUCCESS);
    const char multi[] = "one\0two\0";
    ASSERT_EQ(win::RegSetValueExA(key, "List", 0, win::REG_MULTI_SZ, reinterpret_cast<const win::BYTE*>(multi),
                                  sizeof multi),
              win::ERROR_SUCCESS);
    ASSERT_EQ(win::RegSetValueExA(key, "", 0, win::REG_SZ, reinterpret_cast<const win::BYTE*>("dflt"), 5),
              win::ERROR_SUCCESS);
    ASSERT_EQ(win::RegSetValueExA(key, "Empty", 0, win::REG_BINARY, nullptr, 0), win::ERROR_SUCCESS);
    win::RegCloseKey(Create("Beta"));
    win::RegCloseKey(Create("alpha"));

    win::BYTE back[16] = {};
    win::DWORD size = sizeof back;
    win::DWORD type = 0;
    ASSERT_EQ(win::RegQueryValueExA(key, "Blob", nullptr, &type, back, &size), win::ERROR_SUCCESS);
    EXPECT_EQ(size, sizeof blob);
    EXPECT_EQ(std::memcmp(back, blob, sizeof blob), 0);
    size = sizeof back;
    ASSERT_EQ(win::RegQueryValueExA(key, "List", nullptr, &type, back, &size), win::ERROR_SUCCESS);
    EXPECT_EQ(size, sizeof multi);
    EXPECT_EQ(std::memcmp(back, multi, sizeof multi), 0);
    size = sizeof back;
    ASSERT_EQ(win::RegQueryValueExA(key, nullptr, nullptr, &type, back, &size), win::ERROR_SUCCESS);
    EXPECT_STREQ(reinterpret_cast<char*>(back), "dflt");

    std::vector<std::string> names;
    for (win::DWORD i = 0;; ++i) {
        char name[64];
        win::DWORD name_size = sizeof name;
        LONG rc = win::RegEnumValueA(key, i, name, &name_size, nullptr, nullptr, nullptr, nullptr);
        if (rc == static_cast<LONG>(win::ERROR_NO_MORE_ITEMS)) break;
        ASSERT_EQ(rc, win::ERROR_SUCCESS);
        EXPECT_EQ(name_size, std::strlen(name));
        names.push_back(name);
    }
    EXPECT_EQ(names.size(), 4u);

    std::vector<std::string> keys;
    for (win::DWORD i = 0;; ++i) {
        char name[64];
        win::DWORD name_size = sizeof name;
        LONG rc = win::RegEnumKeyExA(key, i, name, &name_size, nullptr, nullptr, nullptr, nullptr);
        if (rc == static_cast<LONG>(win::ERROR_NO_MORE_ITEMS)) break;
        ASSERT_EQ(rc, win::ERROR_SUCCESS);
        keys.push_back(name);
    }
    ASSERT_EQ(keys.size(), 2u);
    EXPECT_TRUE((keys[0] == "alpha" && keys[1] == "Beta") || (keys[0] == "Beta" && keys[1] == "alpha"));
    char tiny[3];
    win::DWORD tiny_size = sizeof tiny;
    EXPECT_EQ(win::RegEnumKeyExA(key, 0, tiny, &tiny_size, nullptr, nullptr, nullptr, nullptr),
              static_cast<LONG>(win::ERROR_MORE_DATA));
    win::RegCloseKey(key);
}

TEST_F(RegistryTest, DeleteValuesAndKeys) {
    win::HKEY key = Create();
    win::RegCloseKey(Create("Child"));
    ASSERT_EQ(SetString(key, "Gone", "x"), win::ERROR_SUCCESS);
    EXPECT_EQ(win::RegDeleteValueA(key, "GONE"), win::ERROR_SUCCESS);
    EXPECT_EQ(win::RegDeleteValueA(key, "Gone"), static_cast<LONG>(win::ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(win::RegQueryValueExA(key, "Gone", nullptr, nullptr, nullptr, nullptr),
              static_cast<LONG>(win::ERROR_FILE_NOT_FOUND));

    // A key with subkeys is not deleted; once the child is gone it is.
    EXPECT_NE(win::RegDeleteKeyA(win::HKEY_CURRENT_USER, sub_.c_str()), win::ERROR_SUCCESS);
    EXPECT_EQ(win::RegDeleteKeyA(key, "child"), win::ERROR_SUCCESS);
    EXPECT_EQ(win::RegDeleteKeyA(key, "child"), static_cast<LONG>(win::ERROR_FILE_NOT_FOUND));
    win::RegCloseKey(key);
    EXPECT_EQ(win::RegDeleteKeyA(win::HKEY_CURRENT_USER, sub_.c_str()), win::ERROR_SUCCESS);
    made_.clear();
    win::HKEY none = nullptr;
    EXPECT_EQ(win::RegOpenKeyExA(win::HKEY_CURRENT_USER, sub_.c_str(), 0, win::KEY_READ, &none),
              static_cast<LONG>(win::ERROR_FILE_NOT_FOUND));
}

TEST_F(RegistryTest, HostHandlesAccessAndBadPaths) {
    if (!SimulatedHost()) GTEST_SKIP() << "handle checks of the simulated host";
    // An unknown or closed handle is refused, never dereferenced.
    int dummy = 0;
    auto bogus = reinterpret_cast<win::HKEY>(&dummy);
    EXPECT_EQ(win::RegQueryValueExA(bogus, "x", nullptr, nullptr, nullptr, nullptr),
              static_cast<LONG>(win::ERROR_INVALID_HANDLE));
    win::HKEY key = Create();
    EXPECT_EQ(win::RegCloseKey(key), win::ERROR_SUCCESS);
    EXPECT_EQ(win::RegCloseKey(key), static_cast<LONG>(win::ERROR_INVALID_HANDLE));

    // A read-only handle cannot write.
    ASSERT_EQ(win::RegOpenKeyExA(win::HKEY_CURRENT_USER, sub_.c_str(), 0, win::KEY_READ, &key), win::ERROR_SUCCESS);
    EXPECT_EQ(SetString(key, "v", "1"), static_cast<LONG>(win::ERROR_ACCESS_DENIED));
    // The key deleted behind the handle's back.
    EXPECT_EQ(win::RegDeleteKeyA(win::HKEY_CURRENT_USER, sub_.c_str()), win::ERROR_SUCCESS);
    EXPECT_EQ(win::RegQueryValueExA(key, "v", nullptr, nullptr, nullptr, nullptr),
              static_cast<LONG>(win::ERROR_KEY_DELETED));
    win::RegCloseKey(key);

    win::HKEY out = nullptr;
    EXPECT_NE(win::RegCreateKeyA(win::HKEY_CURRENT_USER, "a\\\\b", &out), win::ERROR_SUCCESS);
    EXPECT_NE(win::RegCreateKeyA(win::HKEY_CURRENT_USER, "\\lead", &out), win::ERROR_SUCCESS);
    EXPECT_NE(win::RegCreateKeyA(win::HKEY_CURRENT_USER, std::string(300, 'k').c_str(), &out), win::ERROR_SUCCESS);
    EXPECT_EQ(win::RegDeleteKeyA(win::HKEY_CURRENT_USER, nullptr), static_cast<LONG>(win::ERROR_ACCESS_DENIED));
}

TEST_F(RegistryTest, HostFileIsReadableAndRoundTrips) {
    if (!SimulatedHost()) GTEST_SKIP() << "the registry file belongs to the simulated host";
    WriteRegistry(
        "# hand written\r\n"
        "[hkey_current_user\\Control Panel\\Desktop]\r\n"
        "\"ScreenSaveActive\"=sz:\"1\"\n"
        "  \"Odd\"=hex(11):00,ff  \n"
        "\"Q\"=expand_sz:\"a\\\"b\\\\c\\x01\"\n"
        "[HKEY_LOCAL_MACHINE\\Sys%5bx%5d]\n"
        "\"\"=dword:a\n"
        "\"M\"=multi_sz:\"x\",\"\"\n");
    win::HKEY key = nullptr;
    ASSERT_EQ(win::RegOpenKeyExA(win::HKEY_CURRENT_USER, "control panel\\desktop", 0, win::KEY_READ, &key),
              win::ERROR_SUCCESS);
    char text[8] = {};
    win::DWORD size = sizeof text;
    win::DWORD type = 0;
    EXPECT_EQ(win::RegQueryValueExA(key, "ScreenSaveActive", nullptr, &type, reinterpret_cast<win::BYTE*>(text),
                                    &size),
              win::ERROR_SUCCESS);
    EXPECT_STREQ(text, "1");
    size = sizeof text;
    EXPECT_EQ(win::RegQueryValueExA(key, "Q", nullptr, &type, reinterpret_cast<win::BYTE*>(text), &size),
              win::ERROR_SUCCESS);
    EXPECT_EQ(type, win::REG_EXPAND_SZ);
    EXPECT_EQ(std::string(text, size), std::string("a\"b\\c\x01", 7));
    win::RegCloseKey(key);
    ASSERT_EQ(win::RegOpenKeyExA(win::HKEY_LOCAL_MACHINE, "SYS[X]", 0, win::KEY_READ, &key), win::ERROR_SUCCESS);
    win::DWORD number = 0;
    size = sizeof number;
    EXPECT_EQ(win::RegQueryValueExA(key, "", nullptr, &type, reinterpret_cast<win::BYTE*>(&number), &size),
              win::ERROR_SUCCESS);
    EXPECT_EQ(number, 10u);
    win::RegCloseKey(key);

    // A change rewrites the file in canonical form, which reads back the same.
    win::HKEY mine = Create();
    const win::BYTE bytes[] = {'"', 0, 0xC3};
    ASSERT_EQ(win::RegSetValueExA(mine, "Raw\n", 0, win::REG_SZ, bytes, sizeof bytes), win::ERROR_SUCCESS);
    win::RegCloseKey(mine);
    std::string first = RegistryText();
    EXPECT_NE(first.find("[HKEY_CURRENT_USER\\Control Panel\\Desktop]\n\"ScreenSaveActive\"=sz:\"1\"\n\"Odd\"=hex(11):00,ff\n"),
              std::string::npos)
        << first;
    EXPECT_NE(first.find("[HKEY_LOCAL_MACHINE\\Sys%5bx%5d]\n\"\"=dword:0000000a\n\"M\"=multi_sz:\"x\",\"\"\n"),
              std::string::npos)
        << first;
    EXPECT_NE(first.find("\"Raw\\x0a\"=hex(1):22,00,c3"), std::string::npos) << first;
    std::string dump;
    std::string error;
    ASSERT_TRUE(win::RegistryDumpText(dump, error)) << error;
    EXPECT_EQ(dump, first);
}

TEST_F(RegistryTest, MalformedHostFileIsAnErrorAndStaysUntouched) {
    if (!SimulatedHost()) GTEST_SKIP() << "the registry file belongs to the simulated host";
    const char* bad[] = {
        "\"v\"=sz:\"before any key\"\n",
        "[HKEY_NOWHERE\\x]\n",
        "[HKEY_CURRENT_USER\\a\\\\b]\n",
        "[HKEY_CURRENT_USER\\a\n",
        "[HKEY_CURRENT_USER\\a]\n\"v\"=sz:\"open\n",
        "[HKEY_CURRENT_USER\\a]\n\"v\"=dword:123456789\n",
        "[HKEY_CURRENT_USER\\a]\n\"v\"=hex:0g\n",
        "[HKEY_CURRENT_USER\\a]\n\"v\"=hex(99999999999):00\n",
        "[HKEY_CURRENT_USER\\a]\n\"v\"=sz:\"\\q\"\n",
        "[HKEY_CURRENT_USER\\a]\n\"v\"=sz:\"1\"\n\"V\"=sz:\"2\"\n",
        "[HKEY_CURRENT_USER\\a]\nplain text\n",
    };
    for (const char* text : bad) {
        WriteRegistry(text);
        win::HKEY key = nullptr;
        EXPECT_EQ(win::RegCreateKeyA(win::HKEY_CURRENT_USER, "a", &key),
                  static_cast<LONG>(win::ERROR_REGISTRY_CORRUPT))
            << text;
        EXPECT_EQ(RegistryText(), text);
        std::string dump;
        std::string error;
        EXPECT_FALSE(win::RegistryDumpText(dump, error)) << text;
        EXPECT_NE(error.find("line "), std::string::npos) << error;
    }
}

TEST_F(RegistryTest, HostWritersDoNotLoseUpdates) {
    if (!SimulatedHost()) GTEST_SKIP() << "lock of the simulated host's file";
    win::RegCloseKey(Create());
    constexpr int kThreads = 4;
    constexpr int kEach = 15;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([this, t] {
            win::HKEY key = nullptr;
            if (win::RegOpenKeyExA(win::HKEY_CURRENT_USER, sub_.c_str(), 0, win::KEY_ALL_ACCESS, &key) != 0) return;
            for (int i = 0; i < kEach; ++i) {
                std::string name = "v" + std::to_string(t) + "_" + std::to_string(i);
                SetString(key, name.c_str(), name);
            }
            win::RegCloseKey(key);
        });
    }
    for (auto& th : threads) th.join();
    win::HKEY key = nullptr;
    ASSERT_EQ(win::RegOpenKeyExA(win::HKEY_CURRENT_USER, sub_.c_str(), 0, win::KEY_READ, &key), win::ERROR_SUCCESS);
    int count = 0;
    char name[32];
    win::DWORD name_size = sizeof name;
    while (win::RegEnumValueA(key, static_cast<win::DWORD>(count), name, &name_size, nullptr, nullptr, nullptr,
                              nullptr) == win::ERROR_SUCCESS) {
        ++count;
        name_size = sizeof name;
    }
    EXPECT_EQ(count, kThreads * kEach);
    win::RegCloseKey(key);
}

}  // namespace
