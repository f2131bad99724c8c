#include "dictdb/DataProcess.h"

#include <cmath>
#include <mutex>
#include <vector>

namespace {

template <class TClass>
struct TRegistry
{
    struct TEntry
    {
        QString Name;
        TClass AlgoClass;
    };
    std::mutex Lock;
    std::vector<TEntry> Entries;

    void Register(const TClass &AlgoClass, const QString &Name)
    {
        if (AlgoClass.IsNull())
            return;
        std::lock_guard<std::mutex> guard(Lock);
        for (TEntry &e : Entries) {
            if (e.AlgoClass == AlgoClass) {
                e.Name = Name;
                return;
            }
        }
        Entries.push_back({Name, AlgoClass});
    }

    int IndexOf(const QString &Name)
    {
        std::lock_guard<std::mutex> guard(Lock);
        for (size_t i = 0; i < Entries.size(); ++i) {
            if (Entries[i].Name.compare(Name, Qt::CaseInsensitive) == 0)
                return int(i);
        }
        return -1;
    }

    TClass Find(const QString &Name)
    {
        std::lock_guard<std::mutex> guard(Lock);
        for (const TEntry &e : Entries) {
            if (e.Name.compare(Name, Qt::CaseInsensitive) == 0)
                return e.AlgoClass;
        }
        return TClass();
    }
};

// Created on first use rather than by a static initialiser that a static library may drop.
TRegistry<TCompressAlgoClass> &CompressRegistry()
{
    static TRegistry<TCompressAlgoClass> registry;
    return registry;
}

TRegistry<TEncryptAlgoClass> &EncryptRegistry()
{
    static TRegistry<TEncryptAlgoClass> registry;
    return registry;
}

const char *const kSGeneralError = "General error";
const char *const kSCompressNotFound = "Compression algorithm module '%s' not found";
const char *const kSEncryptNotFound = "Encryption algorithm module '%s' not found";
const char *const kSInvalidEncryptMode = "Encryption mode %d not supported";

} // namespace

// ---- registries ----

void RegisterCompressClass(const TCompressAlgoClass &AlgoClass, const QString &Name)
{
    CompressRegistry().Register(AlgoClass, Name);
}

void RegisterEncryptClass(const TEncryptAlgoClass &AlgoClass, const QString &Name)
{
    EncryptRegistry().Register(AlgoClass, Name);
}

int IndexOfCompressClass(const QString &Name)
{
    return CompressRegistry().IndexOf(Name);
}

int IndexOfEncryptClass(const QString &Name)
{
    return EncryptRegistry().IndexOf(Name);
}

TCompressAlgoClass FindCompressClass(const QString &Name)
{
    return CompressRegistry().Find(Name);
}

TEncryptAlgoClass FindEncryptClass(const QString &Name)
{
    return EncryptRegistry().Find(Name);
}

// ---- TDataProcessAlgo ----

TDataProcessAlgo::TDataProcessAlgo(QObject *AOwner) : m_Owner(AOwner) {}

TDataProcessAlgo::~TDataProcessAlgo() = default;

int TDataProcessAlgo::ProgressPercent(qint64 Current, qint64 Total)
{
    if (Total == 0)
        return 0;
    // nearbyint rounds ties to even in the default rounding mode.
    return int(std::nearbyint(double(Current) / double(Total) * 100.0));
}

void TDataProcessAlgo::EncodeProgress(int Percent)
{
    if (OnEncodeProgress)
        OnEncodeProgress(m_Owner, Percent);
}

void TDataProcessAlgo::DecodeProgress(int Percent)
{
    if (OnDecodeProgress)
        OnDecodeProgress(m_Owner, Percent);
}

// ---- TEncryptAlgo ----

void TEncryptAlgo::EncodeStream(TStream *Source, TStream *Dest, qint64 DataSize)
{
    ProcessStream(Source, Dest, DataSize, true);
}

void TEncryptAlgo::DecodeStream(TStream *Source, TStream *Dest, qint64 DataSize)
{
    ProcessStream(Source, Dest, DataSize, false);
}

void TEncryptAlgo::ProcessStream(TStream *Source, TStream *Dest, qint64 DataSize, bool Encode)
{
    if (!Source)
        return;
    if (!Dest)
        Dest = Source;
    if (DataSize < 0) {
        DataSize = Source->Size();
        Source->SetPosition(0);
    }
    auto progress = [this, Encode](qint64 Current, qint64 Total) {
        const int percent = ProgressPercent(Current, Total);
        if (Encode)
            EncodeProgress(percent);
        else
            DecodeProgress(percent);
    };
    progress(0, DataSize);
    constexpr qint64 kChunk = 4096; // a multiple of every cipher's block size
    std::unique_ptr<quint8[]> buffer(new quint8[kChunk]);
    qint64 destPos = Dest->Position();
    qint64 srcPos = Source->Position();
    qint64 remaining = DataSize;
    // The closing report runs however the loop ends (a handler may raise, so no destructor).
    try {
        while (remaining > 0) {
            Source->SetPosition(srcPos);
            const qint64 n = Source->Read(buffer.get(), std::min(remaining, kChunk));
            srcPos = Source->Position();
            if (n <= 0)
                break;
            if (Encode)
                EncodeBuffer(buffer.get(), buffer.get(), int(n));
            else
                DecodeBuffer(buffer.get(), buffer.get(), int(n));
            Dest->SetPosition(destPos);
            Dest->WriteBuffer(buffer.get(), n);
            destPos = Dest->Position();
            remaining -= n;
            progress(DataSize - remaining, DataSize);
        }
    } catch (...) {
        progress(0, 0);
        throw;
    }
    progress(0, 0);
}

// ---- TDataProcessMgr ----

TDataProcessMgr::TDataProcessMgr(QObject *AOwner) : m_Owner(AOwner) {}

TDataProcessMgr::~TDataProcessMgr() = default;

TDataProcessAlgo *TDataProcessMgr::CheckedAlgo() const
{
    if (!m_Algo)
        DatabaseError(QString::fromLatin1(kSGeneralError));
    return m_Algo.get();
}

void TDataProcessMgr::InstallAlgo(TDataProcessAlgo *NewAlgo)
{
    m_Algo.reset(NewAlgo);
    if (!NewAlgo)
        return;
    // The relays are read when progress fires, so the owner may assign them at any time.
    NewAlgo->OnEncodeProgress = [this](QObject *Sender, int Percent) {
        if (OnEncodeProgress)
            OnEncodeProgress(Sender, Percent);
    };
    NewAlgo->OnDecodeProgress = [this](QObject *Sender, int Percent) {
        if (OnDecodeProgress)
            OnDecodeProgress(Sender, Percent);
    };
}

void TDataProcessMgr::EncodeStream(TStream *Source, TStream *Dest, qint64 DataSize)
{
    CheckedAlgo()->EncodeStream(Source, Dest, DataSize);
}

void TDataProcessMgr::DecodeStream(TStream *Source, TStream *Dest, qint64 DataSize)
{
    CheckedAlgo()->DecodeStream(Source, Dest, DataSize);
}

// ---- TCompressMgr ----

int TCompressMgr::IndexOfAlgo(const QString &Name) const
{
    const int index = IndexOfCompressClass(Name);
    if (index < 0)
        DatabaseErrorFmt(QString::fromLatin1(kSCompressNotFound), Name);
    return index;
}

void TCompressMgr::SetAlgoName(const QString &Name)
{
    IndexOfAlgo(Name);
    const TCompressAlgoClass algoClass = FindCompressClass(Name);
    if (algoClass.IsNull())
        DatabaseErrorFmt(QString::fromLatin1(kSCompressNotFound), Name);
    auto *current = dynamic_cast<TCompressAlgo *>(m_Algo.get());
    if (current && algoClass.IsClassOf(current))
        return;
    InstallAlgo(algoClass.Create(Owner()));
}

// ---- TEncryptMgr ----

int TEncryptMgr::IndexOfAlgo(const QString &Name) const
{
    const int index = IndexOfEncryptClass(Name);
    if (index < 0)
        DatabaseErrorFmt(QString::fromLatin1(kSEncryptNotFound), Name);
    return index;
}

void TEncryptMgr::SetAlgoName(const QString &Name)
{
    IndexOfAlgo(Name);
    const TEncryptAlgoClass algoClass = FindEncryptClass(Name);
    if (algoClass.IsNull())
        DatabaseErrorFmt(QString::fromLatin1(kSEncryptNotFound), Name);
    auto *current = dynamic_cast<TEncryptAlgo *>(m_Algo.get());
    if (current && algoClass.IsClassOf(current))
        return;
    InstallAlgo(algoClass.Create(Owner()));
}

TEncryptAlgo *TEncryptMgr::Cipher() const
{
    return static_cast<TEncryptAlgo *>(CheckedAlgo());
}

void TEncryptMgr::EncodeStream(TStream *Source, TStream *Dest, qint64 DataSize)
{
    TEncryptAlgo *cipher = Cipher();
    cipher->EncodeStream(Source, Dest, DataSize);
    cipher->Reset();
}

void TEncryptMgr::DecodeStream(TStream *Source, TStream *Dest, qint64 DataSize)
{
    TEncryptAlgo *cipher = Cipher();
    cipher->DecodeStream(Source, Dest, DataSize);
    cipher->Reset();
}

void TEncryptMgr::EncodeBuffer(const void *Source, void *Dest, int DataSize)
{
    TEncryptAlgo *cipher = Cipher();
    cipher->EncodeBuffer(Source, Dest, DataSize);
    cipher->Reset();
}

void TEncryptMgr::DecodeBuffer(const void *Source, void *Dest, int DataSize)
{
    TEncryptAlgo *cipher = Cipher();
    cipher->DecodeBuffer(Source, Dest, DataSize);
    cipher->Reset();
}

void TEncryptMgr::SetMode(quint8 Mode)
{
    TEncryptAlgo *cipher = Cipher();
    // Modes beyond 4 would leave the data in plain text: refuse them rather than store it so.
    if (Mode > 4)
        DatabaseErrorFmt(QString::fromLatin1(kSInvalidEncryptMode), int(Mode));
    cipher->SetMode(Mode);
}

void TEncryptMgr::SetPassword(const QString &Password)
{
    Cipher()->InitKey(Password);
}

void TEncryptMgr::Reset()
{
    Cipher()->Reset();
}
