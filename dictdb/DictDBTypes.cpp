#include "dictdb/DictDBTypes.h"

#include <algorithm>
#include <cstring>

namespace dictdb {

int Utf8CutLength(const char *Data, int Length, int MaxBytes)
{
    if (Length <= MaxBytes)
        return Length < 0 ? 0 : Length;
    int n = MaxBytes < 0 ? 0 : MaxBytes;
    // Step back over continuation bytes so that the cut falls before a lead byte.
    while (n > 0 && (quint8(Data[n]) & 0xC0) == 0x80)
        --n;
    return n;
}

QString SlotText(const char *Slot, int Size)
{
    if (Size <= 0)
        return QString();
    const void *nul = std::memchr(Slot, 0, size_t(Size));
    const int len = nul ? int(static_cast<const char *>(nul) - Slot) : Size;
    return QString::fromUtf8(Slot, len);
}

void SetSlotText(char *Slot, int Size, const QString &Text)
{
    if (Size <= 0)
        return;
    const QByteArray bytes = Text.toUtf8();
    const int n = Utf8CutLength(bytes.constData(), int(bytes.size()), Size - 1);
    std::memset(Slot, 0, size_t(Size));
    std::memcpy(Slot, bytes.constData(), size_t(n));
}

} // namespace dictdb

// ---- TRecInfoList ----

namespace {

// A chunk that grows beyond this is split in two halves.
constexpr size_t kChunkMax = 1024;

} // namespace

size_t TRecInfoList::ChunkOf(size_t Index, size_t &Offset) const
{
    Q_ASSERT(Index < m_Size);
    const auto it = std::upper_bound(m_Starts.begin(), m_Starts.end(), Index);
    const size_t chunk = size_t(it - m_Starts.begin()) - 1;
    Offset = Index - m_Starts[chunk];
    return chunk;
}

const TRecInfo &TRecInfoList::operator[](size_t Index) const
{
    size_t offset = 0;
    const size_t chunk = ChunkOf(Index, offset);
    return m_Chunks[chunk][offset];
}

TRecInfo &TRecInfoList::operator[](size_t Index)
{
    size_t offset = 0;
    const size_t chunk = ChunkOf(Index, offset);
    return m_Chunks[chunk][offset];
}

void TRecInfoList::Renumber(size_t FromChunk)
{
    size_t start = FromChunk == 0 ? 0 : m_Starts[FromChunk - 1] + m_Chunks[FromChunk - 1].size();
    for (size_t c = FromChunk; c < m_Chunks.size(); ++c) {
        m_Starts[c] = start;
        start += m_Chunks[c].size();
    }
}

void TRecInfoList::push_back(const TRecInfo &Value)
{
    if (m_Chunks.empty() || m_Chunks.back().size() >= kChunkMax) {
        m_Chunks.emplace_back();
        m_Chunks.back().reserve(kChunkMax);
        m_Starts.push_back(m_Size);
    }
    m_Chunks.back().push_back(Value);
    ++m_Size;
}

TRecInfoList::iterator TRecInfoList::insert(const_iterator Pos, const TRecInfo &Value)
{
    const size_t index = size_t(Pos.Index());
    Q_ASSERT(index <= m_Size);
    if (index == m_Size) {
        push_back(Value);
        return iterator(this, std::ptrdiff_t(index));
    }
    size_t offset = 0;
    const size_t chunk = ChunkOf(index, offset);
    std::vector<TRecInfo> &c = m_Chunks[chunk];
    c.insert(c.begin() + std::ptrdiff_t(offset), Value);
    ++m_Size;
    if (c.size() > kChunkMax) {
        std::vector<TRecInfo> tail(c.begin() + std::ptrdiff_t(c.size() / 2), c.end());
        c.resize(c.size() / 2);
        m_Chunks.insert(m_Chunks.begin() + std::ptrdiff_t(chunk) + 1, std::move(tail));
        m_Starts.insert(m_Starts.begin() + std::ptrdiff_t(chunk) + 1, 0);
    }
    Renumber(chunk + 1);
    return iterator(this, std::ptrdiff_t(index));
}

TRecInfoList::iterator TRecInfoList::erase(const_iterator Pos)
{
    const size_t index = size_t(Pos.Index());
    Q_ASSERT(index < m_Size);
    size_t offset = 0;
    const size_t chunk = ChunkOf(index, offset);
    std::vector<TRecInfo> &c = m_Chunks[chunk];
    c.erase(c.begin() + std::ptrdiff_t(offset));
    --m_Size;
    if (c.empty()) {
        m_Chunks.erase(m_Chunks.begin() + std::ptrdiff_t(chunk));
        m_Starts.erase(m_Starts.begin() + std::ptrdiff_t(chunk));
        if (chunk < m_Chunks.size())
            Renumber(chunk);
    } else {
        Renumber(chunk + 1);
    }
    return iterator(this, std::ptrdiff_t(index));
}

void TRecInfoList::clear()
{
    m_Chunks.clear();
    m_Starts.clear();
    m_Size = 0;
}

bool TRecInfoList::operator==(const TRecInfoList &Other) const
{
    return m_Size == Other.m_Size && std::equal(begin(), end(), Other.begin());
}
