#include "dataaccess/FieldDefs.h"

#include <QStringList>

namespace dataaccess {

void TFieldDef::Assign(const TCollectionItem *Source)
{
    if (const auto *src = dynamic_cast<const TFieldDef *>(Source)) {
        if (Collection())
            Collection()->BeginUpdate();
        SetName(src->Name());
        m_dataType = src->m_dataType;
        m_size = src->m_size;
        m_required = src->m_required;
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
        DatabaseErrorFmt(QString::fromLatin1(msg::SFieldNotFound), Name);
    return Items(i);
}

void TIndexDef::Assign(const TCollectionItem *Source)
{
    if (const auto *src = dynamic_cast<const TIndexDef *>(Source)) {
        if (Collection())
            Collection()->BeginUpdate();
        SetName(src->Name());
        m_fields = src->m_fields;
        m_options = src->m_options;
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
        DatabaseErrorFmt(QString::fromLatin1(msg::SIndexNotFound), Name);
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
