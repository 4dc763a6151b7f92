// The bounded formatter on any format, texts and capacity: it writes what a plain "%s"
// substitution gives when that fits, and otherwise the longest prefix that fits without half a
// surrogate pair; it never writes past its buffer.
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "text/text.h"

namespace {

bool is_low_surrogate(char16_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

void check(bool holds) {
    if (!holds) {
        std::abort();
    }
}

std::u16string substitute(const std::u16string& format, const std::vector<std::u16string>& args) {
    std::u16string out;
    std::size_t next = 0;
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] == u'%' && i + 1 < format.size() && format[i + 1] == u's') {
            out += next < args.size() ? args[next++] : u"";
            ++i;
        } else {
            out += format[i];
        }
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    const std::size_t capacity = data[0] % 64;  // small, so that cutting is common
    ++data;
    --size;
    const std::u16string format = take_text(&data, &size);
    std::vector<std::u16string> args;
    while (size > 0 && args.size() < 4) {
        args.push_back(take_text(&data, &size));
    }
    std::vector<const char16_t*> pointers;
    for (const std::u16string& arg : args) {
        pointers.push_back(arg.c_str());
    }

    auto dest = std::make_unique<char16_t[]>(capacity);  // exactly capacity, for AddressSanitizer
    const bool fit =
        format_text_list(dest.get(), capacity, format.c_str(), pointers.data(), pointers.size());
    const std::u16string whole = substitute(format, args);
    if (capacity == 0) {
        check(!fit);
        return 0;
    }
    const std::u16string written(dest.get());
    check(fit == (whole.size() < capacity));
    if (fit) {
        check(written == whole);
    } else {
        const std::size_t cut = written.size();
        check(whole.compare(0, cut, written) == 0);
        check(cut == capacity - 1 || (cut == capacity - 2 && is_high_surrogate(whole[cut])));
        // Never the first half of a pair without its second.
        check(!(cut > 0 && is_high_surrogate(whole[cut - 1]) && is_low_surrogate(whole[cut])));
    }
    return 0;
}
