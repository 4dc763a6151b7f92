// The depth-first walk that gives a directory tree Latin names.
#pragma once

#include <cstddef>

// Renames every entry below root whose name holds letters of the table to its Latin form, never
// replacing an existing entry, and prints one line for each rename. A directory's line comes
// before the lines of what it holds, each subdirectory is walked whole before the next entry,
// once: under its new name, or under the name it still has when its rename failed. Last, the root
// itself is renamed when its own last component is the only part of its path that changes. An
// entry left with letters of the table gets a line "left as is, REASON: PATH", and a directory
// that cannot be listed "not listed, REASON: PATH"; the walk goes on. root, a path that fits a
// path buffer, is opened once and may be a link to a directory; below it, entries are reached
// through their open directories alone, and no link is followed. Once a stop is requested the
// walk returns before the next entry, touching nothing more. Returns the number of lines of
// entries left or not listed.
std::size_t rename_tree(const char16_t* root);
