// The platform-neutral rules of listings and outcomes.
#include "platform/listing.h"

#include <stdlib.h>
#include <string.h>

struct MovedDirectories::Node {
    std::uint64_t id;
    std::uint32_t name_hash;
    std::uint32_t next;  // the chain's next node, or NONE
};

namespace {

constexpr std::uint32_t NONE = 0xFFFFFFFF;

bool is_dot_or_dot_dot(const char16_t* name) {
    return name[0] == u'.' && (name[1] == u'\0' || (name[1] == u'.' && name[2] == u'\0'));
}

// FNV-1a over the name's units.
std::uint32_t hash_name(const char16_t* name) {
    std::uint32_t hash = 2166136261u;
    for (; *name != u'\0'; ++name) {
        hash = (hash ^ static_cast<std::uint32_t>(*name)) * 16777619u;
    }
    return hash;
}

// Ids come in runs (inode numbers handed out in turn): a multiplication spreads them.
std::uint32_t bucket_of(const MovedDirectories& moved, std::uint64_t id) {
    return static_cast<std::uint32_t>((id * 0x9E3779B97F4A7C15u) >> (65 - moved.capacity_bits));
}

// The buckets, half as many as nodes fit, follow the nodes in the one block.
std::uint32_t* buckets(const MovedDirectories& moved) {
    return reinterpret_cast<std::uint32_t*>(moved.nodes + (std::size_t{1} << moved.capacity_bits));
}

// Only a hash and an id are kept, and the id is unique among the entries listed at one time: a
// record other than the moved directory matches only where it has taken over that id and its name
// hashes alike, one chance in 2^32.
bool was_moved_here(const MovedDirectories& moved, std::uint64_t id, const char16_t* name) {
    if (moved.count == 0) {
        return false;
    }
    for (std::uint32_t at = buckets(moved)[bucket_of(moved, id)]; at != NONE;
         at = moved.nodes[at].next) {
        if (moved.nodes[at].id == id) {
            return moved.nodes[at].name_hash == hash_name(name);
        }
    }
    return false;
}

}  // namespace

void note_moved(MovedDirectories* moved, std::uint64_t id, const char16_t* name) {
    const std::uint32_t capacity = moved->nodes == nullptr ? 0 : 1u << moved->capacity_bits;
    if (moved->count == capacity) {
        // Twice the room, or the first 32, with every node chained anew into its buckets.
        const std::uint32_t bits = moved->nodes == nullptr ? 5 : moved->capacity_bits + 1;
        if (bits > 31) {
            return;
        }
        const std::size_t nodes = std::size_t{1} << bits;
        // malloc, not new: the program needs nothing but the C library.
        void* grown = realloc(moved->nodes, nodes * sizeof(MovedDirectories::Node) +
                                                nodes / 2 * sizeof(std::uint32_t));
        if (grown == nullptr) {
            return;
        }
        moved->nodes = static_cast<MovedDirectories::Node*>(grown);
        moved->capacity_bits = bits;
        memset(buckets(*moved), 0xFF, nodes / 2 * sizeof(std::uint32_t));
        for (std::uint32_t at = 0; at < moved->count; ++at) {
            std::uint32_t& first = buckets(*moved)[bucket_of(*moved, moved->nodes[at].id)];
            moved->nodes[at].next = first;
            first = at;
        }
    }
    MovedDirectories::Node& node = moved->nodes[moved->count];
    std::uint32_t& first = buckets(*moved)[bucket_of(*moved, id)];
    node = {id, hash_name(name), first};
    first = moved->count++;
}

void forget_moved(MovedDirectories* moved) {
    free(moved->nodes);
    *moved = MovedDirectories{};
}

bool is_walked_entry(const MovedDirectories& moved, std::uint64_t id, const char16_t* name,
                     bool fits, bool may_be_moved) {
    return fits && !is_dot_or_dot_dot(name) && !(may_be_moved && was_moved_here(moved, id, name));
}

Outcome narrow_outcome(Outcome outcome, const Outcome* list, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        if (list[i] == outcome) {
            return outcome;
        }
    }
    return Outcome::failed;
}
