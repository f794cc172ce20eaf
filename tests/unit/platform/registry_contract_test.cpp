// The registry's value rules the system's readers rely on (a text's size
// counts its terminator; a size-only query and a buffer too small both give
// the size needed), on both sides, below a fresh key under HKEY_CURRENT_USER.
#include "platform/registry.h"

#include "tests/unit/platform/contract_fixture.h"

namespace {

using namespace win;

class RegistryContract : public contract::ScratchTest {
protected:
    void TearDown() override {
        RegDeleteKeyA(HKEY_CURRENT_USER, sub_.c_str());
        ScratchTest::TearDown();
    }
    const std::string sub_ = "Software\\VdRegistryContract" + tag_;
};

LONG Set(HKEY key, const char* name, DWORD type, const void* data, DWORD size) {
    return RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size);
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

TEST_F(RegistryContract, ValuesKeepTypeAndBytesAndReportSizes) {
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, sub_.c_str(), 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, sub_.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
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
    DWORD type = 0, size = 0;
    EXPECT_EQ(RegQueryValueExA(key, "screensavetimeout", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 4u);
    Query small = Get(key, "ScreenSaveTimeOut", 2);
    EXPECT_EQ(small.rc, ERROR_MORE_DATA);
    EXPECT_EQ(small.size, 4u);
    EXPECT_EQ(Get(key, "Missing").rc, ERROR_FILE_NOT_FOUND);
    RegCloseKey(key);
}

}  // namespace
