// Path parsing with brace expansion: any text, parsed, formatted, combined,
// extended and resolved, must stay inside every field and buffer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "support/environment.h"
#include "support/paths.h"

namespace {

template <std::size_t N>
void CheckField(const char (&field)[N]) {
    if (::strnlen(field, N) >= N) std::abort();
}

void CheckRecord(const PathRecord* r) {
    CheckField(r->node);
    CheckField(r->device);
    CheckField(r->directory);
    CheckField(r->name);
    CheckField(r->name_pattern);
    CheckField(r->type);
    CheckField(r->type_pattern);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static bool once = [] {
        env_set("VDF_A", "C:\\fuzz\\dir");
        env_set("VDF_LONG", std::string(300, 'L').c_str());
        env_set("VDF_EMPTY", "");
        return true;
    }();
    (void)once;
    std::string text(reinterpret_cast<const char*>(data), size);
    text = text.c_str();  // stop at an embedded NUL as a C caller would

    char expanded[64];
    std::memset(expanded, 0x5A, sizeof expanded);
    path_expand(text.c_str(), expanded, 48);
    if (::strnlen(expanded, 48) >= 48 || expanded[48] != 0x5A) std::abort();

    PathRecord* r = path_parse(nullptr, text.c_str());
    if (r == nullptr) return 0;
    CheckRecord(r);
    char small[17];
    path_format(r, small, sizeof small);
    if (::strnlen(small, sizeof small) >= sizeof small) std::abort();
    char* whole = path_format(r, nullptr, 0);
    if (whole != nullptr) {
        // The formatted text parses again within bounds.
        PathRecord* again = path_parse(nullptr, whole);
        if (again != nullptr) {
            CheckRecord(again);
            path_free(again);
        }
        std::free(whole);
    }

    PathRecord* other = path_set_directory(nullptr, text.c_str());
    if (other != nullptr) {
        path_append_directory(other, text.c_str());
        path_set_extension(other, text.c_str());
        path_set_type(other, text.c_str());
        path_combine(other, r);
        CheckRecord(other);
        path_free(other);
    }
    path_set_extension(r, "txt");
    CheckRecord(r);

    char resolved[kPathResolveSize + 4];
    std::memset(resolved, 0x5A, sizeof resolved);
    path_resolve(resolved, "C:\\base", text.c_str());
    if (::strnlen(resolved, kPathResolveSize) >= kPathResolveSize || resolved[kPathResolveSize] != 0x5A) {
        std::abort();
    }
    char base[9], ext[5];
    path_split_name(text.c_str(), base, sizeof base, ext, sizeof ext);
    path_free(r);
    return 0;
}
