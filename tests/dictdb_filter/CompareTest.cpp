#include "FakeRecord.h"

#include "dictdb/DictDBUtils.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>

#include <functional>

namespace {

// The match as the pattern rules state it, recursing at every "%".
bool NaiveLike(const QString &V, int I, const QString &P, int J, bool CaseSensitive)
{
    for (;;) {
        if (P.mid(J) == QLatin1String("%"))
            return true;
        if (I == V.size())
            return J == P.size();
        if (J == P.size())
            return false;
        if (P[J] == QLatin1Char('%')) {
            for (int k = I; k < V.size(); ++k)
                if (NaiveLike(V, k, P, J + 1, CaseSensitive))
                    return true;
            return false;
        }
        if (P[J] != QLatin1Char('_')) {
            const bool same = CaseSensitive ? P[J] == V[I] : P[J].toCaseFolded() == V[I].toCaseFolded();
            if (!same)
                return false;
        }
        ++I;
        ++J;
    }
}

// Every text over the alphabet up to the length, the empty one included.
void ForEachText(const QString &Alphabet, int MaxLength, const std::function<void(const QString &)> &F)
{
    std::function<void(QString)> grow = [&](QString s) {
        F(s);
        if (s.size() == MaxLength)
            return;
        for (QChar c : Alphabet)
            grow(s + c);
    };
    grow(QString());
}

TEST(LikeMatch, AgreesWithTheRecursiveRulesOnEveryShortText)
{
    int checked = 0;
    ForEachText(QStringLiteral("ab%_"), 5, [&](const QString &pattern) {
        ForEachText(QStringLiteral("ab"), 5, [&](const QString &value) {
            ASSERT_EQ(LikeMatch(value, pattern, true), NaiveLike(value, 0, pattern, 0, true))
                << qPrintable(value) << " LIKE " << qPrintable(pattern);
            ++checked;
        });
    });
    ForEachText(QStringLiteral("Ab%_"), 4, [&](const QString &pattern) {
        ForEachText(QStringLiteral("aB"), 4, [&](const QString &value) {
            for (bool cs : {true, false})
                ASSERT_EQ(LikeMatch(value, pattern, cs), NaiveLike(value, 0, pattern, 0, cs))
                    << qPrintable(value) << " LIKE " << qPrintable(pattern) << " cs=" << cs;
        });
    });
    EXPECT_GT(checked, 80000);
}

TEST(LikeMatch, EdgeCases)
{
    const QString abc = QStringLiteral("abc");
    EXPECT_TRUE(LikeMatch(abc, "a%", true));
    EXPECT_TRUE(LikeMatch(abc, "%c", true));
    EXPECT_TRUE(LikeMatch(abc, "a_c", true));
    EXPECT_FALSE(LikeMatch(abc, "a_", true));
    EXPECT_TRUE(LikeMatch("a", "a%", true));
    EXPECT_TRUE(LikeMatch("c", "%c", true));
    EXPECT_TRUE(LikeMatch("", "", true));
    EXPECT_TRUE(LikeMatch("", "%", true));
    EXPECT_FALSE(LikeMatch("", "_", true));
    EXPECT_FALSE(LikeMatch("", "%%", true));
    // Two "%" where the text is used up do not match.
    EXPECT_FALSE(LikeMatch("x", "x%%", true));
    EXPECT_TRUE(LikeMatch("xy", "x%%", true));
    EXPECT_FALSE(LikeMatch("ABC", "abc", true));
    EXPECT_TRUE(LikeMatch("ABC", "abc", false));
    // "_" takes one character, not one byte.
    EXPECT_TRUE(LikeMatch(QString::fromUtf8("h\xc3\xa9"), "h_", true));
    EXPECT_TRUE(LikeMatch(QString::fromUtf8("\xc3\x89T\xc3\x89"), QString::fromUtf8("\xc3\xa9t\xc3\xa9"), false));
}

TEST(LikeMatch, ManyPercentSignsStayFast)
{
    // The rules recurse once per "%": this pattern would take exponential time.
    const QString value(3000, QLatin1Char('a'));
    const QString pattern = QString("%a").repeated(40) + "%b";
    QElapsedTimer t;
    t.start();
    EXPECT_FALSE(LikeMatch(value, pattern, true));
    EXPECT_TRUE(LikeMatch(value + "b", pattern, true));
    EXPECT_LT(t.elapsed(), 5000);
}

template <class T>
int Cmp(T A, T B, TFieldType Type, bool Partial = false, bool CI = false)
{
    return CompareFieldValue(&A, &B, Partial, CI, Type);
}

int CmpText(const char *A, const char *B, TFieldType Type, bool Partial = false, bool CI = false)
{
    return CompareFieldValue(A, B, Partial, CI, Type);
}

TEST(CompareFieldValue, IntegersAndFloats)
{
    EXPECT_EQ(Cmp<qint16>(-5, 3, ftSmallint), -1);
    EXPECT_EQ(Cmp<qint16>(3, 3, ftSmallint), 0);
    EXPECT_EQ(Cmp<quint16>(65535, 1, ftWord), 1); // unsigned
    EXPECT_EQ(Cmp<qint32>(-2147483647 - 1, 2147483647, ftInteger), -1);
    EXPECT_EQ(Cmp<qint32>(9, 9, ftAutoInc), 0);
    EXPECT_EQ(Cmp<qint64>(9007199254740993LL, 9007199254740992LL, ftLargeint), 1);
    EXPECT_EQ(Cmp<double>(1.5, 1.25, ftFloat), 1);
    EXPECT_EQ(Cmp<double>(-0.0, 0.0, ftCurrency), 0);
}

TEST(CompareFieldValue, BooleansAreNormalised)
{
    EXPECT_EQ(Cmp<quint16>(0x0100, 0x0001, ftBoolean), 0);
    EXPECT_EQ(Cmp<quint16>(0xFFFF, 1, ftBoolean), 0);
    EXPECT_EQ(Cmp<quint16>(0, 0x0100, ftBoolean), -1);
    EXPECT_EQ(Cmp<quint16>(0x0100, 0, ftBoolean), 1);
}

TEST(CompareFieldValue, DatesAndTimes)
{
    EXPECT_EQ(Cmp<qint32>(DayNumber(2020, 1, 2), DayNumber(2020, 1, 3), ftDate), -1);
    EXPECT_EQ(Cmp<qint32>(DayNumber(2020, 1, 2), DayNumber(2020, 1, 2), ftDate), 0);
    EXPECT_EQ(Cmp<qint32>(MSecsOfDay(1, 0, 0, 999), MSecsOfDay(1, 0, 0, 0), ftTime), 0);
    EXPECT_EQ(Cmp<qint32>(MSecsOfDay(1, 0, 1, 0), MSecsOfDay(1, 0, 0, 0), ftTime), 1);
    EXPECT_EQ(Cmp<double>(MSecsOf(2020, 1, 2, 0, 0, 0), MSecsOf(2020, 1, 2, 0, 0, 0, 500), ftDateTime), 0);
    EXPECT_EQ(Cmp<double>(MSecsOf(2020, 1, 2, 0, 0, 0), MSecsOf(2020, 1, 2, 0, 0, 1), ftDateTime), -1);
}

TEST(CompareFieldValue, Strings)
{
    for (TFieldType t : {ftString, ftFixedChar}) {
        EXPECT_EQ(CmpText("abc", "abc", t), 0);
        EXPECT_EQ(CmpText("abc", "abd", t), -1);
        EXPECT_EQ(CmpText("abd", "abc", t), 1);
        EXPECT_EQ(CmpText("ab", "abc", t), -1);
        EXPECT_NE(CmpText("ABC", "abc", t), 0);
        EXPECT_EQ(CmpText("ABC", "abc", t, false, true), 0);
        // A partial key compares as many characters as the key holds.
        EXPECT_EQ(CmpText("ab", "abc", t, true), 0);
        EXPECT_EQ(CmpText("AB", "abc", t, true, true), 0);
        EXPECT_EQ(CmpText("abd", "abc", t, true), 1);
        EXPECT_EQ(CmpText("", "abc", t, true), 0);
    }
    // Case-insensitive equality agrees with the case-insensitive order.
    EXPECT_EQ(CmpText("\xc3\x89t\xc3\xa9", "\xc3\xa9T\xc3\x89", ftString, false, true), 0);
    // One fixed order on every machine: by code point after case folding.
    EXPECT_EQ(CmpText("a", "B", ftString), -1);
    EXPECT_EQ(CmpText("z", "\xc3\xa9", ftString), -1);
}

TEST(CompareFieldValue, TypesWithoutAnOrderAreRefused)
{
    const char a[8] = {};
    const char b[8] = {};
    EXPECT_THROW(CompareFieldValue(a, b, false, false, ftBytes), EDatabaseError);
    EXPECT_THROW(CompareFieldValue(a, b, false, false, ftUnknown), EDatabaseError);
}

} // namespace

// Plain ASCII texts are compared and matched on their bytes; the results must be those of
// the general rules on wide texts, in both cases, whole and partial, and through the filter.
TEST(CompareFieldValue, PlainTextsAgreeWithTheGeneralRules)
{
    const auto sign = [](int c) { return c < 0 ? -1 : (c > 0 ? 1 : 0); };
    QStringList texts;
    ForEachText(QStringLiteral("aAb_"), 3, [&](const QString &t) { texts << t; });
    texts << QStringLiteral("[") << QStringLiteral("`") << QStringLiteral("~") << QStringLiteral("Z");
    for (const QString &a : texts)
        for (const QString &b : texts) {
            const QByteArray ua = a.toUtf8(), ub = b.toUtf8();
            for (const bool partial : {false, true})
                for (const bool ci : {false, true})
                    ASSERT_EQ(CompareFieldValue(ua.constData(), ub.constData(), partial, ci, ftString),
                              sign(CompareDBString(a, b, partial, ci, int(a.size()))))
                        << qPrintable(a) << " vs " << qPrintable(b) << " partial " << partial << " ci " << ci;
        }

    FakeRecord rec;
    rec.AddField(QStringLiteral("S"), ftString, 16);
    TFilterParser parser(&rec);
    int checked = 0;
    ForEachText(QStringLiteral("aB%_"), 4, [&](const QString &pattern) {
        parser.Parse(QStringLiteral("S LIKE '%1'").arg(pattern));
        ForEachText(QStringLiteral("Ab"), 4, [&](const QString &value) {
            rec.SetText(QStringLiteral("S"), value.toUtf8());
            for (const bool ci : {false, true}) {
                QVariant result;
                parser.Evaluate(ci ? TFilterOptions(foCaseInsensitive) : TFilterOptions(), result);
                ASSERT_EQ(result.toBool(), NaiveLike(value, 0, pattern, 0, !ci))
                    << qPrintable(value) << " LIKE " << qPrintable(pattern) << " ci " << ci;
                ++checked;
            }
        });
    });
    EXPECT_GT(checked, 20000);
    for (const QString &a : texts) {
        parser.Parse(QStringLiteral("S < '%1*'").arg(a.isEmpty() ? QStringLiteral("a") : a));
        for (const QString &b : texts) {
            rec.SetText(QStringLiteral("S"), b.toUtf8());
            QVariant result;
            parser.Evaluate({}, result);
            const QString key = a.isEmpty() ? QStringLiteral("a") : a;
            ASSERT_EQ(result.toBool(), CompareDBString(b, key, true, false, int(key.size())) < 0)
                << qPrintable(b) << " < " << qPrintable(key) << "*";
        }
    }
}
