// Build-time tool: turns the process list into the dictionary database Ravel.db.
//
//   taskvane_mkdict <processes.txt> <version.txt> <output.db>
//
// The list has one process a line: name, 0 or 1 (dangerous), description, separated by
// tabs; "#" lines and blank lines are ignored. Names are stored in lower case under a
// case-insensitive primary index; descriptions as the hexadecimal AES text that the
// dictionary access deciphers.

#include "dictdb/DictDB.h"
#include "dictdb/DictDBCreator.h"
#include "dictdb/DictTable.h"
#include "platform/crypto/Gcrypt.h"
#include "resources/dictionary/DescriptionCipher.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QTextStream>

#include <cstdio>
#include <cstring>

namespace {

struct Entry
{
    QString Name;
    bool Virus = false;
    QString Description;
};

[[noreturn]] void Fail(const QString &Message)
{
    std::fprintf(stderr, "taskvane_mkdict: %s\n", qPrintable(Message));
    std::exit(1);
}

QString ReadText(const QString &FileName)
{
    QFile f(FileName);
    if (!f.open(QIODevice::ReadOnly))
        Fail(QStringLiteral("cannot read %1").arg(FileName));
    return QString::fromUtf8(f.readAll());
}

QList<Entry> ParseList(const QString &Text)
{
    QList<Entry> entries;
    QSet<QString> seen;
    const QStringList lines = Text.split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size(); ++i) {
        QString line = lines.at(i);
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        if (line.trimmed().isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const QStringList parts = line.split(QLatin1Char('\t'));
        const QString where = QStringLiteral("line %1").arg(i + 1);
        if (parts.size() != 3)
            Fail(where + QStringLiteral(": expected three tab-separated fields"));
        Entry e;
        e.Name = parts.at(0).toLower();
        if (e.Name.isEmpty() || e.Name.trimmed() != e.Name)
            Fail(where + QStringLiteral(": bad process name"));
        if (parts.at(1) != QLatin1String("0") && parts.at(1) != QLatin1String("1"))
            Fail(where + QStringLiteral(": the flag must be 0 or 1"));
        e.Virus = parts.at(1) == QLatin1String("1");
        e.Description = parts.at(2).trimmed();
        if (e.Description.isEmpty())
            Fail(where + QStringLiteral(": empty description"));
        if (seen.contains(e.Name))
            Fail(where + QStringLiteral(": duplicate name %1").arg(e.Name));
        seen.insert(e.Name);
        entries.append(e);
    }
    return entries;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 4)
        Fail(QStringLiteral("usage: taskvane_mkdict <processes.txt> <version.txt> <output.db>"));
    if (!platform::crypto::EnsureGcrypt())
        Fail(QStringLiteral("libgcrypt could not be initialised"));

    const QList<Entry> entries = ParseList(ReadText(QString::fromLocal8Bit(argv[1])));
    const QString version = ReadText(QString::fromLocal8Bit(argv[2])).trimmed();
    if (!QRegularExpression(QStringLiteral("^\\d{4}-\\d{2}-\\d{2}$")).match(version).hasMatch())
        Fail(QStringLiteral("the version must read YYYY-MM-DD"));
    const QString output = QFileInfo(QString::fromLocal8Bit(argv[3])).absoluteFilePath();

    QList<QString> hexes;
    int nameSize = 1, hexSize = 1;
    for (const Entry &e : entries) {
        const auto hex = EncryptDescriptionHex(e.Description);
        if (!hex)
            Fail(QStringLiteral("AES encryption failed"));
        hexes.append(*hex);
        nameSize = qMax(nameSize, int(e.Name.toUtf8().size()));
        hexSize = qMax(hexSize, int(hexes.last().size()));
    }

    TDictDBFileLayout layout;
    TDictDBTableLayout config;
    config.Name = QStringLiteral("Config");
    config.Fields = {{QStringLiteral("Item"), ftString, 32, 0}, {QStringLiteral("Value"), ftString, 64, 0}};
    config.Indexes = {{QStringLiteral("ItemIdx"), TTDIndexOptions(tiPrimary) | tiUnique, {QStringLiteral("Item")}}};
    TDictDBTableLayout process;
    process.Name = QStringLiteral("Process");
    process.Fields = {{QStringLiteral("ProcessName"), ftString, nameSize, 0},
                      {QStringLiteral("Description"), ftString, hexSize, 0},
                      {QStringLiteral("Virus"), ftBoolean, 0, 0}};
    process.Indexes = {{QStringLiteral("NameIdx"),
                        TTDIndexOptions(tiPrimary) | tiUnique | tiCaseInsensitive,
                        {QStringLiteral("ProcessName")}}};
    layout.Tables = {config, process};

    // Written beside the target and moved into place, so that a failed run leaves no half file.
    const QString temp = output + QStringLiteral(".part");
    QFile::remove(temp);
    try {
        CreateDictDBFile(temp, layout);
        {
            TDictTable table;
            table.SetDatabaseName(temp);
            table.SetTableName(QStringLiteral("Config"));
            table.Open();
            table.Append();
            table.FieldByName(QStringLiteral("Item"))->SetAsString(QStringLiteral("Version"));
            table.FieldByName(QStringLiteral("Value"))->SetAsString(version);
            table.Post();
            table.Close();

            table.SetTableName(QStringLiteral("Process"));
            table.Open();
            for (int i = 0; i < entries.size(); ++i) {
                table.Append();
                table.FieldByName(QStringLiteral("ProcessName"))->SetAsString(entries.at(i).Name);
                table.FieldByName(QStringLiteral("Description"))->SetAsString(hexes.at(i));
                table.FieldByName(QStringLiteral("Virus"))->SetAsBoolean(entries.at(i).Virus);
                table.Post();
            }
            if (table.RecordCount() != entries.size())
                Fail(QStringLiteral("the table holds %1 records, not %2").arg(table.RecordCount()).arg(entries.size()));
            table.Close();
        }
    } catch (const dataaccess::Exception &e) {
        QFile::remove(temp);
        Fail(e.Message());
    }
    QFile::remove(output);
    if (!QFile::rename(temp, output))
        Fail(QStringLiteral("cannot write %1").arg(output));
    std::printf("taskvane_mkdict: %d processes, version %s\n", int(entries.size()), qPrintable(version));
    return 0;
}
