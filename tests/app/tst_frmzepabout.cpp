// The About box: its contents, the version shown once per showing, Enter and Escape, placement.
#include "toolkit/ModalHelpers.h"

#include "app/Frmzepabout.h"
#include "app/Frmzepmain.h"
#include "settings/Version.h"
#include "toolkit/Forms.h"

#include <QKeyEvent>
#include <QLabel>
#include <QtTest>

#include <memory>

class TstFrmZepAbout : public QObject {
    Q_OBJECT

private slots:
    void init() { mainWindow_ = std::make_unique<TfrmZEP>(); }
    void cleanup() { mainWindow_.reset(); }

    void contentsAndSize();
    void aboutCommandTwiceShowsTheVersionOnceEachTime();
    void sameBoxShownAgainStillShowsTheVersionOnce();
    void enterAndEscapeClose_data();
    void enterAndEscapeClose();
    void centredOverTheMainWindow();

private:
    std::unique_ptr<TfrmZEP> mainWindow_;
};

namespace {

struct SeenAbout {
    QString version;
    QString copyright;
    bool seen = false;
};

// Reads the next About box when it is up, then closes it with the key.
void ReadAndClose(SeenAbout &seen, Qt::Key key) {
    testing_support::WhenVisible<TfrmAbout>([&seen, key](TfrmAbout *box) {
        seen.version = box->txtVersion->text();
        seen.copyright = box->txtCopyright->text();
        seen.seen = true;
        QTest::keyClick(box, key);
    });
}

} // namespace

void TstFrmZepAbout::contentsAndSize() {
    TfrmAbout box(mainWindow_.get());
    QCOMPARE(box.windowTitle(), QStringLiteral("About"));
    QCOMPARE(box.size(), QSize(292, 128));
    QCOMPARE(box.txtAbout->text(), QStringLiteral("Tarnwick"));
    QVERIFY(box.txtAbout->font().bold());
    QCOMPARE(box.txtAbout->font().pixelSize(), 16);
    QCOMPARE(box.txtVersion->text(), QStringLiteral("Version "));
    QCOMPARE(box.imgCorvix->size(), QSize(73, 65));
    QCOMPARE(box.imgCorvix->pixmap().size(), QSize(73, 65));
    QCOMPARE(box.Panel2->geometry(), QRect(292 - 18, 128 - 10, 18, 10));
    // The notice lines stand one under the other below the version.
    QVERIFY(box.txtCopyright->y() > box.txtVersion->y());
    QVERIFY(box.txtRights->y() > box.txtCopyright->y());
    QVERIFY(box.txtPurpose->y() > box.txtRights->y());
    QVERIFY(box.findChildren<QAbstractButton *>().isEmpty()); // no buttons
}

void TstFrmZepAbout::aboutCommandTwiceShowsTheVersionOnceEachTime() {
    const QString year = QString::fromLatin1(VersionYear());
    for (int showing = 0; showing < 2; ++showing) {
        SeenAbout seen;
        ReadAndClose(seen, Qt::Key_Escape);
        mainWindow_->optAbout->trigger();
        QVERIFY(seen.seen);
        QCOMPARE(seen.version, QStringLiteral("Version 3.02"));
        QCOMPARE(seen.copyright, QStringLiteral("Copyright (c) ") + year);
    }
    QVERIFY(mainWindow_->findChildren<TfrmAbout *>().isEmpty()); // each box was destroyed
}

void TstFrmZepAbout::sameBoxShownAgainStillShowsTheVersionOnce() {
    TfrmAbout box(mainWindow_.get());
    for (int showing = 0; showing < 2; ++showing) {
        SeenAbout seen;
        ReadAndClose(seen, Qt::Key_Return);
        toolkit::ShowModal(&box);
        QVERIFY(seen.seen);
        QCOMPARE(seen.version, QStringLiteral("Version 3.02"));
    }
}

void TstFrmZepAbout::enterAndEscapeClose_data() {
    QTest::addColumn<int>("key");
    QTest::newRow("Enter") << int(Qt::Key_Return);
    QTest::newRow("keypad Enter") << int(Qt::Key_Enter);
    QTest::newRow("Escape") << int(Qt::Key_Escape);
}

void TstFrmZepAbout::enterAndEscapeClose() {
    QFETCH(int, key);
    TfrmAbout box(mainWindow_.get());
    bool stillOpenAfterOtherKey = false;
    testing_support::WhenVisible<TfrmAbout>([&](TfrmAbout *shown) {
        QTest::keyClick(shown, Qt::Key_A);
        QTest::keyClick(shown, Qt::Key_Space);
        stillOpenAfterOtherKey = shown->isVisible();
        QTest::keyClick(shown, static_cast<Qt::Key>(key));
    });
    QTimer::singleShot(5000, &box, [&box] { toolkit::SetModalResult(&box, toolkit::mrAbort); });
    QCOMPARE(toolkit::ShowModal(&box), int(toolkit::mrCancel));
    QVERIFY(stillOpenAfterOtherKey);
    QVERIFY(!box.isVisible());
}

void TstFrmZepAbout::centredOverTheMainWindow() {
    mainWindow_->move(200, 150);
    TfrmAbout box(mainWindow_.get());
    QPoint outer;
    QPoint client;
    testing_support::WhenVisible<TfrmAbout>([&](TfrmAbout *shown) {
        outer = shown->frameGeometry().topLeft();
        client = shown->geometry().topLeft();
        QTest::keyClick(shown, Qt::Key_Escape);
    });
    toolkit::ShowModal(&box);
    // The box is placed while it is being shown, when Qt may not know the frame's size yet; the
    // corner is then taken as the client's.
    const QPoint expected(200 + (463 - 292) / 2, 150 + (408 - 128) / 2);
    QVERIFY2(outer == expected || client == expected,
             qPrintable(QStringLiteral("outer %1,%2 client %3,%4")
                            .arg(outer.x())
                            .arg(outer.y())
                            .arg(client.x())
                            .arg(client.y())));
}

TARNWICK_TEST_MAIN(TstFrmZepAbout)
#include "tst_frmzepabout.moc"
