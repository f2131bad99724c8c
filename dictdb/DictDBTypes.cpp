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
    Q_ASSERT(Index < m_size);
    const auto it = std::upper_bound(m_starts.begin(), m_starts.end(), Index);
    const size_t chunk = size_t(it - m_starts.begin()) - 1;
    Offset = Index - m_starts[chunk];
    return chunk;
}

const TRecInfo &TRecInfoList::operator[](size_t Index) const
{
    size_t offset = 0;
    const size_t chunk = ChunkOf(Index, offset);
    return m_chunks[chunk][offset];
}

TRecInfo &TRecInfoList::operator[](size_t Index)
{
    size_t offset = 0;
    const size_t chunk = ChunkOf(Index, offset);
    return m_chunks[chunk][offset];
}

void TRecInfoList::Renumber(size_t FromChunk)
{
    size_t start = FromChunk == 0 ? 0 : m_starts[FromChunk - 1] + m_chunks[FromChunk - 1].size();
    for (size_t c = FromChunk; c < m_chunks.size(); ++c) {
        m_starts[c] = start;
        start += m_chunks[c].size();
    }
}

void TRecInfoList::push_back(const TRecInfo &Value)
{
    if (m_chunks.empty() || m_chunks.back().size() >= kChunkMax) {
        m_chunks.emplace_back();
        m_chunks.back().reserve(kChunkMax);
        m_starts.push_back(m_size);
    }
    m_chunks.back().push_back(Value);
    ++m_size;
}

TRecInfoList::iterator TRecInfoList::insert(const_iterator Pos, const TRecInfo &Value)
{
    const size_t index = size_t(Pos.Index());
    Q_ASSERT(index <= m_size);
    if (index == m_size) {
        push_back(Value);
        return iterator(this, std::ptrdiff_t(index));
    }
    size_t offset = 0;
    const size_t chunk = ChunkOf(index, offset);
    std::vector<TRecInfo> &c = m_chunks[chunk];
    c.insert(c.begin() + std::ptrdiff_t(offset), Value);
    ++m_size;
    if (c.size() > kChunkMax) {
        std::vector<TRecInfo> tail(c.begin() + std::ptrdiff_t(c.size() / 2), c.end());
        c.resize(c.size() / 2);
        m_chunks.insert(m_chunks.begin() + std::ptrdiff_t(chunk) + 1, std::move(tail));
        m_starts.insert(m_starts.begin() + std::ptrdiff_t(chunk) + 1, 0);
    }
    Renumber(chunk + 1);
    return iterator(this, std::ptrdiff_t(index));
}

TRecInfoList::iterator TRecInfoList::erase(const_iterator Pos)
{
    const size_t index = size_t(Pos.Index());
    Q_ASSERT(index < m_size);
    size_t offset = 0;
    const size_t chunk = ChunkOf(index, offset);
    std::vector<TRecInfo> &c = m_chunks[chunk];
    c.erase(c.begin() + std::ptrdiff_t(offset));
    --m_size;
    if (c.empty()) {
        m_chunks.erase(m_chunks.begin() + std::ptrdiff_t(chunk));
        m_starts.erase(m_starts.begin() + std::ptrdiff_t(chunk));
        if (chunk < m_chunks.size())
            Renumber(chunk);
    } else {
        Renumber(chunk + 1);
    }
    return iterator(this, std::ptrdiff_t(index));
}

void TRecInfoList::clear()
{
    m_chunks.clear();
    m_starts.clear();
    m_size = 0;
}

bool TRecInfoList::operator==(const TRecInfoList &Other) const
{
    return m_size == Other.m_size && std::equal(begin(), end(), Other.begin());
}
