#include "ui/ColorBox.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <thread>
#include <tuple>
#include <vector>

namespace {

constexpr quint32 Aqua = 0xFFFF00, Lime = 0x00FF00, Fuchsia = 0xFF00FF, Yellow = 0x00FFFF, Red = 0x0000FF;
const std::vector<quint32> Table = {Aqua, Lime, Fuchsia, Yellow, Red};

double Luma(quint32 C)
{
    return 0.299 * (C & 0xFF) + 0.587 * ((C >> 8) & 0xFF) + 0.114 * ((C >> 16) & 0xFF);
}

class ColorBoxTest : public ::testing::Test
{
protected:
    void SetUp() override { TColorBox::Reset(); }
    void TearDown() override { TColorBox::Reset(); }
};

TEST_F(ColorBoxTest, SequentialPickGivesTheTableInOrder)
{
    for (quint32 Expected : Table) {
        quint32 C = 1;
        EXPECT_TRUE(TColorBox::GetColor(C, false));
        EXPECT_EQ(C, Expected);
    }
    // Reset starts over with the first colour.
    TColorBox::Reset();
    quint8 R = 9, G = 9, B = 9;
    EXPECT_TRUE(TColorBox::TakeColor(R, G, B, false));
    EXPECT_EQ(R, 0);
    EXPECT_EQ(G, 255);
    EXPECT_EQ(B, 255);
}

TEST_F(ColorBoxTest, PicksBeyondTheTableStayDistinctAndVisible)
{
    // A machine with many processors asks for one colour each: none may be
    // black, repeat another, or vanish on the dark chart.
    std::set<quint32> Seen;
    for (int i = 0; i < 300; ++i) {
        quint32 C = 0;
        ASSERT_TRUE(TColorBox::GetColor(C, false)) << "pick " << i;
        ASSERT_NE(C, 0u) << "pick " << i;
        EXPECT_TRUE(Seen.insert(C).second) << "pick " << i << " repeats " << std::hex << C;
        if (i < TColorBox::kTableSize)
            continue;
        EXPECT_GE(Luma(C), 100.0) << "pick " << i;
        // Not white, the colour of the total line.
        EXPECT_LE(std::min({C & 0xFF, (C >> 8) & 0xFF, C >> 16}), 200u) << "pick " << i;
    }
    // The first picks after the table are clearly apart from it.
    quint8 R, G, B;
    for (int i = TColorBox::kTableSize; i < TColorBox::kTableSize + 6; ++i) {
        ASSERT_TRUE(TColorBox::ColorOfIndex(i, R, G, B));
        const quint32 C = R + G * 256u + B * 65536u;
        for (quint32 T : Table) {
            const int dr = int(C & 0xFF) - int(T & 0xFF), dg = int((C >> 8) & 0xFF) - int((T >> 8) & 0xFF),
                      db = int(C >> 16) - int(T >> 16);
            EXPECT_GE(dr * dr + dg * dg + db * db, 64 * 64) << "index " << i;
        }
    }
}

TEST_F(ColorBoxTest, IndexesKeepTheirColourAcrossResets)
{
    quint8 R1, G1, B1, R2, G2, B2;
    ASSERT_TRUE(TColorBox::ColorOfIndex(12, R1, G1, B1));
    for (int i = 0; i < 20; ++i)
        TColorBox::NextColorIndex();
    TColorBox::Reset();
    ASSERT_TRUE(TColorBox::ColorOfIndex(12, R2, G2, B2));
    EXPECT_EQ(std::tie(R1, G1, B1), std::tie(R2, G2, B2));
    EXPECT_FALSE(TColorBox::ColorOfIndex(-1, R1, G1, B1));
    EXPECT_EQ(R1 + G1 + B1, 0);
}

TEST_F(ColorBoxTest, RandomPickCoversTheTableAndNeverRepeats)
{
    std::set<int> FirstPicks;
    for (int Round = 0; Round < 200 && FirstPicks.size() < 5; ++Round) {
        TColorBox::Reset();
        FirstPicks.insert(TColorBox::RandomColorIndex());
    }
    EXPECT_EQ(FirstPicks, (std::set<int>{0, 1, 2, 3, 4}));

    TColorBox::Reset();
    std::set<quint32> Taken;
    for (int i = 0; i < 5; ++i) {
        quint32 C = 0;
        ASSERT_TRUE(TColorBox::GetColor(C, true));
        Taken.insert(C);
    }
    EXPECT_EQ(Taken, std::set<quint32>(Table.begin(), Table.end()));
    // The table is taken: the next random pick is the first generated colour.
    EXPECT_EQ(TColorBox::RandomColorIndex(), TColorBox::kTableSize);
}

TEST_F(ColorBoxTest, SequentialAndRandomPicksDoNotShareColours)
{
    EXPECT_EQ(TColorBox::NextColorIndex(), 0);
    std::set<int> Picked{0};
    for (int i = 0; i < 20; ++i) {
        const int Index = (i % 2) ? TColorBox::RandomColorIndex() : TColorBox::NextColorIndex();
        ASSERT_GE(Index, 0);
        EXPECT_TRUE(Picked.insert(Index).second) << "index " << Index << " handed out twice";
    }
}

TEST_F(ColorBoxTest, ReleasedColourIsHandedOutAgain)
{
    for (int i = 0; i < 5; ++i)
        TColorBox::RandomColorIndex();
    EXPECT_TRUE(TColorBox::ReleaseColor(2));
    EXPECT_FALSE(TColorBox::ReleaseColor(2)); // already free
    EXPECT_FALSE(TColorBox::ReleaseColor(-1));
    EXPECT_FALSE(TColorBox::ReleaseColor(1000)); // never handed out
    quint32 C = 0;
    ASSERT_TRUE(TColorBox::GetColor(C, true));
    EXPECT_EQ(C, Fuchsia);

    // The sequential pick passes over a colour taken at random.
    TColorBox::Reset();
    ASSERT_TRUE(TColorBox::GetColor(C, true));
    std::vector<quint32> Sequence;
    for (int i = 0; i < 4; ++i) {
        quint32 S = 0;
        ASSERT_TRUE(TColorBox::GetColor(S, false));
        Sequence.push_back(S);
    }
    EXPECT_EQ(std::count(Sequence.begin(), Sequence.end(), C), 0);
}

TEST_F(ColorBoxTest, ConcurrentPicksAreDistinct)
{
    constexpr int Threads = 8, PerThread = 40;
    std::vector<std::vector<quint32>> Results(Threads);
    std::vector<std::thread> Workers;
    for (int t = 0; t < Threads; ++t)
        Workers.emplace_back([t, &Results] {
            for (int i = 0; i < PerThread; ++i) {
                quint32 C = 0;
                if (TColorBox::GetColor(C, (t + i) % 3 == 0))
                    Results[size_t(t)].push_back(C);
            }
        });
    for (std::thread &W : Workers)
        W.join();
    std::set<quint32> All;
    size_t Count = 0;
    for (const auto &R : Results) {
        Count += R.size();
        All.insert(R.begin(), R.end());
    }
    EXPECT_EQ(Count, size_t(Threads * PerThread));
    EXPECT_EQ(All.size(), Count);
    for (quint32 T : Table)
        EXPECT_TRUE(All.count(T));
}

} // namespace
