#pragma once

#include "dictdb/FilterParser.h"
#include "dataaccess/DateTime.h"

#include <QMap>

#include <cstring>
#include <vector>

// One record of a few fields in their stored formats, as a data set's active buffer
// holds them, for the filter to read.
class FakeRecord : public TFilterFieldSource
{
public:
    struct Field
    {
        QString Name;
        TFieldType Type;
        int Offset;
        int Size;
    };

    void AddField(const QString &Name, TFieldType Type, int Size)
    {
        m_fields.push_back(Field{Name, Type, int(m_buffer.size()), Size});
        m_buffer.resize(m_buffer.size() + size_t(Size), 0);
    }

    int FilterFieldIndex(const QString &Name) const override
    {
        for (size_t i = 0; i < m_fields.size(); ++i)
            if (m_fields[i].Name.compare(Name, Qt::CaseInsensitive) == 0)
                return int(i);
        return -1;
    }
    TFieldType FilterFieldType(int FieldIndex) const override { return m_fields[size_t(FieldIndex)].Type; }
    const char *FilterFieldData(int FieldIndex, int &Size) const override
    {
        const Field &f = m_fields[size_t(FieldIndex)];
        Size = f.Size;
        return m_buffer.data() + f.Offset;
    }
    QString FilterFieldText(int FieldIndex) const override { return m_texts.value(FieldIndex); }

    template <class T>
    void Set(const QString &Name, T Value)
    {
        const Field &f = m_fields[size_t(FilterFieldIndex(Name))];
        std::memcpy(m_buffer.data() + f.Offset, &Value, sizeof(T));
    }
    void SetText(const QString &Name, const QByteArray &Utf8)
    {
        const Field &f = m_fields[size_t(FilterFieldIndex(Name))];
        std::memset(m_buffer.data() + f.Offset, 0, size_t(f.Size));
        std::memcpy(m_buffer.data() + f.Offset, Utf8.constData(), size_t(std::min<qsizetype>(Utf8.size(), f.Size - 1)));
    }
    void SetBlobText(const QString &Name, const QString &Text) { m_texts[FilterFieldIndex(Name)] = Text; }
    // Moves the record to a new buffer, as a data set does when it reallocates one.
    void Reallocate() { std::vector<char>(m_buffer).swap(m_buffer); }

private:
    std::vector<Field> m_fields;
    std::vector<char> m_buffer;
    QMap<int, QString> m_texts;
};

inline qint32 DayNumber(int Y, int M, int D)
{
    return dataaccess::DateTimeToTimeStamp(dataaccess::EncodeDate(Y, M, D)).Date;
}

inline qint32 MSecsOfDay(int H, int N, int S, int MS)
{
    return ((H * 60 + N) * 60 + S) * 1000 + MS;
}

inline double MSecsOf(int Y, int M, int D, int H, int N, int S, int MS = 0)
{
    return double(DayNumber(Y, M, D)) * 86400000.0 + MSecsOfDay(H, N, S, MS);
}
