// Our message loop under Qt: sends from other threads inside Qt's loops and ours, a click ending
// a wait, modal results, quitting, message boxes, the exception display and the help layer.
#include "toolkit/ModalHelpers.h"

#include "platform/Messages.h"
#include "toolkit/Actions.h"
#include "toolkit/Application.h"
#include "toolkit/Forms.h"
#include "toolkit/Help.h"
#include "toolkit/MessageLoop.h"
#include "toolkit/OpenDialog.h"
#include "toolkit/StatusBar.h"

#include <QDialog>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

using namespace platform;

namespace {

constexpr UINT WM_PROBE = WM_USER + 7;
constexpr int SafetyMs = 5000;

// A window whose procedure notes the thread and messages it sees.
struct ProbeWindow {
    std::atomic<uint32_t> handledOnThread{0};
    std::atomic<int> probes{0};
    std::atomic<int> timers{0};
    HWND hwnd = nullptr;

    ProbeWindow() { hwnd = CreateWindow(Proc, this); }
    ~ProbeWindow() { DestroyWindow(hwnd); }

    static LRESULT Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM) {
        auto *self = static_cast<ProbeWindow *>(GetWindowUserData(hwnd));
        if (msg == WM_PROBE) {
            self->handledOnThread = CurrentThreadId();
            ++self->probes;
            return static_cast<LRESULT>(wParam) * 2;
        }
        if (msg == WM_TIMER) ++self->timers;
        return 0;
    }
};

// Starts a thread that sends WM_PROBE once; its result lands in result.
std::thread SendFromOtherThread(HWND hwnd, std::atomic<LRESULT> &result) {
    return std::thread([hwnd, &result] { result = SendMessage(hwnd, WM_PROBE, 21, 0); });
}

// Drops anything a test left in this thread's queue (a WM_QUIT above all).
void DrainQueue() {
    MSG msg;
    for (int i = 0; i < 1000 && PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE); ++i) {
    }
}

bool RecordUrl(const QUrl &url);
std::vector<QUrl> openedUrls;
bool RecordUrl(const QUrl &url) {
    openedUrls.push_back(url);
    return true;
}

} // namespace

class TstToolkit : public QObject {
    Q_OBJECT

private slots:
    void init() { DrainQueue(); }
    void cleanup() { DrainQueue(); }

    void crossThreadSendIsServicedInsideQDialogExec();
    void crossThreadSendIsServicedInsideShowModal();
    void buttonClickEndsAGetMessageWait();
    void postedMessagesAndTimersFlowWhileModal();

    void showModalReturnsTheResultTheFormSets();
    void showModalTakesADialogsOwnEnding_data();
    void showModalTakesADialogsOwnEnding();
    void showModalEndsOnQuitAndPutsItBack();
    void showModalSurvivesTheFormBeingDeleted();

    void runEndsOnQuitWithItsExitCodeAndUpdatesActionsWhenIdle();
    void processMessagesHandlesWhatIsQueuedAndKeepsQuit();
    void checkableActionLeavesItsStateToExecute();

    void messageBoxShowsCaptionAndTextAndCloses();
    void messageBoxShowsTextAsPlainText();
    void exceptionInAHandlerIsShownAndTheProgramGoesOn();

    void helpNeverComesFromTheCurrentFolder();

    void openDialogFiltersMatchEitherCase();
    void centerFormPlacesOverTheMainWindow();
    void statusBarKeepsPanelTextsAndWidths();
};

void TstToolkit::crossThreadSendIsServicedInsideQDialogExec() {
    ProbeWindow window;
    std::atomic<LRESULT> result{-1};
    QDialog dialog;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &dialog, [&] {
        if (window.probes > 0) dialog.accept();
    });
    poll.start(5);
    QTimer::singleShot(SafetyMs, &dialog, &QDialog::reject);
    std::thread sender = SendFromOtherThread(window.hwnd, result);
    const int code = dialog.exec(); // Qt's own loop, not ours
    DestroyWindow(window.hwnd);     // releases the sender if it was never serviced
    sender.join();
    QCOMPARE(code, int(QDialog::Accepted));
    QCOMPARE(result.load(), LRESULT(42));
    QCOMPARE(window.handledOnThread.load(), CurrentThreadId());
}

void TstToolkit::crossThreadSendIsServicedInsideShowModal() {
    ProbeWindow window;
    std::atomic<LRESULT> result{-1};
    QWidget form;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &form, [&] {
        if (window.probes > 0) toolkit::SetModalResult(&form, toolkit::mrOk);
    });
    poll.start(5);
    QTimer::singleShot(SafetyMs, &form,
                       [&form] { toolkit::SetModalResult(&form, toolkit::mrAbort); });
    std::thread sender = SendFromOtherThread(window.hwnd, result);
    const int modalResult = toolkit::ShowModal(&form);
    DestroyWindow(window.hwnd);
    sender.join();
    QCOMPARE(modalResult, int(toolkit::mrOk));
    QCOMPARE(result.load(), LRESULT(42));
    QCOMPARE(window.handledOnThread.load(), CurrentThreadId());
    QVERIFY(!form.isVisible());
}

void TstToolkit::buttonClickEndsAGetMessageWait() {
    ProbeWindow window;
    QPushButton btnCancel(QStringLiteral("Cancel"));
    btnCancel.show();
    bool cancelled = false;
    QObject::connect(&btnCancel, &QPushButton::clicked, [&cancelled] { cancelled = true; });
    QTimer::singleShot(20, &btnCancel, &QPushButton::click);
    SetTimer(window.hwnd, 1, SafetyMs); // the wait's own time-out
    bool timedOut = false;
    MSG msg;
    // A reply wait as the connections run it: only this window's messages, re-checking the
    // cancel flag after every return.
    for (int turns = 0; turns < 100000 && !cancelled && !timedOut; ++turns) {
        if (!GetMessage(&msg, window.hwnd, 0, 0)) break;
        if (msg.message == WM_TIMER) timedOut = true;
    }
    KillTimer(window.hwnd, 1);
    QVERIFY(cancelled);
    QVERIFY(!timedOut);
}

void TstToolkit::postedMessagesAndTimersFlowWhileModal() {
    ProbeWindow window;
    QWidget form;
    SetTimer(window.hwnd, 5, 10);
    PostMessage(window.hwnd, WM_PROBE, 1, 0);
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &form, [&] {
        if (window.timers >= 3 && window.probes == 1) toolkit::SetModalResult(&form, toolkit::mrOk);
    });
    poll.start(5);
    QTimer::singleShot(SafetyMs, &form,
                       [&form] { toolkit::SetModalResult(&form, toolkit::mrAbort); });
    QCOMPARE(toolkit::ShowModal(&form), int(toolkit::mrOk));
    KillTimer(window.hwnd, 5);
}

void TstToolkit::showModalReturnsTheResultTheFormSets() {
    QWidget form;
    QTimer::singleShot(10, &form, [&form] {
        QVERIFY(form.isVisible());
        QVERIFY(form.isModal());
        toolkit::SetModalResult(&form, toolkit::mrRetry);
    });
    QTimer::singleShot(SafetyMs, &form,
                       [&form] { toolkit::SetModalResult(&form, toolkit::mrAbort); });
    QCOMPARE(toolkit::ShowModal(&form), int(toolkit::mrRetry));
    QVERIFY(!form.isVisible());
    // A second showing starts again from no result.
    QTimer::singleShot(10, &form, [&form] {
        QCOMPARE(toolkit::GetModalResult(&form), int(toolkit::mrNone));
        form.close();
    });
    QCOMPARE(toolkit::ShowModal(&form), int(toolkit::mrCancel));
}

void TstToolkit::showModalTakesADialogsOwnEnding_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("expected");
    QTest::newRow("accept") << "accept" << int(toolkit::mrOk);
    QTest::newRow("reject") << "reject" << int(toolkit::mrCancel);
    QTest::newRow("done(mrNo)") << "done" << int(toolkit::mrNo);
    QTest::newRow("Escape") << "escape" << int(toolkit::mrCancel);
    QTest::newRow("close") << "close" << int(toolkit::mrCancel);
}

void TstToolkit::showModalTakesADialogsOwnEnding() {
    QFETCH(QString, how);
    QFETCH(int, expected);
    QDialog dialog;
    QTimer::singleShot(10, &dialog, [&dialog, how] {
        if (how == "accept")
            dialog.accept();
        else if (how == "reject")
            dialog.reject();
        else if (how == "done")
            dialog.done(toolkit::mrNo);
        else if (how == "escape")
            QTest::keyClick(&dialog, Qt::Key_Escape);
        else
            dialog.close();
    });
    QTimer::singleShot(SafetyMs, &dialog,
                       [&dialog] { toolkit::SetModalResult(&dialog, toolkit::mrAbort); });
    QCOMPARE(toolkit::ShowModal(&dialog), expected);
}

void TstToolkit::showModalEndsOnQuitAndPutsItBack() {
    QWidget form;
    QTimer::singleShot(10, &form, [] { PostQuitMessage(7); });
    QTimer::singleShot(SafetyMs, &form,
                       [&form] { toolkit::SetModalResult(&form, toolkit::mrAbort); });
    QCOMPARE(toolkit::ShowModal(&form), int(toolkit::mrCancel));
    MSG msg;
    QVERIFY(PeekMessage(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    QCOMPARE(msg.message, WM_QUIT);
    QCOMPARE(msg.wParam, WPARAM(7));
}

void TstToolkit::showModalSurvivesTheFormBeingDeleted() {
    auto *form = new QWidget;
    QTimer::singleShot(10, form, [form] { delete form; });
    QTimer safety;
    safety.setSingleShot(true);
    QObject::connect(&safety, &QTimer::timeout, [] { PostQuitMessage(99); });
    safety.start(SafetyMs);
    QCOMPARE(toolkit::ShowModal(form), int(toolkit::mrCancel));
    QVERIFY(safety.isActive()); // ended by the deletion, not the safety quit
}

void TstToolkit::runEndsOnQuitWithItsExitCodeAndUpdatesActionsWhenIdle() {
    toolkit::TActionList list;
    toolkit::TAction *action = list.Add(QStringLiteral("Probe"));
    int updates = 0;
    action->OnUpdate = [&updates] { ++updates; };
    ProbeWindow window;
    PostMessage(window.hwnd, WM_PROBE, 1, 0);
    QTimer::singleShot(20, [] { PostQuitMessage(3); });
    QCOMPARE(toolkit::Run(), 3);
    QCOMPARE(window.probes.load(), 1);
    QVERIFY(updates > 0);
}

void TstToolkit::processMessagesHandlesWhatIsQueuedAndKeepsQuit() {
    ProbeWindow window;
    PostMessage(window.hwnd, WM_PROBE, 1, 0);
    PostMessage(window.hwnd, WM_PROBE, 2, 0);
    PostQuitMessage(4);
    toolkit::ProcessMessages();
    QCOMPARE(window.probes.load(), 2);
    MSG msg;
    QVERIFY(PeekMessage(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    QCOMPARE(msg.wParam, WPARAM(4));
}

void TstToolkit::checkableActionLeavesItsStateToExecute() {
    toolkit::TActionList list;
    toolkit::TAction *action = list.Add(QStringLiteral("Flag"));
    action->setCheckable(true);
    int executions = 0;
    action->OnExecute = [&executions] { ++executions; };
    action->trigger();
    QCOMPARE(executions, 1);
    QVERIFY(!action->isChecked()); // Execute did not check it, so it stays clear
    action->OnExecute = [action] { action->setChecked(!action->isChecked()); };
    action->trigger();
    QVERIFY(action->isChecked());
}

void TstToolkit::messageBoxShowsCaptionAndTextAndCloses() {
    testing_support::SeenBox seen;
    testing_support::CloseNextMessageBox(seen);
    toolkit::ShowMessageBox(QStringLiteral("Error"), QStringLiteral("Invalid baud rate."));
    QVERIFY(seen.seen);
    QCOMPARE(seen.caption, QStringLiteral("Error"));
    QCOMPARE(seen.text, QStringLiteral("Invalid baud rate."));
}

void TstToolkit::messageBoxShowsTextAsPlainText() {
    QString format;
    testing_support::WhenVisible<QMessageBox>([&format](QMessageBox *box) {
        format = box->textFormat() == Qt::PlainText ? "plain" : "other";
        box->button(QMessageBox::Ok)->click();
    });
    toolkit::ShowMessageBox(QStringLiteral("error"), QStringLiteral("<b>/tmp/a<b>.bin</b>"));
    QCOMPARE(format, QStringLiteral("plain"));
}

void TstToolkit::exceptionInAHandlerIsShownAndTheProgramGoesOn() {
    toolkit::SetApplicationTitle(QStringLiteral("Tarnwick"));
    QPushButton button;
    QObject::connect(&button, &QPushButton::clicked,
                     [] { throw std::runtime_error("'12x' is not a valid integer value"); });
    testing_support::SeenBox seen;
    testing_support::CloseNextMessageBox(seen);
    QTest::mouseClick(&button, Qt::LeftButton); // through the application's notify
    QVERIFY(seen.seen);
    QCOMPARE(seen.caption, QStringLiteral("Tarnwick"));
    QCOMPARE(seen.text, QStringLiteral("'12x' is not a valid integer value"));
}

// Help used to be taken from the current folder, so a program started elsewhere found none. A
// help file there is now ignored: the pages come from the folders searched, or nowhere.
void TstToolkit::helpNeverComesFromTheCurrentFolder() {
    QTemporaryDir current, help, empty;
    QVERIFY(current.isValid() && help.isValid() && empty.isValid());
    QVERIFY(QDir(current.path()).mkpath(QStringLiteral("docs")));
    for (const QString &path : {current.filePath(QStringLiteral("docs/Mossvale.html")),
                                current.filePath(QStringLiteral("Mossvale.html")),
                                help.filePath(QStringLiteral("Mossvale.html")),
                                help.filePath(QStringLiteral("options.html"))}) {
        QFile page(path);
        QVERIFY(page.open(QIODevice::WriteOnly));
    }
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(current.path()));
    toolkit::SetApplicationHelpFile(QStringLiteral("Mossvale.hlp"));
    const toolkit::HelpOpener before = toolkit::SetHelpOpener(RecordUrl);
    openedUrls.clear();

    toolkit::SetHelpSearchFolders({help.path()});
    const bool contents = toolkit::HelpCommand(toolkit::HELP_FINDER, 0);
    const bool topic = toolkit::HelpContext(6);
    toolkit::SetHelpSearchFolders({empty.path()});
    testing_support::SeenBox seen;
    testing_support::CloseNextMessageBox(seen);
    const bool fromNowhere = toolkit::HelpCommand(toolkit::HELP_FINDER, 0);

    toolkit::SetHelpSearchFolders({});
    toolkit::SetHelpOpener(before);
    QDir::setCurrent(previous);
    QVERIFY(contents && topic && !fromNowhere);
    QCOMPARE(openedUrls.size(), size_t(2));
    for (const QUrl &url : openedUrls)
        QVERIFY2(url.toLocalFile().startsWith(help.path()), qPrintable(url.toLocalFile()));
    QVERIFY(seen.seen);
    QVERIFY2(!seen.text.contains(current.path()), qPrintable(seen.text));
}

void TstToolkit::openDialogFiltersMatchEitherCase() {
    const QStringList filters =
        toolkit::QtNameFilters(QStringLiteral("Binary Image Files (*.bin)|*.BIN"));
    QCOMPARE(filters.size(), 1);
    QVERIFY(filters[0].startsWith(QStringLiteral("Binary Image Files (*.bin) (")));
    const QString pattern = filters[0].section(QLatin1Char('('), -1).chopped(1);
    const QRegularExpression match(QRegularExpression::wildcardToRegularExpression(pattern));
    QVERIFY(match.match(QStringLiteral("image.bin")).hasMatch());
    QVERIFY(match.match(QStringLiteral("IMAGE.BIN")).hasMatch());
    QVERIFY(!match.match(QStringLiteral("image.upl")).hasMatch());
    QCOMPARE(toolkit::QtNameFilters(QStringLiteral("A|*.a|B|*.b;*.c")).size(), 2);
    QVERIFY(toolkit::QtNameFilters(QString()).isEmpty());
}

void TstToolkit::centerFormPlacesOverTheMainWindow() {
    QWidget mainForm;
    mainForm.setGeometry(100, 80, 400, 300);
    QWidget form;
    form.resize(403, 306);
    toolkit::CenterForm(mainForm, form);
    QCOMPARE(form.x(), mainForm.x() - 1);
    QCOMPARE(form.y(), mainForm.y() - 3);
}

void TstToolkit::statusBarKeepsPanelTextsAndWidths() {
    toolkit::TStatusBar bar(2);
    bar.SetPanelText(0, QStringLiteral("Sending Coldloader"));
    bar.SetPanelText(1, QStringLiteral("1024 bytes"));
    bar.SetPanelWidth(1, 120);
    bar.SetPanelText(2, QStringLiteral("ignored"));
    bar.SetPanelWidth(-1, 5);
    QCOMPARE(bar.PanelCount(), 2);
    QCOMPARE(bar.PanelText(0), QStringLiteral("Sending Coldloader"));
    QCOMPARE(bar.PanelText(1), QStringLiteral("1024 bytes"));
    QCOMPARE(bar.PanelWidth(1), 120);
    QCOMPARE(bar.PanelText(2), QString());
    QCOMPARE(bar.PanelWidth(2), 0);
    bar.resize(240, bar.sizeHint().height());
    QVERIFY(!bar.grab().isNull()); // paints with texts wider than the panels
}

TARNWICK_TEST_MAIN(TstToolkit)
#include "tst_toolkit.moc"
