#include "dataaccess/FieldType.h"

namespace dataaccess {

const char *FieldTypeName(int T)
{
    static const char *const kNames[kFieldTypeCount] = {
        "Unknown",    "String",    "SmallInt",  "Integer",    "Word",      "Boolean",     "Float",   "Currency",
        "BCD",        "Date",      "Time",      "DateTime",   "Bytes",     "VarBytes",    "AutoInc", "Blob",
        "Memo",       "Graphic",   "FmtMemo",   "ParadoxOle", "dBaseOle",  "TypedBinary", "Cursor",  "FixedChar",
        "WideString", "Largeint",  "ADT",       "Array",      "Reference", "DataSet",     "OraBlob", "OraClob",
        "Variant",    "Interface", "IDispatch", "Guid",       "TimeStamp", "FMTBcd"};
    if (T < 0 || T >= kFieldTypeCount)
        return "Unknown";
    return kNames[T];
}

} // namespace dataaccess
