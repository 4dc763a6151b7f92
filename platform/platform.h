// Every service the tool takes from the operating system, and what each one promises. The tool's
// own logic sees only UTF-16 text; each platform's implementation file converts at this boundary
// and keeps its own types to itself. CMake builds exactly one implementation file.
//
// Below the root the system is reached through open directories and bare names alone: a path the
// tool composes is text for people, never looked up again, so no entry outside the tree can be
// reached by swapping a directory for a link while the tool walks.
#pragma once

#include <cstddef>

#include "text/text.h"

// The separator the tool writes between a directory and a name, as a one-unit text.
extern const char16_t PATH_SEPARATOR[];

// Every unit the platform takes as a separator between path components; PATH_SEPARATOR is one.
extern const char16_t COMPONENT_SEPARATORS[];

// The format that composes an entry's full path, for people to read, from its directory's path
// and its bare name.
extern const char16_t ENTRY_PATH_FORMAT[];

// Tells whether opening a directory may follow a symbolic link (or other link to a directory: a
// junction, a mount point) to where it points.
enum class LinkPolicy {
    follow,  // only for the root the user named
    refuse,  // a link inside the tree is never followed
};

// An open directory, through which its entries are listed, opened and moved by their bare names.
// However the directory is renamed or replaced meanwhile, it stays the directory that was opened.
// Only the implementation looks inside.
struct Directory {
    void* handle;
    void* state;
};

// One listed entry: its bare name and whether it is a directory. A device, a pipe or anything
// else that is not a directory has is_directory false. A link to a directory has it true where
// the platform lists it with the directory bit (Windows) and false where it lists it as a link
// of its own kind (Linux, macOS); either way LinkPolicy::refuse never opens what it points to.
struct DirEntry {
    PathBuffer name;
    bool is_directory;
};

// What became of an operation on an entry, for the walk to tell the user.
enum class Outcome {
    done,
    gone,           // the entry no longer stands as it was listed: nothing of it is left to tell
    link,           // a link met under LinkPolicy::refuse, which is never entered
    name_taken,     // the new name exists
    no_permission,  // the system denies it to this user, or the volume is read-only
    path_too_long,  // beyond the system's own limit on a path
    reserved_name,  // a name the platform would resolve to another entry (a device, a stream)
    not_supported,  // the file system can neither rename without replacing nor link
    failed,         // anything else
};

// Opens the directory at `path`, following links; an empty path is the current directory. Only
// the root the user named, or the directory that holds it, is ever opened by a path. Returns done
// with *dir open, to be closed with close_directory; otherwise why not, with nothing open.
Outcome open_directory_path(const char16_t* path, Directory* dir);

// Opens the directory `name` of `parent`, looked up in parent itself. Returns done with *dir
// open, to be closed with close_directory; otherwise why not, with nothing open: gone when name
// is missing or is no directory any more, link for a link under LinkPolicy::refuse.
Outcome open_directory(const Directory& parent, const char16_t* name, LinkPolicy links,
                       Directory* dir);

enum class Listing {
    entry,   // *entry holds the next entry
    end,     // every entry has been listed
    failed,  // the listing broke off
};

// Reads the next entry of dir into *entry. Every entry is listed once but "." and ".."; an entry
// whose name would not fit a path buffer is passed over, never cut.
Listing read_entry(Directory* dir, DirEntry* entry);

// Closes a directory opened by open_directory_path or open_directory.
void close_directory(Directory* dir);

// Renames the entry old_name of dir to new_name in dir, never replacing an entry: when new_name
// exists, or when the file system cannot promise that, nothing changes. It only renames: it never
// copies, and it refuses a name that the platform would resolve to anything but the entry it
// spells (a device name, for one). A symbolic link is renamed itself, never its target. Returns
// done only when the entry now stands at new_name and no longer at old_name; otherwise why not,
// with nothing changed: gone when old_name no longer stands.
Outcome move_without_replacing(const Directory& dir, const char16_t* old_name,
                               const char16_t* new_name);

// True when path names an existing directory, following a symbolic link; false for anything
// else, including a path that cannot be queried.
bool is_directory(const char16_t* path);

// Writes `units` code units of text to standard output, whatever it is connected to, waiting for
// an output that is not ready (a non-blocking pipe) to take it. The text may be kept back, in
// whole lines, until console_flush. A platform that keeps lines back writes them out as well when
// the process is asked to stop (SIGINT, SIGTERM, SIGHUP), then ends by that signal within a
// second, even when the output takes nothing: only the lines not written by then are lost.
// Returns true when the text was written or kept; on failure the text is lost and nothing else is
// affected: the platform's process entry sees to it that a pipe whose reader has gone never ends
// the process.
bool console_write(const char16_t* text, std::size_t units);

// Writes out whatever console_write has kept back, and ends the process by a stop request that
// comes meanwhile, as console_write does. The platform's process entry calls it once the walk has
// returned. Returns false when that write failed and the lines were lost.
bool console_flush();
