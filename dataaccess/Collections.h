#pragma once

#include "dataaccess/DBError.h"

#include <QString>

#include <vector>

class QObject;

namespace dataaccess {

class TCollection;

// One item of a collection. The collection owns it; deleting an item takes it out.
class TCollectionItem
{
public:
    explicit TCollectionItem(TCollection *Collection);
    virtual ~TCollectionItem();

    TCollection *Collection() const { return m_Collection; }
    // Unique within the collection, never reused.
    int ID() const { return m_Id; }
    int Index() const;
    virtual QString ClassName() const { return QStringLiteral("TCollectionItem"); }
    virtual QString DisplayName() const { return ClassName(); }
    // Copies another item; the base refuses with "Cannot assign a %s to a %s".
    virtual void Assign(const TCollectionItem *Source);

protected:
    void Changed(bool AllItems = false);

private:
    friend class TCollection;
    TCollection *m_Collection = nullptr;
    int m_Id = 0;
};

class TCollection
{
public:
    TCollection();
    virtual ~TCollection();

    int Count() const { return int(m_Items.size()); }
    TCollectionItem *Items(int Index) const;
    TCollectionItem *Add();
    TCollectionItem *Insert(int Index);
    void Delete(int Index);
    void Clear();
    void BeginUpdate() { ++m_UpdateCount; }
    void EndUpdate();
    int UpdateCount() const { return m_UpdateCount; }
    TCollectionItem *FindItemID(int ID) const;
    int NextID() const { return m_NextId; }

protected:
    virtual TCollectionItem *CreateItem() = 0;
    // Called when an item (or, with nullptr, the whole collection) changed.
    virtual void Update(TCollectionItem *) {}
    // Called after an item has been put into the collection.
    virtual void Added(TCollectionItem *) {}

private:
    friend class TCollectionItem;
    void InsertItem(TCollectionItem *Item, int Index);
    void RemoveItem(TCollectionItem *Item);
    std::vector<TCollectionItem *> m_Items;
    int m_NextId = 0;
    int m_UpdateCount = 0;
    bool m_Clearing = false;
};

// A collection that knows the component it belongs to (not owned).
class TOwnedCollection : public TCollection
{
public:
    explicit TOwnedCollection(QObject *AOwner) : m_Owner(AOwner) {}
    QObject *Owner() const { return m_Owner; }

private:
    QObject *m_Owner = nullptr;
};

// An item with a name.
class TNamedItem : public TCollectionItem
{
public:
    using TCollectionItem::TCollectionItem;
    QString ClassName() const override { return QStringLiteral("TNamedItem"); }
    QString DisplayName() const override { return m_Name.isEmpty() ? TCollectionItem::DisplayName() : m_Name; }
    const QString &Name() const { return m_Name; }
    virtual void SetName(const QString &Value);

private:
    QString m_Name;
};

// Case-insensitive name search of a collection of named items (-1 when none).
int IndexOfName(const TCollection *Collection, const QString &Name);

} // namespace dataaccess

using dataaccess::TCollection;
using dataaccess::TCollectionItem;
using dataaccess::TNamedItem;
using dataaccess::TOwnedCollection;
