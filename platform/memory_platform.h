// The in-memory platform: platform.h and output.h over a tree held in memory, which the unit
// tests are linked with in place of the system's. It lists entries in the order they were made,
// refuses an open or a move with any outcome a test asks for, keeps what is printed, and requests a
// stop once a given number of lines are printed. What no file system here produces on demand is
// tried on it.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <list>
#include <string>

#include "platform/platform.h"

struct MemoryEntry {
    std::u16string name;
    EntryKind kind;
    std::list<MemoryEntry> entries;        // a directory's, in the order they are listed
    Outcome open_refusal = Outcome::done;  // what opening it returns instead
    Outcome move_refusal = Outcome::done;  // what moving it returns instead
    bool listing_fails = false;            // its listing breaks off after its entries
};

namespace memory_platform {

// Starts over: the current directory holds the entries made from `paths`, in their order, with
// the directories above each: "a/b" a file, "a/" a directory, "a@" a symbolic link. A name
// holding U+DC80-U+DCFF stands for one whose bytes are no UTF-8.
void reset(std::initializer_list<std::u16string> paths);

// The entry at a path made by reset.
MemoryEntry& at(const std::u16string& path);

// Every entry's path in reset's notation, in listing order, each followed by a line feed.
std::u16string tree();

extern std::u16string printed;     // every line printed since reset
extern std::size_t stop_at_lines;  // a stop is requested once this many lines are printed

}  // namespace memory_platform
