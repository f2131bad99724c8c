#pragma once

// The network page's rows as a test reads and picks them, and a wait for what the page's worker
// reads.

#include "sysinfo/NetworkMonitor.h"
#include "ui/frmMainNetwork.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QItemSelectionModel>
#include <QStringList>
#include <QTimer>
#include <QTreeView>

#include <memory>

namespace nettest {

// Until the monitor's worker has nothing left to do: what it read is in, late answers included.
inline bool WaitForNetwork(const std::unique_ptr<TNetworkPage> &Page, int TimeoutMs = 120000)
{
    QDeadlineTimer deadline(TimeoutMs);
    // The loop sleeps until an event comes, the timer's at the latest, as the window's loop does.
    QTimer wake;
    wake.start(2);
    while (Page->objNetworkMonitor->Busy() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    QCoreApplication::processEvents();
    return !Page->objNetworkMonitor->Busy();
}

inline int RowCount(const std::unique_ptr<TNetworkPage> &Page)
{
    return Page->ConnectionRows->rowCount();
}

inline QString Cell(const std::unique_ptr<TNetworkPage> &Page, int Row, int Column)
{
    return Page->ConnectionRows->index(Row, Column).data().toString();
}

inline QStringList ColumnTexts(const std::unique_ptr<TNetworkPage> &Page, int Column)
{
    QStringList out;
    for (int r = 0; r < RowCount(Page); ++r)
        out << Cell(Page, r, Column);
    return out;
}

// The first row whose cell shows the text; -1 for none.
inline int RowWith(const std::unique_ptr<TNetworkPage> &Page, int Column, const QString &Text)
{
    for (int r = 0; r < RowCount(Page); ++r)
        if (Cell(Page, r, Column) == Text)
            return r;
    return -1;
}

// Selects the row alone (none for -1), as a click would.
inline void SelectRow(const std::unique_ptr<TNetworkPage> &Page, int Row)
{
    QItemSelectionModel *selection = Page->lvConnections->selectionModel();
    if (Row < 0) {
        selection->clearSelection();
        return;
    }
    selection->select(Page->ConnectionRows->index(Row, 0),
                      QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

} // namespace nettest
