#pragma once

#include "ui/PicButton.h"
#include "ui/frmMainListPage.h"

class QAction;
class QMenu;
class TAutoruns;
class TAutorunItem;

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
};
