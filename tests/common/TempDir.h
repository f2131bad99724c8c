#pragma once

#include <QString>
#include <QDir>
#include <QTemporaryDir>

namespace tvtest {

// A private scratch directory, removed with everything in it when the test ends.
class TempDir
{
public:
    TempDir() : m_dir(QDir::tempPath() + QStringLiteral("/taskvane-test-XXXXXX")) {}
    bool isValid() const { return m_dir.isValid(); }
    QString path() const { return m_dir.path(); }
    QString file(const QString &name) const { return m_dir.filePath(name); }

private:
    QTemporaryDir m_dir;
};

} // namespace tvtest
