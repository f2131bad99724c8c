#include "dataaccess/FieldType.h"

namespace dataaccess {

const char *FieldTypeName(int t)
{
    static const char *const names[FieldTypeCount] = {
        "Unknown",    "String",    "SmallInt",  "Integer",    "Word",      "Boolean",     "Float",   "Currency",
        "BCD",        "Date",      "Time",      "DateTime",   "Bytes",     "VarBytes",    "AutoInc", "Blob",
        "Memo",       "Graphic",   "FmtMemo",   "ParadoxOle", "dBaseOle",  "TypedBinary", "Cursor",  "FixedChar",
        "WideString", "Largeint",  "ADT",       "Array",      "Reference", "DataSet",     "OraBlob", "OraClob",
        "Variant",    "Interface", "IDispatch", "Guid",       "TimeStamp", "FMTBcd"};
    if (t < 0 || t >= FieldTypeCount)
        return "Unknown";
    return names[t];
}

} // namespace dataaccess
