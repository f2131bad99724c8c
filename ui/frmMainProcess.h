#pragma once

#include "platform/processes/ProcFs.h"
#include "platform/system/TestSeams.h"
#include "ui/FormControls.h"
#include "ui/PageCommon.h"
#include "ui/PicButton.h"
#include "sysinfo/Processes.h"
#include "ui/frmMainListPage.h"

#include <QHash>
#include <QList>
#include <QPair>
#include <QSet>

#include <memory>
#include <optional>

class QAction;
class QTimer;
class QActionGroup;
class QLineEdit;
class QMenu;
class TReadingWorker;

namespace platform::processes {
class ProcessSource;
}

// What the dictionary says of a process, kept in its item's UserData and shown as the row's
// colour: black, red, blue.
enum class TDictState : int { Known = 0, Dangerous = 1, NotInDictionary = 2 };

// A process row, with the values its CPU and memory cells show: a tick formats and writes a cell
// only when its value moved.
class TProcessRow : public TListRow
{
public:
    explicit TProcessRow(TListPage *Page) : TListRow(Page) {}

    int ShownCPU = -1;
    quint64 ShownWorkingSet = 0, ShownPagefile = 0;
    bool MemoryShown = false; // the memory cells show the counters below (else blank or N/A as made)
    bool BlankZero = false;   // a zero counter is shown as an empty cell
};

// One affinity change: the processor's index and the state its bit is to get.
class TProcessAffinityParam
{
public:
    int CPUIndex = 0;
    bool Enabled = false;
};

// The process page: the live process list with its buttons, the new-process panel, the context
// menu of process commands and the commands themselves.
class TProcessPage : public TListPage
{
public:
    // `ProcessSource` replaces the system's process table (tests); the page does not own it.
    TProcessPage(const TPageContext &Context, QWidget *Page, platform::processes::ProcessSource *ProcessSource);
    ~TProcessPage() override;

    TProcesses *objProcesses = nullptr;
    QTreeWidget *lvProcesses = nullptr;
    TPicButton *btnTerminateProcess = nullptr, *btnTerminateProcessTree = nullptr, *btnNewProcess = nullptr;
    TSkinImagePanel *pnlNewProcess = nullptr;
    QLineEdit *edtNewProcessPath = nullptr;
    TPicButton *btnNewProcessOk = nullptr, *btnNewProcessCancel = nullptr, *btnNewProcessBrowse = nullptr;
    QMenu *pmProcess = nullptr;
    QAction *mniProcess_Terminate = nullptr, *mniProcess_TerminateTree = nullptr, *mniProcess_Delete = nullptr,
            *mniProcess_Line1 = nullptr;
    QAction *mniProcess_Pause = nullptr, *mniProcess_Resume = nullptr, *mniProcess_Line2 = nullptr;
    QMenu *mniProcess_Priority = nullptr, *mniProcess_Affinity = nullptr;
    QActionGroup *mniProcess_PriorityGroup = nullptr;
    QAction *mniProcess_Priority_Realtime = nullptr, *mniProcess_Priority_High = nullptr,
            *mniProcess_Priority_AboveNormal = nullptr, *mniProcess_Priority_Normal = nullptr,
            *mniProcess_Priority_BelowNormal = nullptr, *mniProcess_Priority_Low = nullptr;
    QAction *mniProcess_Line3 = nullptr, *mniProcess_Location = nullptr, *mniProcess_Properties = nullptr;
    TOpenDialog dlgOpenFile;

    void FillPage() override;
    QString StatusText() const override;
    void UpdateButtons() override;
    std::optional<QString> SearchValue(int Hot) const override;
    bool AddDetails(TDetailsPanel &Panel) override;
    int CompareRows(const QTreeWidgetItem *A, const QTreeWidgetItem *B) const override;

#if TASKVANE_TEST_SEAMS
    // The cells of existing rows the page has written: the row work of its ticks and events,
    // counted for the tests that weigh it.
    quint64 CellWrites = 0;
    // How long the window waits for a read of a process before it goes on without it: the tests
    // that do not weigh that wait give a loaded machine longer.
    int AnswerWait = 50;
#endif

    // Shows the rows of the list as it stands and has it read again; before the first pass is in,
    // the page fills itself when it is.
    void FillProcessList();
    // Asks the worker for a pass (and for the memory counters of the rows in view): the rows follow
    // when it is taken in.
    void ProcessTick();
    // Nothing is on its way to the page: no pass, no counters, no details it waits for.
    bool Settled() const;
    void SetDictionaryState(TProcessItem *Item);
    TProcessItem *ItemOfRow(int Index) const;
    TProcessItem *SelectedProcess() const;
    bool IsSystemPID(quint32 Pid) const;
    void UpdateProcessButtons();
    // The identifier a process row holds; false for a row without one.
    static bool RowPid(const QTreeWidgetItem *Row, quint32 &Pid);

    void objProcessesProcessAdded(QObject *Sender, quint32 dwProcessID);
    void objProcessesProcessReloaded(QObject *Sender, quint32 dwProcessID);
    void objProcessesProcessRemoved(QObject *Sender, quint32 dwProcessID);
    void tmrProcessTimer(QObject *Sender);
    void lvProcessesSelectItem(QObject *Sender, QTreeWidgetItem *Item, bool Selected);
    void lvProcessesClick(QObject *Sender);
    void lvProcessesMouseMove(QObject *Sender, Qt::MouseButtons Shift, int X, int Y);
    void lvProcessesMouseDown(QObject *Sender, Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int X, int Y);
    void lvProcessesKeyDown(QObject *Sender, int &Key, Qt::KeyboardModifiers Shift);
    void lvProcessesColumnClick(QObject *Sender, int Column);
    // -1, 0 or 1 for row A before, level with or after row B in the current sort state.
    int lvProcessesCompare(QObject *Sender, const QTreeWidgetItem *A, const QTreeWidgetItem *B) const;
    // The font colour of the row at Index; false where the default colour stays.
    bool lvProcessesCustomDrawItem(QObject *Sender, int Index, QColor &FontColor);

    // Ends the item's process and every other one of its file and deletes the file, waiting a
    // bounded while for it: false when it failed or did not end in time.
    bool TerminateAndDelete(TProcessItem &Item);
    // Waits for an operation asked of the list the short while of a command's reads: its result,
    // false when it has not answered by then (it then does nothing).
    bool WaitForOperation(const TProcesses::TOperationAsked &Asked);
    void ExecuteProcessCommand(quint8 Command, int Param = 0);
    void ExecuteProcessCommand(quint8 Command, const TProcessAffinityParam *Param);
    // A process whose end brings the system down: one that root or a system account runs (by its
    // uids as this program's user namespace sees them) from the path of a critical program or of
    // process 1's program, as the kernel reports the path in the process's own mount namespace (a
    // program replaced since it started keeps the path it started from). Nothing else an ordinary
    // user could choose (a path in a mount namespace of the user's own, a file put at a path)
    // counts. `Facts` are read from the process when a command runs; none: not critical. Process
    // 1's program path is the one the list's passes read.
    bool IsCriticalProcess(const std::optional<platform::processes::ImageFacts> &Facts) const;

    void mniProcess_TerminateClick(QObject *Sender);
    void mniProcess_TerminateTreeClick(QObject *Sender);
    void mniProcess_DeleteClick(QObject *Sender);
    void mniProcess_PauseClick(QObject *Sender);
    void mniProcess_ResumeClick(QObject *Sender);
    void mniProcess_PriorityClick(QObject *Sender);
    void mniProcess_Priority_RealtimeClick(QObject *Sender);
    void mniProcess_Priority_HighClick(QObject *Sender);
    void mniProcess_Priority_AboveNormalClick(QObject *Sender);
    void mniProcess_Priority_NormalClick(QObject *Sender);
    void mniProcess_Priority_BelowNormalClick(QObject *Sender);
    void mniProcess_Priority_LowClick(QObject *Sender);
    void mniProcess_AffinityClick(QObject *Sender);
    void mniProcess_AffinitySubItemsClick(QObject *Sender);
    void mniProcess_LocationClick(QObject *Sender);
    void mniProcess_PropertiesClick(QObject *Sender);
    void btnTerminateProcessClick(QObject *Sender);
    void btnTerminateProcessTreeClick(QObject *Sender);
    void btnNewProcessClick(QObject *Sender);
    void btnNewProcessOkClick(QObject *Sender);
    void btnNewProcessCancelClick(QObject *Sender);
    void btnNewProcessBrowseClick(QObject *Sender);
    void edtNewProcessPathKeyPress(QObject *Sender, QChar &Key);
    void FillAffinityMenu();

protected:
    void SelectItem(QTreeWidgetItem *Item, bool Selected) override;
    void Click() override;
    void MouseMove(Qt::MouseButtons Shift, int X, int Y) override;
    void MouseDown(Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int X, int Y) override;
    void ColumnClick(int Column) override;
    void KeyDown(int &Key, Qt::KeyboardModifiers Shift) override;
    bool eventFilter(QObject *Watched, QEvent *Event) override;

private:
    void BuildProcessPage();
    TProcessRow *MakeProcessRow(TProcessItem *Item, bool BlankZeroCounters);
    void AddProcessRow(TProcessItem *Item, bool BlankZeroCounters);
    void ClearRows();
    // All rows anew from the list's items.
    void FillRows();
    void RunProcessCommand(quint8 Command, int Param, const TProcessAffinityParam *Affinity);
    // Shows the files in the file manager (or their properties) beside the window, which waits for
    // it a short while only: the file system and the bus may keep it waiting. `Failure`, where
    // given, is reported when it fails, late or at once.
    void ShowFiles(quint8 Command, const QStringList &Files, const QString &Failure);
    // The new process's start has answered: its failure is reported and the panel closes.
    void NewProcessStarted(bool Created, const QString &Text);
    // How long the window waits for a read of a process.
    int AnswerWaitMs() const;
    // The first and last row in view; false when none is.
    bool RowsInView(int &First, int &Last) const;
    // Brings the CPU and memory cells of the rows in view up to date; the memory counters of
    // those not read in the latest pass are asked of the worker, and their cells follow when
    // they are in.
    void UpdateRowsInView();
    // False when the memory counters are not current yet.
    bool UpdateRow(TProcessRow *Row, TProcessItem *Item);
    void SetCell(TProcessRow *Row, int Column, const QString &Text);
    // Asks the worker for the memory counters of these processes, once each until they are in.
    void AskMemory(const QList<quint32> &Pids);
    // The memory counters of every row, for an order made of them: sorted again when they are in.
    void AskAllMemory();
    // Sorting by a memory column compares the counters of every row.
    bool SortsByMemory() const;
    // The CPU and memory orders change on every tick; the others only as rows come, go or change.
    bool OrderMovesEveryTick() const;
    // Around a pass as the list takes it in: its new names are looked up once each, the view
    // keeps its place, and the cells of the rows in view follow.
    void PassStarting();
    void PassTaken(bool Listed);
    void MemoryTaken();
    // The answer for the details panel of the selected process: the one on its way or just in
    // for that process, else one asked now.
    std::shared_ptr<TProcesses::TDetailsAnswer> DetailsAnswerFor(TProcessItem *Item);
    // Fills the panel again once a late answer for the process it shows is in.
    void DetailsPoll();
    // The rows in view and where each stood, so that a tick that adds, removes and sorts rows of
    // an order that ticks do not move leaves the process under the pointer where it was.
    struct TViewAnchor
    {
        QList<QPair<quint32, int>> Rows; // identifier, top of the row in the view
    };
    TViewAnchor TakeAnchor() const;
    // Scrolls the first row of the anchor that still has one back to where it stood.
    void KeepAnchor(const TViewAnchor &Anchor);

    // Process identifier -> its row.
    QHash<quint32, TProcessRow *> m_Rows;
    // Whether the rows' order may have changed for a sort by a column that ticks do not move.
    bool m_OrderDirty = true;
    // Within one fill of the list (a refresh pass, or the whole list): name -> dictionary state.
    QHash<QString, TDictState> m_NameStates;
    bool m_Filling = false;
    // The page fills itself once the first pass is in.
    bool m_FillOnPass = false;
    // Where the view stood as a pass came in.
    struct TScroll
    {
        int Offset = 0;
        bool AtTop = true;
        bool KeepOffset = true;
        TViewAnchor Anchor;
    } m_Scroll;
    // Memory counters asked of the worker and not in yet; a sort by them waits for them.
    QSet<quint32> m_MemoryAsked;
    bool m_SortWhenMemoryIn = false;
    // The details answer the panel waits for, and for which process.
    struct TDetailsWait
    {
        quint32 Pid = 0;
        quint64 StartTime = 0;
        std::shared_ptr<TProcesses::TDetailsAnswer> Answer;
        bool Waited = false; // a fill has waited for it already: later ones do not
    };
    std::optional<TDetailsWait> m_Details;
    QTimer *m_DetailsPoll = nullptr;
    // The file commands and the new process's start, beside the window; made when first used.
    std::unique_ptr<TReadingWorker> m_ShellWorker, m_StartWorker;
};
