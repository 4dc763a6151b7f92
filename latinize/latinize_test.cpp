// The transliteration as one table of input -> expected.
#include "latinize/latinize.h"

#include <gtest/gtest.h>

#include <string>

TEST(Latinize, Table) {
    const std::u16string ZH_A257 = std::u16string(259, u'a').replace(0, 2, u"ZH");
    const std::u16string cases[][2] = {
        {u"АБВГДЕЁЗИЙКЛМНОПРСТУФХЦЪЫЬЭ", u"ABVGDEEZIJKLMNOPRSTUFHC'Y'E"},
        {u"абвгдеёжзийклмнопрстуфхцчшщъыьэюя", u"abvgdeezhzijklmnoprstufhcchshsh'y'eyuya"},
        // The two-letter capitals are all capitals unless the very next unit is one of а-я.
        {u"Ж Ч Ш Щ Ю Я Жz Ж1 ЖЖж Жё", u"ZH CH SH SH YU YA ZHz ZH1 ZHZhzh ZHe"},
        {u"Жа Ча Ша Ща Юя Яя", u"Zha Cha Sha Sha Yuya Yaya"},
        {u"Москва Объявление Съёмка Йод Хлеб Цех", u"Moskva Ob'yavlenie S'emka Jod Hleb Ceh"},
        // Every other unit is copied: other Cyrillic letters, lone surrogates, pairs.
        {u"Київ Ѐлка \xDCFFМ Я\xDCFF 😀Я", u"Kiїv Ѐlka \xDCFFM YA\xDCFF 😀YA"},
        {u"ЀѐЂЏђџЄІЇҐЎ report.txt", u"ЀѐЂЏђџЄІЇҐЎ report.txt"},
        // Й and Ё stored decomposed are one letter each; any other mark stays.
        {u"И\u0306од Е\u0308жик Чаи\u0306 е\u0308 Жи\u0306 Я\u0306 и\u0308\u0306",
         u"Jod Ezhik Chaj e Zhj YA\u0306 i\u0308\u0306"},
        {u"", u""},
        {std::u16string(258, u'a').replace(0, 1, u"Ж"), ZH_A257},  // 259 units fit a buffer
    };
    PathBuffer dest;
    bool fit = false;
    for (const auto& [input, expected] : cases) {
        EXPECT_EQ(latinize_name(input.c_str(), dest, &fit), input != expected);
        EXPECT_EQ(std::u16string(dest), expected);
        EXPECT_TRUE(fit);
    }
    // What would not fit is cut, never within a surrogate pair, and said so.
    EXPECT_TRUE(latinize_name(std::u16string(259, u'a').replace(0, 1, u"Ж").c_str(), dest, &fit));
    EXPECT_EQ(std::u16string(dest), ZH_A257);
    EXPECT_FALSE(fit);
    EXPECT_FALSE(latinize_name((std::u16string(258, u'a') + u"😀").c_str(), dest, &fit));
    EXPECT_EQ(std::u16string(dest), std::u16string(258, u'a'));
}
