#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

class THttpGet;
class TLabel;

// The update check of the main window: fetches the update descriptor, offers the download page
// of a newer program and replaces the dictionary by a newer one; its progress and outcome show in
// the window's version label.
class TUpdateCheck : public QObject
{
public:
    // The update's files, and the dictionary it writes, lie in DataDir (the user's data directory).
    TUpdateCheck(TLabel *Version, const QString &DataDir);
    ~TUpdateCheck() override;

    THttpGet *objHttpGet = nullptr;
    // Stage of the check: 0 the descriptor, 1 the dictionary.
    quint8 UpdateStage = 0;
    // Where the update's files and the user's own dictionary lie: the user's data directory
    // (tests point it at their own). Empty: no check.
    QString UpdateDir;

    void StartUpdateCheck();
    void StopUpdateCheck();
    void DeleteUpdateFiles();
    bool CheckUpdate();
    // False on a display-less run that no test server was named for: such a run never goes
    // out to the network.
    bool UpdateCheckAllowed() const;
    // The version text with the version of the dictionary in use, read afresh.
    QString UpdateVersionText() const;
    void objHttpGetProcess(QObject *Sender, qint32 CurrentSize, qint32 TotalSize);
    void objHttpGetGetFileCompleted(QObject *Sender, const QString &FileName, qint32 FileSize);
    void objHttpGetError(QObject *Sender);

    // The program's own version text.
    static QString ProgramVersionText();
    // True when the offered version is newer than the own one, compared field by field as
    // numbers over the first `Fields` fields; a missing or unreadable field means not newer.
    static bool IsNewerVersion(const QString &Offered, const QString &Own, QChar Delimiter, int Fields);
    // Splits at the delimiter and at blanks; double quotes enclose a field.
    static QStringList SplitDelimited(const QString &Text, QChar Delimiter);
    // The maker's web address of a path.
    static QString UpdateURL(const QString &Path);

private:
    TLabel *lblVersion;
};
