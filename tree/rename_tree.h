// The depth-first walk that gives a directory tree Latin names.
#pragma once

#include "text/text.h"

// Renames every entry below root whose name holds letters of the table to its Latin form, never
// replacing an existing entry, and prints one line for each rename. Each directory's entries are
// renamed first, and each subdirectory walked once: under its new name, or under the name it
// still has when its rename failed. Last, the root itself is renamed when its own last component
// is the only part of its path that changes. An entry left with letters of the table gets a line
// "left as is, REASON: PATH", and a directory that cannot be listed "not listed, REASON: PATH";
// the walk goes on. root, a path that fits a path buffer, is opened once and may be a link to a
// directory; below it, entries are reached through their open directories alone, and no link is
// followed. Returns true when nothing was left: no such line was due.
bool rename_tree(const char16_t* root);
