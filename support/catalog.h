// Message catalogs: text files "msg/<language>/<name>.txt" under the
// directories of $VDPATH (else $VDROOT, else ".."), loaded into the
// process-wide catalog tree (message_lookup.h).
//
// Line format: "*" or "#" in the first column starts a comment; otherwise
// KEY, a run of spaces and "|", then the text, either in double quotes
// (kept as it stands up to the closing quote) or plain (trailing spaces
// removed). The escapes \\ \a \b \n \r \t are decoded; a backslash before
// any other character stays. Later lines and later files override earlier
// ones. Lines longer than kMsgLineMax characters keep their first
// kMsgLineMax characters; the rest of such a line is ignored.
#pragma once

#include <cstddef>
#include <cstdio>

#include "support/message_lookup.h"

// Longest catalog line taken (characters, without the line end).
inline constexpr int kMsgLineMax = 511;

// Sets up the console code pages, starts a new process-wide catalog and
// loads "master" and then `name`. -1 when `name` failed to load; otherwise
// the number of keys added (of `name` alone when "master" failed).
// A catalog loaded before is not freed (texts handed out stay valid).
int msg_init(const char* name);

// Loads one more catalog into the process-wide tree, in the installed
// language. Number of keys added, or -1 when the file cannot be opened or
// memory runs out (entries inserted so far stay).
int msg_load(const char* name);

// The same into the tree at *root; `language` null means the installed
// language ("EN" when none can be read), "" means no language directory.
int msg_load_into(MsgNode** root, const char* name, const char* language);

// Parses catalog text held in memory (the same line rules as a file) into
// *root. Number of keys added, or -1 when memory runs out.
int msg_load_text(MsgNode** root, const char* data, std::size_t size);

// Reads catalog lines from an open stream into *root (the stream stays
// open). Number of keys added, or -1 when memory runs out.
int msg_load_stream(MsgNode** root, std::FILE* file);

// The catalog file that msg_load_into would open, formatted into `out`
// (size bytes, always terminated); null when no path can be formed.
char* msg_find_file(const char* name, const char* language, char* out, int size);

// Parses one catalog line in place (the line ends at its terminator or at
// its first newline). Returns 1 with *key and *text pointing into `line`
// when the line holds an entry, 0 for a comment, an empty line or a key
// without text. Tabs, escapes and the console translation are applied.
int msg_parse_line(char* line, char** key, char** text);

// Console translation of catalog texts: msg_init activates it only when the
// console input code page could not be set to 1252 and is 437 or 850 (and
// the kernel library is not loaded). msg_set_translation(437 or 850)
// activates the table of that OEM code page, any other value switches
// translation off; returns 0 when a table is active, -1 otherwise.
int msg_set_translation(unsigned code_page);
// The active table (256 entries) or null.
const unsigned char* msg_translation();
// The Windows-1252 to OEM table of 437 or 850 (256 entries, identity below
// 128); null for other code pages.
const unsigned char* msg_oem_table(unsigned code_page);
