#include "FakeRecord.h"

#include <gtest/gtest.h>

#include <QVariant>

namespace {

class FilterTest : public ::testing::Test
{
protected:
    FakeRecord rec;
    TFilterParser parser{&rec};

    void SetUp() override
    {
        rec.AddField("I", ftInteger, 4);
        rec.AddField("SI", ftSmallint, 2);
        rec.AddField("W", ftWord, 2);
        rec.AddField("L", ftLargeint, 8);
        rec.AddField("F", ftFloat, 8);
        rec.AddField("C", ftCurrency, 8);
        rec.AddField("A", ftAutoInc, 4);
        rec.AddField("B", ftBoolean, 2);
        rec.AddField("B0", ftBoolean, 2);
        rec.AddField("S", ftString, 21);
        rec.AddField("FC", ftFixedChar, 11);
        rec.AddField("U", ftString, 41);
        rec.AddField("LONG", ftString, 301);
        rec.AddField("D", ftDate, 4);
        rec.AddField("T", ftTime, 4);
        rec.AddField("DT", ftDateTime, 8);
        rec.AddField("M", ftMemo, 4);
        rec.Set<qint32>("I", 5);
        rec.Set<qint16>("SI", -3);
        rec.Set<quint16>("W", 65535);
        rec.Set<qint64>("L", 9007199254740993LL); // 2^53 + 1: not exact as a double
        rec.Set<double>("F", 2.5);
        rec.Set<double>("C", 10.25);
        rec.Set<qint32>("A", 7);
        rec.Set<quint16>("B", 0x0100); // true, with a zero low byte
        rec.Set<quint16>("B0", 0);
        rec.SetText("S", "Abc");
        rec.SetText("FC", "xyz");
        rec.SetText("U", "  h\xc3\xa9llo w\xc3\xb6rld  ");
        rec.Set<qint32>("D", DayNumber(2020, 1, 2));
        rec.Set<qint32>("T", MSecsOfDay(10, 0, 0, 0));
        rec.Set<double>("DT", MSecsOf(2020, 1, 2, 10, 30, 45));
        rec.SetBlobText("M", QStringLiteral("a memo text"));
    }

    bool Eval(const QString &Text, TFilterOptions Options = {})
    {
        parser.Parse(Text);
        QVariant result;
        parser.Evaluate(Options, result);
        EXPECT_EQ(result.typeId(), QMetaType::Bool);
        return result.toBool();
    }

    // The message of the refusal, or "" when the text parses and evaluates.
    QString ErrorOf(const QString &Text)
    {
        try {
            Eval(Text);
        } catch (const dataaccess::Exception &e) {
            return e.Message();
        }
        return QString();
    }

    void ExpectAll(std::initializer_list<const char *> Texts, bool Expected, TFilterOptions Options = {})
    {
        for (const char *t : Texts) {
            try {
                EXPECT_EQ(Eval(QString::fromUtf8(t), Options), Expected) << t;
            } catch (const dataaccess::Exception &e) {
                ADD_FAILURE() << t << ": " << e.what();
            }
        }
    }
};

TEST_F(FilterTest, NumbersOfEveryKind)
{
    ExpectAll(
        {"I = 5",       "I <> 4",      "I > 4",      "I >= 5",           "I < 6",      "I <= 5",        "NOT I < 5",
         "SI = -3",     "SI < 0",      "W = 65535",  "L > 2147483647",   "L - 1 <> L", "F = 2.5",       "F > 2",
         "I + F = 7.5", "7 / 2 = 3.5", "I * 2 = 10", "I - 6 = -1",       "-1 = I - 6", "I-1=4",         "(I)-1=4",
         "C = 10.25",   "A = 7",       "A + SI = 4", "SI * W = -196605", "1e3 = 1000", "2147483648 > I"},
        true);
    ExpectAll({"I = 4", "I > 5", "F < 2.5", "I IN (1, 2)"}, false);
    // Integer arithmetic wraps around in its type instead of overflowing.
    EXPECT_TRUE(Eval("2147483647 + I = -2147483644"));
}

TEST_F(FilterTest, DivisionAndShortCircuit)
{
    EXPECT_THROW(Eval("I / 0 = 1"), EZeroDivide);
    EXPECT_FALSE(Eval("I = 0 AND I / 0 > 1"));
    EXPECT_TRUE(Eval("I = 5 OR I / 0 > 1"));
}

TEST_F(FilterTest, StringsAndPartialCompare)
{
    ExpectAll({"S = 'Abc'", "S <> 'abc'", "S < 'B'", "S > 'Ab'", "S = 'Ab*'", "S = 'Abc*'", "S + 'd' = 'Abcd'",
               "FC = 'xyz'", "S IN ('x', 'Abc')", "[S] = 'Abc'"},
              true);
    // The text before "*" on the right decides; on the left the whole texts compare.
    ExpectAll({"'Ab*' = S", "S = 'Abcd*'", "S = 'B*'"}, false);
    ExpectAll({"S = 'Ab*'"}, false, foNoPartialCompare);
    ExpectAll({"S = 'abc'", "S = 'aB*'"}, true, foCaseInsensitive);
    rec.SetText("S", "Ab");
    EXPECT_TRUE(Eval("S = 'Ab*'"));
    rec.SetText("S", "Ab*");
    EXPECT_TRUE(Eval("S = 'Ab*'", foNoPartialCompare));
}

TEST_F(FilterTest, StringFunctions)
{
    ExpectAll({"UPPER(S) = 'ABC'", "lower(S) = 'abc'", "UPPER(U) = '  H\xc3\xa9LLO W\xc3\xb6RLD  '",
               "TRIM(U) = 'h\xc3\xa9llo w\xc3\xb6rld'", "TRIMLEFT(U) = 'h\xc3\xa9llo w\xc3\xb6rld  '",
               "TRIMRIGHT(U) = '  h\xc3\xa9llo w\xc3\xb6rld'", "SUBSTRING(S, 2, 5) = 'bc'",
               "SUBSTRING(U, 3, 2) = 'h\xc3\xa9'", "SUBSTRING(S, 4, 1) = ''", "SUBSTRING(S, 0, 2) = 'Ab'",
               "SUBSTRING(S, 2, -1) = ''", "UPPER ( S ) LIKE 'AB%'"},
              true);
}

TEST_F(FilterTest, LikeInAndBlobFields)
{
    ExpectAll({"S LIKE 'A%'", "S LIKE '%c'", "S LIKE 'A_c'", "NOT S LIKE 'A_'", "S LIKE '%'", "U LIKE '  h_llo%'",
               "M LIKE '%memo%'", "M = 'a memo text'", "I IN (1, 5, 9)", "F IN (1, 2.5)", "B IN (False, True)"},
              true);
    ExpectAll({"S LIKE 'a%'", "S LIKE 'Abc%%'"}, false);
    ExpectAll({"S LIKE 'a%'"}, true, foCaseInsensitive);
    // A blob's text is read again at every evaluation.
    rec.SetBlobText("M", QStringLiteral("other"));
    EXPECT_FALSE(Eval("M LIKE '%memo%'"));
}

TEST_F(FilterTest, BooleansAreReadAsSixteenBitTruthValues)
{
    ExpectAll({"B", "B = True", "B <> False", "NOT B0", "B AND NOT B0", "B0 = False", "B = B", "true OR B0"}, true);
    rec.Set<quint16>("B", 0x0001);
    EXPECT_TRUE(Eval("B = TRUE"));
    rec.Set<quint16>("B", 0);
    EXPECT_FALSE(Eval("B"));
}

TEST_F(FilterTest, DatesAndTimes)
{
    ExpectAll({"D = '2020-01-02'",
               "D = '01/02/2020'",
               "D < '2020-01-03'",
               "D > '2019-12-31'",
               "T = '10:00:00'",
               "T = '10:00:00.999'",
               "T < '10:00:01'",
               "'10:00:00' = T",
               "DT = '2020-01-02 10:30:45'",
               "DT = '2020-01-02 10:30:45.999'",
               "D = DT",
               "NOT DT > D",
               "YEAR(D) = 2020",
               "MONTH(D) = 1",
               "DAY(DT) = 2",
               "HOUR(T) = 10",
               "MINUTE(DT) = 30",
               "SECOND(DT) = 45",
               "D - D = 0",
               "(D + 1) - D = 1",
               "'2020-01-05' - D = 3",
               "T - T = 0",
               "(T + 1000) - T = 1000",
               "(DT + 1) - DT = 86400000",
               "DT - DT = 0",
               "D + 1 > D",
               "D IN ('2020-01-01', '2020-01-02')",
               "GETDATE() > '2000-01-01'",
               "YEAR(GETDATE()) >= 2024"},
              true);
    ExpectAll({"T = '10:00:01'", "DT > '2020-01-02'", "D = '2020-01-03'"}, false);
    // Two times 999 ms apart are equal, 1000 ms apart they are not.
    rec.Set<qint32>("T", MSecsOfDay(10, 0, 0, 999));
    EXPECT_TRUE(Eval("T = '10:00:00'"));
    rec.Set<qint32>("T", MSecsOfDay(10, 0, 1, 0));
    EXPECT_FALSE(Eval("T = '10:00:00'"));
    EXPECT_TRUE(Eval("T > '10:00:00'"));
}

TEST_F(FilterTest, TokensCommentsAndKeywords)
{
    ExpectAll({"/* a note */ I = 5", "I=5", "  I\t=\n5  ", "i = 5 and not s like 'z%' or false",
               "(I = 5) AND ((S = 'Abc'))", "I IN(5)"},
              true);
    // A string constant keeps 256 characters; the rest is read and dropped.
    rec.SetText("LONG", QByteArray(256, 'x'));
    EXPECT_TRUE(Eval("LONG = '" + QString(300, QLatin1Char('x')) + "'"));
    rec.SetText("S", "it's");
    EXPECT_TRUE(Eval("S = 'it''s'"));
}

TEST_F(FilterTest, RefusalsCarryTheirMessages)
{
    const struct
    {
        const char *text;
        const char *message;
    } cases[] = {
        {"", "Expression expected but nothing found"},
        {"I = ", "Expression expected but nothing found"},
        {"I = )", "Expression expected but ')' found"},
        {"I IN 1", "'(' expected but '1' found"},
        {"I IN ()", "IN predicate list may not be empty"},
        {"I IN (1 2)", "')' or ',' expected but '2' found"},
        {"I IN (1,", "Expression expected but nothing found"},
        {"I IN (1", "')' expected but nothing found"},
        {"(I = 1", "')' expected but nothing found"},
        {"UPPER(S = 'A'", "')' expected but nothing found"},
        {"I = 1 S", "Filter expression incorrectly terminated"},
        {"I = 1 = 2", "Filter expression incorrectly terminated"},
        {"S = 'abc", "Unterminated string constant"},
        {"[S = 'abc'", "Unterminated field name"},
        {"I = 1 /* open", "Invalid filter expression character: '#0'"},
        {"/* x *y */ I = 1", "Invalid filter expression character: 'y'"},
        {"I # 1", "Invalid filter expression character: '#'"},
        {"I = 1 AND NOSUCH = 2", "Field 'NOSUCH' not found"},
        {"B > True", "Type mismatch in expression"},
        {"B = 1", "Type mismatch in expression"},
        {"I + 'x' = 1", "Type mismatch in expression"},
        {"S - 'x' = 'y'", "Type mismatch in expression"},
        {"UPPER(I) = 'A'", "Type mismatch in expression"},
        {"UPPER(S, S) = 'A'", "Type mismatch in expression"},
        {"SUBSTRING(S, I, 1) = 'a'", "Type mismatch in expression"},
        {"YEAR(T) = 1", "Type mismatch in expression"},
        {"HOUR(D) = 1", "Type mismatch in expression"},
        {"GETDATE(1) > D", "Type mismatch in expression"},
        {"D = 'not a date'", "Type mismatch in expression"},
        {"D * 2 = 1", "Type mismatch in expression"},
        {"S LIKE 1", "Type mismatch in expression"},
        {"I IN (1, 'a')", "Type mismatch in expression"},
        {"NOT I", "Type mismatch in expression"},
        {"I AND B", "Type mismatch in expression"},
        {"I + 1", "Type mismatch in expression"},
        {"1.2.3 = F", "'1.2.3' is not a valid floating point value"},
        {"I = - 1", "'-' is not a valid floating point value"},
        {"F = 1e999", "'1e999' is not a valid floating point value"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ErrorOf(QString::fromUtf8(c.text)), QString::fromUtf8(c.message)) << c.text;
}

TEST_F(FilterTest, HostileNestingIsRefusedNotCrashed)
{
    const QString deep = QString(100000, QLatin1Char('(')) + "I = 5" + QString(100000, QLatin1Char(')'));
    EXPECT_EQ(ErrorOf(deep), QStringLiteral("Filter expression too complex"));
    QString chain = QStringLiteral("I = 1");
    for (int i = 0; i < 20000; ++i)
        chain += QStringLiteral(" OR I = 1");
    EXPECT_EQ(ErrorOf(chain), QStringLiteral("Filter expression too complex"));
    // A long but reasonable list of alternatives is fine.
    QString ors = QStringLiteral("I = 0");
    for (int i = 1; i <= 500; ++i)
        ors += QStringLiteral(" OR I = %1").arg(i);
    EXPECT_TRUE(Eval(ors));
}

TEST_F(FilterTest, TreeLifetime)
{
    QVariant result;
    TFilterParser fresh(&rec);
    EXPECT_THROW(fresh.Evaluate({}, result), EDatabaseError);
    EXPECT_TRUE(Eval("I = 5"));
    // A failed parse leaves no tree behind.
    EXPECT_THROW(parser.Parse("I ="), EDatabaseError);
    EXPECT_THROW(parser.Evaluate({}, result), EDatabaseError);
    // The record moves to another buffer between walks: the field is read where it is now.
    parser.Parse("I = 6");
    parser.Evaluate({}, result);
    EXPECT_FALSE(result.toBool());
    rec.Reallocate();
    rec.Set<qint32>("I", 6);
    parser.Evaluate({}, result);
    EXPECT_TRUE(result.toBool());
}

} // namespace
