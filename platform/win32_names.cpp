// The Windows rules that need no Windows: names, reparse tags, NT statuses, the typed root.
#include "platform/win32_names.h"

#include "text/text.h"

namespace {

bool is_device_digit(char16_t unit) {
    return (unit >= u'0' && unit <= u'9') || unit == u'\u00B9' || unit == u'\u00B2' ||
           unit == u'\u00B3';
}

// True when the `length` units at name spell `word` (upper case ASCII) in any letter case.
bool spells(const char16_t* name, std::size_t length, const char16_t* word) {
    std::size_t i = 0;
    for (; i < length && word[i] != u'\0'; ++i) {
        if (capital_of(name[i]) != word[i]) {
            return false;
        }
    }
    return i == length && word[i] == u'\0';
}

}  // namespace

bool is_reserved_device_name(const char16_t* name) {
    std::size_t base = 0;
    while (name[base] != u'\0' && name[base] != u'.' && name[base] != u':') {
        ++base;
    }
    while (base > 0 && name[base - 1] == u' ') {
        --base;
    }
    if (spells(name, base, u"CON") || spells(name, base, u"PRN") || spells(name, base, u"AUX") ||
        spells(name, base, u"NUL") || spells(name, base, u"CONIN$") ||
        spells(name, base, u"CONOUT$")) {
        return true;
    }
    return base == 4 && (spells(name, 3, u"COM") || spells(name, 3, u"LPT")) &&
           is_device_digit(name[3]);
}

bool has_stripped_ending(const char16_t* name) {
    const std::size_t length = text_length(name);
    return length > 0 && (name[length - 1] == u'.' || name[length - 1] == u' ');
}

bool is_link_reparse_tag(std::uint32_t tag) {
    constexpr std::uint32_t NAME_SURROGATE_BIT = 0x20000000;
    return tag == 0 || (tag & NAME_SURROGATE_BIT) != 0;
}

namespace {

// The NT statuses named here, from ntstatus.h.
constexpr std::uint32_t STATUS_NO_MORE_FILES = 0x80000006;
constexpr std::uint32_t STATUS_NO_SUCH_FILE = 0xC000000F;

struct StatusOutcome {
    std::uint32_t status;
    Outcome outcome;
};

constexpr StatusOutcome STATUS_OUTCOMES[] = {
    {STATUS_NO_SUCH_FILE, Outcome::gone},
    {0xC0000034, Outcome::gone},                 // STATUS_OBJECT_NAME_NOT_FOUND
    {0xC000003A, Outcome::gone},                 // STATUS_OBJECT_PATH_NOT_FOUND
    {0xC0000056, Outcome::gone},                 // STATUS_DELETE_PENDING
    {0xC0000103, Outcome::gone},                 // STATUS_NOT_A_DIRECTORY
    {0xC00000BA, Outcome::gone},                 // STATUS_FILE_IS_A_DIRECTORY
    {0xC0000035, Outcome::name_taken},           // STATUS_OBJECT_NAME_COLLISION
    {0xC0000022, Outcome::no_permission},        // STATUS_ACCESS_DENIED
    {0xC00000A2, Outcome::read_only},            // STATUS_MEDIA_WRITE_PROTECTED
    {0xC0000121, Outcome::no_permission},        // STATUS_CANNOT_DELETE
    {0xC0000106, Outcome::path_too_long},        // STATUS_NAME_TOO_LONG
    {0xC0000033, Outcome::reserved_name},        // STATUS_OBJECT_NAME_INVALID
    {0xC00000BB, Outcome::not_supported},        // STATUS_NOT_SUPPORTED
    {0xC0000010, Outcome::not_supported},        // STATUS_INVALID_DEVICE_REQUEST
    {0xC000007F, Outcome::no_space},             // STATUS_DISK_FULL
    {0xC0000044, Outcome::no_space},             // STATUS_QUOTA_EXCEEDED
    {0xC0000043, Outcome::in_use},               // STATUS_SHARING_VIOLATION
    {0xC0000054, Outcome::in_use},               // STATUS_FILE_LOCK_CONFLICT
    {0xC0000055, Outcome::in_use},               // STATUS_LOCK_NOT_GRANTED
    {0xC00000D4, Outcome::other_file_system},    // STATUS_NOT_SAME_DEVICE
    {0xC000011F, Outcome::too_many_open_files},  // STATUS_TOO_MANY_OPENED_FILES
};

}  // namespace

bool listing_has_ended(std::uint32_t status, bool first_query) {
    return status == STATUS_NO_MORE_FILES || (first_query && status == STATUS_NO_SUCH_FILE);
}

Outcome outcome_of_status(std::uint32_t status) {
    for (const StatusOutcome& known : STATUS_OUTCOMES) {
        if (known.status == status) {
            return known.outcome;
        }
    }
    return Outcome::failed;
}

void mend_typed_root(char16_t* argument) {
    std::size_t end = text_length(argument);
    while (end > 0 && (argument[end - 1] == u' ' || argument[end - 1] == u'\t')) {
        --end;
    }
    if (end > 0 && argument[end - 1] == u'"') {
        argument[end - 1] = u'\\';
        argument[end] = u'\0';
    }
}

bool names_device(const char16_t* path) {
    if (path[0] == u'\\' && path[1] == u'\\' && (path[2] == u'.' || path[2] == u'?') &&
        path[3] == u'\\') {
        return path[2] == u'.';  // \\?\ is taken as it is typed, a directory "nul" and all
    }
    std::size_t start = 0;
    for (std::size_t i = 0; path[i] != u'\0'; ++i) {
        if (path[i] == u'\\' || path[i] == u'/' || (i == 1 && path[i] == u':')) {
            start = i + 1;
        }
    }
    return is_reserved_device_name(path + start);
}

bool is_entry_of(const char16_t* entry, std::size_t entry_units, const char16_t* parent,
                 std::size_t parent_units, const char16_t* name) {
    // The volume's root is "\\"; every other directory has no separator at its end.
    const std::size_t start = parent_units == 1 && parent[0] == u'\\' ? 1 : parent_units + 1;
    if (entry_units != start + text_length(name) || (start > 1 && entry[parent_units] != u'\\')) {
        return false;
    }
    for (std::size_t i = 0; i < entry_units; ++i) {
        if (i < parent_units ? entry[i] != parent[i]
                             : i >= start && capital_of(entry[i]) != capital_of(name[i - start])) {
            return false;
        }
    }
    return true;
}

bool may_read_as(const char16_t* typed, const char16_t* stored) {
    std::size_t end = text_length(typed);
    while (end > 0 && (typed[end - 1] == u'.' || typed[end - 1] == u' ')) {
        --end;
    }
    bool same = end == text_length(stored);
    for (std::size_t i = 0; i < end; ++i) {
        if (typed[i] == u'~') {
            return true;
        }
        same = same && capital_of(typed[i]) == capital_of(stored[i]);
    }
    return same;
}
