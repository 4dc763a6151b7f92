// The rules of a listing and of an operation's outcomes that hold on every platform: which listed
// records go to the walk, the memory of directories moved within a directory while it is listed,
// and the narrowing of an outcome to an operation's own list. Each platform's file calls these
// and keeps only its system calls and the mapping of its system's errors.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

// The directories moved within one open directory during its listing, each by its file id and a
// 32-bit hash of its new name, in a block of 16 bytes a node and 2 a node for the buckets, at most
// twice the nodes noted. Asked in constant time. Starts empty; forget_moved frees it.
struct MovedDirectories {
    struct Node;
    Node* nodes = nullptr;  // from malloc; then the buckets, each its chain's first node
    std::uint32_t count = 0;
    std::uint32_t capacity_bits = 0;  // room for 2^capacity_bits nodes
};

// Notes that the directory listed with `id` now stands at `name`. Without memory for it nothing
// is noted: the listing may then meet it again and the walk go through it twice, never skip it.
void note_moved(MovedDirectories* moved, std::uint64_t id, const char16_t* name);

void forget_moved(MovedDirectories* moved);

// True when a listed record is an entry for the walk: its name fit a path buffer (`fits`), it is
// neither "." nor "..", and it is not a directory moved to this name, with this id, during the
// listing. A record that cannot be such a directory (a regular file) passes may_be_moved false.
bool is_walked_entry(const MovedDirectories& moved, std::uint64_t id, const char16_t* name,
                     bool fits, bool may_be_moved);

// `outcome` when it is in the operation's list, Outcome::failed otherwise.
Outcome narrow_outcome(Outcome outcome, const Outcome* list, std::size_t count);

template <std::size_t N>
Outcome narrow_outcome(Outcome outcome, const Outcome (&list)[N]) {
    return narrow_outcome(outcome, list, N);
}
