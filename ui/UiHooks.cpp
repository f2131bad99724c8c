#include "ui/UiHooks.h"

#include <QDesktopServices>
#include <QDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QUrl>

namespace {

TUiHooks DefaultHooks()
{
    TUiHooks h;
    h.ExecModal = [](QDialog *Dialog) { return Dialog ? Dialog->exec() : 0; };
    h.OpenUrl = [](const QString &Target) {
        const QUrl url = QUrl::fromUserInput(Target);
        return url.isValid() && QDesktopServices::openUrl(url);
    };
    h.ShowInFileManager = [](const QString &Path) {
        // File managers differ in how they select a file; opening its folder works everywhere.
        const QFileInfo info(Path);
        if (!info.exists())
            return false;
        return QDesktopServices::openUrl(QUrl::fromLocalFile(info.isDir() ? info.absoluteFilePath() : info.absolutePath()));
    };
    h.PickOpenFile = [](QWidget *Parent, const QString &Title, const QString &Directory, const QString &Filter) {
        return QFileDialog::getOpenFileName(Parent, Title, Directory, Filter);
    };
    return h;
}

} // namespace

TUiHooks &UiHooks()
{
    static TUiHooks hooks = DefaultHooks();
    return hooks;
}

void RestoreDefaultUiHooks()
{
    UiHooks() = DefaultHooks();
}
