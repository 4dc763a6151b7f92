// Names that the Win32 path rules resolve to something other than the directory entry they spell:
// a move to or from such a name would act on a device or on another entry, so the Windows layer
// refuses it. Plain functions over UTF-16, built on every platform so that they are tested
// everywhere.
#pragma once

#include <cstddef>

// True when `name` (one path component) is a reserved DOS device name: CON, PRN, AUX, NUL,
// COM0-COM9, LPT0-LPT9, or COM and LPT with a superscript one, two or three; in any letter case,
// alone or before an extension or a stream (what follows the first dot or colon), trailing spaces
// before it ignored. Win32 opens the device, in whatever directory the name stands.
bool is_reserved_device_name(const char16_t* name);

// True when `name` (one path component) ends in a dot or a space, which Win32 strips from the
// last component: "Foto." would name the entry "Foto".
bool has_stripped_ending(const char16_t* name);
