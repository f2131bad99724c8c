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
    if (m_Collection)
        m_Collection->RemoveItem(this);
}

int TCollectionItem::Index() const
{
    if (!m_Collection)
        return -1;
    const auto &v = m_Collection->m_Items;
    const auto it = std::find(v.begin(), v.end(), this);
    return it == v.end() ? -1 : int(it - v.begin());
}

void TCollectionItem::Assign(const TCollectionItem *Source)
{
    const QString src = Source ? Source->ClassName() : QStringLiteral("nil");
    throw EConvertError(Format(QString::fromLatin1(msg::kSAssignError), src, ClassName()));
}

void TCollectionItem::Changed(bool AllItems)
{
    if (m_Collection && m_Collection->UpdateCount() == 0)
        m_Collection->Update(AllItems ? nullptr : this);
}

TCollection::TCollection() = default;

TCollection::~TCollection()
{
    m_UpdateCount = 1;
    Clear();
}

TCollectionItem *TCollection::Items(int Index) const
{
    if (Index < 0 || Index >= Count())
        throw EDatabaseError(Format(QString::fromLatin1(msg::kSListIndexError), Index));
    return m_Items[size_t(Index)];
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
        m_Items.erase(m_Items.begin() + from);
        m_Items.insert(m_Items.begin() + Index, item);
    }
    return item;
}

void TCollection::Delete(int Index)
{
    delete Items(Index);
}

void TCollection::Clear()
{
    if (m_Items.empty())
        return;
    BeginUpdate();
    m_Clearing = true;
    std::vector<TCollectionItem *> items;
    items.swap(m_Items);
    for (TCollectionItem *item : items) {
        item->m_Collection = nullptr;
        delete item;
    }
    m_Clearing = false;
    EndUpdate();
}

void TCollection::EndUpdate()
{
    if (m_UpdateCount > 0 && --m_UpdateCount == 0)
        Update(nullptr);
}

TCollectionItem *TCollection::FindItemID(int ID) const
{
    for (TCollectionItem *item : m_Items)
        if (item->m_Id == ID)
            return item;
    return nullptr;
}

void TCollection::InsertItem(TCollectionItem *Item, int Index)
{
    Item->m_Collection = this;
    Item->m_Id = m_NextId++;
    m_Items.insert(m_Items.begin() + Index, Item);
}

void TCollection::RemoveItem(TCollectionItem *Item)
{
    const auto it = std::find(m_Items.begin(), m_Items.end(), Item);
    if (it != m_Items.end())
        m_Items.erase(it);
    Item->m_Collection = nullptr;
    if (!m_Clearing && m_UpdateCount == 0)
        Update(nullptr);
}

void TNamedItem::SetName(const QString &Value)
{
    m_Name = Value;
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
