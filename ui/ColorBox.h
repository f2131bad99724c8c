#pragma once

#include <QtGlobal>

// Hands out distinct line colours for the chart series made at run time (one
// per processor). The first five come from a fixed table; later picks get
// further bright colours, each different from every other colour handed out,
// so that machines with many processors still tell their lines apart.
//
// A picked colour is marked in use until it is released or the pool is reset:
// neither pick hands out a colour that is in use. Any thread may call in.
class TColorBox
{
public:
    TColorBox() = delete;

    // Number of colours in the fixed table; indexes from here on are generated.
    static constexpr int kTableSize = 5;

    // The sequential pick: the index after the last one handed out, passing
    // over colours in use.
    static int NextColorIndex();
    // The random pick: a free table colour chosen at random, or the lowest
    // free generated colour once the table is taken.
    static int RandomColorIndex();

    // Picks a colour and copies its channels out; false (and all 0) only when
    // no colour could be picked.
    static bool TakeColor(quint8 &Red, quint8 &Green, quint8 &Blue, bool Random);
    // As TakeColor, as a colour value red + green * 256 + blue * 65536.
    static bool GetColor(quint32 &Color, bool Random);

    // The channels of the colour with this index; false for a negative index.
    static bool ColorOfIndex(int Index, quint8 &Red, quint8 &Green, quint8 &Blue);

    // Gives a picked colour back to the pool so that a pick may hand it out
    // again; false when the index was not in use.
    static bool ReleaseColor(int Index);

    // Forgets every pick: the sequential pick starts at index 0 again and all
    // colours are free.
    static void Reset();
};
