// The Discovery window against the simulated discovery responder on 127.0.0.1: a round with no
// device, a device that answers every request of the round, the busy rules (no Select, Cancel,
// Escape or close while the round runs), the choice copied to the caller, and a failing round.
#include "toolkit/ModalHelpers.h"

#include "DiscoveryResponder.h"

#include "discovery/ControlPictures.h"
#include "discovery/Frmzepdiscovery.h"
#include "platform/Socket.h"
#include "settings/Zepenvironment.h"
#include "toolkit/Actions.h"
#include "toolkit/Forms.h"

#include <QHeaderView>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

#include <memory>
#include <string>

namespace {

// Short rounds keep the tests quick; the polls still go through the window's own timer.
constexpr int ShortRound = 5;
// Long enough for all three requests of a round (sent one second apart).
constexpr int ThreeRequestRound = 30;

// A responder on an ephemeral port whose neighbour (where the round listens) is free.
std::unique_ptr<sim::DiscoveryResponder> StartResponder(sim::DiscoveryOptions options) {
    options.port = 0;
    for (int attempt = 0; attempt < 20; ++attempt) {
        auto responder = std::make_unique<sim::DiscoveryResponder>(options);
        if (!responder->Start() || responder->Port() == 0xFFFF) continue;
        platform::Socket probe = platform::Socket::Udp();
        if (probe.Bind(platform::Ipv4Any, uint16_t(responder->Port() + 1)) == 0) return responder;
    }
    return nullptr;
}

sim::DiscoveryOptions Bench(bool silent = false) {
    sim::DiscoveryOptions options;
    options.name = "Bench-1";
    options.status = 1; // Programmed
    options.controlPort = 4244;
    options.silent = silent;
    return options;
}

QStringList RowTexts(const QTreeWidget *list, int row) {
    QStringList texts;
    for (int column = 0; column < list->columnCount(); ++column)
        texts << list->topLevelItem(row)->text(column);
    return texts;
}

// Runs the window modally; act runs once it is up. Ends with mrAbort after limitMs whatever
// happens, so a fault fails the test instead of hanging it.
int RunModal(TfrmDiscovery &form, const std::function<void(TfrmDiscovery *)> &act,
             int limitMs = 10000) {
    testing_support::WhenVisible<TfrmDiscovery>(act);
    QTimer::singleShot(limitMs, &form, [&form] {
        if (form.Busy())
            form.tmrDiscovery->setInterval(1); // let the round run out, so the window can end
        toolkit::SetModalResult(&form, toolkit::mrAbort);
    });
    return toolkit::ShowModal(&form);
}

// Calls then every 20 ms (at most limitMs) until done() holds, then runs then once.
void WhenTrue(QObject *context, std::function<bool()> done, std::function<void()> then,
              int limitMs = 8000) {
    auto *timer = new QTimer(context);
    auto waited = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, timer, [=] {
        *waited += 20;
        if (done() || *waited >= limitMs) {
            timer->stop();
            timer->deleteLater();
            then();
        }
    });
    timer->start(20);
}

// Runs the window modally and, once its round is over, selects the first row and presses Select.
int SelectFirstRow(TfrmDiscovery &form) {
    return RunModal(form, [](TfrmDiscovery *shown) {
        WhenTrue(
            shown, [shown] { return !shown->Busy(); },
            [shown] {
                if (shown->lvDiscovery->topLevelItemCount() > 0)
                    shown->lvDiscovery->setCurrentItem(shown->lvDiscovery->topLevelItem(0));
                shown->btnSelect->click();
            });
    });
}

} // namespace

class TstFrmZepDiscovery : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void contents();
    void noDeviceLeavesTheListEmptyAndSelectDoesNothing();
    void deviceAnsweringEveryRequestIsListedOnce();
    void escapeAndCloseWaitForTheRoundThenEscapeCancels();
    void selectCopiesTheChosenRow();
    void controlsInANameShowAsSymbolsInItsOneRow();
    void failingRoundEndsAndSaysSo();
};

void TstFrmZepDiscovery::initTestCase() {
    // Nothing leaves this machine: every request goes to the responder on loopback.
    Env().DiscoveryBroadcastAddress = "127.0.0.1";
}

void TstFrmZepDiscovery::contents() {
    std::string address, name, port;
    TfrmDiscovery form(nullptr, address, name, port);
    QCOMPARE(form.windowTitle(), QStringLiteral("Discovery"));
    QCOMPARE(form.windowType(), Qt::Tool);
    QCOMPARE(form.lvDiscovery->columnCount(), 5);
    const QStringList headers = {"Name", "IP Address", "Control Port", "Status", "MAC Address"};
    for (int column = 0; column < headers.size(); ++column)
        QCOMPARE(form.lvDiscovery->headerItem()->text(column), headers[column]);
    QCOMPARE(form.lvDiscovery->selectionBehavior(), QAbstractItemView::SelectRows);
    QCOMPARE(form.lvDiscovery->header()->sectionResizeMode(0), QHeaderView::ResizeToContents);
    QCOMPARE(form.btnSelect->text(), QStringLiteral("&Select"));
    QCOMPARE(form.btnCancel->text(), QStringLiteral("&Cancel"));
    QCOMPARE(form.tmrDiscovery->interval(), 100);
    QVERIFY(!form.tmrDiscovery->isActive());
    QCOMPARE(form.Countdown(), 50);
    QVERIFY(!form.Busy());
}

void TstFrmZepDiscovery::noDeviceLeavesTheListEmptyAndSelectDoesNothing() {
    auto responder = StartResponder(Bench(true));
    QVERIFY(responder);
    std::string address = "kept", name, port;
    TfrmDiscovery form(nullptr, address, name, port, responder->Port());
    form.SetRoundPolls(ShortRound);
    form.show();

    QVERIFY(form.Busy());
    QVERIFY(!form.btnSelect->isEnabled());
    QVERIFY(!form.btnCancel->isEnabled());
    QVERIFY(QApplication::overrideCursor() != nullptr);
    QVERIFY(responder->WaitForRequests(1, std::chrono::seconds(2)));

    QTRY_VERIFY_WITH_TIMEOUT(!form.Busy(), 3000);
    QVERIFY(form.btnSelect->isEnabled());
    QVERIFY(form.btnCancel->isEnabled());
    QVERIFY(QApplication::overrideCursor() == nullptr);
    QCOMPARE(form.lvDiscovery->topLevelItemCount(), 0);
    QVERIFY(!form.tmrDiscovery->isActive());

    form.btnSelect->click();
    QCOMPARE(toolkit::GetModalResult(&form), int(toolkit::mrNone));
    QCOMPARE(address, std::string("kept"));
}

void TstFrmZepDiscovery::deviceAnsweringEveryRequestIsListedOnce() {
    auto responder = StartResponder(Bench());
    QVERIFY(responder);
    std::string address, name, port;
    TfrmDiscovery form(nullptr, address, name, port, responder->Port());
    form.SetRoundPolls(ThreeRequestRound);
    form.show();
    QTRY_VERIFY_WITH_TIMEOUT(!form.Busy(), 6000);

    QCOMPARE(responder->Requests().size(), size_t(3));
    QCOMPARE(form.lvDiscovery->topLevelItemCount(), 1);
    QCOMPARE(RowTexts(form.lvDiscovery, 0),
             QStringList({"Bench-1", "127.0.0.1", "4244", "Programmed", "02:00:5e:10:00:01"}));
}

void TstFrmZepDiscovery::escapeAndCloseWaitForTheRoundThenEscapeCancels() {
    auto responder = StartResponder(Bench(true));
    QVERIFY(responder);
    std::string address, name, port;
    TfrmDiscovery form(nullptr, address, name, port, responder->Port());
    form.SetRoundPolls(ShortRound);
    bool stayedDuringRound = false;
    const int result = RunModal(form, [&](TfrmDiscovery *shown) {
        QTest::keyClick(shown, Qt::Key_Escape);
        shown->close();
        shown->btnCancel->click();
        stayedDuringRound = shown->isVisible() && shown->Busy() &&
                            toolkit::GetModalResult(shown) == toolkit::mrNone;
        WhenTrue(
            shown, [shown] { return !shown->Busy(); },
            [shown] { QTest::keyClick(shown, Qt::Key_Escape); });
    });
    QVERIFY(stayedDuringRound);
    QCOMPARE(result, int(toolkit::mrCancel));
}

void TstFrmZepDiscovery::selectCopiesTheChosenRow() {
    auto responder = StartResponder(Bench());
    QVERIFY(responder);
    std::string address = "old", name = "old", port = "old";
    TfrmDiscovery form(nullptr, address, name, port, responder->Port());
    form.SetRoundPolls(ShortRound);
    QCOMPARE(SelectFirstRow(form), int(toolkit::mrOk));
    QCOMPARE(address, std::string("127.0.0.1"));
    QCOMPARE(name, std::string("Bench-1"));
    QCOMPARE(port, std::string("4244"));
}

void TstFrmZepDiscovery::controlsInANameShowAsSymbolsInItsOneRow() {
    sim::DiscoveryOptions options = Bench();
    // A line break and a line separator that would draw a second row, a screen-clearing escape
    // sequence and a tab.
    options.name = "Lab\n\x1b[2J\tFake\xe2\x80\xa8"
                   "Row";
    auto responder = StartResponder(options);
    QVERIFY(responder);
    std::string address, name, port;
    TfrmDiscovery form(nullptr, address, name, port, responder->Port());
    form.SetRoundPolls(ShortRound);
    QCOMPARE(SelectFirstRow(form), int(toolkit::mrOk));

    QCOMPARE(form.lvDiscovery->topLevelItemCount(), 1);
    const QString shown = form.lvDiscovery->topLevelItem(0)->text(TfrmDiscovery::ColName);
    for (const QChar c : shown)
        QVERIFY2(c.category() != QChar::Other_Control && c != QChar::LineSeparator,
                 qPrintable(QStringLiteral("U+%1 in the row").arg(c.unicode(), 4, 16)));
    QCOMPARE(shown, QString::fromStdString(WithControlPictures(options.name)));
    QCOMPARE(name, WithControlPictures(options.name)); // Select takes the name as shown
}

void TstFrmZepDiscovery::failingRoundEndsAndSaysSo() {
    auto responder = StartResponder(Bench());
    QVERIFY(responder);
    // The round's receiving port is taken: it cannot open.
    platform::Socket taken = platform::Socket::Udp();
    QCOMPARE(taken.Bind(platform::Ipv4Any, uint16_t(responder->Port() + 1)), 0);

    std::string address, name, port;
    TfrmDiscovery form(nullptr, address, name, port, responder->Port());
    testing_support::SeenBox seen;
    testing_support::CloseNextMessageBox(seen);
    form.show();
    QTRY_VERIFY_WITH_TIMEOUT(seen.seen, 5000);
    QCOMPARE(seen.caption, QStringLiteral("Error"));
    QCOMPARE(seen.text, QStringLiteral("Target communication error."));
    QVERIFY(!form.Busy());
    QVERIFY(form.btnCancel->isEnabled());
    QVERIFY(QApplication::overrideCursor() == nullptr);
    QVERIFY(!form.tmrDiscovery->isActive());
    QCOMPARE(responder->Requests().size(), size_t(0));
}

TARNWICK_TEST_MAIN(TstFrmZepDiscovery)
#include "tst_frmzepdiscovery.moc"
