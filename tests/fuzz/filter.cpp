// Any filter text either parses and evaluates against a fixed record, or is refused with
// the engine's or the platform's exception; it never crashes, hangs or leaks.

#include "dictdb/FilterParser.h"

#include <QVariant>

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

class FixedRecord : public TFilterFieldSource
{
public:
    FixedRecord()
    {
        Add("I", ftInteger, 4, "\x05\x00\x00\x00");
        Add("SI", ftSmallint, 2, "\xfd\xff");
        Add("W", ftWord, 2, "\xff\xff");
        Add("L", ftLargeint, 8, "\x01\x00\x00\x00\x00\x00\x20\x00");
        Add("F", ftFloat, 8, "\x00\x00\x00\x00\x00\x00\x04\x40");    // 2.5
        Add("C", ftCurrency, 8, "\x00\x00\x00\x00\x00\x00\xf0\x7f"); // infinity
        Add("A", ftAutoInc, 4, "\xff\xff\xff\x7f");
        Add("B", ftBoolean, 2, "\x00\x01");
        Add("S", ftString, 11, "Abc");
        Add("FC", ftFixedChar, 6, "xyzxyz"); // no NUL: the reader must stop at the slot's end
        Add("D", ftDate, 4, "\x7e\x27\x0b\x00");
        Add("T", ftTime, 4, "\x80\xee\x36\x02");
        Add("DT", ftDateTime, 8, "\x00\x00\x00\x00\x00\x00\xf8\x7f"); // NaN
        Add("M", ftMemo, 4, "");
        Add("X", ftBytes, 4, "");
    }

    int FilterFieldIndex(const QString &Name) const override
    {
        for (size_t i = 0; i < m_names.size(); ++i)
            if (m_names[i].compare(Name, Qt::CaseInsensitive) == 0)
                return int(i);
        return -1;
    }
    TFieldType FilterFieldType(int FieldIndex) const override { return m_types[size_t(FieldIndex)]; }
    const char *FilterFieldData(int FieldIndex, int &Size) const override
    {
        Size = m_sizes[size_t(FieldIndex)];
        return m_buffer.data() + m_offsets[size_t(FieldIndex)];
    }
    QString FilterFieldText(int) const override { return QStringLiteral("a memo\twith \xe6\x96\x87"); }

private:
    void Add(const char *Name, TFieldType Type, int Size, const char *Bytes)
    {
        m_names.push_back(QString::fromLatin1(Name));
        m_types.push_back(Type);
        m_sizes.push_back(Size);
        m_offsets.push_back(int(m_buffer.size()));
        m_buffer.resize(m_buffer.size() + size_t(Size), 0);
        std::memcpy(m_buffer.data() + m_offsets.back(), Bytes, std::min<size_t>(std::strlen(Bytes), size_t(Size)));
    }

    std::vector<QString> m_names;
    std::vector<TFieldType> m_types;
    std::vector<int> m_sizes;
    std::vector<int> m_offsets;
    std::vector<char> m_buffer;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size)
{
    static FixedRecord record;
    if (Size > 4096)
        return 0;
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(Data), qsizetype(Size));
    TFilterParser parser(&record);
    try {
        parser.Parse(text);
        for (TFilterOptions options :
             {TFilterOptions(), TFilterOptions(foCaseInsensitive), TFilterOptions(foNoPartialCompare)}) {
            QVariant result;
            parser.Evaluate(options, result);
        }
    } catch (const dataaccess::Exception &) {
        // A refusal: the database error, or the platform's conversion or division error.
    }
    return 0;
}
