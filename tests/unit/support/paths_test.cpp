#include "support/paths.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform/files.h"
#include "scratch_fixture.h"

namespace {

using supporttest::Format;
using supporttest::Record;

std::string RoundTrip(const char* text) {
    Record r(path_parse(nullptr, text));
    return r.p == nullptr ? "<null>" : Format(r.p);
}

class PathsTest : public supporttest::ScratchTest {};

TEST_F(PathsTest, DriveShareHostAndBracketFormsParseAndFormat) {
    // Text, node|device|directory|name, and the formatted text (nullptr: not checked).
    const struct { const char* text; const char* fields; const char* formatted; } cases[] = {
        {"C:\\vd\\msg", "|C|/vd|msg", "C:\\vd\\msg"},
        {"\\\\host\\share\\file.txt", "host||/share|file.txt", "\\\\host\\share\\file.txt"},
        // The relative directory is kept apart from the host name.
        {"host!dir\\file", "host||dir|file", "\\\\host\\dir\\file"},
        {"a!b!c\\x", "a.b||c|x", nullptr},
        {"file.txt@server", "server|||file.txt", "\\\\server\\file.txt"},
        {"[dir.sub]file.txt", "||/dir/sub|file.txt", nullptr},
        {"[.sub]x", "||sub|x", nullptr},
        {"[]x", "|||x", nullptr},
        {"node::dev:[a<b>]n", "node|dev|/a/b|n", nullptr},
    };
    for (const auto& c : cases) {
        Record r(path_parse(nullptr, c.text));
        ASSERT_NE(r.p, nullptr) << c.text;
        EXPECT_EQ(std::string(r->node) + "|" + r->device + "|" + r->directory + "|" + r->name, c.fields) << c.text;
        EXPECT_EQ(r->is_directory, -1) << c.text;  // not known until listed or checked
        if (c.formatted != nullptr) {
            EXPECT_EQ(Format(r.p), c.formatted) << c.text;
        }
    }

    for (const char* text :
         {"C:\\", "C:", "\\root\\x", "rel\\sub\\f.txt", "C:name", "\\\\host\\share", "//host/share/x"}) {
        std::string expected = text;
        std::replace(expected.begin(), expected.end(), '/', '\\');
        EXPECT_EQ(RoundTrip(text), expected) << text;
    }
}

TEST_F(PathsTest, FormattingRules) {
    Record r(path_new());
    std::strcpy(r->directory, "/a//b/");
    EXPECT_EQ(Format(r.p), "\\a\\b\\");
    std::strcpy(r->device, "ABC");
    std::strcpy(r->name, "n");
    EXPECT_EQ(Format(r.p), "A:\\a\\b\\n");
    // Patterns are not written; a wildcard name is also the pattern.
    path_set_name_pattern(r.p, "*.txt");
    EXPECT_EQ(Format(r.p), "A:\\a\\b\\n");
    path_parse(r.p, "C:\\dir\\*.ct");
    EXPECT_STREQ(r->name_pattern, "*.ct");
    path_parse(r.p, "A:\\a\\b\\n");
    EXPECT_STREQ(r->name_pattern, "");

    char small[5];
    ASSERT_EQ(path_format(r.p, small, sizeof small), small);
    EXPECT_STREQ(small, "A:\\a");
    EXPECT_EQ(path_format(r.p, small, 0), nullptr);
}

TEST_F(PathsTest, BraceExpansion) {
    env_set("VDT_DIR", "C:\\data");
    env_set("VDT_EMPTY", "");
    EXPECT_EQ(RoundTrip("{VDT_DIR}\\x.txt"), "C:\\data\\x.txt");

    // Text and output size: the expansion. A value that does not fit in the
    // remaining room inserts nothing; exactly fitting it is inserted.
    const struct { const char* text; int size; const char* want; } cases[] = {{"a{VDT_MISSING_XYZ}b", 64, "ab"}, {"a{}b{VDT_EMPTY}c", 64, "abc"}, {"a{VDT_DIR", 64, "aC:\\data"},
                 {"abcde{VDT_DIR}fghijk", 10, "abcdefghi"}, {"ab{VDT_DIR}", 10, "abC:\\data"}};
    char out[64];
    for (const auto& c : cases) EXPECT_STREQ(path_expand(c.text, out, c.size), c.want) << c.text;

    // Only the first 128 characters of a name count.
    std::string name(128, 'N');
    env_set(name.c_str(), "v");
    std::string text = "{" + name + "TAIL}";
    EXPECT_STREQ(path_expand(text.c_str(), out, sizeof out), "v");
    env_set(name.c_str(), nullptr);
}

TEST_F(PathsTest, OverlongPathTextsAreRefusedAndAppendingCuts) {
    // A path whose parts do not fit is refused, the record left as it was:
    // cut, it would name another file.
    Record r(path_parse(nullptr, "C:\\keep\\me.txt"));
    std::string dir = "C:\\" + std::string(400, 'd');
    EXPECT_EQ(path_set_directory(nullptr, dir.c_str()), nullptr);
    std::string split = "C:\\" + std::string(200, 'd') + "\\" + std::string(100, 'e') + "\\f";
    EXPECT_EQ(path_parse(r.p, split.c_str()), nullptr);
    EXPECT_EQ(Format(r.p), "C:\\keep\\me.txt");
    for (const std::string& text : {std::string(300, 'n') + ".txt", "\\\\" + std::string(63, 'h') + "\\s\\f",
                                    std::string(64, 'v') + ":\\x", "C:\\" + std::string(1100, 'x'),
                                    "[" + std::string(300, 'b') + "]f"}) {
        EXPECT_EQ(path_parse(r.p, text.c_str()), nullptr) << text.size();
    }
    // Just within every field.
    std::string fits = "\\\\" + std::string(62, 'h') + "\\" + std::string(254, 'd') + "\\" + std::string(127, 'n');
    ASSERT_NE(path_parse(r.p, fits.c_str()), nullptr);
    EXPECT_EQ(std::strlen(r->node), 62u);
    EXPECT_EQ(std::strlen(r->directory), 255u);
    EXPECT_EQ(std::strlen(r->name), 127u);

    for (int i = 0; i < 100; ++i) path_append_directory(r.p, "level");
    EXPECT_EQ(std::strlen(r->directory), sizeof r->directory - 1);
}

TEST_F(PathsTest, DirectoriesAndExtensions) {
    Record r(path_new());
    for (const char* d : {"msg", "en", ".", "[]"}) path_append_directory(r.p, d);
    EXPECT_STREQ(r->directory, "/msg/en");
    path_append_directory(r.p, "..");
    EXPECT_STREQ(r->directory, "/msg");
    for (const char* d : {"[-]", ".."}) path_append_directory(r.p, d);
    EXPECT_STREQ(r->directory, "/");

    path_set_directory(r.p, "D:\\app\\net");
    EXPECT_STREQ(r->device, "D");
    EXPECT_STREQ(r->directory, "/app/net");

    for (const auto& [name, ext, want] : {std::array<const char*, 3>{"task", "txt", "task.txt"},
                                          {"task.msg", ".txt", "task.txt"}, {"task.txt", "", "task"}}) {
        path_set_name(r.p, name);
        path_set_extension(r.p, ext);
        EXPECT_STREQ(r->name, want) << name << " " << ext;
    }

    Record here(path_current(nullptr)), dot(path_set_directory(nullptr, ".")), up(path_set_directory(nullptr, ".."));
    ASSERT_NE(here.p, nullptr);
    EXPECT_STREQ(dot->directory, here->directory);
    std::string parent = here->directory;
    parent.resize(parent.find_last_of('/') == 0 ? 1 : parent.find_last_of('/'));
    EXPECT_EQ(std::string(up->directory), parent);
}

TEST_F(PathsTest, CombineAndResolve) {
    // A braced base is expanded; a relative one is laid over the current
    // directory. The output holds 128 bytes: a longer result is refused,
    // never cut; 127 characters still fit.
    env_set("VDT_DIR", "C:\\data");
    Record here(path_current(nullptr));
    const std::string cwd = Format(here.p), z120(120, 'z');
    const struct { std::string base, name, want; } cases[] = {  // want "": refused
        {"C:\\app", "ct/domain.ct", "C:\\app\\ct\\domain.ct"}, {"C:\\app", "D:\\x\\y.ct", "D:\\x\\y.ct"},
        {"C:\\app", "\\abs\\f", "\\abs\\f"}, {"{VDT_DIR}", "f.ct", "C:\\data\\f.ct"}, {"rel", "f.ct", cwd + "\\rel\\f.ct"},
        {"C:\\app", z120, "C:\\app\\" + z120}, {"C:\\app", z120 + "z", ""}, {std::string(300, 'b'), "f", ""}};
    for (const auto& c : cases) {
        char out[kPathResolveSize];
        const char* got = path_resolve(out, c.base.c_str(), c.name.c_str());
        EXPECT_EQ(got == nullptr ? "" : std::string(got), c.want) << c.base << " " << c.name;
        EXPECT_EQ(std::string(out), c.want) << c.name;
    }
}

TEST_F(PathsTest, SearchListOrderAndKind) {
    for (const char* d : {"A", "B", "C"}) Write(std::string(d) + "/f.txt");
    std::string a = Path("A"), b = Path("B"), c = Path("C"), none = Path("none");
    auto found = [](const std::string& list) {
        Record r(path_search(list.c_str(), "f.txt"));
        return r.p == nullptr ? std::string("-") : std::string(r->directory);
    };
    auto dir_of = [](const std::string& p) {
        Record r(path_set_directory(nullptr, p.c_str()));
        return std::string(r->directory);
    };
    EXPECT_EQ(found(a + ";" + b), dir_of(a));
    EXPECT_EQ(found(none + "," + b + ";" + c), dir_of(b));
    // "X;B,C": "X;B" is one element, then C.
    EXPECT_EQ(found(none + ";" + b + "," + c), dir_of(c));
    EXPECT_EQ(found(none + "," + none), "-");
    EXPECT_EQ(path_search(nullptr, "f.txt"), nullptr);  // no list and no $VDPATH

    Record file(path_parse(nullptr, Path("A/f.txt").c_str())), dir(path_set_directory(nullptr, a.c_str()));
    EXPECT_EQ(path_kind(file.p), 3);
    EXPECT_EQ(path_kind(dir.p), 0);
}

TEST_F(PathsTest, WorkingDirectoryIsPlainAndRelativeSearchEntriesLieUnderIt) {
    // A working directory with the path grammar's "@", "!" and "[" in it.
    const std::string odd = "odd@host!x[y";
    Write(odd + "/ct/domain.ct");
    Write(odd + "/rel/msg/f.txt");
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(dir_ / odd);
    char cwd[512];
    win::DWORD n = win::GetCurrentDirectoryA(sizeof cwd, cwd);
    Record here(path_current(nullptr));
    char out[kPathResolveSize];
    const char* resolved = path_resolve(out, nullptr, "ct/domain.ct");
    Record found(path_search("none;rel", "msg/f.txt"));
    env_set("VDPATH", "rel");
    Record via_env(path_search(nullptr, "msg\\f.txt"));
    std::filesystem::current_path(before);

    ASSERT_GT(n, 0u);
    ASSERT_NE(here.p, nullptr);
    EXPECT_STREQ(here->node, "");
    EXPECT_EQ(Format(here.p), std::string(cwd, n));
    EXPECT_STREQ(resolved, (std::string(cwd, n) + "\\ct\\domain.ct").c_str());
    EXPECT_EQ(Format(found.p), std::string(cwd, n) + "\\rel\\msg\\f.txt");
    EXPECT_EQ(Format(via_env.p), Format(found.p));
}

}  // namespace
