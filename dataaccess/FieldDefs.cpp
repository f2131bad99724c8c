#include "dataaccess/FieldDefs.h"

#include <QStringList>

namespace dataaccess {

void TFieldDef::Assign(const TCollectionItem *Source)
{
    if (const auto *src = dynamic_cast<const TFieldDef *>(Source)) {
        if (Collection())
            Collection()->BeginUpdate();
        SetName(src->Name());
        m_DataType = src->m_DataType;
        m_Size = src->m_Size;
        m_Required = src->m_Required;
        if (Collection())
            Collection()->EndUpdate();
        return;
    }
    TNamedItem::Assign(Source);
}

void TFieldDefs::Add(const QString &Name, TFieldType DataType, int Size, bool Required)
{
    TFieldDef *def = AddFieldDef();
    BeginUpdate();
    def->SetName(Name);
    def->SetDataType(DataType);
    def->SetSize(Size);
    def->SetRequired(Required);
    EndUpdate();
}

TFieldDef *TFieldDefs::Find(const QString &Name) const
{
    const int i = IndexOf(Name);
    if (i < 0)
        DatabaseErrorFmt(QString::fromLatin1(msg::kSFieldNotFound), Name);
    return Items(i);
}

void TIndexDef::Assign(const TCollectionItem *Source)
{
    if (const auto *src = dynamic_cast<const TIndexDef *>(Source)) {
        if (Collection())
            Collection()->BeginUpdate();
        SetName(src->Name());
        m_Fields = src->m_Fields;
        m_Options = src->m_Options;
        if (Collection())
            Collection()->EndUpdate();
        return;
    }
    TNamedItem::Assign(Source);
}

void TIndexDefs::Add(const QString &Name, const QString &Fields, TIndexOptions Options)
{
    TIndexDef *def = AddIndexDef();
    BeginUpdate();
    def->SetName(Name);
    def->SetFields(Fields);
    def->SetOptions(Options);
    EndUpdate();
}

TIndexDef *TIndexDefs::Find(const QString &Name) const
{
    const int i = IndexOf(Name);
    if (i < 0)
        DatabaseErrorFmt(QString::fromLatin1(msg::kSIndexNotFound), Name);
    return Items(i);
}

QStringList SplitFieldList(const QString &Fields)
{
    QStringList out;
    for (const QString &part : Fields.split(QLatin1Char(';'))) {
        const QString name = part.trimmed();
        if (!name.isEmpty())
            out << name;
    }
    return out;
}

} // namespace dataaccess
