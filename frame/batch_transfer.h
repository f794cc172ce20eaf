// Batch transfer of tag values between tag objects and the kernel: one
// kernel call moves the values of all the given tags, packed without gaps
// (see PackedSlotSize). Block tags and tags that are not configured are left
// out. The kernel access lock is held around the call; kernel failures are
// reported as the status message "VDERROR" with the kernel's code.
//
// Results: 0 done; 2 out of memory; any other value is the kernel's error
// code. A null array or a count below 1 returns 0 at once.
//
// A tag object's own Read, Write, WriteResult and quiet transfers are
// batches of one and are defined here, so the tag object does not call back
// into this unit.
#pragma once

#include <cstdint>

class TagObject;

// kernel_read under AcquireKernelAccess(1); every included tag receives its
// slot through TagObject::Assign. A failure leaves the tags unchanged.
std::int32_t BatchRead(TagObject* const* tags, std::int32_t count);
// kernel_write under AcquireKernelAccess(0).
std::int32_t BatchWrite(TagObject* const* tags, std::int32_t count);
// kernel_write_result under AcquireKernelAccess(1).
std::int32_t BatchWriteResult(TagObject* const* tags, std::int32_t count);
// kernel_read (write false) or kernel_write of one tag under
// AcquireKernelAccess(0), nothing reported: for a thread beside the main
// loop that reports failures in its own words.
std::int32_t TransferQuiet(TagObject& tag, bool write);
