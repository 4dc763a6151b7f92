// latinize_name on any text: it never writes past its buffer, the changed flag is true exactly
// when a letter of the table is present, and a result that fit is the whole result.
#include <cstdlib>
#include <memory>

#include "fuzz/fuzz_input.h"
#include "latinize/latinize.h"

namespace {

bool is_table_letter(char16_t unit) {
    return (unit >= 0x0410 && unit <= 0x044F) || unit == 0x0401 || unit == 0x0451;
}

void check(bool holds) {
    if (!holds) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::u16string source = take_text(&data, &size);
    // A buffer of exactly PATH_UNITS on the heap, so that AddressSanitizer sees its very end.
    auto dest = std::make_unique<char16_t[]>(PATH_UNITS);
    bool fit = false;
    const bool changed =
        latinize_name(source.c_str(), *reinterpret_cast<PathBuffer*>(dest.get()), &fit);

    bool has_letter = false;
    std::size_t longest = 0;  // the whole result, each letter at most two units
    for (const char16_t unit : source) {
        has_letter = has_letter || is_table_letter(unit);
        longest += is_table_letter(unit) ? 2 : 1;
    }
    check(changed == has_letter);
    const std::u16string result(dest.get());  // terminated in every case
    check(result.size() < PATH_UNITS);
    check(fit || longest >= PATH_UNITS);  // only a result that cannot fit is reported so
    check(!fit || result.size() <= longest);
    if (fit && !changed) {
        check(result == source);
    }
    for (const char16_t unit : result) {
        check(!is_table_letter(unit));
    }
    return 0;
}
