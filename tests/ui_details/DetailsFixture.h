#pragma once

// Helpers of the details panel's tests: a dictionary with descriptions, a private package
// database that names the version texts of the test's own files, and a reader of the panel's
// text with its attributes.

#include "common/TempDir.h"
#include "resources/dictionary/DescriptionCipher.h"
#include "dictdb/DBTools.h"
#include "dictdb_access/DictionaryFile.h"
#include "platform/crypto/Gcrypt.h"
#include "platform/files/Dpkg.h"
#include "ui/frmMainDetails.h"

#include <QColor>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>
#include <QTextFragment>

#include <ostream>
#include <vector>

// Readable texts in failure messages.
inline void PrintTo(const QString &Text, std::ostream *Out)
{
    *Out << '"' << Text.toStdString() << '"';
}

namespace dtest {

inline QString Encipher(const QString &Plain)
{
    return EncryptDescriptionHex(Plain).value_or(QString());
}

struct DictRow
{
    QString Name;
    QString Description;
    bool Dangerous = false;
};

// A dictionary file at Path with the given rows; later look-ups read it (until the form reads
// the program's own again).
inline bool UseDictionary(const QString &Path, const std::vector<DictRow> &Rows)
{
    QList<dicttest::DictionaryRow> rows;
    for (const DictRow &r : Rows)
        rows.append({r.Name, Encipher(r.Description), r.Dangerous});
    dicttest::WriteDictionary(Path, QStringLiteral("2030-01-02"), rows);
    QString version;
    GetDictVersionIn(Path, version);
    return version == QStringLiteral("2030-01-02");
}

// A package database of the test's own: one package that owns the given files. The reader
// goes back to the system's database when this ends.
class FakePackages
{
public:
    explicit FakePackages(const QStringList &Files)
    {
        QDir().mkpath(m_dir.file(QStringLiteral("info")));
        QFile list(m_dir.file(QStringLiteral("info/demo-tools:amd64.list")));
        if (list.open(QIODevice::WriteOnly))
            list.write((Files.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8());
        QFile status(m_dir.file(QStringLiteral("status")));
        if (status.open(QIODevice::WriteOnly))
            status.write("Package: demo-tools\n"
                         "Status: install ok installed\n"
                         "Maintainer: Demo Makers <demo@example.org>\n"
                         "Version: 2.5-1\n"
                         "Description: tools for the demo\n"
                         " A longer text that the panel does not show.\n\n");
        platform::files::SetDpkgDatabaseDir(m_dir.path());
    }
    ~FakePackages() { platform::files::SetDpkgDatabaseDir(QString()); }
    FakePackages(const FakePackages &) = delete;
    FakePackages &operator=(const FakePackages &) = delete;

private:
    tvtest::TempDir m_dir;
};

// One stretch of the panel's text in one set of attributes.
struct Run
{
    QString Text;
    bool Bold = false;
    QColor Color;
};

inline std::vector<Run> Runs(const QTextEdit *Edit)
{
    std::vector<Run> out;
    for (QTextBlock b = Edit->document()->begin(); b.isValid(); b = b.next()) {
        for (auto it = b.begin(); !it.atEnd(); ++it) {
            const QTextFragment f = it.fragment();
            if (!f.isValid())
                continue;
            const QTextCharFormat c = f.charFormat();
            out.push_back({f.text(), c.fontWeight() >= QFont::Bold, c.foreground().color()});
        }
    }
    return out;
}

// The attributes of the first stretch that holds Text; a default run when none does.
inline Run RunWith(const QTextEdit *Edit, const QString &Text)
{
    for (const Run &r : Runs(Edit))
        if (r.Text.contains(Text))
            return r;
    return {};
}

inline QStringList Lines(const QTextEdit *Edit)
{
    return Edit->toPlainText().split(QLatin1Char('\n'));
}

// The window goes on until the workers have handed over their digests.
inline bool WaitForDigests()
{
    QDeadlineTimer deadline(120000);
    while (TDetailsPanel::DigestsRunning() > 0 && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QCoreApplication::processEvents();
    return TDetailsPanel::DigestsRunning() == 0;
}

// The value of the line with the given label; null when there is none.
inline QString LineValue(const QTextEdit *Edit, const QString &Label)
{
    for (const QString &line : Lines(Edit))
        if (line.startsWith(Label + QStringLiteral(": ")))
            return line.mid(Label.size() + 2);
    return QString();
}

inline const QColor kNavy{0, 0, 0x80};
inline const QColor kBlack{0, 0, 0};
inline const QColor kRed{0xFF, 0, 0};
inline const QColor kGrey{0x80, 0x80, 0x80};

} // namespace dtest
