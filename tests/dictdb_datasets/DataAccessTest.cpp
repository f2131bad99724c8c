#include "Helpers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace dstest;

namespace {

TDictDBTableLayout NumbersTable()
{
    TDictDBTableLayout t;
    t.Name = QStringLiteral("Numbers");
    t.Fields = {{QStringLiteral("Id"), ftInteger, 0, 0},    {QStringLiteral("Small"), ftSmallint, 0, 0},
                {QStringLiteral("W"), ftWord, 0, 0},        {QStringLiteral("Big"), ftLargeint, 0, 0},
                {QStringLiteral("F"), ftFloat, 0, 0},       {QStringLiteral("Money"), ftCurrency, 0, 0},
                {QStringLiteral("Code"), ftFixedChar, 6, 0}};
    t.Indexes = {{QStringLiteral("ById"), TTDIndexOptions(tiPrimary) | tiUnique, {QStringLiteral("Id")}}};
    return t;
}

class DataAccessTest : public ::testing::Test
{
protected:
    tvtest::TempDir dir;
    std::unique_ptr<TDictTable> t;

    void SetUp() override
    {
        t = OpenTable(MakeFile(dir, {NumbersTable()}), QStringLiteral("Numbers"));
        for (int id = 1; id <= 3; ++id) {
            t->Append();
            t->FieldByName(QStringLiteral("Id"))->SetAsInteger(id);
            t->Post();
        }
        t->First();
    }
    TField *F(const char *Name) { return t->FieldByName(QString::fromLatin1(Name)); }
};

TEST_F(DataAccessTest, NumericConversionsKeepTheirRanges)
{
    t->Edit();
    F("Small")->SetAsInteger(-32768);
    EXPECT_THROW(F("Small")->SetAsInteger(32768), EDatabaseError);
    EXPECT_EQ(F("Small")->AsInteger(), -32768);
    F("W")->SetAsString(QStringLiteral("65535"));
    EXPECT_THROW(F("W")->SetAsInteger(-1), EDatabaseError);
    EXPECT_THROW(F("Id")->SetAsLargeInt(qint64(1) << 40), EDatabaseError);
    F("Big")->SetAsLargeInt(qint64(1) << 40);
    EXPECT_THROW(F("Big")->AsInteger(), EDatabaseError);
    F("F")->SetAsFloat(2.5);
    EXPECT_EQ(F("F")->AsString(), QStringLiteral("2.5"));
    EXPECT_EQ(F("F")->AsInteger(), 3);
    F("F")->SetAsFloat(std::numeric_limits<double>::quiet_NaN());
    EXPECT_THROW(F("F")->AsInteger(), EDatabaseError);
    EXPECT_THROW(F("Id")->SetAsFloat(std::numeric_limits<double>::infinity()), EDatabaseError);
    F("Money")->SetValue(QStringLiteral("12.25"));
    F("Code")->SetAsString(QStringLiteral("ab  "));
    t->Post();
    EXPECT_EQ(F("W")->AsInteger(), 65535);
    EXPECT_EQ(F("Big")->Value().toLongLong(), qint64(1) << 40);
    EXPECT_DOUBLE_EQ(F("Money")->AsCurrency(), 12.25);
    EXPECT_EQ(F("Code")->AsString(), QStringLiteral("ab")); // fixed-width text loses its padding
    EXPECT_EQ(t->FieldValues(QStringLiteral("Id;W")).toList(), (QVariantList{1, 65535}));
    try {
        t->FieldValues(QStringLiteral("Id;Nope"));
        FAIL();
    } catch (const EDatabaseError &e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Field 'Nope' not found"));
    }
}

TEST_F(DataAccessTest, BrowseEditAndAutomaticPostOrCancel)
{
    EXPECT_EQ(t->State(), dsBrowse);
    t->Edit();
    EXPECT_EQ(t->State(), dsEdit);
    EXPECT_FALSE(t->Modified());
    t->Next(); // nothing changed: the edit is cancelled
    EXPECT_EQ(t->State(), dsBrowse);
    EXPECT_EQ(F("Id")->AsInteger(), 2);
    t->Edit();
    F("Small")->SetAsInteger(7);
    EXPECT_TRUE(t->Modified());
    t->Next(); // a change is posted before moving
    t->Prior();
    EXPECT_EQ(F("Small")->AsInteger(), 7);

    // Insert and cancel comes back to the record it started from.
    t->SetRecNo(2);
    t->Insert();
    EXPECT_EQ(t->State(), dsInsert);
    t->Cancel();
    EXPECT_EQ(F("Id")->AsInteger(), 2);
    EXPECT_EQ(t->RecordCount(), 3);

    // Read-only table.
    t->SetReadOnly(true);
    EXPECT_FALSE(t->CanModify());
    try {
        t->Edit();
        FAIL();
    } catch (const EDatabaseError &e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Cannot modify a read-only dataset"));
    }
    EXPECT_THROW(t->Append(), EDatabaseError);
    t->SetReadOnly(false);
    // A read-only field refuses a value in an edit but still takes a search key.
    F("Small")->SetReadOnly(true);
    t->Edit();
    EXPECT_THROW(F("Small")->SetAsInteger(1), EDatabaseError);
    t->Cancel();
    EXPECT_TRUE(t->Locate(QStringLiteral("Small"), 7, {}));
}

TEST_F(DataAccessTest, EventsOrderAndErrorHandlers)
{
    QStringList log;
    t->BeforePost = [&](QObject *) { log << "BeforePost"; };
    t->AfterPost = [&](QObject *) { log << "AfterPost"; };
    t->BeforeScroll = [&](QObject *) { log << "BeforeScroll"; };
    t->AfterScroll = [&](QObject *) { log << "AfterScroll"; };
    t->OnNewRecord = [&](QObject *) {
        log << "NewRecord";
        F("Id")->SetAsInteger(50);
    };
    t->Append();
    EXPECT_EQ(F("Id")->AsInteger(), 50);
    t->Post();
    EXPECT_EQ(log, QStringList({"BeforeScroll", "NewRecord", "AfterScroll", "BeforePost", "AfterPost"}));

    // A post error handler may abort silently or retry after mending the record.
    int calls = 0;
    t->OnPostError = [&](QObject *, const Exception &, TDataAction &Action) {
        ++calls;
        Action = calls == 1 ? daAbort : daRetry;
        F("Id")->SetAsInteger(60);
    };
    t->Append();
    F("Id")->SetAsInteger(50); // duplicate
    EXPECT_THROW(t->Post(), EAbort);
    EXPECT_EQ(t->State(), dsInsert);
    F("Id")->SetAsInteger(50);
    t->Post(); // the handler mends it and retries
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(F("Id")->AsInteger(), 60);
    EXPECT_EQ(t->RecordCount(), 5);
}

TEST_F(DataAccessTest, DataSourceAndLinksHearTheDataSet)
{
    TDataSource source;
    int changes = 0, states = 0;
    TField *changed = nullptr;
    source.OnDataChange = [&](QObject *, TField *Field) {
        ++changes;
        changed = Field;
    };
    source.OnStateChange = [&](QObject *) { ++states; };
    source.SetDataSet(t.get());
    EXPECT_EQ(source.State(), dsBrowse);
    changes = states = 0;
    t->Next();
    EXPECT_EQ(changes, 1);
    t->Edit();
    EXPECT_EQ(states, 1);
    F("Small")->SetAsInteger(3);
    EXPECT_EQ(changed, F("Small"));
    t->Post();
    EXPECT_EQ(states, 2);
    // Searching writes keys into a scratch buffer: no data-change for those.
    changes = 0;
    t->Lookup(QStringLiteral("Id"), 3, QStringLiteral("Small"));
    EXPECT_EQ(changes, 0);
    // With controls disabled nothing is heard until they are enabled again, once.
    t->DisableControls();
    t->Next();
    t->Prior();
    EXPECT_EQ(changes, 0);
    t->EnableControls();
    EXPECT_EQ(changes, 1);
    source.SetEnabled(false);
    EXPECT_EQ(source.State(), dsInactive);
    t->Next();
    EXPECT_EQ(changes, 1);
    source.SetEnabled(true);
    t->Close();
    EXPECT_EQ(source.State(), dsInactive);
    // A data source outlives its data set safely.
    t.reset();
    EXPECT_EQ(source.DataSet(), nullptr);
}

TEST_F(DataAccessTest, EmptyAndClosedDataSetRefusals)
{
    while (!t->IsEmpty())
        t->Delete();
    EXPECT_EQ(t->RecordCount(), 0);
    try {
        t->Delete();
        FAIL();
    } catch (const EDatabaseError &e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Cannot perform this operation on an empty dataset"));
    }
    t->Edit(); // on an empty data set an edit becomes an insert
    EXPECT_EQ(t->State(), dsInsert);
    t->Cancel();
    t->Close();
    try {
        t->RecordCount();
        FAIL();
    } catch (const EDatabaseError &e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Cannot perform this operation on a closed dataset"));
    }
    EXPECT_THROW(t->First(), EDatabaseError);
    EXPECT_FALSE(t->FindField(QStringLiteral("Id"))); // default fields went with the close
}

} // namespace
