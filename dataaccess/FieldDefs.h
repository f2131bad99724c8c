#pragma once

#include "dataaccess/Collections.h"
#include "dataaccess/FieldType.h"

#include <QFlags>

namespace dataaccess {

// The description of one field of a data set.
class TFieldDef : public TNamedItem
{
public:
    using TNamedItem::TNamedItem;
    QString ClassName() const override { return QStringLiteral("TFieldDef"); }
    void Assign(const TCollectionItem *Source) override;

    TFieldType DataType() const { return m_DataType; }
    void SetDataType(TFieldType Value)
    {
        m_DataType = Value;
        Changed();
    }
    int Size() const { return m_Size; }
    void SetSize(int Value)
    {
        m_Size = Value;
        Changed();
    }
    bool Required() const { return m_Required; }
    void SetRequired(bool Value)
    {
        m_Required = Value;
        Changed();
    }
    // 1-based position among the definitions.
    int FieldNo() const { return Index() + 1; }

private:
    TFieldType m_DataType = ftUnknown;
    int m_Size = 0;
    bool m_Required = false;
};

class TFieldDefs : public TOwnedCollection
{
public:
    explicit TFieldDefs(QObject *AOwner = nullptr) : TOwnedCollection(AOwner) {}

    TFieldDef *Items(int Index) const { return static_cast<TFieldDef *>(TCollection::Items(Index)); }
    TFieldDef *AddFieldDef() { return static_cast<TFieldDef *>(TCollection::Add()); }
    void Add(const QString &Name, TFieldType DataType, int Size = 0, bool Required = false);
    int IndexOf(const QString &Name) const { return IndexOfName(this, Name); }
    // Raises "Field '%s' not found".
    TFieldDef *Find(const QString &Name) const;

protected:
    TCollectionItem *CreateItem() override { return new TFieldDef(this); }
};

enum TIndexOption : quint8 {
    ixPrimary = 0x01,
    ixUnique = 0x02,
    ixDescending = 0x04,
    ixCaseInsensitive = 0x08,
    ixExpression = 0x10,
    ixNonMaintained = 0x20,
};
Q_DECLARE_FLAGS(TIndexOptions, TIndexOption)

// The description of one index: its fields as a ";"-separated list.
class TIndexDef : public TNamedItem
{
public:
    using TNamedItem::TNamedItem;
    QString ClassName() const override { return QStringLiteral("TIndexDef"); }
    void Assign(const TCollectionItem *Source) override;

    const QString &Fields() const { return m_Fields; }
    void SetFields(const QString &Value)
    {
        m_Fields = Value;
        Changed();
    }
    TIndexOptions Options() const { return m_Options; }
    void SetOptions(TIndexOptions Value)
    {
        m_Options = Value;
        Changed();
    }

private:
    QString m_Fields;
    TIndexOptions m_Options;
};

class TIndexDefs : public TOwnedCollection
{
public:
    explicit TIndexDefs(QObject *AOwner = nullptr) : TOwnedCollection(AOwner) {}

    TIndexDef *Items(int Index) const { return static_cast<TIndexDef *>(TCollection::Items(Index)); }
    TIndexDef *AddIndexDef() { return static_cast<TIndexDef *>(TCollection::Add()); }
    void Add(const QString &Name, const QString &Fields, TIndexOptions Options);
    int IndexOf(const QString &Name) const { return IndexOfName(this, Name); }
    // Raises "Index '%s' not found".
    TIndexDef *Find(const QString &Name) const;

protected:
    TCollectionItem *CreateItem() override { return new TIndexDef(this); }
};

// Splits a field list ("A;B;C") into its names, blanks around each removed.
QStringList SplitFieldList(const QString &Fields);

} // namespace dataaccess

Q_DECLARE_OPERATORS_FOR_FLAGS(dataaccess::TIndexOptions)

using dataaccess::TFieldDef;
using dataaccess::TFieldDefs;
using dataaccess::TIndexDef;
using dataaccess::TIndexDefs;
using dataaccess::TIndexOption;
using dataaccess::TIndexOptions;
using enum dataaccess::TIndexOption;
