#include "ui/ColorBox.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <random>
#include <unordered_set>
#include <vector>

namespace {

struct TRGB
{
    quint8 Red, Green, Blue;
};

constexpr TRGB kColorTable[TColorBox::kTableSize] = {
    {0, 255, 255}, // aqua
    {0, 255, 0},   // lime
    {255, 0, 255}, // fuchsia
    {255, 255, 0}, // yellow
    {255, 0, 0},   // red
};

quint32 PackRGB(const TRGB &C)
{
    return quint32(C.Red) + quint32(C.Green) * 256u + quint32(C.Blue) * 65536u;
}

TRGB FromHSV(double Hue, double Sat, double Val)
{
    const double c = Val * Sat;
    const double h = Hue / 60.0;
    const double x = c * (1.0 - std::fabs(std::fmod(h, 2.0) - 1.0));
    double r = 0, g = 0, b = 0;
    switch (int(h) % 6) {
    case 0:
        r = c;
        g = x;
        break;
    case 1:
        r = x;
        g = c;
        break;
    case 2:
        g = c;
        b = x;
        break;
    case 3:
        g = x;
        b = c;
        break;
    case 4:
        r = x;
        b = c;
        break;
    default:
        r = c;
        b = x;
        break;
    }
    const double m = Val - c;
    auto byte = [m](double V) { return quint8(std::lround(std::clamp((V + m) * 255.0, 0.0, 255.0))); };
    return {byte(r), byte(g), byte(b)};
}

// The charts are drawn on dark blue with a white total line: a generated
// colour must stand out from the one and differ from the other.
bool IsVisibleOnChart(const TRGB &C)
{
    const double luma = 0.299 * C.Red + 0.587 * C.Green + 0.114 * C.Blue;
    const int lo = std::min({C.Red, C.Green, C.Blue});
    return luma >= 100.0 && lo <= 200;
}

int Distance(const TRGB &A, const TRGB &B)
{
    const int dr = A.Red - B.Red, dg = A.Green - B.Green, db = A.Blue - B.Blue;
    return int(std::lround(std::sqrt(double(dr * dr + dg * dg + db * db))));
}

struct TPoolState
{
    std::mutex Lock;
    int LastIndex = -1;
    std::vector<bool> InUse = std::vector<bool>(TColorBox::kTableSize, false);
    // Colours of the indexes from kTableSize on, made when first needed; an
    // index keeps its colour for the whole run so that releasing and picking
    // again never changes what an index means.
    std::vector<TRGB> Generated;
    std::unordered_set<quint32> Known;
    quint32 Candidate = 0;
    int MinDistance = 96;
    std::mt19937 Random{std::random_device{}()};

    TPoolState()
    {
        for (const TRGB &c : kColorTable)
            Known.insert(PackRGB(c));
    }

    TRGB CandidateColor(quint32 J) const
    {
        static constexpr double kSats[] = {1.0, 0.55, 0.8, 0.4};
        static constexpr double kVals[] = {1.0, 0.85, 0.7};
        const double hue = std::fmod(30.0 + J * 137.50776405003785, 360.0);
        const quint32 ring = J / 16;
        return FromHSV(hue, kSats[ring % 4], kVals[(ring / 4) % 3]);
    }

    bool FarFromAll(const TRGB &C) const
    {
        for (const TRGB &t : kColorTable)
            if (Distance(C, t) < MinDistance)
                return false;
        for (const TRGB &g : Generated)
            if (Distance(C, g) < MinDistance)
                return false;
        return true;
    }

    // Makes the next generated colour: the first candidate far enough from
    // every colour so far; the required distance shrinks when the candidates
    // run dry, down to plain difference.
    bool GenerateOne()
    {
        int misses = 0;
        while (Candidate < (1u << 20)) {
            const TRGB c = CandidateColor(Candidate++);
            const quint32 value = PackRGB(c);
            if (IsVisibleOnChart(c) && !Known.count(value) && (MinDistance == 0 || FarFromAll(c))) {
                Generated.push_back(c);
                Known.insert(value);
                return true;
            }
            if (++misses >= 512 && MinDistance > 0) {
                MinDistance /= 2;
                misses = 0;
            }
        }
        return false;
    }

    bool EnsureIndex(int Index)
    {
        while (int(Generated.size()) + TColorBox::kTableSize <= Index)
            if (!GenerateOne())
                return false;
        if (int(InUse.size()) <= Index)
            InUse.resize(size_t(Index) + 1, false);
        return true;
    }

    bool Channels(int Index, TRGB &Out)
    {
        if (Index < 0)
            return false;
        if (Index < TColorBox::kTableSize) {
            Out = kColorTable[Index];
            return true;
        }
        if (!EnsureIndex(Index))
            return false;
        Out = Generated[size_t(Index - TColorBox::kTableSize)];
        return true;
    }
};

TPoolState &Pool()
{
    static TPoolState state;
    return state;
}

} // namespace

int TColorBox::NextColorIndex()
{
    TPoolState &s = Pool();
    std::lock_guard<std::mutex> guard(s.Lock);
    if (s.LastIndex < -1)
        s.LastIndex = -1;
    for (int i = s.LastIndex + 1; i >= 0; ++i) {
        if (!s.EnsureIndex(i))
            return -1;
        if (!s.InUse[size_t(i)]) {
            s.LastIndex = i;
            s.InUse[size_t(i)] = true;
            return i;
        }
    }
    return -1;
}

int TColorBox::RandomColorIndex()
{
    TPoolState &s = Pool();
    std::lock_guard<std::mutex> guard(s.Lock);
    std::vector<int> free;
    for (int i = 0; i < kTableSize; ++i)
        if (!s.InUse[size_t(i)])
            free.push_back(i);
    int index = -1;
    if (!free.empty()) {
        index = free[std::uniform_int_distribution<size_t>(0, free.size() - 1)(s.Random)];
    } else {
        for (int i = kTableSize; index < 0; ++i) {
            if (!s.EnsureIndex(i))
                return -1;
            if (!s.InUse[size_t(i)])
                index = i;
        }
    }
    s.InUse[size_t(index)] = true;
    return index;
}

bool TColorBox::TakeColor(quint8 &Red, quint8 &Green, quint8 &Blue, bool Random)
{
    Red = Green = Blue = 0;
    const int index = Random ? RandomColorIndex() : NextColorIndex();
    return ColorOfIndex(index, Red, Green, Blue);
}

bool TColorBox::GetColor(quint32 &Color, bool Random)
{
    quint8 r = 0, g = 0, b = 0;
    const bool ok = TakeColor(r, g, b, Random);
    Color = quint32(r) + quint32(g) * 256u + quint32(b) * 65536u;
    return ok;
}

bool TColorBox::ColorOfIndex(int Index, quint8 &Red, quint8 &Green, quint8 &Blue)
{
    Red = Green = Blue = 0;
    if (Index < 0)
        return false;
    TRGB c{0, 0, 0};
    if (Index < kTableSize) {
        c = kColorTable[Index];
    } else {
        TPoolState &s = Pool();
        std::lock_guard<std::mutex> guard(s.Lock);
        if (!s.Channels(Index, c))
            return false;
    }
    Red = c.Red;
    Green = c.Green;
    Blue = c.Blue;
    return true;
}

bool TColorBox::ReleaseColor(int Index)
{
    TPoolState &s = Pool();
    std::lock_guard<std::mutex> guard(s.Lock);
    if (Index < 0 || size_t(Index) >= s.InUse.size() || !s.InUse[size_t(Index)])
        return false;
    s.InUse[size_t(Index)] = false;
    return true;
}

void TColorBox::Reset()
{
    // Locked: a reset may come while other threads pick.
    TPoolState &s = Pool();
    std::lock_guard<std::mutex> guard(s.Lock);
    s.LastIndex = -1;
    std::fill(s.InUse.begin(), s.InUse.end(), false);
}
