#include "ui/UiHooks.h"

#include "platform/shell/FileManager.h"
#include "platform/shell/Shell.h"

#include <QDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QRegularExpression>
#include <QSortFilterProxyModel>
#include <QUrl>

namespace {

// Hides files without the execute permission while the picker's executable filter is chosen.
class TExecutableFilter : public QSortFilterProxyModel
{
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;
    void SetActive(bool Active)
    {
        m_Active = Active;
        invalidateFilter();
    }

protected:
    bool filterAcceptsRow(int Row, const QModelIndex &Parent) const override
    {
        if (!m_Active)
            return true;
        const auto *fs = qobject_cast<const QFileSystemModel *>(sourceModel());
        if (!fs)
            return true;
        const QFileInfo info = fs->fileInfo(fs->index(Row, 0, Parent));
        return info.isDir() || info.isExecutable();
    }

private:
    bool m_Active = false;
};

QString PickOpenFileDefault(QWidget *Parent, const QString &Title, const QString &Directory, const QString &Filter)
{
    QFileDialog dialog(Parent, Title, Directory);
    // The filter is a proxy model, which only the toolkit's own dialog supports.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setFileMode(QFileDialog::ExistingFile);
    QStringList names;
    QList<bool> executables;
    const QStringList parts = Filter.split(QLatin1Char('|'));
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString pattern = parts.at(i + 1).trimmed();
        const bool exe = pattern.compare(QLatin1String("*.exe"), Qt::CaseInsensitive) == 0;
        const bool all = pattern == QLatin1String("*.*") || pattern == QLatin1String("*");
        QString caption = parts.at(i);
        caption.remove(QRegularExpression(QStringLiteral("\\(.*\\)\\s*$")));
        names << caption + QStringLiteral(" (%1)").arg(exe || all ? QStringLiteral("*") : pattern);
        executables << exe;
    }
    auto *proxy = new TExecutableFilter(&dialog);
    dialog.setProxyModel(proxy);
    if (!names.isEmpty()) {
        dialog.setNameFilters(names);
        proxy->SetActive(executables.first());
        QObject::connect(&dialog, &QFileDialog::filterSelected, proxy,
                         [proxy, names, executables](const QString &Name) {
                             const qsizetype i = names.indexOf(Name);
                             proxy->SetActive(i >= 0 && executables.at(i));
                         });
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().constFirst();
}

TUiHooks DefaultHooks()
{
    TUiHooks h;
    h.ExecModal = [](QDialog *Dialog) { return Dialog ? Dialog->exec() : 0; };
    h.OpenUrl = [](const QString &Target) {
        const QUrl url = QUrl::fromUserInput(Target);
        // Started as every program is, with the environment and limits the program started with.
        return url.isValid() && platform::shell::OpenWithDefaultProgram(url.toString(QUrl::FullyEncoded));
    };
    h.ShowInFileManager = [](const QString &Path) { return platform::shell::ShowItemInFileManager(Path); };
    h.ShowFileProperties = [](const QString &Path) { return platform::shell::ShowItemProperties(Path); };
    h.PickOpenFile = PickOpenFileDefault;
    return h;
}

} // namespace

#if TASKVANE_TEST_SEAMS
TUiHooks &UiHooks()
{
    static TUiHooks hooks = DefaultHooks();
    return hooks;
}

void RestoreDefaultUiHooks()
{
    UiHooks() = DefaultHooks();
}
#else
const TUiHooks &UiHooks()
{
    static const TUiHooks hooks = DefaultHooks();
    return hooks;
}
#endif
