// Any bytes given as a skin file are read or refused; never a crash, a hang or a huge allocation.
#include "skin/SkinFileReader.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size)
{
    static QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/taskvane-fuzz-skin-XXXXXX"));
    const QString name = dir.filePath(QStringLiteral("input.skn"));
    {
        QFile f(name);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        f.write(reinterpret_cast<const char *>(Data), qint64(Size));
    }
    try {
        Tsk2SkinFileReader reader(name, QStringLiteral("secret"));
        if (reader.Ready()) {
            for (const QString &n : reader.BitmapNames())
                (void)reader.GetBitmap(n);
        }
    } catch (const ESkinFileError &) {
    }
    // The raw inflater on its own, bounded output.
    QBuffer source;
    source.setData(reinterpret_cast<const char *>(Data), qsizetype(Size));
    source.open(QIODevice::ReadOnly);
    QBuffer sink;
    sink.open(QIODevice::WriteOnly);
    (void)InflateRaw(source, sink, 1 << 20);
    return 0;
}
