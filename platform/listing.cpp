// The platform-neutral rules of listings and outcomes.
#include "platform/listing.h"

#include <stdlib.h>
#include <string.h>

namespace {

// A record: the id, the name's length in units, then its units, unaligned.
constexpr std::size_t RECORD_HEAD = sizeof(std::uint64_t) + sizeof(std::uint16_t);

bool is_dot_or_dot_dot(const char16_t* name) {
    return name[0] == u'.' && (name[1] == u'\0' || (name[1] == u'.' && name[2] == u'\0'));
}

bool was_moved_here(const MovedDirectories& moved, std::uint64_t id, const char16_t* name) {
    const std::size_t units = text_length(name);
    for (std::size_t at = 0; at < moved.used;) {
        std::uint64_t recorded = 0;
        std::uint16_t length = 0;
        memcpy(&recorded, moved.records + at, sizeof recorded);
        memcpy(&length, moved.records + at + sizeof recorded, sizeof length);
        if (recorded == id && length == units &&
            memcmp(moved.records + at + RECORD_HEAD, name, units * sizeof(char16_t)) == 0) {
            return true;
        }
        at += RECORD_HEAD + length * sizeof(char16_t);
    }
    return false;
}

}  // namespace

void note_moved(MovedDirectories* moved, std::uint64_t id, const char16_t* name) {
    const auto units = static_cast<std::uint16_t>(text_length(name));
    const std::size_t size = RECORD_HEAD + units * sizeof(char16_t);
    if (moved->used + size > moved->capacity) {
        // malloc, not new: the program needs nothing but the C library.
        const std::size_t capacity = moved->capacity * 2 + 1024;
        auto* grown = static_cast<unsigned char*>(realloc(moved->records, capacity));
        if (grown == nullptr) {
            return;
        }
        moved->records = grown;
        moved->capacity = capacity;
    }
    unsigned char* record = moved->records + moved->used;
    memcpy(record, &id, sizeof id);
    memcpy(record + sizeof id, &units, sizeof units);
    memcpy(record + RECORD_HEAD, name, units * sizeof(char16_t));
    moved->used += size;
}

void forget_moved(MovedDirectories* moved) {
    free(moved->records);
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
