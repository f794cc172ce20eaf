// The open directory listing of a path record: the search handle and the
// entry last found. The record (support/paths.h) owns it, the listing
// operations (support/files.h) fill it; deleting it ends the search, so a
// record is freed without the file operations.
#pragma once

#include "platform/files.h"
#include "platform/handle.h"

struct DirListing {
    win::HANDLE handle = win::INVALID_HANDLE_VALUE;
    win::WIN32_FIND_DATAA data{};

    DirListing() = default;
    DirListing(const DirListing&) = delete;
    DirListing& operator=(const DirListing&) = delete;
    ~DirListing() {
        if (handle != win::INVALID_HANDLE_VALUE) win::FindClose(handle);
    }
};
