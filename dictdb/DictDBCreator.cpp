#include "dictdb/DictDBCreator.h"

#include "dictdb/DataProcess.h"
#include "dictdb/DictDBUtils.h"
#include "platform/files/FileHandle.h"

#include <cstring>

using namespace dictdb;

namespace {

[[noreturn]] void Refuse(const QString &Why)
{
    DatabaseErrorFmt(QStringLiteral("Cannot create database: %s"), Why);
}

void CheckName(const QString &Name, const char *What)
{
    if (Name.trimmed().isEmpty())
        Refuse(QStringLiteral("%1 without a name").arg(QLatin1String(What)));
    if (Name.toUtf8().size() > kNameSize - 1)
        Refuse(QStringLiteral("%1 name '%2' longer than %3 bytes").arg(QLatin1String(What), Name).arg(kNameSize - 1));
}

} // namespace

QByteArray BuildDictDBImage(const TDictDBFileLayout &Layout)
{
    if (Layout.Tables.size() > kMaxTables)
        Refuse(QStringLiteral("more than %1 tables").arg(kMaxTables));
    RegisterBuiltinDataProcessAlgos();
    if (Layout.Compress && IndexOfCompressClass(Layout.CompressAlgo) < 0)
        Refuse(QStringLiteral("no compressor '%1'").arg(Layout.CompressAlgo));
    if (Layout.Encrypt && IndexOfEncryptClass(Layout.EncryptAlgo) < 0)
        Refuse(QStringLiteral("no cipher '%1'").arg(Layout.EncryptAlgo));
    if (Layout.Encrypt && Layout.EncryptMode > 4)
        Refuse(QStringLiteral("cipher mode %1").arg(Layout.EncryptMode));

    const qint64 size = kDataStart + qint64(Layout.Tables.size()) * qint64(sizeof(TTableHeader));
    QByteArray image(int(size), '\0');
    char *base = image.data();

    std::memcpy(base, kMagic, sizeof kMagic);
    std::memcpy(base + 7, kVersion, sizeof kVersion);

    TExtData ext;
    std::memset(&ext, 0, sizeof ext);
    if (Layout.Compress) {
        ext.CompressFlag = 1;
        CheckName(Layout.CompressAlgo, "compressor");
        SetSlotText(ext.CompressAlgoName, kNameSize, Layout.CompressAlgo);
    }
    if (Layout.Encrypt) {
        ext.EncryptFlag = 1;
        ext.EncryptMode = Layout.EncryptMode;
        CheckName(Layout.EncryptAlgo, "cipher");
        SetSlotText(ext.EncryptAlgoName, kNameSize, Layout.EncryptAlgo);
        SetSlotText(ext.PwdCheckText, int(sizeof ext.PwdCheckText), HashPassword(Layout.Password));
    }
    ext.VerifyFlag = Layout.VerifyWrites ? 1 : 0;
    std::memcpy(base + kExtDataOffset, &ext, sizeof ext);

    TTableTab tab;
    std::memset(&tab, 0, sizeof tab);
    tab.TableCount = qint32(Layout.Tables.size());
    for (int t = 0; t < Layout.Tables.size(); ++t) {
        const TDictDBTableLayout &ts = Layout.Tables.at(t);
        CheckName(ts.Name, "table");
        for (int u = 0; u < t; ++u)
            if (CompareDBString(Layout.Tables.at(u).Name, ts.Name, false, true, 0) == 0)
                Refuse(QStringLiteral("two tables named '%1'").arg(ts.Name));
        if (ts.Fields.size() > kMaxFields)
            Refuse(QStringLiteral("table '%1' has more than %2 fields").arg(ts.Name).arg(kMaxFields));
        if (ts.Indexes.size() > kMaxIndexes)
            Refuse(QStringLiteral("table '%1' has more than %2 indexes").arg(ts.Name).arg(kMaxIndexes));

        TTableHeader h;
        std::memset(&h, 0, sizeof h);
        SetSlotText(h.TableName, kNameSize, ts.Name);
        h.FieldCount = qint32(ts.Fields.size());
        for (int f = 0; f < ts.Fields.size(); ++f) {
            const TDictDBFieldLayout &fs = ts.Fields.at(f);
            CheckName(fs.Name, "field");
            for (int g = 0; g < f; ++g)
                if (CompareDBString(ts.Fields.at(g).Name, fs.Name, false, true, 0) == 0)
                    Refuse(QStringLiteral("two fields named '%1'").arg(fs.Name));
            if ((fs.FieldType == ftString || fs.FieldType == ftFixedChar) && (fs.Size < 1 || fs.Size > 65535))
                Refuse(QStringLiteral("field '%1' has size %2").arg(fs.Name).arg(fs.Size));
            GetFieldSize(fs.FieldType, fs.Size); // refuses the types a file cannot hold
            TFieldTabItem &fi = h.FieldTab[f];
            SetSlotText(fi.FieldName, kNameSize, fs.Name);
            fi.FieldType = quint8(fs.FieldType);
            fi.FieldSize = (fs.FieldType == ftString || fs.FieldType == ftFixedChar) ? fs.Size : 0;
            fi.DPMode = fs.DPMode;
        }
        h.IndexCount = qint32(ts.Indexes.size());
        for (int k = 0; k < ts.Indexes.size(); ++k) {
            const TDictDBIndexLayout &is = ts.Indexes.at(k);
            CheckName(is.Name, "index");
            if (is.Fields.isEmpty() || is.Fields.size() > kMaxIndexFields)
                Refuse(QStringLiteral("index '%1' needs 1 to %2 fields").arg(is.Name).arg(kMaxIndexFields));
            TIndexHeaderItem &ix = h.IndexHeader[k];
            SetSlotText(ix.IndexName, kNameSize, is.Name);
            ix.IndexOptions = quint8(is.Options.toInt());
            for (int n = 0; n < kMaxIndexFields; ++n)
                ix.IndexFields[n] = -1;
            for (int n = 0; n < is.Fields.size(); ++n) {
                int found = -1;
                for (int f = 0; f < ts.Fields.size() && found < 0; ++f)
                    if (CompareDBString(ts.Fields.at(f).Name, is.Fields.at(n), false, true, 0) == 0)
                        found = f;
                if (found < 0)
                    Refuse(QStringLiteral("index '%1' names no field '%2'").arg(is.Name, is.Fields.at(n)));
                ix.IndexFields[n] = found;
            }
            ix.IndexTabOffset = 0;
            ix.StartIndex = 0;
        }
        const qint64 at = kDataStart + qint64(t) * qint64(sizeof h);
        tab.TableHeaderOffset[t] = qint32(at);
        std::memcpy(base + at, &h, sizeof h);
    }
    std::memcpy(base + kTableTabOffset, &tab, sizeof tab);
    return image;
}

void CreateDictDBFile(const QString &FileName, const TDictDBFileLayout &Layout)
{
    const QByteArray image = BuildDictDBImage(Layout);
    try {
        TFileStream f(FileName, fmCreate);
        f.WriteBuffer(image.constData(), image.size());
        platform::files::SyncHandle(f.Handle());
    } catch (const EStreamError &e) {
        DatabaseError(e.Message());
    }
}

void CreateDictDBStream(TStream *Stream, const TDictDBFileLayout &Layout)
{
    const QByteArray image = BuildDictDBImage(Layout);
    Stream->SetSize(0);
    Stream->SetPosition(0);
    Stream->WriteBuffer(image.constData(), image.size());
}
