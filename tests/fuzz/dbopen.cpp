// Opens arbitrary bytes as a database in memory, measures where its structures end, reads
// every table, record and blob, then tries one append: any input ends in success or a
// database error.

#include "dictdb/DictDB.h"
#include "dictdb/DictDBFileIO.h"
#include "dictdb/DictTableIO.h"

#include <cstdlib>
#include <cstring>

namespace {

void Exercise(TDictDatabase &db)
{
    // Refused or not, the rest still runs: the extent is judged apart from the reads.
    try {
        db.FileIO()->CheckExactExtent();
    } catch (const EDatabaseError &) {
    }
    QStringList names;
    db.GetTableNames(names);
    for (const QString &name : names) {
        TDictTableIO *t = db.TableIOByName(name);
        if (!t)
            continue;
        t->Open();
        struct Closer
        {
            TDictTableIO *t;
            ~Closer() { t->Close(); }
        } closer{t};
        TFieldBuffers fb;
        for (int f = 0; f < t->FieldDefs()->Count(); ++f) {
            const TDictFieldDef *def = t->FieldDefs()->Items(f);
            if (IsBlobFieldType(def->FieldType)) {
                TMemoryStream *s = new TMemoryStream;
                fb.Add(&s, def->FieldType, 0)->AutoFree = true;
            } else {
                const qint32 size = GetFieldSize(def->FieldType, def->FieldSize);
                fb.Add(std::calloc(size_t(size) + 1, 1), def->FieldType, size)->AutoFree = true;
            }
        }
        for (size_t list = 0; list < t->IndexLists.size(); ++list)
            for (size_t pos = 0; pos < t->IndexLists[list].size() && pos < 64; ++pos) {
                t->ReadRecordData(fb, t->IndexLists[list], int(pos));
                for (int f = 0; f < t->FieldDefs()->Count(); ++f) {
                    TMemoryStream s;
                    t->ReadFieldData(&s, t->IndexLists[list][pos].RecIndex, f);
                }
            }
        t->AppendRecordData(fb, false, nullptr);
        if (!t->IndexLists[0].empty()) {
            t->ModifyRecordData(fb, 0, nullptr, false);
            t->DeleteRecordData(0, false);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size)
{
    if (Size > (1u << 20))
        return 0;
    TMemoryStream stream;
    stream.WriteBuffer(Data, qint64(Size));
    const QString name = RegisterMemDBStream(&stream);
    try {
        TDictDatabase db;
        db.SetMediumType(mtMemory);
        db.SetDatabaseName(name);
        db.SetPassword(QStringLiteral("fuzz"));
        db.Open();
        Exercise(db);
    } catch (const EDatabaseError &) {
        // A refusal is a correct answer to a bad file.
    }
    UnregisterMemDBStream(&stream);
    return 0;
}
