#pragma once

#include "dictdb/ClassRef.h"
#include "dataaccess/Streams.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

// Progress of the database component and of the compression and encryption plug-ins.
using TOnProgressEvent = std::function<void(QObject *Sender, int Percent)>;

// A stage the database engine passes stored data through (compression or encryption).
class TDataProcessAlgo
{
public:
    explicit TDataProcessAlgo(QObject *AOwner);
    TDataProcessAlgo(const TDataProcessAlgo &) = delete;
    TDataProcessAlgo &operator=(const TDataProcessAlgo &) = delete;
    virtual ~TDataProcessAlgo();

    // The object that created the algorithm (the database file object, or null); not owned.
    QObject *Owner() const { return m_Owner; }

    TOnProgressEvent OnEncodeProgress;
    TOnProgressEvent OnDecodeProgress;

    // A negative DataSize means all of Source from its start.
    virtual void EncodeStream(TStream *Source, TStream *Dest, qint64 DataSize) = 0;
    virtual void DecodeStream(TStream *Source, TStream *Dest, qint64 DataSize) = 0;

    // Round(Current / Total * 100), ties to even; 0 when Total is 0.
    static int ProgressPercent(qint64 Current, qint64 Total);

protected:
    // Fire the events with Owner as the sender.
    void EncodeProgress(int Percent);
    void DecodeProgress(int Percent);

private:
    QObject *m_Owner = nullptr;
};

class TCompressAlgo : public TDataProcessAlgo
{
public:
    using TDataProcessAlgo::TDataProcessAlgo;

    virtual void SetLevel(quint8 Level) { Q_UNUSED(Level); }
    virtual quint8 GetLevel() const { return 1; }
};

class TEncryptAlgo : public TDataProcessAlgo
{
public:
    using TDataProcessAlgo::TDataProcessAlgo;

    // Processes in 4096-byte chunks; Dest null means in place (Source and Dest may be one stream).
    void EncodeStream(TStream *Source, TStream *Dest, qint64 DataSize) override;
    void DecodeStream(TStream *Source, TStream *Dest, qint64 DataSize) override;

    virtual void SetMode(quint8 Mode) { Q_UNUSED(Mode); }
    virtual quint8 GetMode() const { return 0; }
    virtual void InitKey(const QString &Password) = 0;
    virtual void Reset() {}
    virtual void EncodeBuffer(const void *Source, void *Dest, int DataSize) = 0;
    virtual void DecodeBuffer(const void *Source, void *Dest, int DataSize) = 0;

private:
    void ProcessStream(TStream *Source, TStream *Dest, qint64 DataSize, bool Encode);
};

using TCompressAlgoClass = TClassRef<TCompressAlgo, QObject *>;
using TEncryptAlgoClass = TClassRef<TEncryptAlgo, QObject *>;

// Registries of plug-in classes by name. A class already registered keeps its place and takes
// the new name; otherwise the pair is appended (duplicate names allowed, the first one wins).
void RegisterCompressClass(const TCompressAlgoClass &AlgoClass, const QString &Name);
void RegisterEncryptClass(const TEncryptAlgoClass &AlgoClass, const QString &Name);

// Case-insensitive lookup of the first entry by that name; -1 / a null class when there is none.
int IndexOfCompressClass(const QString &Name);
int IndexOfEncryptClass(const QString &Name);
TCompressAlgoClass FindCompressClass(const QString &Name);
TEncryptAlgoClass FindEncryptClass(const QString &Name);

// Registers "ZLIB", "Blowfish", "Twofish" and "Gost". The engine's start-up calls it; calling it
// again does nothing.
void RegisterBuiltinDataProcessAlgos();

// Holds one instance of the plug-in class a database file names. Every operation that needs the
// algorithm raises the database error "General error" while none is selected.
class TDataProcessMgr
{
public:
    explicit TDataProcessMgr(QObject *AOwner);
    TDataProcessMgr(const TDataProcessMgr &) = delete;
    TDataProcessMgr &operator=(const TDataProcessMgr &) = delete;
    virtual ~TDataProcessMgr();

    QObject *Owner() const { return m_Owner; }
    TDataProcessAlgo *Algo() const { return m_Algo.get(); }

    // The owner's relays: every algorithm this manager creates reports its encode and decode
    // progress through them, with Owner as the sender.
    TOnProgressEvent OnEncodeProgress;
    TOnProgressEvent OnDecodeProgress;

    // Raises "... algorithm module '%s' not found" when no class has that name.
    virtual int IndexOfAlgo(const QString &Name) const
    {
        Q_UNUSED(Name);
        return -1;
    }
    // Keeps the current instance (and its settings) when it is already of the named class.
    virtual void SetAlgoName(const QString &Name) = 0;
    virtual void EncodeStream(TStream *Source, TStream *Dest, qint64 DataSize);
    virtual void DecodeStream(TStream *Source, TStream *Dest, qint64 DataSize);

protected:
    TDataProcessAlgo *CheckedAlgo() const;
    void InstallAlgo(TDataProcessAlgo *NewAlgo);

    std::unique_ptr<TDataProcessAlgo> m_Algo;

private:
    QObject *m_Owner = nullptr;
};

class TCompressMgr : public TDataProcessMgr
{
public:
    using TDataProcessMgr::TDataProcessMgr;

    int IndexOfAlgo(const QString &Name) const override;
    void SetAlgoName(const QString &Name) override;
};

class TEncryptMgr : public TDataProcessMgr
{
public:
    using TDataProcessMgr::TDataProcessMgr;

    int IndexOfAlgo(const QString &Name) const override;
    void SetAlgoName(const QString &Name) override;
    // Each stream and buffer starts again from the cipher's initial feedback.
    void EncodeStream(TStream *Source, TStream *Dest, qint64 DataSize) override;
    void DecodeStream(TStream *Source, TStream *Dest, qint64 DataSize) override;
    virtual void EncodeBuffer(const void *Source, void *Dest, int DataSize);
    virtual void DecodeBuffer(const void *Source, void *Dest, int DataSize);

    // Modes 0 to 4; any other mode is refused.
    void SetMode(quint8 Mode);
    void SetPassword(const QString &Password);
    void Reset();

private:
    TEncryptAlgo *Cipher() const;
};
