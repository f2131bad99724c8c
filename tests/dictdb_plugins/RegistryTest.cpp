#include "PluginTestUtil.h"

#include "dictdb/Compress_Zlib.h"
#include "dictdb/DataProcess.h"
#include "dictdb/Enc_Blowfish.h"
#include "dictdb/Enc_Gost.h"
#include "dictdb/Enc_Twofish.h"
#include "dataaccess/DBError.h"

#include <gtest/gtest.h>

#include <vector>

using plugintest::RandomBytes;

namespace {

// Test plug-ins registered under names the built-ins never use.
class TTestCompA : public TCompressAlgo
{
public:
    using TCompressAlgo::TCompressAlgo;
    void EncodeStream(TStream *, TStream *, qint64) override {}
    void DecodeStream(TStream *, TStream *, qint64) override {}
};
class TTestCompB : public TTestCompA
{
public:
    using TTestCompA::TTestCompA;
};
class TTestCompC : public TTestCompA
{
public:
    using TTestCompA::TTestCompA;
};

// A cipher that adds 1 to every byte, so that stream processing can be followed exactly.
class TTestCipher : public TEncryptAlgo
{
public:
    using TEncryptAlgo::TEncryptAlgo;
    void InitKey(const QString &) override {}
    void EncodeBuffer(const void *Source, void *Dest, int DataSize) override
    {
        for (int i = 0; i < DataSize; ++i)
            static_cast<quint8 *>(Dest)[i] = quint8(static_cast<const quint8 *>(Source)[i] + 1);
    }
    void DecodeBuffer(const void *Source, void *Dest, int DataSize) override
    {
        for (int i = 0; i < DataSize; ++i)
            static_cast<quint8 *>(Dest)[i] = quint8(static_cast<const quint8 *>(Source)[i] - 1);
    }
};

// A stream that answers only Limit bytes, as a source that ends early.
class TShortStream : public TMemoryStream
{
public:
    qint64 Limit = 0;
    qint64 Read(void *Buffer, qint64 Count) override
    {
        const qint64 left = Limit - Position();
        return TMemoryStream::Read(Buffer, std::min(Count, std::max<qint64>(left, 0)));
    }
};

QString ErrorOf(const std::function<void()> &Action)
{
    try {
        Action();
    } catch (const EDatabaseError &e) {
        return e.Message();
    }
    return QString();
}

} // namespace

TEST(PluginRegistry, BuiltinsAreFoundIgnoringCase)
{
    RegisterBuiltinDataProcessAlgos();
    RegisterBuiltinDataProcessAlgos();
    TCompressMgr comp(nullptr);
    comp.SetAlgoName(QStringLiteral("zlib"));
    EXPECT_NE(dynamic_cast<TCompAlgo_Zlib *>(comp.Algo()), nullptr);
    TEncryptMgr enc(nullptr);
    enc.SetAlgoName(QStringLiteral("BLOWFISH"));
    EXPECT_NE(dynamic_cast<TEncAlgo_Blowfish *>(enc.Algo()), nullptr);
    enc.SetAlgoName(QStringLiteral("twofish"));
    EXPECT_NE(dynamic_cast<TEncAlgo_Twofish *>(enc.Algo()), nullptr);
    enc.SetAlgoName(QStringLiteral("gOsT"));
    EXPECT_NE(dynamic_cast<TEncAlgo_Gost *>(enc.Algo()), nullptr);
    EXPECT_GE(IndexOfEncryptClass(QStringLiteral("Gost")), 0);
}

TEST(PluginRegistry, UnknownNamesAreRefusedAndAlgoKept)
{
    RegisterBuiltinDataProcessAlgos();
    TCompressMgr comp(nullptr);
    comp.SetAlgoName(QStringLiteral("ZLIB"));
    TDataProcessAlgo *before = comp.Algo();
    EXPECT_EQ(ErrorOf([&] { comp.SetAlgoName(QStringLiteral("LZMA")); }),
              QStringLiteral("Compression algorithm module 'LZMA' not found"));
    EXPECT_EQ(comp.Algo(), before);
    TEncryptMgr enc(nullptr);
    EXPECT_EQ(ErrorOf([&] { enc.SetAlgoName(QStringLiteral("AES")); }),
              QStringLiteral("Encryption algorithm module 'AES' not found"));
    EXPECT_EQ(enc.Algo(), nullptr);
}

TEST(PluginRegistry, RenameAndFirstRegisteredWins)
{
    RegisterCompressClass(TCompressAlgoClass::Of<TTestCompA>(), QStringLiteral("test-first"));
    RegisterCompressClass(TCompressAlgoClass::Of<TTestCompA>(), QStringLiteral("test-renamed"));
    EXPECT_LT(IndexOfCompressClass(QStringLiteral("test-first")), 0);
    TCompressMgr mgr(nullptr);
    mgr.SetAlgoName(QStringLiteral("TEST-RENAMED"));
    EXPECT_NE(dynamic_cast<TTestCompA *>(mgr.Algo()), nullptr);

    RegisterCompressClass(TCompressAlgoClass::Of<TTestCompB>(), QStringLiteral("test-dup"));
    RegisterCompressClass(TCompressAlgoClass::Of<TTestCompC>(), QStringLiteral("test-dup"));
    mgr.SetAlgoName(QStringLiteral("test-dup"));
    EXPECT_TRUE(TCompressAlgoClass::Of<TTestCompB>().IsClassOf(static_cast<TCompressAlgo *>(mgr.Algo())));
}

TEST(PluginManagers, NoAlgoIsGeneralError)
{
    TEncryptMgr enc(nullptr);
    TMemoryStream s;
    char b[4] = {};
    const QString general = QStringLiteral("General error");
    EXPECT_EQ(ErrorOf([&] { enc.EncodeStream(&s, &s, -1); }), general);
    EXPECT_EQ(ErrorOf([&] { enc.DecodeBuffer(b, b, 4); }), general);
    EXPECT_EQ(ErrorOf([&] { enc.SetMode(1); }), general);
    EXPECT_EQ(ErrorOf([&] { enc.SetPassword(QStringLiteral("x")); }), general);
    EXPECT_EQ(ErrorOf([&] { enc.Reset(); }), general);
    TCompressMgr comp(nullptr);
    EXPECT_EQ(ErrorOf([&] { comp.DecodeStream(&s, &s, -1); }), general);
}

TEST(PluginManagers, SameNameKeepsInstanceModeAndKey)
{
    RegisterBuiltinDataProcessAlgos();
    TEncryptMgr enc(nullptr);
    enc.SetAlgoName(QStringLiteral("Blowfish"));
    enc.SetMode(3);
    enc.SetPassword(QStringLiteral("key"));
    TDataProcessAlgo *first = enc.Algo();
    char plain[16] = "same key stays";
    char a[16], b[16];
    enc.EncodeBuffer(plain, a, 16);
    enc.SetAlgoName(QStringLiteral("blowfish"));
    EXPECT_EQ(enc.Algo(), first);
    EXPECT_EQ(static_cast<TEncryptAlgo *>(enc.Algo())->GetMode(), 3);
    // The manager resets the feedback after every buffer, so the same bytes come out again.
    enc.EncodeBuffer(plain, b, 16);
    EXPECT_EQ(QByteArray(a, 16), QByteArray(b, 16));
    enc.SetAlgoName(QStringLiteral("Gost"));
    EXPECT_NE(dynamic_cast<TEncAlgo_Gost *>(enc.Algo()), nullptr);
}

TEST(PluginManagers, ModesBeyondFourAreRefused)
{
    RegisterBuiltinDataProcessAlgos();
    TEncryptMgr enc(nullptr);
    enc.SetAlgoName(QStringLiteral("Twofish"));
    EXPECT_THROW(enc.SetMode(5), EDatabaseError);
    EXPECT_THROW(enc.SetMode(200), EDatabaseError);
    EXPECT_EQ(static_cast<TEncryptAlgo *>(enc.Algo())->GetMode(), 0);
}

TEST(PluginManagers, ProgressGoesThroughOwnerRelays)
{
    RegisterEncryptClass(TEncryptAlgoClass::Of<TTestCipher>(), QStringLiteral("test-plus-one"));
    QObject owner;
    TEncryptMgr enc(&owner);
    std::vector<int> reports;
    enc.OnEncodeProgress = [&](QObject *Sender, int Percent) {
        EXPECT_EQ(Sender, &owner);
        reports.push_back(Percent);
    };
    enc.SetAlgoName(QStringLiteral("test-plus-one"));
    TMemoryStream s;
    const QByteArray data = RandomBytes(10000, 1);
    s.WriteBuffer(data.constData(), data.size());
    enc.EncodeStream(&s, nullptr, -1);
    // 0, then per 4096-byte chunk, then a closing 0.
    EXPECT_EQ(reports, (std::vector<int>{0, 41, 82, 100, 0}));
    QByteArray expected = data;
    for (auto &c : expected)
        c = char(quint8(c) + 1);
    EXPECT_EQ(QByteArray(static_cast<const char *>(s.Memory()), data.size()), expected);
}

TEST(PluginStreams, DataSizeZeroReadsNothingAndReportsZeroTwice)
{
    TTestCipher cipher(nullptr);
    std::vector<int> reports;
    cipher.OnDecodeProgress = [&](QObject *, int Percent) { reports.push_back(Percent); };
    TMemoryStream src, dst;
    src.WriteBuffer("abc", 3);
    src.SetPosition(1);
    cipher.DecodeStream(&src, &dst, 0);
    EXPECT_EQ(reports, (std::vector<int>{0, 0}));
    EXPECT_EQ(dst.Size(), 0);
    EXPECT_EQ(src.Position(), 1);
    // Without Source nothing happens at all.
    cipher.DecodeStream(nullptr, &dst, -1);
    EXPECT_EQ(reports.size(), 2u);
}

TEST(PluginStreams, PositiveDataSizeStartsAtCurrentPositionAndShortSourceStops)
{
    TTestCipher cipher(nullptr);
    TShortStream src;
    src.WriteBuffer("ABCDEFGHIJ", 10);
    src.Limit = 6;
    src.SetPosition(2);
    TMemoryStream dst;
    cipher.EncodeStream(&src, &dst, 8);
    EXPECT_EQ(QByteArray(static_cast<const char *>(dst.Memory()), int(dst.Size())), QByteArray("DEFG"));
}

TEST(PluginStreams, ClosingReportAlsoWhenTheCipherRaises)
{
    RegisterBuiltinDataProcessAlgos();
    TEncryptMgr enc(nullptr);
    enc.SetAlgoName(QStringLiteral("Blowfish")); // never keyed
    std::vector<int> reports;
    enc.OnDecodeProgress = [&](QObject *, int Percent) { reports.push_back(Percent); };
    TMemoryStream s;
    s.WriteBuffer("0123456789", 10);
    EXPECT_THROW(enc.DecodeStream(&s, nullptr, -1), EEncryptException);
    EXPECT_EQ(reports, (std::vector<int>{0, 0}));
    EXPECT_EQ(QByteArray(static_cast<const char *>(s.Memory()), 10), QByteArray("0123456789"));
}
