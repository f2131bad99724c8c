#pragma once

// An IPv4 address in the tables' form: the four bytes in network order.

#include <QtGlobal>

#include <cstring>

namespace nettest {

inline quint32 Addr(int a, int b, int c, int d)
{
    const unsigned char bytes[4] = {quint8(a), quint8(b), quint8(c), quint8(d)};
    quint32 v = 0;
    std::memcpy(&v, bytes, 4);
    return v;
}

} // namespace nettest
