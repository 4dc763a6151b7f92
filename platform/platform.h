// The file-system services the tool takes from the operating system, and what each one promises.
// The tool's own logic sees only UTF-16 text; each platform's implementation file converts at this
// boundary and keeps its own types to itself. CMake builds exactly one implementation file; the
// tests link a stand-in over an in-memory tree instead. Output and stop requests are output.h's.
//
// Below the root the system is reached through open directories and bare names alone: a path the
// tool composes is text for people, never looked up again, so no entry outside the tree can be
// reached by swapping a directory for a link while the tool walks.
#pragma once

#include "text/text.h"

// Every unit the platform takes as a separator between path components.
extern const char16_t COMPONENT_SEPARATORS[];

// The format that composes an entry's full path, for people to read, from its directory's path
// and its bare name.
extern const char16_t ENTRY_PATH_FORMAT[];

// Tells whether opening a directory may follow a symbolic link (or other link to a directory: a
// junction, a mount point) to where it points.
enum class LinkPolicy {
    follow,  // only for the root the user named
    refuse,  // a link inside the tree is never followed, nor a mount point entered
};

// An open directory, through which its entries are listed, opened and moved by their bare names.
// However the directory is renamed or replaced meanwhile, it stays the directory that was opened.
// Each implementation defines it; nothing else looks inside.
struct Directory;

// What a listing says an entry is, before anything else is asked of it.
enum class EntryKind {
    directory,  // listed as a directory; opening it may still find a link, swapped for it since
                // the listing, and refuse it
    link,       // listed as a symbolic link (on Windows also a junction, or any other reparse
                // point that is a name surrogate): renamed itself, never entered
    other,      // a file, or anything else that is neither (a pipe, a socket, a device)
};

// One listed entry: its bare name and its kind.
struct DirEntry {
    PathBuffer name;
    EntryKind kind;
};

// What became of an operation on an entry, for the walk to tell the user. Each operation below
// lists the outcomes it returns; it returns no others.
enum class Outcome {
    done,
    gone,           // the entry no longer stands as it was listed
    link,           // a link met under LinkPolicy::refuse, which is never entered
    name_taken,     // the new name exists
    no_permission,  // the system denies it to this user, or the volume is read-only
    path_too_long,  // beyond the system's own limit on a path or a name
    reserved_name,  // a name the platform would resolve to another entry (a device, a stream)
    not_supported,  // the file system offers no way to rename that never replaces
    mount_point,    // another file system, or another mount of this one, under LinkPolicy::refuse
    not_text,       // a name that is no text in the system's encoding: never changed
    no_space,       // the volume is full, or the user's quota is used up
    in_use,         // the system holds the entry (a mount point, an open file on Windows)
    other_file_system,    // the entry lies on another file system than its directory (an overlay)
    too_many_open_files,  // the process or the system has no descriptor left
    failed,               // anything else
};

// What a directory opened by its path is for.
enum class DirectoryUse {
    walk,   // listed, its entries opened and moved
    reach,  // only its entries opened and moved, never listed: it may be searchable alone
};

// Opens the directory at `path`, following links; an empty path is the current directory. Only
// the root the user named, or the directory that holds it, is ever opened by a path. Returns done
// with *opened set, to be closed with close_directory; otherwise, with nothing open, one of gone
// (nothing there, or no directory), no_permission, path_too_long, too_many_open_files or failed.
Outcome open_directory_path(const char16_t* path, DirectoryUse use, Directory** opened);

// Opens the directory `name` of `parent`, looked up in parent itself. Returns done with *opened
// set, to be closed with close_directory; otherwise, with nothing open, one of gone (name is
// missing or no directory any more), link (a link under LinkPolicy::refuse), mount_point (under
// LinkPolicy::refuse, a directory on which something else is mounted), no_permission,
// path_too_long, reserved_name (a name the platform cannot open as itself), too_many_open_files
// or failed.
Outcome open_directory(Directory* parent, const char16_t* name, LinkPolicy links,
                       Directory** opened);

enum class Listing {
    entry,   // *entry holds the next entry
    end,     // every entry has been listed
    failed,  // the listing broke off
};

// Reads the next entry of dir into *entry. Every entry is listed once but "." and "..", on every
// file system: a directory that move_without_replacing moved within dir during its listing is
// never listed again under its new name. An entry whose name would not fit a path buffer is
// passed over, never cut.
Listing read_entry(Directory* dir, DirEntry* entry);

// Closes a directory opened by open_directory_path or open_directory.
void close_directory(Directory* dir);

// Renames the entry old_name of dir, listed as `kind`, to new_name in dir, never replacing an
// entry that a user or another program made: when new_name exists, nothing changes. Where the
// file system cannot rename without replacing, a file is moved by a hard link that is undone
// unless it is known to be the same file and the old name is removed; otherwise, and for a
// directory, the new name is first claimed with an empty entry of the tool's own, made
// exclusively, and the entry is moved onto that claim. It only renames: it never copies, and a
// symbolic link is renamed itself, never its target. Returns done only when the entry now stands
// at new_name and no longer at old_name; otherwise, with the entry under old_name alone, one of
// gone (old_name no longer stands), name_taken, no_permission, path_too_long, reserved_name (a
// name the platform would resolve to anything but the entry it spells, a device for one),
// not_supported, no_space, in_use, other_file_system, too_many_open_files or failed.
Outcome move_without_replacing(Directory* dir, const char16_t* old_name, const char16_t* new_name,
                               EntryKind kind);

// False when name, as read_entry gave it or as the user typed it, carries bytes that are no text
// in the system's encoding (no valid UTF-8, on Linux and macOS); such a name is never changed.
bool is_text_name(const char16_t* name);

// True when path names an existing directory, following a symbolic link; false for anything
// else, including a path that cannot be queried.
bool is_directory(const char16_t* path);
