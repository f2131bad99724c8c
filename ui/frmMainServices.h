#pragma once

#include "ui/FormControls.h"
#include "ui/PicButton.h"
#include "ui/frmMainListPage.h"
#include "sysinfo/Services.h"
#include "ui/frmMainOptimization.h"

#include <QIcon>
#include <QList>

#include <memory>

class QAction;
class QActionGroup;
class QMenu;
// The commands of the services page; only setting the start type reads a start type.
enum class TServiceCommand : quint8 { Start = 0, Stop = 1, Pause = 2, Resume = 3, Restart = 4, SetStartType = 5 };

// The services page: the service list with its state buttons and context menu, the service
// commands and the optimisation panel below the list.
class TServicePage : public TListPage
{
public:
    TServicePage(const TPageContext &Context, QWidget *Page);
    ~TServicePage() override;

    TServices *objServices = nullptr;
    QTreeWidget *lvServices = nullptr;
    TPicButton *btnStartService = nullptr, *btnPauseService = nullptr, *btnServicesOptimization = nullptr,
               *btnRefreshServiceList = nullptr;
    QMenu *pmService = nullptr;
    QAction *mniService_Start = nullptr, *mniService_Stop = nullptr, *mniService_Line1 = nullptr,
            *mniService_Pause = nullptr, *mniService_Resume = nullptr, *mniService_Line2 = nullptr,
            *mniService_Restart = nullptr, *mniService_Line3 = nullptr;
    QMenu *mniService_StartupType = nullptr;
    QActionGroup *mniService_StartupTypeGroup = nullptr;
    QAction *mniService_StartupType_Automatic = nullptr, *mniService_StartupType_Manual = nullptr,
            *mniService_StartupType_Disabled = nullptr;
    // Row images: 0 any other state, 1 stopped, 2 paused.
    QList<QIcon> ilCommon;
    std::unique_ptr<TOptimizationPanel> Optimization;

    void FillPage() override;
    QString StatusText() const override;
    void UpdateButtons() override;
    std::optional<QString> SearchValue(int Hot) const override;
    bool AddDetails(TDetailsPanel &Panel) override;
    int CompareRows(const QTreeWidgetItem *A, const QTreeWidgetItem *B) const override;

    // Both read the list on a worker and show the rows when it is in; the page's status text tells
    // meanwhile.
    void FillServiceList();
    void RefreshServiceList();
    TServiceItem *SelectedService() const;
    void ServiceCommand(TServiceCommand Code, TServiceStartType StartType = {});
    void UpdateServiceButtons();

    void lvServicesSelectItem(QObject *Sender, QTreeWidgetItem *Item, bool Selected);
    void lvServicesClick(QObject *Sender);
    void lvServicesMouseDown(QObject *Sender, Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int X, int Y);
    void lvServicesMouseMove(QObject *Sender, Qt::MouseButtons Shift, int X, int Y);
    void lvServicesColumnClick(QObject *Sender, int Column);
    int lvServicesCompare(QObject *Sender, const QTreeWidgetItem *A, const QTreeWidgetItem *B) const;
    void pmServicePopup(QObject *Sender);
    void mniService_StartClick(QObject *Sender);
    void mniService_StopClick(QObject *Sender);
    void mniService_PauseClick(QObject *Sender);
    void mniService_ResumeClick(QObject *Sender);
    void mniService_RestartClick(QObject *Sender);
    void mniService_StartupTypeClick(QObject *Sender);
    void mniService_StartupType_AutomaticClick(QObject *Sender);
    void mniService_StartupType_ManualClick(QObject *Sender);
    void mniService_StartupType_DisabledClick(QObject *Sender);
    void btnStartServiceClick(QObject *Sender);
    void btnPauseServiceClick(QObject *Sender);
    void btnRefreshServiceListClick(QObject *Sender);
    void btnServicesOptimizationClick(QObject *Sender);

protected:
    void SelectItem(QTreeWidgetItem *Item, bool Selected) override;
    void Click() override;
    void MouseMove(Qt::MouseButtons Shift, int X, int Y) override;
    void MouseDown(Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int X, int Y) override;
    void ColumnClick(int Column) override;

private:
    void BuildServicePage();
    QTreeWidgetItem *NewServiceRow(int Index, const TServiceItem *Item);
    // The list read in the background has taken the old one's place: the rows follow it as the
    // requests since the last one asked.
    void ServicesReloaded();
    void ShowServiceRows();
    void UpdateServiceRows();

    // What the reading under way is to do to the rows once it is in.
    bool m_FillWanted = false;
    bool m_RefreshWanted = false;
    // A command runs (its wait serves the window's events).
    bool m_CommandRunning = false;
};
