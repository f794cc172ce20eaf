// The registry family (and its readable listing) on both sides: each test
// works below a fresh key of its own under HKEY_CURRENT_USER.
#include "platform/registry.h"

#include <algorithm>
#include <cstring>
#include <thread>

#include "platform/registry_dump.h"
#include "tests/unit/platform/contract_fixture.h"

namespace {

using namespace win;
constexpr LONG kNotFound = ERROR_FILE_NOT_FOUND;
constexpr LONG kMoreData = ERROR_MORE_DATA;
constexpr LONG kNoMore = ERROR_NO_MORE_ITEMS;

class RegistryContract : public contract::ScratchTest {
protected:
    void SetUp() override {
        ScratchTest::SetUp();
        sub_ = "Software\\VdRegistryContract" + tag_;
    }
    void TearDown() override {
        Remove(sub_);
        ScratchTest::TearDown();
    }
    static void Remove(const std::string& path) {  // leaf first
        HKEY key = Open(path, KEY_ALL_ACCESS, ERROR_SUCCESS, false);
        for (char name[64]; key != nullptr;) {
            DWORD size = sizeof name;
            if (RegEnumKeyExA(key, 0, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
            Remove(path + "\\" + name);
        }
        RegCloseKey(key);
        RegDeleteKeyA(HKEY_CURRENT_USER, path.c_str());
    }
    // Creates sub_\relative (and its parents); `how` receives the disposition.
    HKEY Create(const std::string& relative = "", DWORD* how = nullptr) {
        const std::string path = relative.empty() ? sub_ : sub_ + "\\" + relative;
        HKEY key = nullptr;
        EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                  KEY_ALL_ACCESS, nullptr, &key, how),
                  ERROR_SUCCESS);
        return key;
    }
    static HKEY Open(const std::string& path, REGSAM access = KEY_READ, LONG expected = ERROR_SUCCESS,
                     bool check = true) {
        HKEY key = nullptr;
        LONG rc = RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, access, &key);
        if (check) {
            EXPECT_EQ(rc, expected) << path;
        }
        return key;
    }
    std::string sub_;
};

LONG Set(HKEY key, const char* name, DWORD type, const void* data, DWORD size) {
    return RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size);
}
LONG SetText(HKEY key, const char* name, const std::string& text) {
    return Set(key, name, REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1));
}
// Query result, type and bytes of a value through a buffer of `size` bytes.
struct Query {
    LONG rc;
    DWORD type, size;
    std::string bytes;
};
Query Get(HKEY key, const char* name, DWORD size = 64) {
    Query q{0, 0, size, std::string(size, 'x')};
    q.rc = RegQueryValueExA(key, name, nullptr, &q.type, reinterpret_cast<BYTE*>(q.bytes.data()), &q.size);
    q.bytes.resize(q.rc == ERROR_SUCCESS ? q.size : 0);
    return q;
}
template <typename Enum>
std::vector<std::string> Names(Enum next) {
    std::vector<std::string> names;
    for (DWORD i = 0;; ++i) {
        char name[64];
        DWORD size = sizeof name;
        LONG rc = next(i, name, &size);
        if (rc == kNoMore) return names;
        EXPECT_EQ(rc, ERROR_SUCCESS);
        EXPECT_EQ(size, std::strlen(name)) << "the length without the terminator";
        names.push_back(name);
    }
}

TEST_F(RegistryContract, CreateOpenDispositionsAndCase) {
    Open(sub_ + "\\Deep\\Er", KEY_READ, kNotFound);
    DWORD how = 0;
    RegCloseKey(Create("Deep\\Er", &how));
    EXPECT_EQ(how, REG_CREATED_NEW_KEY) << "parents are created with it";
    RegCloseKey(Create("deep\\ER", &how));
    EXPECT_EQ(how, REG_OPENED_EXISTING_KEY) << "names compare without case";
    HKEY key = Open(sub_ + "\\DEEP\\er"), again = nullptr, short_form = nullptr;
    EXPECT_EQ(RegOpenKeyA(key, nullptr, &again), ERROR_SUCCESS) << "no subkey: the key itself again";
    RegCloseKey(again);
    RegCloseKey(key);
    ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, sub_.c_str(), &short_form), ERROR_SUCCESS);
    EXPECT_EQ(RegOpenKeyA(short_form, "deep", &again), ERROR_SUCCESS);
    RegCloseKey(again);
    RegCloseKey(short_form);
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, sub_.c_str(), 0, KEY_READ, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, sub_.c_str(), nullptr), ERROR_INVALID_PARAMETER);
}

TEST_F(RegistryContract, ValuesKeepTypeAndBytesAndReportSizes) {
    HKEY key = Create();
    const DWORD number = 0x01020304;
    const BYTE blob[] = {0, '"', '\\', 0xFF, '\n', 0x7F, 'a'};
    const char multi[] = "one\0two\0";
    struct Case {
        const char* name;
        DWORD type;
        std::string bytes;
    } const cases[] = {
        {"ScreenSaveTimeOut", REG_SZ, std::string("600", 4)},
        {"Count", REG_DWORD, std::string(reinterpret_cast<const char*>(&number), 4)},
        {"Blob", REG_BINARY, std::string(reinterpret_cast<const char*>(blob), sizeof blob)},
        {"List", REG_MULTI_SZ, std::string(multi, sizeof multi)},
        {"", REG_EXPAND_SZ, std::string("dflt", 5)},
        {"Empty", REG_BINARY, ""},
    };
    for (const Case& c : cases) ASSERT_EQ(Set(key, c.name, c.type, c.bytes.data(), c.bytes.size()), ERROR_SUCCESS);
    for (const Case& c : cases) {
        Query q = Get(key, c.name);
        EXPECT_EQ(q.rc, ERROR_SUCCESS) << c.name;
        EXPECT_EQ(q.type, c.type) << c.name;
        EXPECT_EQ(q.bytes, c.bytes) << c.name;
    }
    EXPECT_EQ(Get(key, nullptr).bytes, std::string("dflt", 5)) << "a null name is the default value";
    // Size only; a buffer too small gives the size needed.
    DWORD type = 0, size = 0;
    EXPECT_EQ(RegQueryValueExA(key, "screensavetimeout", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 4u);
    Query small = Get(key, "ScreenSaveTimeOut", 2);
    EXPECT_EQ(small.rc, kMoreData);
    EXPECT_EQ(small.size, 4u);
    EXPECT_EQ(Get(key, "Missing").rc, kNotFound);
    // An overwrite keeps one value, with the new type and bytes.
    ASSERT_EQ(SetText(key, "COUNT", "seven"), ERROR_SUCCESS);
    Query q = Get(key, "Count");
    EXPECT_EQ(q.type, REG_SZ);
    EXPECT_EQ(q.bytes, std::string("seven", 6));

    auto values = Names([&](DWORD i, char* n, DWORD* s) {
        return RegEnumValueA(key, i, n, s, nullptr, nullptr, nullptr, nullptr);
    });
    EXPECT_EQ(values.size(), std::size(cases));
    RegCloseKey(key);
}

TEST_F(RegistryContract, SubkeysEnumerateAndDeleteLeafFirst) {
    HKEY key = Create();
    RegCloseKey(Create("Beta"));
    RegCloseKey(Create("alpha"));
    auto keys = Names([&](DWORD i, char* n, DWORD* s) {
        return RegEnumKeyExA(key, i, n, s, nullptr, nullptr, nullptr, nullptr);
    });
    std::sort(keys.begin(), keys.end());
    EXPECT_EQ(keys, (std::vector<std::string>{"Beta", "alpha"})) << "names keep their case";
    char tiny[3];
    DWORD tiny_size = sizeof tiny;
    EXPECT_EQ(RegEnumKeyExA(key, 0, tiny, &tiny_size, nullptr, nullptr, nullptr, nullptr), kMoreData);

    ASSERT_EQ(SetText(key, "Gone", "x"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueA(key, "GONE"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueA(key, "Gone"), kNotFound);
    EXPECT_EQ(Get(key, "Gone").rc, kNotFound);
    EXPECT_NE(RegDeleteKeyA(HKEY_CURRENT_USER, sub_.c_str()), ERROR_SUCCESS) << "a key with subkeys stays";
    EXPECT_EQ(RegDeleteKeyA(key, "BETA"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyA(key, "beta"), kNotFound);
    EXPECT_EQ(RegDeleteKeyA(key, "alpha"), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, sub_.c_str()), ERROR_SUCCESS);
    Open(sub_, KEY_READ, kNotFound);
}

// The simulated host's own guarantees: handles are checked, access rights
// hold, its file has a readable canonical form, a malformed file is an
// error and never overwritten, and concurrent writers lose nothing.
TEST_F(RegistryContract, HostHandlesAccessAndPaths) {
    if (!contract::kSimulatedHost) GTEST_SKIP() << "checks of the simulated host";
    int dummy = 0;
    EXPECT_EQ(Get(reinterpret_cast<HKEY>(&dummy), "x").rc, ERROR_INVALID_HANDLE) << "never dereferenced";
    HKEY key = Create();
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
    key = Open(sub_, KEY_READ);
    EXPECT_EQ(SetText(key, "v", "1"), ERROR_ACCESS_DENIED) << "a read-only handle";
    EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, sub_.c_str()), ERROR_SUCCESS);
    EXPECT_EQ(Get(key, "v").rc, ERROR_KEY_DELETED);
    RegCloseKey(key);
    HKEY out = nullptr;
    for (const std::string& bad : {std::string("a\\\\b"), std::string("\\lead"), std::string(300, 'k')})
        EXPECT_NE(RegCreateKeyA(HKEY_CURRENT_USER, bad.c_str(), &out), ERROR_SUCCESS) << bad;
    EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, nullptr), ERROR_ACCESS_DENIED);
}

TEST_F(RegistryContract, HostFileReadsAndRewritesCanonically) {
    if (!contract::kSimulatedHost) GTEST_SKIP() << "the registry file of the simulated host";
    Write("registry.txt",
          "# hand written\r\n[hkey_current_user\\Control Panel\\Desktop]\r\n\"ScreenSaveActive\"=sz:\"1\"\n"
          "  \"Odd\"=hex(11):00,ff  \n\"Q\"=expand_sz:\"a\\\"b\\\\c\\x01\"\n"
          "[HKEY_LOCAL_MACHINE\\Sys%5bx%5d]\n\"\"=dword:a\n\"M\"=multi_sz:\"x\",\"\"\n");
    HKEY key = Open("control panel\\desktop");
    EXPECT_EQ(Get(key, "ScreenSaveActive").bytes, std::string("1", 2));
    Query q = Get(key, "Q");
    EXPECT_EQ(q.type, REG_EXPAND_SZ);
    EXPECT_EQ(q.bytes, std::string("a\"b\\c\x01", 7));
    RegCloseKey(key);
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYS[X]", 0, KEY_READ, &key), ERROR_SUCCESS);
    EXPECT_EQ(Get(key, "").bytes, std::string("\x0a\0\0\0", 4));
    RegCloseKey(key);

    key = Create();
    const BYTE raw[] = {'"', 0, 0xC3};
    ASSERT_EQ(Set(key, "Raw\n", REG_SZ, raw, sizeof raw), ERROR_SUCCESS);
    RegCloseKey(key);
    const std::string text = Read("registry.txt");
    for (const char* part :
         {"[HKEY_CURRENT_USER\\Control Panel\\Desktop]\n\"ScreenSaveActive\"=sz:\"1\"\n\"Odd\"=hex(11):00,ff\n",
          "[HKEY_LOCAL_MACHINE\\Sys%5bx%5d]\n\"\"=dword:0000000a\n\"M\"=multi_sz:\"x\",\"\"\n",
          "\"Raw\\x0a\"=hex(1):22,00,c3"})
        EXPECT_NE(text.find(part), std::string::npos) << part << "\nin\n" << text;
    std::string dump, error;
    ASSERT_TRUE(RegistryDumpText(dump, error)) << error;
    EXPECT_EQ(dump, text);
}

TEST_F(RegistryContract, HostMalformedFileIsAnErrorAndStaysUntouched) {
    if (!contract::kSimulatedHost) GTEST_SKIP() << "the registry file of the simulated host";
    const std::string k = "[HKEY_CURRENT_USER\\a]\n";
    for (const std::string& text :
         {std::string("\"v\"=sz:\"before any key\"\n"), std::string("[HKEY_NOWHERE\\x]\n"),
          std::string("[HKEY_CURRENT_USER\\a\\\\b]\n"), std::string("[HKEY_CURRENT_USER\\a\n"), k + "\"v\"=sz:\"open\n",
          k + "\"v\"=dword:123456789\n", k + "\"v\"=hex:0g\n", k + "\"v\"=hex(99999999999):00\n",
          k + "\"v\"=sz:\"\\q\"\n", k + "\"v\"=sz:\"1\"\n\"V\"=sz:\"2\"\n", k + "plain text\n"}) {
        Write("registry.txt", text);
        HKEY key = nullptr;
        EXPECT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, "a", &key), ERROR_REGISTRY_CORRUPT) << text;
        EXPECT_EQ(Read("registry.txt"), text);
        std::string dump, error;
        EXPECT_FALSE(RegistryDumpText(dump, error)) << text;
        EXPECT_NE(error.find("line "), std::string::npos) << error;
    }
}

TEST_F(RegistryContract, HostWritersDoNotLoseUpdates) {
    if (!contract::kSimulatedHost) GTEST_SKIP() << "the file lock of the simulated host";
    RegCloseKey(Create());
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([this, t] {
            HKEY key = nullptr;
            if (RegOpenKeyExA(HKEY_CURRENT_USER, sub_.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
            for (int i = 0; i < 15; ++i) SetText(key, ("v" + std::to_string(t) + "_" + std::to_string(i)).c_str(), "x");
            RegCloseKey(key);
        });
    }
    for (auto& th : threads) th.join();
    HKEY key = Open(sub_);
    EXPECT_EQ(Names([&](DWORD i, char* n, DWORD* s) {
                  return RegEnumValueA(key, i, n, s, nullptr, nullptr, nullptr, nullptr);
              }).size(),
              60u);
    RegCloseKey(key);
}

}  // namespace
