// Path parsing with brace expansion: any text, parsed, formatted, combined,
// extended and resolved, must stay inside every field and buffer.
#include <cstdlib>
#include <cstring>

#include "support/environment.h"
#include "support/paths.h"
#include "tests/fuzz/fuzz_scratch.h"

namespace {

void CheckRecord(const PathRecord* r) {
    const auto check = [](const auto& field) { if (::strnlen(field, sizeof field) >= sizeof field) std::abort(); };
    check(r->node), check(r->device), check(r->directory), check(r->name), check(r->name_pattern), check(r->type);
    check(r->type_pattern);
}

// `out` of `size` bytes, filled by `write` into its first `limit`: terminated
// there and untouched behind.
template <std::size_t N, typename Write>
void CheckBounded(char (&out)[N], std::size_t limit, Write write) {
    std::memset(out, 0x5A, N);
    write(out, limit);
    if (::strnlen(out, limit) >= limit || (limit < N && out[limit] != 0x5A)) std::abort();
}

}  // namespace

VD_FUZZ(bytes) {
    [[maybe_unused]] static bool once = [] {
        env_set("VDF_A", "C:\\fuzz\\dir");
        env_set("VDF_LONG", std::string(300, 'L').c_str());
        env_set("VDF_EMPTY", "");
        return true;
    }();
    const std::string text = std::string(bytes).c_str();  // stop at an embedded NUL as a C caller would

    char expanded[64], small[17], resolved[kPathResolveSize + 4];
    CheckBounded(expanded, 48, [&](char* out, std::size_t n) { path_expand(text.c_str(), out, n); });
    PathRecord* r = path_parse(nullptr, text.c_str());
    if (r == nullptr) return;
    CheckRecord(r);
    CheckBounded(small, sizeof small, [&](char* out, std::size_t n) { path_format(r, out, n); });
    if (char* whole = path_format(r, nullptr, 0)) {
        // The formatted text parses again within bounds.
        if (PathRecord* again = path_parse(nullptr, whole)) {
            CheckRecord(again);
            path_free(again);
        }
        std::free(whole);
    }
    if (PathRecord* other = path_set_directory(nullptr, text.c_str())) {
        path_append_directory(other, text.c_str());
        path_set_extension(other, text.c_str());
        path_set_type(other, text.c_str());
        path_combine(other, r);
        CheckRecord(other);
        path_free(other);
    }
    path_set_extension(r, "txt");
    CheckRecord(r);
    CheckBounded(resolved, kPathResolveSize,
                 [&](char* out, std::size_t) { path_resolve(out, "C:\\base", text.c_str()); });
    char base[9], ext[5];
    path_split_name(text.c_str(), base, sizeof base, ext, sizeof ext);
    path_free(r);
}
