#pragma once

#include "platform/files/FolderNoFollow.h"
#include "platform/system/TestSeams.h"
#include "ui/FormControls.h"
#include "ui/PicButton.h"

#include <QList>
#include <QObject>
#include <QPair>
#include <QPoint>
#include <QPointer>
#include <QRect>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QTextEdit;
class QTreeView;
class TDetailsPanel;
class TFileProperties;

// What the details panel shows for a page: the lines of the page's selected item.
class TDetailsSource
{
public:
    virtual ~TDetailsSource() = default;
    // Adds the lines of the selected item; false when the page has none selected.
    virtual bool AddDetails(TDetailsPanel &Panel) = 0;
};

// The details panel of the main window: a labelled description of the item behind the clicked
// row of the current list page, floating over the list's right part or pinned beside it.
class TDetailsPanel : public QObject
{
public:
    // Builds the panel, hidden, in the window at the given place.
    TDetailsPanel(QWidget *Window, const QRect &Geometry);
    ~TDetailsPanel() override;

    TSkinImagePanel *pnlDetails = nullptr;
    TLabel *lblDetailsTitle = nullptr;
    QTextEdit *redtDetails = nullptr;
    TFileProperties *objFileProperties = nullptr;
    TPicButton *btnRefreshDetails = nullptr, *btnNailUp = nullptr, *btnNailDown = nullptr, *btnDetailsClose = nullptr;
    // The panel's frame; the top pieces form the band that holds the title and the buttons.
    TImage *imgDetailsBorder_TopLeft = nullptr, *imgDetailsBorder_Top = nullptr, *imgDetailsBorder_TopRight = nullptr;
    TImage *imgDetailsBorder_Left = nullptr, *imgDetailsBorder_Right = nullptr;
    TImage *imgDetailsBorder_BottomLeft = nullptr, *imgDetailsBorder_Bottom = nullptr,
           *imgDetailsBorder_BottomRight = nullptr;

    // Screen position of the pointer at the last fill; its Y is -1 when none.
    QPoint HoverPoint{0, -1};
    bool DetailsPinned = false;
    // The page whose item the panel shows (null on pages without a list).
    TDetailsSource *Source = nullptr;

    // One "label: value" line at the caret; the label bold navy, the value regular black. The value
    // is shown as it stands, its "\r" (or "\r\n") breaking the line: the program's own text, or
    // what a process or a file supplies made visible by VisibleText first.
    void AddDetailLine(const QString &Label, const QString &Value, bool LineBreak);
    // Text at the caret in bold red (the dangerous-process warning) or grey (the disclaimer).
    void AddWarning(const QString &Text);
    void AddDisclaimer(const QString &Text);
    // One line whose value is the digest of an open file (`Image`, handed over; -1 for none). The
    // line shows its label at once; a worker of the panel's reads the file and the digest goes into
    // the line when it is ready, if the panel still shows this fill. A new fill drops it without
    // waiting; the panel's end drops it and waits a short while for the worker, which stops at its
    // next read: one that a read keeps longer is left to end by itself, touching nothing of the
    // panel's.
    void AddDigestLine(const QString &Label, int Image, bool LineBreak);
    // The same of the file `Open` opens (handing it over; -1 for none), called on the worker: the
    // open may wait on the file's file system. An empty `Open` for no file.
    void AddDigestLine(const QString &Label, std::function<int()> Open, bool LineBreak);
#if TASKVANE_TEST_SEAMS
    // Digests being computed by workers, dropped ones that have not noticed yet included.
    static int DigestsRunning();
#endif
    // The four version lines of a file, as a worker read them (empty values for none).
    void AddVersionLines(const QString &ProductName, const QString &FileDescription, const QString &CompanyName,
                         const QString &LegalCopyright);
    // Clears and fills the panel for the current page's selected item and shows it; with no
    // selected item only the hint stays.
    void FillDetails();
    // Refills a visible panel, so that it never shows an item as it was before a command.
    void RefreshDetails();
    // The hint that asks for a click into the list.
    void ShowHint();
    void SetDetailsPinned(bool Pinned);
    // Puts the panel beside a list: its top and height.
    void PlaceBeside(const QWidget *List);
    // The lists that end beside the pinned panel or reach under the floating one.
    void AddList(QWidget *Page, QTreeView *List);
    void FitListsToDetails();
    // Lays the frame pieces around the panel's current size.
    void PlaceDetailsFrame();
    // The pointer moved over a list to a screen position: far enough from where the panel was
    // filled, an unpinned panel closes.
    void PointerMoved(const QPoint &ScreenPoint);
    // Esc closes an unpinned panel.
    void EscapePressed();

    void btnRefreshDetailsClick(QObject *Sender);
    void btnNailUpClick(QObject *Sender);
    void btnNailDownClick(QObject *Sender);
    void btnDetailsCloseClick(QObject *Sender);

protected:
    bool eventFilter(QObject *Watched, QEvent *Event) override;

private:
    // Drops the digest the panel waits for, if any: its worker stops at its next read.
    void DropDigest();
    // Joins the digest workers that have finished; with `Ms`, waits that long for the others
    // first, and lets go of those still reading then.
    void JoinDigestWorkers(std::optional<int> Ms);

    QList<QPair<QPointer<QWidget>, QPointer<QTreeView>>> m_Lists;
    struct TDigest;
    std::shared_ptr<TDigest> m_Digest;
    // The digests whose workers have not been joined yet: m_Digest's and dropped ones.
    std::vector<std::shared_ptr<TDigest>> m_DigestWorkers;
};
