// The transliteration as tables of input -> expected.
#include "latinize/latinize.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Case {
    std::u16string input;
    std::u16string expected;
    bool changed;
};

void expect_table(std::initializer_list<Case> cases) {
    for (const Case& c : cases) {
        PathBuffer dest;
        bool fit = false;
        const bool changed = latinize_name(c.input.c_str(), dest, &fit);
        EXPECT_EQ(std::u16string(dest), c.expected);
        EXPECT_EQ(changed, c.changed) << std::u16string(dest).size();
        EXPECT_TRUE(fit);
    }
}

TEST(Latinize, EveryLetterOfTheTable) {
    expect_table({
        {u"АБВГДЕЁЗИЙКЛМНОПРСТУФХЦЪЫЬЭ", u"ABVGDEEZIJKLMNOPRSTUFHC'Y'E", true},
        {u"абвгдеёжзийклмнопрстуфхцчшщъыьэюя", u"abvgdeezhzijklmnoprstufhcchshsh'y'eyuya", true},
        // The digraph capitals: all capitals at the end, capital-then-small before а-я.
        {u"Ж Ч Ш Щ Ю Я", u"ZH CH SH SH YU YA", true},
        {u"Жа Ча Ша Ща Юя Яя", u"Zha Cha Sha Sha Yuya Yaya", true},
    });
}

TEST(Latinize, WordsAndTheCaseRule) {
    expect_table({
        {u"Москва", u"Moskva", true},
        {u"Объявление", u"Ob'yavlenie", true},
        {u"Съёмка", u"S'emka", true},
        {u"Йод Хлеб Цех", u"Jod Hleb Ceh", true},
        {u"Отчёт 7.docx", u"Otchet 7.docx", true},
        {u"Юля ЮЛЯ Щука ЩУКА", u"Yulya YULYA Shuka SHUKA", true},
        {u"Жz ЖZ Ж1 ЖЖж", u"ZHz ZHZ ZH1 ZHZhzh", true},  // only the very next unit counts
        {u"Жёлтый", u"ZHeltyj", true},                   // ё lies outside а-я
        {u"Шар Щар Еда Эда", u"Shar Shar Eda Eda", true},
        {u"/home/Фото/Лето", u"/home/Foto/Leto", true},
    });
}

TEST(Latinize, UnitsOutsideTheTableAreCopied) {
    expect_table({
        {u"", u"", false},
        {u"report.txt", u"report.txt", false},
        {u"Київ", u"Kiїv", true},
        {u"Ѐлка", u"Ѐlka", true},
        {u"ЀѐЂЏђџЄІЇҐЎ", u"ЀѐЂЏђџЄІЇҐЎ", false},
        {u"\xDCFFМ Я\xDCFF 😀Я", u"\xDCFFM YA\xDCFF 😀YA", true},  // lone surrogates, a pair
    });
}

TEST(Latinize, AResultThatDoesNotFitIsReported) {
    PathBuffer dest;
    bool fit = false;
    // 129 Ж give 258 units and fit; 130 give 260, one more than a buffer holds.
    EXPECT_TRUE(latinize_name(std::u16string(129, u'Ж').c_str(), dest, &fit));
    EXPECT_TRUE(fit);
    EXPECT_TRUE(latinize_name(std::u16string(130, u'Ж').c_str(), dest, &fit));
    EXPECT_FALSE(fit);
    EXPECT_EQ(text_length(dest), PATH_UNITS - 1);
    // The changed flag tells of table letters, not of fitting.
    EXPECT_FALSE(latinize_name(std::u16string(300, u'a').c_str(), dest, &fit));
    EXPECT_FALSE(fit);
}

}  // namespace
