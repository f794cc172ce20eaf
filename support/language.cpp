#include "support/language.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "support/environment.h"
#include "support/files.h"
#include "support/message_lookup.h"
#include "support/paths.h"

namespace {

char g_language[3] = "";
char** g_languages = nullptr;

CodePageSettings g_settings{false, "Helv", false, 0};

unsigned char Upper(unsigned char c) { return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 32) : c; }
unsigned char Lower(unsigned char c) { return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c; }

bool Lead(char c) { return win::IsDBCSLeadByte(static_cast<win::BYTE>(c)) != win::FALSE; }

// The language file as a record; null when no root is set.
PathRecord* LanguageFile() {
    std::optional<std::string> root = env_install_root();
    if (!root) return nullptr;
    std::string text = *root + "/install/vdlang.lst";
    return path_parse(nullptr, text.c_str());
}

void FreeList(char** list) {
    if (list == nullptr) return;
    for (char** p = list; *p != nullptr; ++p) std::free(*p);
    std::free(list);
}

template <unsigned char (*Convert)(unsigned char)>
char* ConvertText(char* text) {
    if (text == nullptr) return text;
    bool dbcs = g_settings.dbcs;
    for (char* p = text; *p != '\0'; ++p) {
        if (dbcs && Lead(*p)) {
            if (p[1] == '\0') break;  // a lead byte at the end has no trail byte
            ++p;
            continue;
        }
        *p = static_cast<char>(Convert(static_cast<unsigned char>(*p)));
    }
    return text;
}

}  // namespace

const char* lang_current() {
    PathRecord* record = LanguageFile();
    if (record == nullptr) return nullptr;
    std::FILE* file = path_open(record, "r");
    path_free(record);
    if (file == nullptr) return nullptr;
    char line[128];
    if (std::fgets(line, sizeof line, file) != nullptr) {
        // Two characters at most, and never the line end.
        std::size_t n = std::strcspn(line, "\r\n");
        if (n > 2) n = 2;
        std::memcpy(g_language, line, n);
        g_language[n] = '\0';
    }
    std::fclose(file);
    return g_language;
}

int lang_set(const char* code) {
    PathRecord* record = LanguageFile();
    if (record == nullptr) return -1;
    std::FILE* file = path_open(record, "w");
    path_free(record);
    if (file == nullptr) return -1;
    char text[3] = "";
    if (code != nullptr) {
        std::size_t n = std::strlen(code) < 2 ? std::strlen(code) : 2;
        for (std::size_t i = 0; i < n; ++i) text[i] = static_cast<char>(Upper(static_cast<unsigned char>(code[i])));
        text[n] = '\0';
    }
    std::size_t length = std::strlen(text);
    bool ok = std::fwrite(text, 1, length, file) == length;
    if (std::fclose(file) != 0) ok = false;
    return ok ? 0 : -1;
}

char** lang_list(int* count) {
    FreeList(g_languages);
    g_languages = nullptr;
    if (count != nullptr) *count = 0;
    std::optional<std::string> root = env_install_root();
    if (!root) return nullptr;
    PathRecord* record = path_set_directory(nullptr, root->c_str());
    if (record == nullptr) return nullptr;
    if (path_append_directory(record, "DLL") == nullptr || path_set_name_pattern(record, "*.*") == nullptr) {
        path_free(record);
        return nullptr;
    }
    std::vector<char*> names;
    bool failed = false;
    for (int rc = dir_first(record); rc == 0 && !failed; rc = dir_next(record)) {
        if (record->is_directory != 1 || record->name[0] == '.') continue;
        std::size_t n = std::strcspn(record->name, "\n");
        char* name = static_cast<char*>(std::malloc(n + 1));
        if (name == nullptr) {
            failed = true;
            break;
        }
        std::memcpy(name, record->name, n);
        name[n] = '\0';
        for (std::size_t i = 0; i < n && i < 2; ++i) name[i] = static_cast<char>(Upper(static_cast<unsigned char>(name[i])));
        try {
            names.push_back(name);
        } catch (...) {
            std::free(name);
            failed = true;
        }
    }
    dir_close(record);
    path_free(record);
    char** list = failed ? nullptr : static_cast<char**>(std::malloc((names.size() + 1) * sizeof(char*)));
    if (list == nullptr) {
        for (char* name : names) std::free(name);
        return nullptr;
    }
    for (std::size_t i = 0; i < names.size(); ++i) list[i] = names[i];
    list[names.size()] = nullptr;
    g_languages = list;
    if (count != nullptr) *count = static_cast<int>(names.size());
    return list;
}

int lang_codepage_ok(const char* code) {
    if (code == nullptr) return 1;
    if (Upper(static_cast<unsigned char>(code[0])) == 'E' && Upper(static_cast<unsigned char>(code[1])) == 'N') return 0;
    std::string key = std::string(code) + "_CODEPAGES";
    const char* pages = msg_lookup(key.c_str());
    std::string acp = std::to_string(win::GetACP());
    return std::strstr(pages, acp.c_str()) != nullptr ? 0 : 1;
}

CodePageSettings& codepage_settings() { return g_settings; }

void codepage_reset() { g_settings = CodePageSettings{false, "Helv", false, 0}; }

int codepage_get(int* code_page) {
    if (code_page == nullptr) return -1;
    std::optional<std::string> value = env_value(kEnvCodePage);
    if (!value) return -1;
    *code_page = std::atoi(value->c_str());
    return 0;
}

int codepage_init() {
    if (g_settings.taken) return 0;
    int cp = 0;
    if (codepage_get(&cp) != 0) return -1;
    g_settings.taken = true;
    g_settings.code_page = cp;
    std::snprintf(g_settings.font_name, sizeof g_settings.font_name, "%s", cp == 932 ? "MINCHO" : "Helv");
    g_settings.dbcs = cp == 932 || cp == 936 || cp == 949 || cp == 950;
    return 0;
}

int codepage_font() {
    int cp = 0;
    if (codepage_get(&cp) != 0) return -1;
    g_settings.code_page = cp;
    std::snprintf(g_settings.font_name, sizeof g_settings.font_name, "%s", cp == 932 ? "MINCHO" : "Helv");
    return 0;
}

char* text_upper(char* text) { return ConvertText<Upper>(text); }
char* text_lower(char* text) { return ConvertText<Lower>(text); }

int dbcs_char_length(const char* p) {
    if (p == nullptr || *p == '\0') return 1;
    return (Lead(*p) && p[1] != '\0') ? 2 : 1;
}

const char* dbcs_previous(const char* start, const char* position) {
    if (start == nullptr || position == nullptr || position <= start) return start;
    const char* q = position - 1;
    if (q <= start) return start;
    if (Lead(*q)) return position - 2;
    // Count the lead bytes right before q: an odd number pairs the last one
    // with q.
    std::ptrdiff_t walked = 0;
    for (const char* p = q; p > start && Lead(p[-1]); --p) ++walked;
    return (walked % 2 == 1) ? q - 1 : q;
}

int dbcs_previous_length(const char* start, const char* position) {
    return static_cast<int>(position - dbcs_previous(start, position));
}
