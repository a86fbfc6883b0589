// The listening log's texts as bytes: the start-up and shutdown records, the
// station line, the automatic file's name, and a log's text as a file.
#include <gtest/gtest.h>

#include <climits>

#include "main_rules.h"
#include "writer_rules.h"

namespace {

TEST(WriterRules, RecordsAndFileNamesWriteNumbersWithoutLeadingZeros)
{
    struct Case {
        LogTime time;
        const char* when;  // the date and time as the records write them (UTF-8)
        const char* fileName;
    };
    const Case cases[] = {
        {{2024, 3, 5, 14, 3, 7}, "5.3.2024 г.  в 14 час 3 мин 7 сек ", "_2024_3_5_14_3_7.log"},
        {{2000, 1, 1, 0, 0, 0}, "1.1.2000 г.  в 0 час 0 мин 0 сек ", "_2000_1_1_0_0_0.log"},
        {{2031, 10, 20, 9, 10, 5},
         "20.10.2031 г.  в 9 час 10 мин 5 сек ",
         "_2031_10_20_9_10_5.log"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fileName);
        EXPECT_EQ(SwitchedOnLine(c.time), Ansi(" Включен ") + Ansi(c.when));
        EXPECT_EQ(SwitchedOffLine(c.time), Ansi(" Выключен ") + Ansi(c.when));
        EXPECT_EQ(AutoLogFileName(c.time), c.fileName);
    }
}

TEST(WriterRules, TheProgramsWordsAreWindows1251Bytes)
{
    EXPECT_EQ(SeparatorLine(), " ---------------------------------------------- ");
    EXPECT_EQ(SeparatorLine().size(), 48u);
    EXPECT_EQ(ProgramLine(),
              "\x20\xC8\xED\xF2\xE5\xF0\xED\xE5\xF2\x20\xEF\xF0\xE8\xE5\xEC\xED\xE8\xEA"
              " Tarvel ondalux.example");
    EXPECT_EQ(SwitchedOnLine({2024, 3, 5, 14, 3, 7}),
              "\x20\xC2\xEA\xEB\xFE\xF7\xE5\xED\x20"
              "5.3.2024 \xE3.  \xE2 14 \xF7\xE0\xF1 3 \xEC\xE8\xED 7 \xF1\xE5\xEA ");
    EXPECT_EQ(SwitchedOffLine({2024, 3, 5, 14, 3, 7}).substr(0, 10),
              "\x20\xC2\xFB\xEA\xEB\xFE\xF7\xE5\xED\x20");
    EXPECT_EQ(StationGapLine(), "  ");
    EXPECT_EQ(TitleLine("Miles Davis - So What"), " Miles Davis - So What");
    EXPECT_EQ(TitleLine(""), " ");
}

TEST(WriterRules, TheStationLineShowsEachPieceInItsOwnEncoding)
{
    struct Case {
        std::int32_t index;
        std::string status;
        std::string address;
        const char* shown;
    };
    const Case cases[] = {
        {0, "Radio Jazz", "http://jazz.example:8000/live",
         " Станция 1 >> Radio Jazz = http://jazz.example:8000/live"},
        {99, "Radio", "", " Станция 100 >> Radio = "},
        // A station name in UTF-8 and one in windows-1251 beside the
        // program's windows-1251 words.
        {4, "Радио Рекорд", "http://r.example/", " Станция 5 >> Радио Рекорд = http://r.example/"},
        {4, Ansi("Радио Рекорд"), Ansi("адрес"), " Станция 5 >> Радио Рекорд = адрес"},
        {0, Ansi("Не могу соединиться с сервером..."), "x",
         " Станция 1 >> Не могу соединиться с сервером... = x"},
        {INT32_MAX, "", "", " Станция 2147483648 >>  = "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shown);
        EXPECT_EQ(ShownStationLine(c.index, c.status, c.address), QString::fromUtf8(c.shown));
    }
    // As the file holds it: the program's words in windows-1251.
    EXPECT_EQ(Bytes(ShownStationLine(42, "Radio Jazz", "http://a/")),
              "\x20\xD1\xF2\xE0\xED\xF6\xE8\xFF 43 >> Radio Jazz = http://a/");
}

TEST(WriterRules, EveryLineBreakOfTheLogIsCrLfInTheFile)
{
    const QChar paragraph = QChar::ParagraphSeparator;
    const QChar line = QChar::LineSeparator;
    struct Case {
        QString raw;
        std::string file;
    };
    const Case cases[] = {
        {QString(), ""},
        {QString("one") + paragraph + "two" + paragraph, "one\r\ntwo\r\n"},
        {QString("one") + paragraph + "two", "one\r\ntwo"},
        {QString("a") + line + "b\nc", "a\r\nb\r\nc"},
        {paragraph + QString(paragraph), "\r\n\r\n"},
        // A non-breaking blank stays one; a letter windows-1251 lacks stays
        // UTF-8; the program's own words go back to windows-1251.
        {QString::fromUtf8("a\u00A0b ü ") + QString::fromUtf8("Станция"),
         "a\xA0"
         "b \xC3\xBC \xD1\xF2\xE0\xED\xF6\xE8\xFF"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        EXPECT_EQ(LogFileBytes(c.raw), c.file);
    }
}

}  // namespace
