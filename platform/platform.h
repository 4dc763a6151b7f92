// Every service the tool takes from the operating system, and what each one promises. The tool's
// own logic sees only UTF-16 text; each platform's implementation file converts at this boundary
// and keeps its own types to itself. CMake builds exactly one implementation file.
#pragma once

#include <cstddef>

#include "text/text.h"

// The separator the tool writes between a directory and a name, as a one-unit text. The front end
// trims one trailing separator from the root.
extern const char16_t PATH_SEPARATOR[];

// Every unit the platform takes as a separator between path components; PATH_SEPARATOR is one.
extern const char16_t COMPONENT_SEPARATORS[];

// The format that composes an entry's full path from its directory and bare name.
extern const char16_t ENTRY_PATH_FORMAT[];

// The format that composes, from a directory path, the pattern listing_first takes.
extern const char16_t LISTING_PATTERN_FORMAT[];

// Tells how to treat a pattern whose directory is a symbolic link (or other link to a directory:
// a junction, a mount point).
enum class LinkPolicy {
    follow,  // list the directory it points to: only for the root the user named
    refuse,  // list nothing: a link inside the tree is never followed
};

// An open listing. Only the implementation looks inside.
struct DirListing {
    void* handle;
    void* guard;  // what holds the listed directory in place, where the platform needs it
};

// One listed entry: its bare name and whether it is a directory. A device, a pipe or anything
// else that is not a directory has is_directory false. A link to a directory has it true where
// the platform lists it with the directory bit (Windows) and false where it lists it as a link
// of its own kind (Linux, macOS); either way LinkPolicy::refuse never lists what it points to.
struct DirEntry {
    PathBuffer name;
    bool is_directory;
};

// Opens the listing of the directory named by `pattern` (made with LISTING_PATTERN_FORMAT) and
// reads its first entry into *entry. Every entry is listed but "." and ".."; an entry whose name
// would not fit a path buffer is passed over, never cut. Returns true with the listing open; the
// caller must then call listing_close. While it is open, the entries listed are those of the
// directory checked when it was opened. Returns false, with nothing open, when the directory
// cannot be listed (missing, not a directory, no access, a link refused, a name the platform
// would resolve to another entry) or holds no entry.
bool listing_first(const char16_t* pattern, LinkPolicy links, DirListing* listing, DirEntry* entry);

// Reads the next entry into *entry. Returns false when none is left or the listing fails; the two
// are not told apart.
bool listing_next(DirListing* listing, DirEntry* entry);

// Ends a listing opened by listing_first.
void listing_close(DirListing* listing);

// Renames old_path to new_path without ever replacing an entry: when new_path exists, or when the
// file system cannot promise that, nothing changes and the result is false. It only renames: it
// never copies, and it refuses a path that the platform would resolve to anything but the entry
// it spells (a device name, for one). A symbolic link is renamed itself, never its target.
// Returns true only when the entry now stands at new_path and no longer at old_path.
bool move_without_replacing(const char16_t* old_path, const char16_t* new_path);

// True when path names an existing directory, following a symbolic link; false for anything
// else, including a path that cannot be queried.
bool is_directory(const char16_t* path);

// Writes `units` code units of text to standard output, whatever it is connected to. The text
// may be kept back, in whole lines, until console_flush; a platform that keeps lines back writes
// them out as well when the process is asked to stop (SIGINT, SIGTERM, SIGHUP), before it ends.
// Returns true when the text was written or kept; on failure the text is lost and nothing else is
// affected: the platform's process entry sees to it that a pipe whose reader has gone never ends
// the process.
bool console_write(const char16_t* text, std::size_t units);

// Writes out whatever console_write has kept back. The platform's process entry calls it once the
// walk has returned. Returns false when that write failed and the lines were lost.
bool console_flush();
