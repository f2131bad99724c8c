#include "dataaccess/Collections.h"

#include <algorithm>

namespace dataaccess {

TCollectionItem::TCollectionItem(TCollection *Collection)
{
    if (Collection)
        Collection->InsertItem(this, Collection->Count());
}

TCollectionItem::~TCollectionItem()
{
    if (m_collection)
        m_collection->RemoveItem(this);
}

int TCollectionItem::Index() const
{
    if (!m_collection)
        return -1;
    const auto &v = m_collection->m_items;
    const auto it = std::find(v.begin(), v.end(), this);
    return it == v.end() ? -1 : int(it - v.begin());
}

void TCollectionItem::Assign(const TCollectionItem *Source)
{
    const QString src = Source ? Source->ClassName() : QStringLiteral("nil");
    throw EConvertError(Format(QString::fromLatin1(msg::SAssignError), src, ClassName()));
}

void TCollectionItem::Changed(bool AllItems)
{
    if (m_collection && m_collection->UpdateCount() == 0)
        m_collection->Update(AllItems ? nullptr : this);
}

TCollection::TCollection() = default;

TCollection::~TCollection()
{
    m_updateCount = 1;
    Clear();
}

TCollectionItem *TCollection::Items(int Index) const
{
    if (Index < 0 || Index >= Count())
        throw EDatabaseError(Format(QString::fromLatin1(msg::SListIndexError), Index));
    return m_items[size_t(Index)];
}

TCollectionItem *TCollection::Add()
{
    TCollectionItem *item = CreateItem();
    Added(item);
    return item;
}

TCollectionItem *TCollection::Insert(int Index)
{
    TCollectionItem *item = Add();
    const int from = item->Index();
    if (Index >= 0 && Index < from) {
        m_items.erase(m_items.begin() + from);
        m_items.insert(m_items.begin() + Index, item);
    }
    return item;
}

void TCollection::Delete(int Index)
{
    delete Items(Index);
}

void TCollection::Clear()
{
    if (m_items.empty())
        return;
    BeginUpdate();
    m_clearing = true;
    std::vector<TCollectionItem *> items;
    items.swap(m_items);
    for (TCollectionItem *item : items) {
        item->m_collection = nullptr;
        delete item;
    }
    m_clearing = false;
    EndUpdate();
}

void TCollection::EndUpdate()
{
    if (m_updateCount > 0 && --m_updateCount == 0)
        Update(nullptr);
}

TCollectionItem *TCollection::FindItemID(int ID) const
{
    for (TCollectionItem *item : m_items)
        if (item->m_id == ID)
            return item;
    return nullptr;
}

void TCollection::InsertItem(TCollectionItem *Item, int Index)
{
    Item->m_collection = this;
    Item->m_id = m_nextID++;
    m_items.insert(m_items.begin() + Index, Item);
}

void TCollection::RemoveItem(TCollectionItem *Item)
{
    const auto it = std::find(m_items.begin(), m_items.end(), Item);
    if (it != m_items.end())
        m_items.erase(it);
    Item->m_collection = nullptr;
    if (!m_clearing && m_updateCount == 0)
        Update(nullptr);
}

void TNamedItem::SetName(const QString &Value)
{
    m_name = Value;
    Changed(false);
}

int IndexOfName(const TCollection *Collection, const QString &Name)
{
    for (int i = 0; i < Collection->Count(); ++i) {
        const auto *item = dynamic_cast<const TNamedItem *>(Collection->Items(i));
        if (item && item->Name().compare(Name, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

} // namespace dataaccess
