// File-system operations on path records: directory listings, asking what
// a path is, creating a directory chain, removing a directory, creating an
// empty file and deleting a file. Every operation formats the record into a
// Windows path (511 characters at most) and calls the Windows file API.
// Failures are -1; the Windows error is dropped.
#pragma once

#include <cstdint>

#include "support/paths.h"

// Packs a date and time as a listing's `timestamp`: bits 26-31 year - 1980
// (modulo 64), 22-25 month, 17-21 day, 12-16 hour, 6-11 minute, 0-5 second.
std::uint32_t file_pack_time(int year, int month, int day, int hour, int minute, int second);

// Starts listing the record's directory with its name_pattern ("*.*" when
// empty); 0 with the first entry in the record (name, is_directory,
// timestamp, size), or -1. A listing already open is ended first.
int dir_first(PathRecord* record);
// 0 with the next entry in the record, or -1 at the end or on error.
int dir_next(PathRecord* record);
// Ends the listing; nothing when none is open.
void dir_close(PathRecord* record);

// Sets and returns is_directory: 1 directory, 0 file, -1 missing; timestamp
// and size as in a listing (0 when missing).
int path_stat(PathRecord* record);

// 0 when the record's directory and every missing parent exist afterwards.
int dir_make(PathRecord* record);
// 0 or -1: removes the directory the formatted record names.
int dir_remove(PathRecord* record);
// 0 or -1: creates or truncates an empty file.
int file_create(PathRecord* record);
// 0 or -1: deletes the file.
int file_delete(PathRecord* record);
