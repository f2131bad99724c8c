#include "ui/Translations.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QDialogButtonBox>
#include <QFile>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpression>

#include <memory>

namespace {

bool HasChinese(const QString &Text)
{
    static const QRegularExpression han(QStringLiteral("\\p{Han}"));
    return han.match(Text).hasMatch();
}

} // namespace

TEST(ToolkitTranslations, EditMenuAndDialogButtonsSpeakChinese)
{
    const QString dir = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    if (!QFile::exists(dir + QStringLiteral("/qtbase_zh_CN.qm")))
        GTEST_SKIP() << "the toolkit's Chinese translations are not installed in " << dir.toStdString();
    ASSERT_TRUE(InstallToolkitTranslations());
    EXPECT_TRUE(InstallToolkitTranslations()) << "a second call keeps the installed translations";

    QLineEdit edit;
    edit.setText(QStringLiteral("text"));
    std::unique_ptr<QMenu> menu(edit.createStandardContextMenu());
    QStringList texts;
    for (QAction *a : menu->actions())
        if (!a->isSeparator())
            texts << a->text();
    ASSERT_FALSE(texts.isEmpty());
    for (const QString &t : texts)
        EXPECT_TRUE(HasChinese(t)) << t.toStdString();

    QDialogButtonBox box(QDialogButtonBox::Open | QDialogButtonBox::Cancel);
    EXPECT_TRUE(HasChinese(box.button(QDialogButtonBox::Cancel)->text()));
    EXPECT_TRUE(HasChinese(box.button(QDialogButtonBox::Open)->text()));
}
