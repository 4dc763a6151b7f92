// The listing rules every platform shares.
#include "platform/listing.h"

#include <gtest/gtest.h>

#include <string>

TEST(Listing, PassesOverDotsNamesThatDoNotFitAndDirectoriesMovedHere) {
    MovedDirectories moved;
    // Enough that the memory grows several times.
    for (std::uint64_t id = 1; id <= 5000; ++id) {
        note_moved(&moved, id,
                   (std::u16string(200, u'x') + std::u16string(1, u'0' + id % 10)).c_str());
    }
    note_moved(&moved, 7, u"Foto");
    const std::u16string last = std::u16string(200, u'x') + u'0';
    const struct {
        std::uint64_t id;
        std::u16string name;
        bool fits, may_be_moved, walked;
    } cases[] = {
        {1, u".", true, false, false},   {1, u"..", true, false, false},
        {1, u".x", true, true, true},    {1, u"..x", true, true, true},
        {1, u"...", true, true, true},   {1, u"Foto", false, false, false},
        {7, u"Foto", true, true, false}, {7, u"Foto", true, false, true},
        {8, u"Foto", true, true, true},  {7, u"Fot", true, true, true},
        {7, u"Foto2", true, true, true}, {5000, last, true, true, false},
        {4999, last, true, true, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(is_walked_entry(moved, c.id, c.name.c_str(), c.fits, c.may_be_moved), c.walked)
            << c.id << " " << std::string(c.name.begin(), c.name.end());
    }
    forget_moved(&moved);
    EXPECT_TRUE(is_walked_entry(moved, 7, u"Foto", true, true));
}
