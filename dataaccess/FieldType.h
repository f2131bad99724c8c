#pragma once

#include <QtGlobal>

namespace dataaccess {

// Field types. Database files store these ordinals: never renumber or reorder.
enum TFieldType : quint8 {
    ftUnknown = 0,
    ftString = 1,
    ftSmallint = 2,
    ftInteger = 3,
    ftWord = 4,
    ftBoolean = 5,
    ftFloat = 6,
    ftCurrency = 7,
    ftBCD = 8,
    ftDate = 9,
    ftTime = 10,
    ftDateTime = 11,
    ftBytes = 12,
    ftVarBytes = 13,
    ftAutoInc = 14,
    ftBlob = 15,
    ftMemo = 16,
    ftGraphic = 17,
    ftFmtMemo = 18,
    ftParadoxOle = 19,
    ftDBaseOle = 20,
    ftTypedBinary = 21,
    ftCursor = 22,
    ftFixedChar = 23,
    ftWideString = 24,
    ftLargeint = 25,
    ftADT = 26,
    ftArray = 27,
    ftReference = 28,
    ftDataSet = 29,
    ftOraBlob = 30,
    ftOraClob = 31,
    ftVariant = 32,
    ftInterface = 33,
    ftIDispatch = 34,
    ftGuid = 35,
    ftTimeStamp = 36,
    ftFMTBcd = 37,
};

inline constexpr int kFieldTypeCount = 38;

// The types whose value lies outside the record (ftBlob..ftTypedBinary, ftOraBlob, ftOraClob).
constexpr bool IsBlobFieldType(int T)
{
    return (T >= ftBlob && T <= ftTypedBinary) || T == ftOraBlob || T == ftOraClob;
}

// The English name of a type ("String", "Integer", ...), "Unknown" out of range.
const char *FieldTypeName(int T);

} // namespace dataaccess

using dataaccess::TFieldType;
using enum dataaccess::TFieldType;
using dataaccess::IsBlobFieldType;
