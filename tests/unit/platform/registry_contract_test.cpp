// The registry family on both sides: each test works below a fresh key of
// its own under HKEY_CURRENT_USER.
#include "platform/registry.h"

#include "tests/unit/platform/contract_fixture.h"

namespace {

using namespace win;
constexpr LONG kNotFound = ERROR_FILE_NOT_FOUND;
constexpr LONG kMoreData = ERROR_MORE_DATA;

class RegistryContract : public contract::ScratchTest {
protected:
    void TearDown() override {
        Remove(sub_);
        ScratchTest::TearDown();
    }
    static void Remove(const std::string& path) {  // leaf first
        HKEY key = nullptr;
        RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_ALL_ACCESS, &key);
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
    static HKEY Open(const std::string& path, LONG expected = ERROR_SUCCESS) {
        HKEY key = nullptr;
        EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key), expected) << path;
        return key;
    }
    const std::string sub_ = "Software\\VdRegistryContract" + tag_;
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

TEST_F(RegistryContract, CreateOpenDispositionsAndCase) {
    Open(sub_ + "\\Deep\\Er", kNotFound);
    DWORD how = 0;
    RegCloseKey(Create("Deep\\Er", &how));
    EXPECT_EQ(how, REG_CREATED_NEW_KEY) << "parents are created with it";
    RegCloseKey(Create("deep\\ER", &how));
    EXPECT_EQ(how, REG_OPENED_EXISTING_KEY) << "names compare without case";
    HKEY key = Open(sub_ + "\\DEEP\\er"), again = nullptr;
    EXPECT_EQ(RegOpenKeyA(key, nullptr, &again), ERROR_SUCCESS) << "no subkey: the key itself again";
    RegCloseKey(again);
    RegCloseKey(key);
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, sub_.c_str(), 0, KEY_READ, nullptr), ERROR_INVALID_PARAMETER);
}

TEST_F(RegistryContract, ValuesKeepTypeAndBytesAndReportSizes) {
    HKEY key = Create();
    const DWORD number = 0x01020304;
    const char multi[] = "one\0two\0";
    struct Case {
        const char* name;
        DWORD type;
        std::string bytes;
    } const cases[] = {
        {"ScreenSaveTimeOut", REG_SZ, std::string("600", 4)},
        {"Count", REG_DWORD, std::string(reinterpret_cast<const char*>(&number), 4)},
        {"List", REG_MULTI_SZ, std::string(multi, sizeof multi)},
    };
    for (const Case& c : cases) ASSERT_EQ(Set(key, c.name, c.type, c.bytes.data(), c.bytes.size()), ERROR_SUCCESS);
    for (const Case& c : cases) {
        Query q = Get(key, c.name);
        EXPECT_EQ(q.rc, ERROR_SUCCESS) << c.name;
        EXPECT_EQ(q.type, c.type) << c.name;
        EXPECT_EQ(q.bytes, c.bytes) << c.name;
    }
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
    RegCloseKey(key);
}

}  // namespace
