// The rules of the Windows layer that need no Windows: names that the Win32 path rules resolve to
// something other than the directory entry they spell, which reparse points are links, what an NT
// status tells the walk, and how cmd hands a quoted folder over. Plain functions over UTF-16 and
// status numbers, built on every platform so that they are tested everywhere.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

// True when `name` (one path component) is a reserved DOS device name: CON, PRN, AUX, NUL,
// COM0-COM9, LPT0-LPT9, COM and LPT with a superscript one, two or three, CONIN$ or CONOUT$ (the
// console); in any letter case,
// alone or before an extension or a stream (what follows the first dot or colon), trailing spaces
// before it ignored. Win32 opens the device, in whatever directory the name stands.
bool is_reserved_device_name(const char16_t* name);

// True when `name` (one path component) ends in a dot or a space, which Win32 strips from the
// last component: "Foto." would name the entry "Foto".
bool has_stripped_ending(const char16_t* name);

// True when an entry with FILE_ATTRIBUTE_REPARSE_POINT and this reparse tag is a link, renamed
// itself and never entered: a name surrogate (symbolic link, junction, mount point, WSL link), or
// no tag at all, as Wine shows a Unix link. Every other tag (cloud files, deduplication, ProjFS)
// marks an ordinary file or directory that a filter serves, walked like any other.
bool is_link_reparse_tag(std::uint32_t tag);

// True when `entry`, the path of the file a handle was opened on, is `name` directly in `parent`,
// the path of the directory it was opened in: both as the system names them within their volume
// (FileNameInformation), of the given lengths in units, and `name` in any case of its Latin and
// Russian letters. False when the system followed a link to somewhere else.
bool is_entry_of(const char16_t* entry, std::size_t entry_units, const char16_t* parent,
                 std::size_t parent_units, const char16_t* name);

// True when Win32 may have read `typed`, one component, as the entry stored as `stored`: the same
// name in other letter case or without the dots and spaces Win32 drops from its end, or an 8.3
// short name (one with a "~"). Not so for a link's target, which Wine opens in the link's place.
bool may_read_as(const char16_t* typed, const char16_t* stored);

// True when a directory query that returned `status` has listed every entry: no more files, or,
// on the first query, no file at all (the root of an empty FAT volume, which lists no ".").
bool listing_has_ended(std::uint32_t status, bool first_query);

// What an NT status of a failed open or rename tells the walk; Outcome::failed for any status it
// does not name.
Outcome outcome_of_status(std::uint32_t status);

// cmd hands `"D:\My photos\"` over as `D:\My photos"`, the runtime reading `\"` as a quote, and
// keeps the spaces typed before a `>` or a `|` after it. A quote is never part of a Windows
// path, so one that ends `argument`, but for spaces and tabs, is turned back into the backslash
// that was typed, and what follows it dropped.
void mend_typed_root(char16_t* argument);

// True when Win32 opens `path` as a device, never a directory: its last component a reserved
// device name (nul, AUX, COM1, NUL.txt), or the path in the \\.\ namespace. A \\?\ path names
// the entry as typed.
bool names_device(const char16_t* path);
