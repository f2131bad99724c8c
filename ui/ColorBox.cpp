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

constexpr TRGB ColorTable[TColorBox::TableSize] = {
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
    auto Byte = [m](double v) { return quint8(std::lround(std::clamp((v + m) * 255.0, 0.0, 255.0))); };
    return {Byte(r), Byte(g), Byte(b)};
}

// The charts are drawn on dark blue with a white total line: a generated
// colour must stand out from the one and differ from the other.
bool IsVisibleOnChart(const TRGB &C)
{
    const double Luma = 0.299 * C.Red + 0.587 * C.Green + 0.114 * C.Blue;
    const int Lo = std::min({C.Red, C.Green, C.Blue});
    return Luma >= 100.0 && Lo <= 200;
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
    std::vector<bool> InUse = std::vector<bool>(TColorBox::TableSize, false);
    // Colours of the indexes from TableSize on, made when first needed; an
    // index keeps its colour for the whole run so that releasing and picking
    // again never changes what an index means.
    std::vector<TRGB> Generated;
    std::unordered_set<quint32> Known;
    quint32 Candidate = 0;
    int MinDistance = 96;
    std::mt19937 Random{std::random_device{}()};

    TPoolState()
    {
        for (const TRGB &C : ColorTable)
            Known.insert(PackRGB(C));
    }

    TRGB CandidateColor(quint32 J) const
    {
        static constexpr double Sats[] = {1.0, 0.55, 0.8, 0.4};
        static constexpr double Vals[] = {1.0, 0.85, 0.7};
        const double Hue = std::fmod(30.0 + J * 137.50776405003785, 360.0);
        const quint32 Ring = J / 16;
        return FromHSV(Hue, Sats[Ring % 4], Vals[(Ring / 4) % 3]);
    }

    bool FarFromAll(const TRGB &C) const
    {
        for (const TRGB &T : ColorTable)
            if (Distance(C, T) < MinDistance)
                return false;
        for (const TRGB &G : Generated)
            if (Distance(C, G) < MinDistance)
                return false;
        return true;
    }

    // Makes the next generated colour: the first candidate far enough from
    // every colour so far; the required distance shrinks when the candidates
    // run dry, down to plain difference.
    bool GenerateOne()
    {
        int Misses = 0;
        while (Candidate < (1u << 20)) {
            const TRGB C = CandidateColor(Candidate++);
            const quint32 Value = PackRGB(C);
            if (IsVisibleOnChart(C) && !Known.count(Value) && (MinDistance == 0 || FarFromAll(C))) {
                Generated.push_back(C);
                Known.insert(Value);
                return true;
            }
            if (++Misses >= 512 && MinDistance > 0) {
                MinDistance /= 2;
                Misses = 0;
            }
        }
        return false;
    }

    bool EnsureIndex(int Index)
    {
        while (int(Generated.size()) + TColorBox::TableSize <= Index)
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
        if (Index < TColorBox::TableSize) {
            Out = ColorTable[Index];
            return true;
        }
        if (!EnsureIndex(Index))
            return false;
        Out = Generated[size_t(Index - TColorBox::TableSize)];
        return true;
    }
};

TPoolState &Pool()
{
    static TPoolState State;
    return State;
}

} // namespace

int TColorBox::NextColorIndex()
{
    TPoolState &S = Pool();
    std::lock_guard<std::mutex> Guard(S.Lock);
    if (S.LastIndex < -1)
        S.LastIndex = -1;
    for (int i = S.LastIndex + 1; i >= 0; ++i) {
        if (!S.EnsureIndex(i))
            return -1;
        if (!S.InUse[size_t(i)]) {
            S.LastIndex = i;
            S.InUse[size_t(i)] = true;
            return i;
        }
    }
    return -1;
}

int TColorBox::RandomColorIndex()
{
    TPoolState &S = Pool();
    std::lock_guard<std::mutex> Guard(S.Lock);
    std::vector<int> Free;
    for (int i = 0; i < TableSize; ++i)
        if (!S.InUse[size_t(i)])
            Free.push_back(i);
    int Index = -1;
    if (!Free.empty()) {
        Index = Free[std::uniform_int_distribution<size_t>(0, Free.size() - 1)(S.Random)];
    } else {
        for (int i = TableSize; Index < 0; ++i) {
            if (!S.EnsureIndex(i))
                return -1;
            if (!S.InUse[size_t(i)])
                Index = i;
        }
    }
    S.InUse[size_t(Index)] = true;
    return Index;
}

bool TColorBox::TakeColor(quint8 &Red, quint8 &Green, quint8 &Blue, bool Random)
{
    Red = Green = Blue = 0;
    const int Index = Random ? RandomColorIndex() : NextColorIndex();
    return ColorOfIndex(Index, Red, Green, Blue);
}

bool TColorBox::GetColor(quint32 &Color, bool Random)
{
    quint8 R = 0, G = 0, B = 0;
    const bool Ok = TakeColor(R, G, B, Random);
    Color = quint32(R) + quint32(G) * 256u + quint32(B) * 65536u;
    return Ok;
}

bool TColorBox::ColorOfIndex(int Index, quint8 &Red, quint8 &Green, quint8 &Blue)
{
    Red = Green = Blue = 0;
    if (Index < 0)
        return false;
    TRGB C{0, 0, 0};
    if (Index < TableSize) {
        C = ColorTable[Index];
    } else {
        TPoolState &S = Pool();
        std::lock_guard<std::mutex> Guard(S.Lock);
        if (!S.Channels(Index, C))
            return false;
    }
    Red = C.Red;
    Green = C.Green;
    Blue = C.Blue;
    return true;
}

bool TColorBox::ReleaseColor(int Index)
{
    TPoolState &S = Pool();
    std::lock_guard<std::mutex> Guard(S.Lock);
    if (Index < 0 || size_t(Index) >= S.InUse.size() || !S.InUse[size_t(Index)])
        return false;
    S.InUse[size_t(Index)] = false;
    return true;
}

void TColorBox::Reset()
{
    // Locked: a reset may come while other threads pick.
    TPoolState &S = Pool();
    std::lock_guard<std::mutex> Guard(S.Lock);
    S.LastIndex = -1;
    std::fill(S.InUse.begin(), S.InUse.end(), false);
}
