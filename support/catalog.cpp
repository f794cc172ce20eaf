#include "support/catalog.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "platform/console.h"
#include "platform/files.h"
#include "platform/module.h"
#include "support/environment.h"
#include "support/language.h"
#include "support/paths.h"

namespace {

// Catalogs that msg_init replaced. Callers may still hold their texts, so
// they are kept, and stay reachable.
struct Retired {
    MsgNode* root;
    Retired* next;
};
Retired* g_retired = nullptr;

void Retire(MsgNode* root) {
    if (root == nullptr) return;
    auto* entry = static_cast<Retired*>(std::malloc(sizeof(Retired)));
    if (entry == nullptr) return;  // out of memory: the tree is left as it is
    *entry = Retired{root, g_retired};
    g_retired = entry;
}

// The last component of a catalog name has an extension.
bool HasExtension(const char* name) {
    const char* base = name;
    for (const char* p = name; *p != '\0'; ++p)
        if (*p == '/' || *p == '\\') base = p + 1;
    return std::strchr(base, '.') != nullptr;
}

bool IsFullPath(const PathRecord* record) {
    return record->node[0] != '\0' || record->device[0] != '\0' || record->directory[0] == '/';
}

// Formats the record into `out`; false when it does not fit.
bool FormatInto(const PathRecord* record, char* out, int size) {
    char* full = path_format(record, nullptr, 0);
    if (full == nullptr) return false;
    std::size_t n = std::strlen(full);
    bool fits = n < static_cast<std::size_t>(size);
    if (fits) std::memcpy(out, full, n + 1);
    std::free(full);
    return fits;
}

std::string Cut(const char* text, std::size_t limit) {
    std::string s(text);
    if (s.size() > limit) s.resize(limit);
    return s;
}

}  // namespace

char* msg_find_file(const char* name, const char* language, char* out, int size) {
    if (name == nullptr || out == nullptr || size < 1) return nullptr;
    out[0] = '\0';
    PathRecord* given = path_parse(nullptr, name);
    if (given == nullptr) return nullptr;
    bool found = false;
    if (!IsFullPath(given)) {
        std::optional<std::string> list = env_value(kEnvPath);
        if (!list) list = env_value(kEnvRoot);
        if (!list) list = std::string("..");
        if (language == nullptr) {
            language = lang_current();
            if (language == nullptr) language = "EN";
        }
        std::string relative = "msg/";
        if (*language != '\0') relative += Cut(language, 128) + "/";
        relative += Cut(name, 128);
        if (!HasExtension(name)) relative += ".txt";
        text_lower(relative.data());
        if (PathRecord* hit = path_search(list->c_str(), relative.c_str())) {
            found = FormatInto(hit, out, size);
            path_free(hit);
        }
    }
    if (!found) found = path_set_extension(given, "txt") != nullptr && FormatInto(given, out, size);
    path_free(given);
    return found ? out : nullptr;
}

int msg_load_into(MsgNode** root, const char* name, const char* language) {
    if (root == nullptr) return -1;
    char path[kPathFormatSize];
    if (msg_find_file(name, language, path, sizeof path) == nullptr) return -1;
    std::FILE* file = win::crt_fopen(path, "r");
    if (file == nullptr) return -1;
    int added = msg_load_stream(root, file);
    std::fclose(file);
    return added;
}

int msg_load(const char* name) { return msg_load_into(msg_root_slot(), name, nullptr); }

int msg_init(const char* name) {
    // Double-byte handling only when $VDCODEPAGE names such a code page.
    if (codepage_init() != 0) codepage_settings().dbcs = false;
    msg_set_translation(0);
    if (!codepage_settings().dbcs) {
        win::SetConsoleOutputCP(1252);
        win::SetConsoleCP(1252);
        // Texts are translated only for a console that keeps an OEM code
        // page, and never inside a runtime task (kernel library loaded).
        if (win::GetModuleHandleA("VDKERNEL") == nullptr) {
            win::UINT cp = win::GetConsoleCP();
            if (cp != 0 && cp != 1252 && (cp == 437 || cp == 850)) msg_set_translation(cp);
        }
    }
    MsgNode** root = msg_root_slot();
    Retire(*root);
    *root = nullptr;
    int master = msg_load("master");
    int own = msg_load(name);
    if (own < 0) return -1;
    return master < 0 ? own : master + own;
}

