#include "platform/files/PlainName.h"

#include <QFile>
#include <QString>

#include <climits>

namespace platform::files {

static_assert(kMaxNameBytes == NAME_MAX);

bool IsPlainName(QByteArrayView Name)
{
    return !Name.isEmpty() && Name.size() <= kMaxNameBytes && Name != "." && Name != ".." && !Name.contains('/') &&
        !Name.contains('\0');
}

bool IsPlainName(QStringView Name)
{
    return IsPlainName(QByteArrayView(QFile::encodeName(Name.toString())));
}

} // namespace platform::files
