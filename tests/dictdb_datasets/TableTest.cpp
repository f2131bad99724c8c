#include "Helpers.h"

#include "dataaccess/DateTime.h"

#include <gtest/gtest.h>

#include <QFile>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <map>
#include <random>
#include <set>
#include <vector>

using namespace dstest;

namespace {

class TableTest : public ::testing::Test
{
protected:
    tvtest::TempDir dir;
    QString file;

    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        file = MakeFile(dir, {PeopleTable()});
    }

    // Four people, appended out of name order.
    std::unique_ptr<TDictTable> Four(const QString &Index = QString())
    {
        auto t = OpenTable(file, QStringLiteral("People"), Index);
        AddPerson(*t, QStringLiteral("delta"), 4);
        AddPerson(*t, QStringLiteral("Alpha"), 1, true);
        AddPerson(*t, QStringLiteral("charlie"), 3);
        AddPerson(*t, QStringLiteral("Bravo"), 2, true);
        t->First();
        return t;
    }
};

TEST_F(TableTest, OpeningOrdersByTheNamedIndexOrFallsBack)
{
    Four().reset();
    EXPECT_EQ(Names(*OpenTable(file, QStringLiteral("People"), QStringLiteral("ByName"))),
              QStringList({"Alpha", "Bravo", "charlie", "delta"}));
    // A name that matches no index orders by the primary index, silently.
    auto t = OpenTable(file, QStringLiteral("People"), QStringLiteral("NoSuchIndex"));
    EXPECT_EQ(t->IndexIdx(), 1);
    EXPECT_EQ(Names(*t), QStringList({"Alpha", "Bravo", "charlie", "delta"}));
    // Switching index while open re-reads the list and goes to the first record.
    t->SetIndexName(QStringLiteral("ByNameCS"));
    EXPECT_EQ(Name(*t), QStringLiteral("Alpha"));
    EXPECT_EQ(Names(*t), QStringList({"Alpha", "Bravo", "charlie", "delta"}));
    EXPECT_EQ(t->IndexDefs()->Count(), 3);
    EXPECT_TRUE(t->IndexDefs()->Items(1)->Options() & ixPrimary);

    // Without any index: physical order.
    tvtest::TempDir other;
    const QString plain = MakeFile(other, {PeopleTable(false)});
    auto p = OpenTable(plain, QStringLiteral("People"), QStringLiteral("ByName"));
    AddPerson(*p, QStringLiteral("b"), 2);
    AddPerson(*p, QStringLiteral("a"), 1);
    EXPECT_EQ(p->IndexIdx(), -1);
    EXPECT_EQ(Names(*p), QStringList({"b", "a"}));
}

TEST_F(TableTest, MissingTableAndClosedDataSetRefusals)
{
    TDictTable t;
    t.SetDatabaseName(file);
    t.SetTableName(QStringLiteral("Nope"));
    try {
        t.Open();
        FAIL() << "opened a missing table";
    } catch (const EDatabaseError &e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Table 'Nope' not found"));
    }
    EXPECT_FALSE(t.Active());
    // A failed open left nothing behind: the same object opens the right table.
    t.SetTableName(QStringLiteral("People"));
    t.Open();
    EXPECT_TRUE(t.Active());
    EXPECT_THROW(t.SetTableName(QStringLiteral("Other")), EDatabaseError);
    EXPECT_THROW(t.SetDatabaseName(QStringLiteral("x.db")), EDatabaseError);
    t.Close();
    // A new database name forgets the table and index names.
    t.SetIndexName(QStringLiteral("ByName"));
    t.SetDatabaseName(dir.file(QStringLiteral("other.db")));
    EXPECT_TRUE(t.TableName().isEmpty());
    EXPECT_TRUE(t.IndexName().isEmpty());
}

TEST_F(TableTest, RecNoRules)
{
    auto t = Four(QStringLiteral("ByNum"));
    EXPECT_EQ(t->RecordCount(), 4);
    EXPECT_EQ(t->RecNo(), 1);
    t->SetRecNo(3);
    EXPECT_EQ(t->RecNo(), 3);
    EXPECT_EQ(Num(*t), 3);
    t->SetRecNo(5); // above the count: ignored
    EXPECT_EQ(t->RecNo(), 3);
    t->SetRecNo(-1);
    EXPECT_EQ(t->RecNo(), 3);
    t->SetRecNo(0); // before the first record, then onto it
    EXPECT_EQ(t->RecNo(), 1);
    EXPECT_EQ(Num(*t), 1);
    t->Last();
    EXPECT_EQ(t->RecNo(), 4);
    EXPECT_TRUE(t->Eof());
    t->Next();
    EXPECT_EQ(Num(*t), 4);

    // Filtered: the count and the numbers are those of the accepted records.
    t->SetFilter(QStringLiteral("Num > 2"));
    t->SetFilteredValue(true);
    EXPECT_EQ(t->RecordCount(), 2);
    EXPECT_EQ(t->RecNo(), 1);
    t->Next();
    EXPECT_EQ(t->RecNo(), 2);
    EXPECT_EQ(Num(*t), 4);

    // An empty table has no record numbers.
    tvtest::TempDir other;
    auto e = OpenTable(MakeFile(other, {PeopleTable()}), QStringLiteral("People"));
    EXPECT_EQ(e->RecordCount(), 0);
    EXPECT_EQ(e->RecNo(), 0);
    EXPECT_TRUE(e->IsEmpty());
    EXPECT_TRUE(e->Bof() && e->Eof());
}

TEST_F(TableTest, FindFirstNextAndFilterErrors)
{
    auto t = Four(QStringLiteral("ByNum"));
    // Searches use the filter whether or not Filtered is on.
    t->SetFilter(QStringLiteral("Flag = True"));
    ASSERT_TRUE(t->FindFirst());
    EXPECT_EQ(Num(*t), 1);
    ASSERT_TRUE(t->FindNext());
    EXPECT_EQ(Num(*t), 2);
    EXPECT_FALSE(t->FindNext()); // after the last match: stays on it
    EXPECT_FALSE(t->Found());
    EXPECT_EQ(Num(*t), 2);
    ASSERT_TRUE(t->FindLast());
    EXPECT_EQ(Num(*t), 2);
    ASSERT_TRUE(t->FindPrior());
    EXPECT_EQ(Num(*t), 1);
    EXPECT_FALSE(t->FindPrior());
    EXPECT_EQ(Num(*t), 1);
    EXPECT_EQ(t->RecordCount(), 4);

    // OnFilterRecord takes part as well.
    t->OnFilterRecord = [&](QObject *, bool &Accept) { Accept = Num(*t) != 1; };
    ASSERT_TRUE(t->FindFirst());
    EXPECT_EQ(Num(*t), 2);
    t->OnFilterRecord = nullptr;

    // A syntax error while active raises at once and keeps the old text.
    EXPECT_THROW(t->SetFilter(QStringLiteral("Num >")), EDatabaseError);
    EXPECT_EQ(t->Filter(), QStringLiteral("Flag = True"));
    t->Close();

    // While closed the text is only stored; it raises where it is used.
    t->SetFilter(QStringLiteral("Num > > 1"));
    EXPECT_EQ(t->Filter(), QStringLiteral("Num > > 1"));
    t->Open();
    EXPECT_THROW(t->FindFirst(), EDatabaseError);
    EXPECT_EQ(t->State(), dsBrowse);
    t->Close();
    t->SetFilteredValue(true);
    EXPECT_THROW(t->Open(), EDatabaseError);
}

TEST_F(TableTest, FilterProgressAndFilteredSetting)
{
    auto t = Four(QStringLiteral("ByNum"));
    std::vector<int> progress;
    t->OnFilterProgress = [&](QObject *, int Percent) { progress.push_back(Percent); };
    t->SetFilter(QStringLiteral("Num <> 3"));
    t->SetFilteredValue(true);
    EXPECT_EQ(progress, (std::vector<int>{0, 25, 50, 75}));
    EXPECT_EQ(t->RecordCount(), 3);
    EXPECT_EQ(Names(*t), QStringList({"Alpha", "Bravo", "delta"}));
    // Setting Filtered to its current value still goes to the first record.
    t->Last();
    t->SetFilteredValue(true);
    EXPECT_EQ(t->RecNo(), 1);
    // A new text while filtered re-filters the whole index list.
    t->SetFilter(QStringLiteral("Name LIKE 'c%'"));
    EXPECT_EQ(Names(*t), QStringList({"charlie"}));
    t->SetFilterOptionsValue(dfoCaseInsensitive);
    t->SetFilter(QStringLiteral("Name LIKE 'A%'"));
    EXPECT_EQ(Names(*t), QStringList({"Alpha"}));
    t->SetFilteredValue(false);
    EXPECT_EQ(t->RecordCount(), 4);
}

TEST_F(TableTest, NewRecordInitialValues)
{
    auto t = OpenTable(file, QStringLiteral("People"));
    t->Append();
    const TDateTime today = dataaccess::Date();
    EXPECT_DOUBLE_EQ(t->FieldByName(QStringLiteral("D"))->AsDateTime(), today);
    const TDateTime now = dataaccess::Time();
    EXPECT_NEAR(t->FieldByName(QStringLiteral("Tm"))->AsDateTime(), now, 5.0 / 86400);
    EXPECT_DOUBLE_EQ(t->FieldByName(QStringLiteral("DT"))->AsDateTime(), 0.0); // 1899-12-30 00:00
    EXPECT_EQ(t->FieldByName(QStringLiteral("DT"))->AsString(), QStringLiteral("1899-12-30"));
    EXPECT_EQ(t->FieldByName(QStringLiteral("Num"))->AsInteger(), 0);
    EXPECT_EQ(t->FieldByName(QStringLiteral("Name"))->AsString(), QString());
    EXPECT_FALSE(t->FieldByName(QStringLiteral("Flag"))->AsBoolean());
    for (int i = 0; i < t->FieldCount(); ++i)
        EXPECT_FALSE(t->Fields()->Fields(i)->IsNull()) << i;
    t->Cancel();
    EXPECT_TRUE(t->IsEmpty());
}

TEST_F(TableTest, ValuesRoundTripThroughTheFile)
{
    {
        auto t = OpenTable(file, QStringLiteral("People"));
        t->Append();
        t->FieldByName(QStringLiteral("Name"))->SetAsString(QStringLiteral("进程管理器工具")); // 21 bytes
        t->FieldByName(QStringLiteral("Num"))->SetAsInteger(-7);
        t->FieldByName(QStringLiteral("D"))->SetAsDateTime(dataaccess::EncodeDate(2024, 2, 29));
        t->FieldByName(QStringLiteral("Tm"))->SetAsDateTime(dataaccess::EncodeTime(13, 14, 15, 16));
        t->FieldByName(QStringLiteral("DT"))->SetAsString(QStringLiteral("2001-02-03 04:05:06"));
        t->FieldByName(QStringLiteral("Notes"))->SetAsString(QStringLiteral("多行\n备注"));
        t->Post();
    }
    auto t = OpenTable(file, QStringLiteral("People"));
    // Ten bytes hold three whole characters; none is split.
    EXPECT_EQ(Name(*t), QStringLiteral("进程管"));
    EXPECT_EQ(Num(*t), -7);
    EXPECT_EQ(t->FieldByName(QStringLiteral("D"))->AsString(), QStringLiteral("2024-02-29"));
    EXPECT_EQ(t->FieldByName(QStringLiteral("Tm"))->AsString(), QStringLiteral("13:14:15"));
    EXPECT_EQ(t->FieldByName(QStringLiteral("DT"))->AsString(), QStringLiteral("2001-02-03 04:05:06"));
    EXPECT_EQ(t->FieldByName(QStringLiteral("Notes"))->AsString(), QStringLiteral("多行\n备注"));
    EXPECT_EQ(t->FieldByName(QStringLiteral("D"))->Value().toDate(), QDate(2024, 2, 29));
    // Writing needs an edit; conversions refuse what does not fit.
    EXPECT_THROW(t->FieldByName(QStringLiteral("Num"))->SetAsInteger(1), EDatabaseError);
    t->Edit();
    EXPECT_THROW(t->FieldByName(QStringLiteral("Num"))->SetAsString(QStringLiteral("x")), EConvertError);
    EXPECT_THROW(t->FieldByName(QStringLiteral("Flag"))->SetAsString(QStringLiteral("maybe")), EDatabaseError);
    EXPECT_THROW(t->FieldByName(QStringLiteral("Flag"))->AsInteger(), EDatabaseError);
    t->FieldByName(QStringLiteral("Flag"))->SetAsString(QStringLiteral("tr"));
    EXPECT_TRUE(t->FieldByName(QStringLiteral("Flag"))->AsBoolean());
    t->Cancel();
}

TEST_F(TableTest, CorruptDatesRaiseInsteadOfMisbehaving)
{
    auto t = OpenTable(file, QStringLiteral("People"));
    AddPerson(*t, QStringLiteral("x"), 1);
    t->Edit();
    TField *d = t->FieldByName(QStringLiteral("D"));
    TField *tm = t->FieldByName(QStringLiteral("Tm"));
    TField *dt = t->FieldByName(QStringLiteral("DT"));
    // Values that are no date are refused on the way in.
    EXPECT_THROW(dt->SetAsDateTime(std::numeric_limits<double>::quiet_NaN()), EDatabaseError);
    EXPECT_THROW(dt->SetAsDateTime(std::numeric_limits<double>::infinity()), EDatabaseError);
    EXPECT_THROW(dt->SetAsDateTime(-1.0e9), EDatabaseError);
    // Stored forms that are no date are refused on the way out.
    const qint32 zeroDay = 0, badTime = 86400000;
    d->SetData(&zeroDay);
    tm->SetData(&badTime);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    dt->SetData(&nan);
    t->Post();
    t->Close();
    t->Open(); // default fields are made anew
    d = t->FieldByName(QStringLiteral("D"));
    tm = t->FieldByName(QStringLiteral("Tm"));
    dt = t->FieldByName(QStringLiteral("DT"));
    EXPECT_THROW(d->AsDateTime(), EDatabaseError);
    EXPECT_THROW(d->AsString(), EDatabaseError);
    EXPECT_THROW(tm->AsDateTime(), EDatabaseError);
    EXPECT_THROW(dt->AsDateTime(), EDatabaseError);
    EXPECT_THROW(dt->Value(), EDatabaseError);
    const qint32 negative = -5;
    t->Edit();
    d->SetData(&negative);
    EXPECT_THROW(d->AsDateTime(), EDatabaseError);
    t->Cancel();
}

TEST_F(TableTest, LocateByIndexAndByScan)
{
    auto t = Four(QStringLiteral("ByNum"));
    // Case-sensitive key: the case-sensitive index (or a scan) needs the exact case.
    EXPECT_FALSE(t->Locate(QStringLiteral("Name"), QStringLiteral("ALPHA"), {}));
    EXPECT_EQ(Num(*t), 1); // the cursor stays
    t->Last();
    EXPECT_TRUE(t->Locate(QStringLiteral("Name"), QStringLiteral("Alpha"), {}));
    EXPECT_EQ(Num(*t), 1);
    EXPECT_TRUE(t->Locate(QStringLiteral("Name"), QStringLiteral("CHARLIE"), loCaseInsensitive));
    EXPECT_EQ(Num(*t), 3);
    EXPECT_EQ(t->RecNo(), 3);
    // Partial keys.
    EXPECT_FALSE(t->Locate(QStringLiteral("Name"), QStringLiteral("del"), {}));
    EXPECT_TRUE(t->Locate(QStringLiteral("Name"), QStringLiteral("del"), loPartialKey));
    EXPECT_EQ(Num(*t), 4);
    // A key longer than the field compares cut to the field's size.
    AddPerson(*t, QStringLiteral("abcdefghij"), 9);
    t->First();
    EXPECT_TRUE(t->Locate(QStringLiteral("Name"), QStringLiteral("abcdefghijXYZ"), {}));
    EXPECT_EQ(Num(*t), 9);
    // Several fields, and a field with no index (a scan).
    EXPECT_TRUE(t->Locate(QStringLiteral("Name;Num"), QVariantList{QStringLiteral("bravo"), 2}, loCaseInsensitive));
    EXPECT_EQ(Num(*t), 2);
    EXPECT_FALSE(t->Locate(QStringLiteral("Name;Num"), QVariantList{QStringLiteral("bravo"), 3}, loCaseInsensitive));
    EXPECT_TRUE(t->Locate(QStringLiteral("Flag"), true, {}));
    EXPECT_EQ(Num(*t), 1);
    EXPECT_TRUE(t->Locate(QStringLiteral("Num"), 4, {}));
    EXPECT_EQ(Name(*t), QStringLiteral("delta"));
    EXPECT_THROW(t->Locate(QStringLiteral("Nope"), 1, {}), EDatabaseError);
    // A record outside the filtered list is not found.
    t->SetFilter(QStringLiteral("Num < 3"));
    t->SetFilteredValue(true);
    EXPECT_FALSE(t->Locate(QStringLiteral("Num"), 4, {}));
    EXPECT_TRUE(t->Locate(QStringLiteral("Num"), 2, {}));
    EXPECT_EQ(t->RecNo(), 2);
}

TEST_F(TableTest, LocateOnANonUniqueIndexFindsTheFirstInIndexOrder)
{
    auto t = OpenTable(file, QStringLiteral("People"), QStringLiteral("ByName"));
    for (int i = 0; i < 40; ++i)
        AddPerson(*t, i % 3 == 0 ? QStringLiteral("dup") : QStringLiteral("n%1").arg(i, 2, 10, QLatin1Char('0')),
                  100 + i);
    int firstDup = -1;
    for (t->First(); !t->Eof(); t->Next())
        if (Name(*t) == QLatin1String("dup")) {
            firstDup = Num(*t);
            break;
        }
    ASSERT_NE(firstDup, -1);
    t->Last();
    ASSERT_TRUE(t->Locate(QStringLiteral("Name"), QStringLiteral("DUP"), loCaseInsensitive));
    EXPECT_EQ(Num(*t), firstDup);
    // The same through the dictionary's road: a fresh table object per question.
    auto again = OpenTable(file, QStringLiteral("People"));
    ASSERT_TRUE(again->Locate(QStringLiteral("Name"), QStringLiteral("dup"), loCaseInsensitive));
    EXPECT_EQ(Num(*again), firstDup);
}

// Among many equal keys, with filters that hide some of them, in each order the data set can
// show: physical order (record numbers), the searched index's own order, and another index's.
// Whatever the order shown, the record found is the first match in the searched index's order
// that the record list holds.
TEST_F(TableTest, LocateFindsTheFirstVisibleMatchOfTheIndexInEveryOrder)
{
    TDictDBTableLayout layout;
    layout.Name = QStringLiteral("Loose");
    layout.Fields = {{QStringLiteral("Name"), ftString, 10, 0},
                     {QStringLiteral("Num"), ftInteger, 0, 0},
                     {QStringLiteral("Flag"), ftBoolean, 0, 0}};
    // No primary index: without an index name the records stand in physical order.
    layout.Indexes = {{QStringLiteral("ByName"), TTDIndexOptions(tiCaseInsensitive), {QStringLiteral("Name")}},
                      {QStringLiteral("ByNum"), TTDIndexOptions(tiUnique), {QStringLiteral("Num")}}};
    const QString loose = MakeFile(dir, {layout}, QStringLiteral("loose.db"));
    auto t = OpenTable(loose, QStringLiteral("Loose"));
    ASSERT_EQ(t->IndexIdx(), -1);
    const QStringList spellings = {QStringLiteral("dup"), QStringLiteral("DUP"), QStringLiteral("Dup")};
    std::map<int, bool> flagOf;
    std::vector<int> physical; // the Num of every record in record-number order
    for (int i = 0; i < 36; ++i) {
        const int num = 100 + (i * 7) % 36;
        const bool flag = (i / 3) % 2 == 0;
        AddPerson(*t, i % 3 == 0 ? spellings[(i / 3) % 3] : QStringLiteral("n%1").arg(i, 2, 10, QLatin1Char('0')), num,
                  flag);
        flagOf[num] = flag;
        physical.push_back(num);
    }
    // Records renamed later join the run of equal keys where a search meets it, not at its end.
    for (const char *name : {"n01", "n13", "n28"}) {
        ASSERT_TRUE(t->Locate(QStringLiteral("Name"), QString::fromLatin1(name), loCaseInsensitive));
        t->Edit();
        t->FieldByName(QStringLiteral("Name"))->SetAsString(QStringLiteral("dUp"));
        t->Post();
    }
    // The matches in index order, and the last name of that order.
    t->SetIndexName(QStringLiteral("ByName"));
    std::vector<int> dups;
    QString lastName;
    int lastNum = -1;
    for (t->First(); !t->Eof(); t->Next()) {
        if (Name(*t).compare(QLatin1String("dup"), Qt::CaseInsensitive) == 0)
            dups.push_back(Num(*t));
        lastName = Name(*t);
        lastNum = Num(*t);
    }
    ASSERT_EQ(dups.size(), 15u);
    std::vector<int> dupsByNumber, dupsByNum;
    for (int num : physical)
        if (std::find(dups.begin(), dups.end(), num) != dups.end())
            dupsByNumber.push_back(num);
    dupsByNum = dups;
    std::sort(dupsByNum.begin(), dupsByNum.end());
    // Otherwise the other orders could not tell a wrong pick from the right one.
    ASSERT_NE(dups, dupsByNumber);
    ASSERT_NE(dups, dupsByNum);

    struct Filter
    {
        QString text;
        std::function<bool(int)> shows;
    };
    const int firstDup = dups.front();
    const std::vector<Filter> filters = {
        {QString(), [](int) { return true; }},
        {QStringLiteral("Flag = TRUE"), [&](int n) { return flagOf[n]; }},
        {QStringLiteral("Flag = FALSE"), [&](int n) { return !flagOf[n]; }},
        {QStringLiteral("Num <> %1").arg(firstDup), [&](int n) { return n != firstDup; }},
    };
    for (const QString &order : {QString(), QStringLiteral("ByNum"), QStringLiteral("ByName")})
        for (const Filter &f : filters) {
            SCOPED_TRACE(("order '" + order + "', filter '" + f.text + "'").toStdString());
            t->SetFilteredValue(false);
            t->SetIndexName(order);
            t->SetFilter(f.text);
            t->SetFilteredValue(!f.text.isEmpty());
            const auto first = std::find_if(dups.begin(), dups.end(), f.shows);
            ASSERT_NE(first, dups.end());
            t->Last();
            ASSERT_TRUE(t->Locate(QStringLiteral("Name"), QStringLiteral("DUP"), loCaseInsensitive));
            EXPECT_EQ(Num(*t), *first);
            t->Last();
            ASSERT_TRUE(t->Locate(QStringLiteral("Name"), QStringLiteral("dU"),
                                  TLocateOptions(loCaseInsensitive) | loPartialKey));
            EXPECT_EQ(Num(*t), *first);
            // The last key of the index, and the first and last record by number.
            EXPECT_EQ(t->Locate(QStringLiteral("Name"), lastName, loCaseInsensitive), f.shows(lastNum));
            if (f.shows(lastNum)) {
                EXPECT_EQ(Num(*t), lastNum);
            }
            for (int num : {physical.front(), physical.back()}) {
                EXPECT_EQ(t->Locate(QStringLiteral("Num"), num, {}), f.shows(num));
                if (f.shows(num)) {
                    EXPECT_EQ(Num(*t), num);
                }
            }
            // A key between two stored ones finds nothing and leaves the cursor.
            t->First();
            const int before = Num(*t);
            EXPECT_FALSE(t->Locate(QStringLiteral("Name"), QStringLiteral("m"), loCaseInsensitive));
            EXPECT_FALSE(t->Locate(QStringLiteral("Num"), 99, {}));
            EXPECT_FALSE(t->Locate(QStringLiteral("Num"), 136, {}));
            EXPECT_EQ(Num(*t), before);
        }
}

// A long list in the order of an index with long runs of equal keys, narrowed or not: a
// record located by another index is found where that order puts it.
TEST_F(TableTest, LocateInALongListOrderedByAnotherIndex)
{
    TDictDBTableLayout layout;
    layout.Name = QStringLiteral("Long");
    layout.Fields = {{QStringLiteral("Name"), ftString, 10, 0},
                     {QStringLiteral("Num"), ftInteger, 0, 0},
                     {QStringLiteral("Flag"), ftBoolean, 0, 0}};
    layout.Indexes = {{QStringLiteral("ByName"), TTDIndexOptions(tiCaseInsensitive), {QStringLiteral("Name")}},
                      {QStringLiteral("ByNum"), TTDIndexOptions(tiPrimary) | tiUnique, {QStringLiteral("Num")}}};
    const QString path = MakeFile(dir, {layout}, QStringLiteral("long.db"));
    auto t = OpenTable(path, QStringLiteral("Long"), QStringLiteral("ByName"));
    const int count = 5000;
    std::vector<int> byNumber; // Num by record number
    for (int i = 0; i < count; ++i) {
        const int num = (i * 7919) % count;
        AddPerson(*t, QStringLiteral("g%1").arg((i * 7) % 40, 2, 10, QLatin1Char('0')), num, num % 8 != 0);
        byNumber.push_back(num);
    }
    for (const QString &filter : {QString(), QStringLiteral("Flag = TRUE")}) {
        SCOPED_TRACE(filter.toStdString());
        t->SetFilter(filter);
        t->SetFilteredValue(!filter.isEmpty());
        std::map<int, int> recNo; // Num -> its place in the list shown
        for (t->First(); !t->Eof(); t->Next())
            recNo[Num(*t)] = t->RecNo();
        // Long enough that a record is searched for by its key rather than walked to.
        ASSERT_GT(recNo.size(), 4096u);
        std::vector<int> probes = {byNumber.front(), byNumber[1], byNumber[count / 2], byNumber.back()};
        for (const int at : {1, 2, int(recNo.size()) / 2, int(recNo.size()) - 1, int(recNo.size())})
            for (const auto &[num, no] : recNo)
                if (no == at)
                    probes.push_back(num);
        for (const int num : probes) {
            const bool shown = num % 8 != 0 || filter.isEmpty();
            EXPECT_EQ(t->Locate(QStringLiteral("Num"), num, {}), shown) << num;
            if (shown) {
                EXPECT_EQ(Num(*t), num);
                EXPECT_EQ(t->RecNo(), recNo[num]);
            }
        }
    }
}

// A long list shown in the order of a name chain that the keys do not explain (a file written
// with another order of texts, made here by rewriting one name in place), narrowed by a
// filter: the record a locate by another index finds first is the first match of that index,
// even when the search by name misses it.
TEST_F(TableTest, LocateFindsTheFirstMatchInAListItsKeysDoNotOrder)
{
    TDictDBTableLayout layout;
    layout.Name = QStringLiteral("Long");
    layout.Fields = {{QStringLiteral("Name"), ftString, 10, 0},
                     {QStringLiteral("Num"), ftInteger, 0, 0},
                     {QStringLiteral("Flag"), ftBoolean, 0, 0},
                     {QStringLiteral("Grp"), ftInteger, 0, 0}};
    layout.Indexes = {{QStringLiteral("ByName"), TTDIndexOptions(tiCaseInsensitive), {QStringLiteral("Name")}},
                      {QStringLiteral("ByNum"), TTDIndexOptions(tiPrimary) | tiUnique, {QStringLiteral("Num")}},
                      {QStringLiteral("ByGrp"), TTDIndexOptions(), {QStringLiteral("Grp")}}};
    const QString path = MakeFile(dir, {layout}, QStringLiteral("unordered.db"));
    const auto nameOf = [](int Num) { return QStringLiteral("n%1").arg(Num, 4, 10, QLatin1Char('0')); };
    const int count = 5000;
    int first = -1; // Num of the first record of group 0 in the group index's order
    {
        auto t = OpenTable(path, QStringLiteral("Long"), QStringLiteral("ByName"));
        for (int i = 0; i < count; ++i) {
            const int num = (i * 7919) % count;
            t->Append();
            t->FieldByName(QStringLiteral("Name"))->SetAsString(nameOf(num));
            t->FieldByName(QStringLiteral("Num"))->SetAsInteger(num);
            t->FieldByName(QStringLiteral("Flag"))->SetAsBoolean(i % 8 != 1);
            t->FieldByName(QStringLiteral("Grp"))->SetAsInteger(i % 50);
            t->Post();
        }
        t->SetIndexName(QStringLiteral("ByGrp"));
        t->First();
        ASSERT_EQ(t->FieldByName(QStringLiteral("Grp"))->AsInteger(), 0);
        ASSERT_TRUE(t->FieldByName(QStringLiteral("Flag"))->AsBoolean());
        first = Num(*t);
    }
    // Its name, rewritten to sort after every other, keeps its place at the head of the chain.
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        QByteArray bytes = f.readAll();
        const QByteArray old = nameOf(first).toLatin1();
        const qsizetype at = bytes.indexOf(old);
        ASSERT_GE(at, 0);
        ASSERT_EQ(bytes.indexOf(old, at + 1), -1);
        bytes[at] = 'z';
        ASSERT_TRUE(f.seek(0));
        ASSERT_EQ(f.write(bytes), bytes.size());
    }
    auto t = OpenTable(path, QStringLiteral("Long"), QStringLiteral("ByName"));
    t->First();
    ASSERT_EQ(Num(*t), first);
    ASSERT_EQ(Name(*t).at(0), QLatin1Char('z'));
    for (const QString &filter : {QString(), QStringLiteral("Flag = TRUE")}) {
        SCOPED_TRACE(filter.toStdString());
        t->SetFilter(filter);
        t->SetFilteredValue(!filter.isEmpty());
        // Long enough that a record is searched for by its key rather than walked to.
        ASSERT_GT(t->RecordCount(), 4096);
        t->Last();
        EXPECT_TRUE(t->Locate(QStringLiteral("Num"), first, {}));
        EXPECT_EQ(Num(*t), first);
        EXPECT_EQ(t->RecNo(), 1);
        t->Last();
        EXPECT_TRUE(t->Locate(QStringLiteral("Grp"), 0, {}));
        EXPECT_EQ(Num(*t), first);
    }
}

// Locates of every kind (whole and partial keys, with and without case, one field and several)
// on tables of every kind of index, in every order, filtered or not, and on record lists made
// before another data set added records, against a model: a locate by an index finds the first
// match in that index's order that the record list holds; one without an index the first match
// in the record list's order. An index that compares case orders its texts case-folded first, so
// a partial key's matches do not lie together there.
TEST_F(TableTest, LocateFindsTheFirstMatchInTheIndexOrderThatTheListHolds)
{
    struct Rec
    {
        QString name;
        int num = 0, grp = 0;
        bool flag = false;
    };
    struct Key
    {
        QString fields;
        QVariant values;
        bool partial = false, ci = false;
    };
    const auto textMatches = [](const QString &Value, QString Key, bool Partial, bool Ci) {
        Key.truncate(10); // the key is cut to the field's size
        const QString v = Partial ? Value.left(Key.size()) : Value;
        return Ci ? v.toCaseFolded() == Key.toCaseFolded() : v == Key;
    };
    const auto matches = [&](const Rec &R, const Key &K) {
        const QStringList fields = K.fields.split(QLatin1Char(';'));
        const QVariantList values = fields.size() == 1 ? QVariantList{K.values} : K.values.toList();
        for (qsizetype i = 0; i < fields.size(); ++i) {
            const bool ok = fields[i] == QLatin1String("Name")
                ? textMatches(R.name, values[i].toString(), K.partial, K.ci)
                : fields[i] == QLatin1String("Num") ? R.num == values[i].toInt()
                                                    : R.grp == values[i].toInt();
            if (!ok)
                return false;
        }
        return true;
    };
    const QList<TDictDBIndexLayout> kinds = {
        {QStringLiteral("ByNameCS"), TTDIndexOptions(), {QStringLiteral("Name")}},
        {QStringLiteral("ByName"), TTDIndexOptions(tiCaseInsensitive), {QStringLiteral("Name")}},
        {QStringLiteral("ByNameDown"), TTDIndexOptions(tiDescending), {QStringLiteral("Name")}},
        {QStringLiteral("ByNum"), TTDIndexOptions(tiPrimary) | tiUnique, {QStringLiteral("Num")}},
        {QStringLiteral("ByGrpName"), TTDIndexOptions(), {QStringLiteral("Grp"), QStringLiteral("Name")}},
        {QStringLiteral("ByNameGrp"),
         TTDIndexOptions(tiCaseInsensitive),
         {QStringLiteral("Name"), QStringLiteral("Grp")}},
        {QStringLiteral("ByNameGrpCS"), TTDIndexOptions(), {QStringLiteral("Name"), QStringLiteral("Grp")}},
    };
    std::mt19937 random(20240601);
    const auto pick = [&](int N) { return int(random() % unsigned(N)); };
    const QString letters = QStringLiteral("aAbBcC");
    const auto word = [&] {
        QString w;
        for (int n = 1 + pick(4); n > 0; --n)
            w += letters[pick(int(letters.size()))];
        return w;
    };
    int located = 0;
    QStringList misses;
    for (const int size : {60, 73, 300, 1200, 4200, 5200}) {
        // The index kinds in an order of the table's own: the first that fits a locate is used.
        QList<TDictDBIndexLayout> indexes = kinds;
        std::shuffle(indexes.begin(), indexes.end(), random);
        TDictDBTableLayout layout;
        layout.Name = QStringLiteral("Mixed");
        layout.Fields = {{QStringLiteral("Name"), ftString, 10, 0},
                         {QStringLiteral("Num"), ftInteger, 0, 0},
                         {QStringLiteral("Flag"), ftBoolean, 0, 0},
                         {QStringLiteral("Grp"), ftInteger, 0, 0}};
        layout.Indexes = indexes;
        const QString path = MakeFile(dir, {layout}, QStringLiteral("mixed%1.db").arg(size));
        auto writer = OpenTable(path, QStringLiteral("Mixed"));
        std::map<int, Rec> recs;
        const auto add = [&](TDictTable &T) {
            Rec r{word(), 100000 + int(recs.size()) * 7 % 100003, pick(3), pick(2) == 0};
            while (recs.count(r.num))
                ++r.num;
            T.Append();
            T.FieldByName(QStringLiteral("Name"))->SetAsString(r.name);
            T.FieldByName(QStringLiteral("Num"))->SetAsInteger(r.num);
            T.FieldByName(QStringLiteral("Flag"))->SetAsBoolean(r.flag);
            T.FieldByName(QStringLiteral("Grp"))->SetAsInteger(r.grp);
            T.Post();
            recs[r.num] = r;
        };
        for (int i = 0; i < size; ++i)
            add(*writer);
        // Each index's order of the whole table, as a fresh data set shows it.
        std::map<QString, std::vector<int>> orderOf;
        const auto readOrders = [&] {
            for (const TDictDBIndexLayout &ix : indexes) {
                auto fresh = OpenTable(path, QStringLiteral("Mixed"), ix.Name);
                std::vector<int> &order = orderOf[ix.Name];
                order.clear();
                for (fresh->First(); !fresh->Eof(); fresh->Next())
                    order.push_back(Num(*fresh));
            }
        };
        readOrders();
        for (int round = 0; round < 12; ++round) {
            auto t = OpenTable(path, QStringLiteral("Mixed"),
                               pick(4) == 0 ? QString() : indexes[pick(int(indexes.size()))].Name);
            const int bound = 100000 + pick(size);
            const QStringList filters = {QString(), QStringLiteral("Flag = TRUE"),
                                         QStringLiteral("Num > %1").arg(bound), QStringLiteral("Num <> %1").arg(bound)};
            const QString filter = filters[pick(int(filters.size()))];
            t->SetFilter(filter);
            t->SetFilteredValue(!filter.isEmpty());
            // A list made before another data set added records: it holds none of them.
            const bool stale = round % 4 == 3;
            if (stale) {
                for (int i = 0; i < 5; ++i)
                    add(*writer);
                readOrders();
            }
            std::vector<int> shown;
            for (t->First(); !t->Eof(); t->Next())
                shown.push_back(Num(*t));
            const std::set<int> held(shown.begin(), shown.end());
            for (int n = 0; n < 40; ++n) {
                const Rec &some = std::next(recs.begin(), pick(int(recs.size())))->second;
                QString text = pick(3) == 0 ? word() : some.name.left(1 + pick(int(some.name.size())));
                if (pick(2) == 0)
                    text[0] = text[0].isUpper() ? text[0].toLower() : text[0].toUpper();
                Key k;
                k.partial = pick(2) == 0;
                k.ci = pick(2) == 0;
                switch (pick(5)) {
                case 0:
                    k.fields = QStringLiteral("Num");
                    k.values = pick(2) == 0 ? some.num : bound;
                    break;
                case 1:
                    k.fields = QStringLiteral("Name;Grp");
                    k.values = QVariantList{text, pick(3)};
                    break;
                case 2:
                    k.fields = QStringLiteral("Grp;Name");
                    k.values = QVariantList{pick(3), text};
                    break;
                default:
                    k.fields = QStringLiteral("Name");
                    k.values = text;
                    break;
                }
                // The index the locate uses: the first whose fields are the key's, comparing case
                // as the locate does; none: the record list is walked.
                const QStringList keyFields = k.fields.split(QLatin1Char(';'));
                const auto used = std::find_if(indexes.begin(), indexes.end(), [&](const TDictDBIndexLayout &Ix) {
                    return Ix.Fields == keyFields &&
                        (!keyFields.contains(QStringLiteral("Name")) || bool(Ix.Options & tiCaseInsensitive) == k.ci);
                });
                int expected = -1;
                if (used != indexes.end()) {
                    for (const int num : orderOf[used->Name])
                        if (held.count(num) && matches(recs[num], k)) {
                            expected = num;
                            break;
                        }
                } else {
                    for (const int num : shown)
                        if (matches(recs[num], k)) {
                            expected = num;
                            break;
                        }
                }
                TLocateOptions options;
                if (k.partial)
                    options |= loPartialKey;
                if (k.ci)
                    options |= loCaseInsensitive;
                ++located;
                const bool found = t->Locate(k.fields, k.values, options);
                const int got = found ? Num(*t) : -1;
                if (got != expected)
                    misses << QStringLiteral("%1 records, order '%2', filter '%3'%4: %5 = %6%7%8 gives %9, wanted %10")
                                  .arg(size)
                                  .arg(t->IndexName(), filter, stale ? QStringLiteral(", stale") : QString(), k.fields,
                                       k.values.typeId() == QMetaType::QVariantList
                                           ? k.values.toStringList().join(QLatin1Char(','))
                                           : k.values.toString(),
                                       k.partial ? QStringLiteral(" partial") : QString(),
                                       k.ci ? QStringLiteral(" without case") : QString())
                                  .arg(got)
                                  .arg(expected);
            }
        }
    }
    EXPECT_TRUE(misses.isEmpty()) << misses.size() << " misses in " << located << " locates, the first:\n"
                                  << misses.mid(0, 8).join(QLatin1Char('\n')).toStdString();
}

TEST_F(TableTest, LookupLeavesTheCursorAlone)
{
    auto t = Four(QStringLiteral("ByNum"));
    t->SetRecNo(2);
    EXPECT_EQ(t->Lookup(QStringLiteral("Num"), 4, QStringLiteral("Name")).toString(), QStringLiteral("delta"));
    EXPECT_EQ(t->RecNo(), 2);
    EXPECT_EQ(Name(*t), QStringLiteral("Bravo"));
    const QVariant both = t->Lookup(QStringLiteral("Name"), QStringLiteral("Alpha"), QStringLiteral("Num;Flag"));
    EXPECT_EQ(both.toList(), (QVariantList{1, true}));
    EXPECT_TRUE(t->Lookup(QStringLiteral("Num"), 77, QStringLiteral("Name")).isNull());
    EXPECT_EQ(Name(*t), QStringLiteral("Bravo"));
    t->Next();
    EXPECT_EQ(Num(*t), 3);
}

// Data sets on one table share its lists but keep their own record lists: one that no other
// data set has changed since it read its list takes new and moved records where the table
// put them; one that others have changed places them by its own order, and sees the others'
// records after a refresh.
TEST_F(TableTest, DataSetsSharingATableKeepTheirOwnRecordLists)
{
    auto a = OpenTable(file, QStringLiteral("People"), QStringLiteral("ByName"));
    auto b = OpenTable(file, QStringLiteral("People"), QStringLiteral("ByName"));
    AddPerson(*a, QStringLiteral("m"), 1);
    AddPerson(*a, QStringLiteral("c"), 2);
    EXPECT_EQ(a->RecNo(), 1);
    AddPerson(*b, QStringLiteral("k"), 3);
    EXPECT_EQ(Name(*b), QStringLiteral("k"));
    EXPECT_EQ(Names(*b), QStringList({"k"}));
    AddPerson(*a, QStringLiteral("a"), 4);
    EXPECT_EQ(Name(*a), QStringLiteral("a"));
    EXPECT_EQ(a->RecNo(), 1);
    EXPECT_EQ(Names(*a), QStringList({"a", "c", "m"}));
    a->Refresh();
    EXPECT_EQ(Names(*a), QStringList({"a", "c", "k", "m"}));
    AddPerson(*a, QStringLiteral("d"), 5);
    EXPECT_EQ(a->RecNo(), 3);
    ASSERT_TRUE(a->Locate(QStringLiteral("Name"), QStringLiteral("a"), loCaseInsensitive));
    a->Edit();
    a->FieldByName(QStringLiteral("Name"))->SetAsString(QStringLiteral("z"));
    a->Post();
    EXPECT_EQ(Name(*a), QStringLiteral("z"));
    EXPECT_EQ(a->RecNo(), 5);
    EXPECT_EQ(Names(*a), QStringList({"c", "d", "k", "m", "z"}));
    // b's list predates all that: its edit still lands in its own order.
    ASSERT_TRUE(b->Locate(QStringLiteral("Name"), QStringLiteral("k"), loCaseInsensitive));
    b->Edit();
    b->FieldByName(QStringLiteral("Name"))->SetAsString(QStringLiteral("b"));
    b->Post();
    EXPECT_EQ(Names(*b), QStringList({"b"}));
    b->Refresh();
    EXPECT_EQ(Names(*b), QStringList({"b", "c", "d", "m", "z"}));
    a->Delete();
    EXPECT_EQ(a->RecordCount(), 4);

    // Physical order: new records come last.
    const QString plain = MakeFile(dir, {PeopleTable(false)}, QStringLiteral("plain.db"));
    auto p = OpenTable(plain, QStringLiteral("People"));
    EXPECT_EQ(p->IndexIdx(), -1);
    AddPerson(*p, QStringLiteral("y"), 1);
    AddPerson(*p, QStringLiteral("x"), 2);
    EXPECT_EQ(p->RecNo(), 2);
    p->First();
    p->Edit();
    p->FieldByName(QStringLiteral("Name"))->SetAsString(QStringLiteral("w"));
    p->Post();
    EXPECT_EQ(p->RecNo(), 1);
    EXPECT_EQ(Names(*p), QStringList({"w", "x"}));
}

// A filter over records that lie across the file's pages in another order than the index's:
// the scan reads each record's own bytes.
TEST_F(TableTest, FilterOverManyRecordsReadsEachRecordsOwnBytes)
{
    auto t = OpenTable(file, QStringLiteral("People"), QStringLiteral("ByNum"));
    std::vector<int> nums;
    for (int i = 0; i < 600; ++i)
        nums.push_back((i * 7919) % 600);
    for (int n : nums)
        AddPerson(*t, QStringLiteral("n%1").arg(n), n, n % 3 == 0);
    t->SetFilter(QStringLiteral("Flag = TRUE AND Name LIKE '%5%'"));
    t->SetFilteredValue(true);
    QStringList got;
    for (t->First(); !t->Eof(); t->Next()) {
        EXPECT_EQ(Name(*t), QStringLiteral("n%1").arg(Num(*t)));
        got << Name(*t);
    }
    QStringList expect;
    for (int n = 0; n < 600; ++n)
        if (n % 3 == 0 && QString::number(n).contains(QLatin1Char('5')))
            expect << QStringLiteral("n%1").arg(n);
    EXPECT_EQ(got, expect);
    // FindFirst and FindNext walk the same way.
    t->SetFilteredValue(false);
    int found = 0;
    for (bool ok = t->FindFirst(); ok; ok = t->FindNext())
        ++found;
    EXPECT_EQ(found, expect.size());
}

TEST_F(TableTest, CursorFollowsItsRecordUnderAnIndex)
{
    auto t = OpenTable(file, QStringLiteral("People"), QStringLiteral("ByName"));
    AddPerson(*t, QStringLiteral("b"), 2);
    AddPerson(*t, QStringLiteral("d"), 4);
    AddPerson(*t, QStringLiteral("f"), 6);
    AddPerson(*t, QStringLiteral("c"), 3);
    EXPECT_EQ(Name(*t), QStringLiteral("c"));
    EXPECT_EQ(t->RecNo(), 2);
    // Insert goes through the same path.
    t->Insert();
    t->FieldByName(QStringLiteral("Name"))->SetAsString(QStringLiteral("a"));
    t->FieldByName(QStringLiteral("Num"))->SetAsInteger(1);
    t->Post();
    EXPECT_EQ(Name(*t), QStringLiteral("a"));
    EXPECT_EQ(t->RecNo(), 1);
    // An edit that moves the key moves the cursor with the record.
    t->Edit();
    t->FieldByName(QStringLiteral("Name"))->SetAsString(QStringLiteral("e"));
    t->Post();
    EXPECT_EQ(Name(*t), QStringLiteral("e"));
    EXPECT_EQ(t->RecNo(), 4);
    EXPECT_EQ(Names(*t), QStringList({"b", "c", "d", "e", "f"}));
    // Delete: the cursor goes to the record after, or back from the end.
    ASSERT_TRUE(t->Locate(QStringLiteral("Name"), QStringLiteral("c"), loCaseInsensitive));
    t->Delete();
    EXPECT_EQ(Name(*t), QStringLiteral("d"));
    t->Last();
    t->Delete();
    EXPECT_EQ(Name(*t), QStringLiteral("e"));
    EXPECT_EQ(t->RecordCount(), 3);
    // A duplicate primary key is refused and nothing changes.
    t->Append();
    t->FieldByName(QStringLiteral("Num"))->SetAsInteger(2);
    EXPECT_THROW(t->Post(), EDatabaseError);
    t->Cancel();
    EXPECT_EQ(t->RecordCount(), 3);
    // All of it is in the file.
    auto re = OpenTable(file, QStringLiteral("People"), QStringLiteral("ByName"));
    EXPECT_EQ(Names(*re), QStringList({"b", "d", "e"}));
}

TEST_F(TableTest, CursorFollowsItsRecordUnderAFilter)
{
    auto t = OpenTable(file, QStringLiteral("People"), QStringLiteral("ByName"));
    for (int i = 0; i < 8; ++i)
        AddPerson(*t, QString(QChar(u'a' + i)), i + 1, i % 2 == 0);
    t->SetFilter(QStringLiteral("Flag = True"));
    t->SetFilteredValue(true);
    EXPECT_EQ(Names(*t), QStringList({"a", "c", "e", "g"}));
    ASSERT_TRUE(t->Locate(QStringLiteral("Name"), QStringLiteral("e"), loCaseInsensitive));
    // An appended record takes its place in index order among the visible ones.
    AddPerson(*t, QStringLiteral("d2"), 20, true);
    EXPECT_EQ(Name(*t), QStringLiteral("d2"));
    EXPECT_EQ(t->RecNo(), 3);
    t->Edit();
    t->FieldByName(QStringLiteral("Name"))->SetAsString(QStringLiteral("zz"));
    t->Post();
    EXPECT_EQ(Name(*t), QStringLiteral("zz"));
    EXPECT_EQ(t->RecNo(), 5);
    EXPECT_EQ(Names(*t), QStringList({"a", "c", "e", "g", "zz"}));
    ASSERT_TRUE(t->Locate(QStringLiteral("Name"), QStringLiteral("c"), loCaseInsensitive));
    t->Delete();
    EXPECT_EQ(Name(*t), QStringLiteral("e"));
    EXPECT_EQ(t->RecordCount(), 4);
    t->SetFilteredValue(false);
    EXPECT_EQ(t->RecordCount(), 8);
}

TEST_F(TableTest, BookmarksAfterDelete)
{
    auto t = Four(QStringLiteral("ByNum"));
    t->SetRecNo(2);
    const TBookmark two = t->GetBookmark();
    t->SetRecNo(4);
    const TBookmark four = t->GetBookmark();
    EXPECT_TRUE(t->BookmarkValid(two));
    t->GotoBookmark(two);
    EXPECT_EQ(Num(*t), 2);
    t->Delete();
    EXPECT_FALSE(t->BookmarkValid(two));
    try {
        t->GotoBookmark(two);
        FAIL() << "went to a deleted record";
    } catch (const EDatabaseError &e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Bookmark not found"));
    }
    EXPECT_EQ(Num(*t), 3); // where the delete left it
    t->GotoBookmark(four);
    EXPECT_EQ(Num(*t), 4);
    EXPECT_FALSE(t->BookmarkValid(TBookmark("\x01")));
}

TEST_F(TableTest, CalculatedFieldsAndBlobStreams)
{
    TDictTable t;
    t.SetDatabaseName(file);
    t.SetTableName(QStringLiteral("People"));
    t.SetIndexName(QStringLiteral("ByNum"));
    auto *name = new TStringField(10);
    name->SetFieldName(QStringLiteral("Name"));
    name->SetDataSet(&t);
    auto *num = new TIntegerField;
    num->SetFieldName(QStringLiteral("Num"));
    num->SetDataSet(&t);
    auto *notes = new TMemoField;
    notes->SetFieldName(QStringLiteral("Notes"));
    notes->SetDataSet(&t);
    auto *twice = new TIntegerField;
    twice->SetFieldName(QStringLiteral("Twice"));
    twice->SetFieldKind(fkCalculated);
    twice->SetDataSet(&t);
    t.OnCalcFields = [&](QObject *) { twice->SetAsInteger(num->AsInteger() * 2); };
    t.Open();
    EXPECT_FALSE(t.DefaultFields());
    for (int i = 1; i <= 3; ++i) {
        t.Append();
        num->SetAsInteger(i);
        name->SetAsString(QStringLiteral("p%1").arg(i));
        notes->SetAsString(QString(300 * i, QLatin1Char('x')));
        t.Post();
    }
    t.First();
    EXPECT_EQ(twice->AsInteger(), 2);
    t.Next();
    EXPECT_EQ(twice->AsInteger(), 4);
    EXPECT_EQ(notes->AsString().size(), 600);
    // The calculated field filters and looks up too.
    t.SetFilter(QStringLiteral("Twice > 3"));
    t.SetFilteredValue(true);
    EXPECT_EQ(t.RecordCount(), 2);
    EXPECT_EQ(t.Lookup(QStringLiteral("Num"), 3, QStringLiteral("Twice")).toInt(), 6);
    t.SetFilteredValue(false);
    // A blob written through a stream lands in the record and the file.
    t.Last();
    t.Edit();
    {
        std::unique_ptr<TStream> s(t.CreateBlobStream(notes, bmWrite));
        s->WriteBuffer("hello", 5);
    }
    EXPECT_TRUE(notes->Modified());
    t.Post();
    t.Close();
    t.Open();
    t.Last();
    EXPECT_EQ(notes->AsString(), QStringLiteral("hello"));
    EXPECT_EQ(t.FieldCount(), 4); // persistent fields survive a close
    EXPECT_THROW(t.CreateBlobStream(num, bmRead), EDatabaseError);
}

// ---------------------------------------------------------------- master and detail

class MasterDetailTest : public ::testing::Test
{
protected:
    tvtest::TempDir dir;
    QString file;
    std::unique_ptr<TDictTable> master, detail;
    std::unique_ptr<TDataSource> source;

    void SetUp() override
    {
        TDictDBTableLayout m;
        m.Name = QStringLiteral("Master");
        m.Fields = {{QStringLiteral("Id"), ftInteger, 0, 0}};
        m.Indexes = {{QStringLiteral("ById"), TTDIndexOptions(tiPrimary) | tiUnique, {QStringLiteral("Id")}}};
        TDictDBTableLayout d;
        d.Name = QStringLiteral("Detail");
        d.Fields = {{QStringLiteral("MasterId"), ftInteger, 0, 0}, {QStringLiteral("Item"), ftString, 8, 0}};
        d.Indexes = {
            {QStringLiteral("ByMaster"), TTDIndexOptions(), {QStringLiteral("MasterId"), QStringLiteral("Item")}}};
        file = MakeFile(dir, {m, d});
        master = OpenTable(file, QStringLiteral("Master"));
        for (int id : {1, 2, 3}) {
            master->Append();
            master->FieldByName(QStringLiteral("Id"))->SetAsInteger(id);
            master->Post();
        }
        auto fill = OpenTable(file, QStringLiteral("Detail"));
        const std::vector<std::pair<int, const char *>> rows = {{3, "z"}, {1, "b"}, {1, "a"}, {3, "y"}, {1, "c"}};
        for (const auto &[id, item] : rows) {
            fill->Append();
            fill->FieldByName(QStringLiteral("MasterId"))->SetAsInteger(id);
            fill->FieldByName(QStringLiteral("Item"))->SetAsString(QString::fromLatin1(item));
            fill->Post();
        }
        fill.reset();
        master->First();
        source = std::make_unique<TDataSource>();
        source->SetDataSet(master.get());
        detail = std::make_unique<TDictTable>();
        detail->SetDatabaseName(file);
        detail->SetTableName(QStringLiteral("Detail"));
        detail->SetIndexName(QStringLiteral("ByMaster"));
        detail->SetMasterSource(source.get());
        detail->SetMasterFields(QStringLiteral("Id"));
        detail->Open();
    }

    void TearDown() override
    {
        detail.reset();
        source.reset();
        master.reset();
    }

    QStringList Items()
    {
        QStringList out;
        for (detail->First(); !detail->Eof(); detail->Next())
            out << detail->FieldByName(QStringLiteral("Item"))->AsString();
        return out;
    }
};

TEST_F(MasterDetailTest, RangeFollowsTheMaster)
{
    EXPECT_TRUE(detail->RangeActive());
    EXPECT_EQ(Items(), QStringList({"a", "b", "c"}));
    master->Next(); // 2 has no details: none are shown
    EXPECT_EQ(detail->RecordCount(), 0);
    master->Next();
    EXPECT_EQ(Items(), QStringList({"y", "z"}));
    // A locate by the range's own index searches the range alone.
    ASSERT_TRUE(detail->Locate(QStringLiteral("MasterId;Item"), QVariantList{3, QStringLiteral("z")}, {}));
    EXPECT_EQ(detail->RecNo(), 2);
    EXPECT_FALSE(detail->Locate(QStringLiteral("MasterId;Item"), QVariantList{1, QStringLiteral("a")}, {}));
    EXPECT_EQ(detail->RecNo(), 2);
    ASSERT_TRUE(master->Locate(QStringLiteral("Id"), 1, {}));
    EXPECT_EQ(Items(), QStringList({"a", "b", "c"}));
    // A search that finds nothing leaves the master, and so the details, where they were.
    EXPECT_FALSE(master->Locate(QStringLiteral("Id"), 3 + 96, {}));
    EXPECT_TRUE(master->Lookup(QStringLiteral("Id"), 3, QStringLiteral("Id")).isValid());
    EXPECT_EQ(Items(), QStringList({"a", "b", "c"}));
    // A new detail of the current master appears inside the range.
    detail->Append();
    detail->FieldByName(QStringLiteral("MasterId"))->SetAsInteger(1);
    detail->FieldByName(QStringLiteral("Item"))->SetAsString(QStringLiteral("bb"));
    detail->Post();
    EXPECT_EQ(detail->FieldByName(QStringLiteral("Item"))->AsString(), QStringLiteral("bb"));
    EXPECT_EQ(Items(), QStringList({"a", "b", "bb", "c"}));
    // Closing the master lifts the range.
    master->Close();
    EXPECT_FALSE(detail->RangeActive());
    EXPECT_EQ(detail->RecordCount(), 6);
    // A data set cannot be its own master's master.
    TDataSource back;
    back.SetDataSet(detail.get());
    EXPECT_THROW(master->SetMasterSource(&back), EDatabaseError);
    EXPECT_THROW(detail->SetMasterSource(&back), EDatabaseError);
}

} // namespace
