// The trigger list: the set of tags the task watches for changes. Entries
// sit in a linked list in order of addition, in an ordered index by tag
// reference, and in two parallel arrays (references and entries) handed to
// the kernel block by block. On it sit the handler records of each tag and
// their dispatch, the change scan, the polling scan and the blocking wait of
// the run loop.
//
// A plain structure with integer result codes (kTl...); every allocation is
// zero-filled and released by the list.
#pragma once

#include <cstdint>

#include "kernel/value_record.h"

struct OrderedTree;
struct TagEntry;
struct TriggerList;
struct HandlerRecord;

// Result codes of the list operations.
enum TriggerListResult : std::int32_t {
    kTlOk = 0,
    kTlIndexRefused = -1,  // the ordered index refused an insertion
    kTlBadArgument = -2,   // missing argument or operation code outside the table
    kTlUnknownTag = -3,    // reference names no tag, or the kernel does not know it
    kTlNoMemory = -4,
    kTlNotInList = -5,
    kTlBusy = -6,          // a handler of this list is running
    kTlKernelFailed = -7,  // a kernel call failed
    kTlNoChange = -9,      // no (further) changed tag
};

// Word type of handler arguments: as wide as a pointer, so that a tag
// object and a function fit in one word.
using HandlerWord = std::uintptr_t;

// on_change(entry, value, word whose low 16 bits are the argument count,
// argument words). The result is not used.
using ChangeFunction = void (*)(TagEntry* entry, ValueRecord* value, std::uint32_t count, HandlerWord* args);
// on_release(null entry, argument count, argument words).
using ReleaseFunction = void (*)(TagEntry* entry, std::int32_t count, HandlerWord* args);

struct HandlerRecord {
    std::int16_t arg_count;
    HandlerWord* args;        // owned
    std::int16_t pending;     // 1 = to be called in the current dispatch
    TagEntry* entry;          // null when unbound
    ChangeFunction on_change;
    ReleaseFunction on_release;  // may be null
    HandlerRecord* entry_prev;
    HandlerRecord* entry_next;
};

struct TagEntry {
    TagRef reference;
    std::int16_t type;        // tag type code
    HandlerRecord* handlers;  // first handler record, in binding order
    TriggerList* owner;
    TagEntry* prev;
    TagEntry* next;
};

inline constexpr std::uint16_t kTriggerTextSize = 80;

struct TriggerList {
    std::int32_t entry_count;
    TagEntry* first;
    TagEntry* last;
    OrderedTree* index;         // entries keyed by the 4 bytes of the reference
    std::int32_t array_size;    // slots allocated in the two arrays
    std::int32_t block_count;   // slots filled in the current block
    TagRef* references;
    TagEntry** entries;
    std::uint16_t text_size;    // capacity for text values in a scan
    char* text_buffer;          // text_size + 1 bytes
    TagEntry* cursor;           // entry most recently reported changed
    TagEntry* previous_cursor;  // cursor when the last report ended
    std::int32_t block_index;   // position of cursor in the block; block_count = none
    HandlerRecord* entry_dispatch_next;  // next record to visit while dispatching
    std::int16_t lock_held;     // 1 while the list holds kernel_lock
    std::int16_t in_handler;    // 1 while a handler of this list runs
    std::int16_t dirty;         // entries added or removed since the arrays were built
};

// Operation codes of trigger_list_apply.
enum TriggerApplyCode : std::int32_t {
    kApplyWatch = 0,
    kApplyUnwatch = 1,
    kApplyArm = 4,
    kApplyDisarm = 5,
};

// 0, -2 (no out pointer) or -4.
std::int32_t trigger_list_create(TriggerList** out);
// 0, -2, -6. Releases every entry and handler record.
std::int32_t trigger_list_destroy(TriggerList* list);
// 0, -2, -4 (old buffer kept), -6.
std::int32_t trigger_list_set_text_size(TriggerList* list, std::uint16_t size);
// 0 or -5 (-2 for missing arguments); *out is null unless found.
std::int32_t trigger_list_find(TriggerList* list, TagRef reference, TagEntry** out);

// Binds a change function to a tag (creating the tag's entry on first use):
// 0, -1, -2, -3, -4. Allowed while a handler runs.
std::int32_t trigger_list_add(TriggerList* list, TagRef reference, ChangeFunction on_change,
                              HandlerRecord** out);
// Unbinds and releases a record; the entry goes with its last record.
// 0, -2. Allowed while a handler runs.
std::int32_t trigger_list_remove(TriggerList* list, HandlerRecord* record);

// Replaces the record's argument words with a copy of `count` words.
// 0, -2, -4 (the old words stay).
std::int32_t handler_set_args(HandlerRecord* record, std::int16_t count, const HandlerWord* words);

// Calls every handler record of `entry`, in binding order (the scans call
// it for each changed tag); a record removed (or added) by a handler during
// the walk is handled safely.
void dispatch_entry(TriggerList* list, TagEntry* entry, ValueRecord* value);

// Reports one changed entry per call (resume 0: from the start); a text
// value is delivered in the list's own buffer, terminated within it.
// 0, -2, -6, -7, -9, or a code of trigger_list_sync.
std::int32_t trigger_list_next_changed(TriggerList* list, TaskId task, int resume, TagEntry** out,
                                       ValueRecord* value);
// One scan: every changed entry's handlers run. 0 (something handled),
// -2, -4, -6, -7, -9.
std::int32_t trigger_list_poll(TriggerList* list, TaskId task);
// Scans; when nothing changed, waits in the kernel and scans again. As
// trigger_list_poll, and the results of trigger_list_block.
std::int32_t trigger_list_wait(TriggerList* list, TaskId task);
// Arms every tag, waits for a change, disarms. 0, -2, -4, -7, or the
// arming result other than 0 and -1 (34: stop requested).
std::int32_t trigger_list_block(TriggerList* list, TaskId task);
// Calls a kernel operation (see TriggerApplyCode) on every block of tags.
// 0, -2, -4, -7, or the operation's result.
std::int32_t trigger_list_apply(TriggerList* list, TaskId task, std::int32_t code);
// Builds the arrays for the block that begins at `start`. 0, -2, -4.
std::int32_t trigger_list_sync(TriggerList* list, TagEntry* start, int test_cursor);
