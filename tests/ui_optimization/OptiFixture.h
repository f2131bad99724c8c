#pragma once

// The main form with its optimisation panel, over a scripted process table and a scripted service
// manager on a private bus; every message box is answered by the test.

#include "common/ServiceList.h"
#include "platform_services/FakeSystemd.h"
#include "sysinfo/Optimization.h"
#include "ui_process/Fixture.h"

#include <QCheckBox>
#include <QDeadlineTimer>
#include <QProgressBar>

#include <functional>

namespace optiui {

// No service call of this program may reach the machine's own service manager, also before
// and after the private bus lives.
inline void IsolateFromSystemServices()
{
    qputenv(platform::services::kBusAddressVariable, "unix:path=/nonexistent/taskvane-no-such-bus");
}
inline const bool kIsolated = (IsolateFromSystemServices(), true);

// The panel as a progress event left it.
struct PanelState
{
    char Kind = '?';
    quint32 Current = 0, Total = 0;
    QString Name;
    quint8 Mode = 0;
    QString Label;
    int Value = 0, Maximum = 0;
    bool ControlHidden = false, ProgressHidden = false;
    bool BusyDuring = false;
};

class PanelTest : public ptest::FormTest
{
protected:
    static void SetUpTestSuite() { bus = new fakesd::Bus; }
    static void TearDownTestSuite()
    {
        delete bus;
        bus = nullptr;
        IsolateFromSystemServices();
    }

    void SetUp() override
    {
        ASSERT_TRUE(kIsolated);
        ASSERT_TRUE(bus && bus->ok()) << "no private message bus";
        ASSERT_TRUE(dir.isValid());
        bus->manager.setUnits({});
        ptest::FormTest::SetUp();
        // Answers by code: 3 "是", 4 "否", 2 "取消", 1 "确认", 0 the close button, 27 Esc.
        UiHooks().ExecModal = [this](QDialog *Dialog) {
            auto *box = qobject_cast<TFormMessage *>(Dialog);
            if (!box)
                return 0;
            shown.push_back(
                {box->lblText->text(), box->lblTitle->text(), quint8(box->IconKind()), quint8(box->ButtonSet())});
            const quint8 answer = answers.isEmpty() ? quint8(0) : answers.takeFirst();
            quint16 esc = 27;
            switch (answer) {
            case 1:
            case 3:
                box->btnButton1Click();
                break;
            case 4:
                box->btnButton2Click();
                break;
            case 2:
                if (box->ButtonSet() == TMessageButtons::YesNoCancel)
                    box->btnButton3Click();
                else
                    box->btnButton2Click();
                break;
            case 27:
                box->FormKeyPress(esc);
                break;
            default:
                box->btnCloseClick();
                break;
            }
            return int(box->Result());
        };
        Create();
        opt()->SetBackupDir(dir.file("Backup"));
        Spy();
    }

    TOptimization *opt() const { return form->ServicePage->Optimization->objOptimization; }
    QString BackupFile() const { return dir.file("Backup/opti_services.dat"); }

    void WriteBackup(const QByteArray &Data)
    {
        QDir().mkpath(dir.file("Backup"));
        QFile f(BackupFile());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(Data);
    }

    // Wraps the form's handlers so that the panel's state after each event is kept.
    void Spy()
    {
        auto wrap = [this](TOptimizingServicesEvent Inner, char Kind) {
            return [this, Inner, Kind](QObject *S, quint32 C, quint32 T, const QString &N, TServiceMode M) {
                const bool busy = opt()->Busy();
                Inner(S, C, T, N, M);
                states.push_back({Kind, C, T, N, quint8(M),
                                  form->ServicePage->Optimization->lblSvcOpti_Progress->text(),
                                  form->ServicePage->Optimization->pbSvcOpti_Progress->Value(),
                                  form->ServicePage->Optimization->pbSvcOpti_Progress->Maximum(),
                                  form->ServicePage->Optimization->pnlSvcOpti_Control->isHidden(),
                                  form->ServicePage->Optimization->pnlSvcOpti_Progress->isHidden(), busy});
                if (During)
                    During(states.back());
            };
        };
        opt()->OnOptimizingServices = wrap(opt()->OnOptimizingServices, 'O');
        opt()->OnBackuppingServices = wrap(opt()->OnBackuppingServices, 'B');
        opt()->OnRestoringServices = wrap(opt()->OnRestoringServices, 'R');
    }

    // Runs the events until no job runs and none waits to start, and the service list it
    // refreshed is in.
    bool WaitIdle(int Ms = 30000)
    {
        QDeadlineTimer deadline(Ms);
        auto idle = [this] {
            return !opt()->Busy() && form->ServicePage->Optimization->SvcOptiPendingOptions < 0 &&
                !form->ServicePage->objServices->Reloading();
        };
        for (;;) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            if (idle()) {
                // A job that just ended may still have its end notice on the way.
                QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
                if (idle())
                    return true;
            }
            if (deadline.hasExpired())
                return false;
        }
    }

    std::vector<char> Kinds() const
    {
        std::vector<char> k;
        for (const PanelState &s : states)
            k.push_back(s.Kind);
        return k;
    }

    QList<QCheckBox *> Boxes() const
    {
        return {form->ServicePage->Optimization->chkSvcOpti_AutomaticUpdates,
                form->ServicePage->Optimization->chkSvcOpti_SystemRestore,
                form->ServicePage->Optimization->chkSvcOpti_TaskSchedule,
                form->ServicePage->Optimization->chkSvcOpti_WindowsFirewall,
                form->ServicePage->Optimization->chkSvcOpti_CDBurning,
                form->ServicePage->Optimization->chkSvcOpti_RemoteDesktopAssistance,
                form->ServicePage->Optimization->chkSvcOpti_RoutingAndRemoteAccess,
                form->ServicePage->Optimization->chkSvcOpti_WirelessConnection,
                form->ServicePage->Optimization->chkSvcOpti_PrintSpooler,
                form->ServicePage->Optimization->chkSvcOpti_Bluetooth,
                form->ServicePage->Optimization->chkSvcOpti_ImageDevice,
                form->ServicePage->Optimization->chkSvcOpti_SmartCard,
                form->ServicePage->Optimization->chkSvcOpti_UPS};
    }

    QString FileState(const QString &Name) const
    {
        auto u = bus->manager.unit(Name);
        return u ? u->unitFileState : QStringLiteral("<none>");
    }
    QString ActiveState(const QString &Name) const
    {
        auto u = bus->manager.unit(Name);
        return u ? u->activeState : QStringLiteral("<none>");
    }

    static fakesd::Bus *bus;
    tvtest::TempDir dir;
    std::vector<PanelState> states;
    std::function<void(const PanelState &)> During;
};

inline fakesd::Bus *PanelTest::bus = nullptr;

} // namespace optiui
