// The file-system services the tool takes from the operating system, and what each one promises.
// The tool's own logic sees only UTF-16 text; each platform's implementation file converts at this
// boundary and keeps its own types to itself. CMake builds exactly one implementation file.
// Output and stop requests are output.h's.
//
// Below the root the system is reached through open directories and bare names alone: a path the
// tool composes is text for people, never looked up again, so no entry outside the tree can be
// reached by swapping a directory for a link while the tool walks.
#pragma once

#include "text/text.h"

// Every unit the platform takes as a separator between path components.
extern const char16_t COMPONENT_SEPARATORS[];

// The unit that follows a drive letter at the start of a path, where the system has drives: the
// "D:" of "D:Архив" names drive D's current directory. u'\0' where it has none.
extern const char16_t DRIVE_SEPARATOR;

// The format that composes an entry's full path, for people to read, from its directory's path
// and its bare name.
extern const char16_t ENTRY_PATH_FORMAT[];

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
// returns only the outcomes of its list; the platforms narrow theirs with narrow_outcome.
enum class Outcome {
    done,
    gone,                 // the entry no longer stands as it was listed
    link,                 // a link met below the root, which is never entered
    name_taken,           // the new name exists
    no_permission,        // the system denies it to this user
    read_only,            // the file system is mounted read-only, or the volume write-protected
    path_too_long,        // beyond the system's own limit on a path or a name
    reserved_name,        // a name the platform would resolve to another entry (a device, a stream)
    not_supported,        // the file system offers no way to rename that never replaces
    mount_point,          // below the root, a directory on which another file system is mounted
    not_text,             // a name that is no text in the system's encoding: never changed
    no_space,             // the volume is full, or the user's quota is used up
    in_use,               // the system holds the entry (a mount point, an open file on Windows)
    other_file_system,    // the entry lies on another file system than its directory (an overlay)
    too_many_open_files,  // the process or the system has no descriptor left
    failed,               // anything else
};

// What opening the root, or the directory that holds it, returns: gone is nothing there, or no
// directory.
inline constexpr Outcome OPEN_ROOT_OUTCOMES[] = {
    Outcome::done,          Outcome::gone,          Outcome::no_permission,
    Outcome::path_too_long, Outcome::reserved_name, Outcome::too_many_open_files,
    Outcome::failed,
};

// What opening a directory below the root returns: gone is a name missing or no directory any
// more; reserved_name a name the platform cannot open as itself.
inline constexpr Outcome OPEN_OUTCOMES[] = {
    Outcome::done,          Outcome::gone,
    Outcome::link,          Outcome::mount_point,
    Outcome::no_permission, Outcome::path_too_long,
    Outcome::reserved_name, Outcome::too_many_open_files,
    Outcome::failed,
};

// What a move returns: gone is an old name that no longer stands; reserved_name a new name the
// platform would resolve to anything but the entry it spells, a device for one.
inline constexpr Outcome MOVE_OUTCOMES[] = {
    Outcome::done,
    Outcome::gone,
    Outcome::name_taken,
    Outcome::no_permission,
    Outcome::read_only,
    Outcome::path_too_long,
    Outcome::reserved_name,
    Outcome::not_supported,
    Outcome::no_space,
    Outcome::in_use,
    Outcome::other_file_system,
    Outcome::too_many_open_files,
    Outcome::failed,
};

// Opens the directory at `path` (empty: the current directory) that holds the root, only to reach
// the root in it: it need not be readable. OPEN_ROOT_OUTCOMES.
Outcome open_root_parent(const char16_t* path, Directory** opened);

// Opens the root the user named, `name` in its held parent, following a link: the directory
// walked is then the one renamed last. OPEN_ROOT_OUTCOMES; reserved_name for a name the platform
// reads as another once it meets it in a path, which the walk then opens by its path.
Outcome open_root(Directory* parent, const char16_t* name, Directory** opened);

// The name under which the held parent stores the root typed as `typed`, into `stored`: where the
// system reads a name loosely (in any letter case, by its 8.3 short form, without the dots and
// spaces Win32 drops from its end, or in another Unicode form), the root's own name, proven to be
// the root's. False, with `stored` untouched, where it cannot be told; the root is then renamed
// by its name as typed. The parent is listed for it where the system tells no other way.
bool stored_root_name(Directory* parent, const char16_t* typed, PathBuffer& stored);

// Opens the root by its path as typed, following a link: when it has no held parent, or cannot
// be opened in it. OPEN_ROOT_OUTCOMES.
Outcome open_root_path(const char16_t* path, Directory** opened);

// Opens the directory `name` of parent, looked up in parent itself, below the root: a link is
// never followed, nor a mount point entered. OPEN_OUTCOMES.
Outcome open_directory(Directory* parent, const char16_t* name, Directory** opened);

// Each open_* returns done with *opened set, to be closed with close_directory, and otherwise
// leaves nothing open.
void close_directory(Directory* dir);

enum class Listing {
    entry,   // *entry holds the next entry
    end,     // every entry has been listed
    failed,  // the listing broke off
};

// Reads the next entry of dir into *entry. Every entry is listed once but "." and ".." and the
// marks of move_without_replacing's own moves, on every file system: a directory that it moved
// within dir during its listing is never listed again under its new name, and a mark a killed
// run left is removed once the listing has ended, its move being finished or taken back by then.
// An entry whose name would not fit a path buffer is passed over, never cut.
Listing read_entry(Directory* dir, DirEntry* entry);

// What a move that did not succeed leaves at new_name besides the entry at old_name: only where
// a step of its own could not be undone, and never without *left saying so.
enum class Leftover {
    none,
    claim,        // an empty entry the move made to hold new_name, which it could not remove
    second_name,  // a second name of the file, which it could not remove
};

// Renames the entry old_name of dir, listed as `kind`, to new_name in dir, never replacing an
// entry that a user or another program made, on every file system: when new_name exists, nothing
// changes. It only renames, within dir: it never copies, and a link is renamed itself, never its
// target. Where the file system cannot rename without replacing, the steps it takes instead are
// ones the file system was first shown, in a scratch entry of the tool's own, to do as they must
// (not_supported where none is); they are marked so that no user's entry is ever taken for one of
// them, and run under a lock that every run of the tool on this machine takes: what a run that was
// killed left at new_name (the file under both names, or an empty claim) is finished, never what a
// user made or another run is doing. Returns done only when the entry now stands at new_name and no
// longer at old_name; otherwise the entry stands where it stood, and *left tells what else stands
// at new_name. MOVE_OUTCOMES.
Outcome move_without_replacing(Directory* dir, const char16_t* old_name, const char16_t* new_name,
                               EntryKind kind, Leftover* left);

// Removes what marked moves of the tool's own in dir, where a run was killed once its entries
// stood at their new names, before it could remove it: the walk asks it for a root that already
// has its Latin name, whose parent it never lists.
void clear_move_note(Directory* dir);

// False when name, as read_entry gave it or as the user typed it, carries bytes that are no text
// in the system's encoding (no valid UTF-8, on Linux and macOS); such a name is never changed.
bool is_text_name(const char16_t* name);

// True when path names an existing directory, following a symbolic link; false for anything
// else, including a path that cannot be queried.
bool is_directory(const char16_t* path);
