// The depth-first walk that gives a directory tree Latin names.
#pragma once

#include "text/text.h"

// Renames every entry below root whose name holds letters of the table to its Latin form, never
// replacing an existing entry, and prints one line for each rename. Each directory's entries are
// renamed first and its subdirectories walked under their new names; last, the root itself is
// renamed when its own last component is the only part of its path that changes. A failure is
// silent and the walk goes on; only a path too long to compose is reported, and that entry is
// left as is. root, a path that fits a path buffer, is opened once and may be a link to a
// directory; below it, entries are reached through their open directories alone, and no link is
// followed.
void rename_tree(const char16_t* root);
