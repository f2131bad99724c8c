#pragma once

#include "sysinfo/Autoruns.h"
#include "ui/PicButton.h"
#include "ui/frmMainListPage.h"

#include <memory>
#include <optional>

class QAction;
class QMenu;
class TReadingWorker;

// The autoruns page: the entries started at log-on, with the commands that disable, enable and
// delete them.
class TAutorunPage : public TListPage
{
public:
    TAutorunPage(const TPageContext &Context, QWidget *Page);
    ~TAutorunPage() override;

    TAutoruns *objAutoruns = nullptr;
    QTreeWidget *lvAutoruns = nullptr;
    TPicButton *btnEnableAutorun = nullptr, *btnDeleteAutorun = nullptr, *btnRefreshAutorunList = nullptr;
    QMenu *pmAutorun = nullptr;
    QAction *mniAutorun_Disable = nullptr, *mniAutorun_Enable = nullptr, *mniAutorun_Line = nullptr,
            *mniAutorun_Delete = nullptr;

    void FillPage() override;
    QString StatusText() const override;
    void UpdateButtons() override;
    std::optional<QString> SearchValue(int Hot) const override;
    bool AddDetails(TDetailsPanel &Panel) override;
    int CompareRows(const QTreeWidgetItem *A, const QTreeWidgetItem *B) const override;

    // Both read the list on a worker and show the rows when it is in; the page's status text tells
    // meanwhile.
    void FillAutorunList();
    void RefreshAutorunList();
    TAutorunItem *SelectedAutorun() const;
    // Codes 0 enable, 1 disable, 2 delete.
    void AutorunCommand(quint8 Code);
    void UpdateAutorunButtons();

    void lvAutorunsSelectItem(QObject *Sender, QTreeWidgetItem *Item, bool Selected);
    void lvAutorunsClick(QObject *Sender);
    void lvAutorunsMouseDown(QObject *Sender, Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int X, int Y);
    void lvAutorunsMouseMove(QObject *Sender, Qt::MouseButtons Shift, int X, int Y);
    void lvAutorunsColumnClick(QObject *Sender, int Column);
    int lvAutorunsCompare(QObject *Sender, const QTreeWidgetItem *A, const QTreeWidgetItem *B) const;
    void pmAutorunPopup(QObject *Sender);
    void mniAutorun_DisableClick(QObject *Sender);
    void mniAutorun_EnableClick(QObject *Sender);
    void mniAutorun_DeleteClick(QObject *Sender);
    void btnEnableAutorunClick(QObject *Sender);
    void btnDeleteAutorunClick(QObject *Sender);
    void btnRefreshAutorunListClick(QObject *Sender);

protected:
    void SelectItem(QTreeWidgetItem *Item, bool Selected) override;
    void Click() override;
    void MouseMove(Qt::MouseButtons Shift, int X, int Y) override;
    void MouseDown(Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int X, int Y) override;
    void ColumnClick(int Column) override;

private:
    void BuildAutorunPage();
    // The list read in the background has taken the old one's place.
    void AutorunsRefreshed();
    // The rows of the entries as the component holds them now; nothing is read.
    void ShowAutorunRows();
    // The four lines of what the entry's program says of itself: read afresh beside the window,
    // waited for a short while, else those the list's reading found until the answer is in.
    void AddProgramLines(TDetailsPanel &Panel, const TAutorunItem &Item);
    bool AskProgram(const QString &Command);
    void ProgramRead(const QString &Command, const TAutorunProgram &Program);

    // What the reading under way is to do to the rows once it is in.
    bool m_FillWanted = false;
    bool m_RefreshWanted = false;
    // The program the details wait for, and the answer not shown yet.
    std::unique_ptr<TReadingWorker> m_ProgramReader;
    QString m_ProgramAsked;
    struct TProgramAnswer
    {
        QString Command;
        TAutorunProgram Program;
    };
    std::optional<TProgramAnswer> m_ProgramAnswer;
    bool m_AwaitingProgram = false;
};
