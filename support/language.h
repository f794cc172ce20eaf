// Installed language, code-page settings and double-byte-aware text
// operations.
//
// The installed language is the first two characters of the first line of
// "<root>/install/vdlang.lst", root = $VDPATH, else $VDROOT. The code-page
// settings come from $VDCODEPAGE (932, 936, 949, 950 are double-byte).
#pragma once

// Language list file, formed with the installation root.
inline constexpr const char* kLangFileFormat = "%s/install/vdlang.lst";

// The two-letter code of the installed language (a process-wide text that
// keeps its previous value, initially empty, when the file has no line);
// null when no root is set or the file cannot be opened.
const char* lang_current();

// Writes the language file with the first two characters of `code`
// upper-cased (null: an empty file). 0, or -1 when no root is set or the
// file cannot be written.
int lang_set(const char* code);

// The installed languages: directory names under "<root>/DLL" (not
// beginning with "."), first two characters upper-cased, in listing order,
// as a process-wide null-terminated array replaced at each call (empty when
// the directory is missing or holds no language). The count is stored when
// `count` is not null. Null when no root is set or memory runs out (count 0).
char** lang_list(int* count);

// 0 when the language can be shown in the current Windows ANSI code page
// ("EN..." always; otherwise the catalog text of "<code>_CODEPAGES" must
// contain the code page in decimal), 1 when not.
int lang_codepage_ok(const char* code);

// Process-wide code-page settings.
struct CodePageSettings {
    bool dbcs;           // double-byte code page configured
    char font_name[16];  // display font: "Helv", or "MINCHO" for 932
    bool taken;          // settings read from $VDCODEPAGE
    int code_page;       // the last code page read
};
CodePageSettings& codepage_settings();
// Back to the initial settings (not taken, no double-byte, "Helv").
void codepage_reset();

// Takes the settings once; 0, or -1 when $VDCODEPAGE is not set (the
// settings stay untaken so a later call reads the variable again).
int codepage_init();
// Sets only font_name from $VDCODEPAGE; 0, or -1 when not set.
int codepage_font();
// Reads $VDCODEPAGE as a decimal number (leading digits; none: 0).
// 0, or -1 when not set (or `code_page` is null).
int codepage_get(int* code_page);

// In-place ASCII case conversion; with double-byte handling on, a lead byte
// and the byte after it are left alone. Return the text (null stays null).
char* text_upper(char* text);
char* text_lower(char* text);

// 2 at a lead byte followed by a byte that is not the terminator, else 1.
int dbcs_char_length(const char* p);
// Start of the character before `position` (never before `start`).
const char* dbcs_previous(const char* start, const char* position);
// Length of that character.
int dbcs_previous_length(const char* start, const char* position);
