// The in-memory platform: platform.h and output.h over a tree held in memory, which the unit
// tests are linked with in place of the system's. It lists entries in the order they were made,
// renames them in place, refuses an open or a move with any outcome a test asks for (narrowed to
// the operation's own), keeps what is printed, and requests a stop once a given number of lines
// are printed.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>
#include <utility>

#include "platform/platform.h"

struct MemoryEntry {
    std::u16string path;  // from the current directory, without "./"
    EntryKind kind;
    Outcome open_refusal = Outcome::done;     // what opening it returns instead
    Outcome move_refusal = Outcome::done;     // what moving it returns instead
    Leftover move_leftover = Leftover::none;  // and what that move says it left
    bool listing_fails = false;               // its listing breaks off after its entries
};

namespace memory_platform {

// Starts over with the entries made from `paths`, in their order, and the directories above
// each: "a/b" a file, "a/" a directory, "a@" a symbolic link. A name holding U+DC80-U+DCFF
// stands for one whose bytes are no UTF-8.
void reset(std::initializer_list<std::u16string> paths);

// The entry at a path made by reset.
MemoryEntry& at(const std::u16string& path);

// Every entry's path, in listing order, with "/" after a directory, each on a line.
std::u16string tree();

extern std::u16string printed;  // every line printed since reset
// A name as typed, which finds the entry stored under the other (as Windows reads names loosely).
extern std::pair<std::u16string, std::u16string> read_loosely;
extern std::size_t stop_at_lines;  // a stop is requested once this many lines are printed
extern int open_directories;       // opened and not closed yet

}  // namespace memory_platform
