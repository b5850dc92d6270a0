// The progress window: it starts the load by itself once shown, shows the stage and the
// percentage, cannot be closed by the user while the load runs, passes Cancel to the engine while
// the engine waits for the board, and closes when the load has ended.
#include "load/Frmzeploadimage.h"
#include "support/WaitingEngine.h"
#include "load/LoadSession.h"
#include "loader/LoaderErrors.h"
#include "settings/Zepenvironment.h"
#include "toolkit/Forms.h"
#include "toolkit/StatusBar.h"

#include <QCloseEvent>
#include <QDir>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <QMessageBox>

#include <fstream>
#include <functional>

class TestFrmLoadImage : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    Environment env;
    QWidget owner;
    toolkit::TStatusBar *status = nullptr;

    std::string WriteFile(const QString &name, const std::vector<uint8_t> &bytes) {
        const std::string path = dir.filePath(name).toStdString();
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char *>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return path;
    }

private slots:
    void initTestCase() {
        QVERIFY(dir.isValid());
        env.ColdLoaderFile = WriteFile("coldload.bin", {0x80, 0x24, 0x80});
        env.PilotBiosFile = WriteFile("pilot.bin", {0xCC, 1, 2, 3});
        const std::string table = "[00bf]\nwrite mode=2\n";
        env.FlashTableFile =
            WriteFile("Flash.ini", std::vector<uint8_t>(table.begin(), table.end()));
        env.ColdloadBaudRate = 2400;
        env.PilotBiosBaudRate = 57600;
        env.BiosBaudRate = 115200;
        env.Comm.MaxNegotiatedBaud = 57600;
        owner.resize(463, 408);
        status = new toolkit::TStatusBar(2, &owner);
        owner.show();
    }

    void windowHasTheFixedLayoutAndNoBorderIcons() {
        WaitingEngine engine;
        TfrmLoadImage form(&owner, status, "none.bin", env, engine, {});
        form.tmrStartLoad->stop();
        QCOMPARE(form.windowTitle(), QStringLiteral("Progress"));
        QCOMPARE(form.size(), QSize(312, 109));
        QCOMPARE(form.btnCancel->text(), QStringLiteral("&Cancel"));
        QCOMPARE(form.pbarProgressBar->size(), QSize(249, 25));
        QCOMPARE(form.tmrStartLoad->interval(), 1);
        QVERIFY(!(form.windowFlags() & Qt::WindowCloseButtonHint));
        QVERIFY(!(form.windowFlags() & Qt::WindowSystemMenuHint));
        // The user cannot close it while the load has not ended.
        QCloseEvent close;
        QApplication::sendEvent(&form, &close);
        QVERIFY(!close.isAccepted());
    }

    void loadStartsByItselfAndClosesWhenDone() {
        WaitingEngine engine;
        const std::string image = WriteFile("image.bin", std::vector<uint8_t>(300, 0x5A));
        TfrmLoadImage form(&owner, status, image, env, engine, {});
        QCOMPARE(form.lblPercent->text(), QStringLiteral("0%"));
        QString stageAtFirstWrite;
        QString percentAtFirstWrite;
        engine.whileWaiting = [&] {
            stageAtFirstWrite = form.lblProgress->text();
            percentAtFirstWrite = form.lblPercent->text();
        };
        QTimer safety;
        safety.setSingleShot(true);
        QObject::connect(&safety, &QTimer::timeout,
                         [&] { toolkit::SetModalResult(&form, toolkit::mrAbort); });
        safety.start(10000);
        QCOMPARE(toolkit::ShowModal(&form), int(toolkit::mrOk));
        // The loaders (3 + 4 bytes of 307) are out and the first block (128) is counted as it
        // goes: 135 of 307, rounded down.
        QCOMPARE(stageAtFirstWrite, QStringLiteral("Sending Program"));
        QCOMPARE(percentAtFirstWrite, QStringLiteral("43%"));
        QCOMPARE(form.lblPercent->text(), QStringLiteral("100%"));
        QCOMPARE(form.Outcome().Code, 0);
        QCOMPARE(form.Outcome().ImageBytes, uint32_t(300));
        QCOMPARE(engine.writes, 3);
        QCOMPARE(engine.startBios, 1);
        QCOMPARE(form.Session().Result, 0);
        QCOMPARE(status->PanelText(1), QStringLiteral("307 of 307 bytes sent"));
        QVERIFY(status->PanelText(0).startsWith(QStringLiteral("Elapsed Time: ")));
        QCOMPARE(owner.windowTitle(),
                 QStringLiteral("Tarnwick 3.02 (%1)").arg(QString::fromStdString(image)));
        QCOMPARE(form.windowTitle(),
                 QStringLiteral("Progress (%1)").arg(QString::fromStdString(image)));
        QCOMPARE(form.pbarProgressBar->value(), form.pbarProgressBar->maximum());
    }

    void cancelDuringAWaitEndsTheLoadWithoutABox() {
        WaitingEngine engine;
        engine.waitForCancel = true;
        const std::string image = WriteFile("image2.bin", std::vector<uint8_t>(1000, 0x11));
        TfrmLoadImage form(&owner, status, image, env, engine, {});
        bool boxSeen = false;
        engine.whileWaiting = [&] {
            QCOMPARE(form.lblProgress->text(), QStringLiteral("Sending Program"));
            if (const char *dirName = std::getenv("TARNWICK_SCREENSHOT_DIR"))
                form.grab().save(QDir(dirName).filePath(QStringLiteral("progress-window.png")));
            QTimer::singleShot(20, form.btnCancel, &QPushButton::click);
        };
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&] {
            for (QWidget *w : QApplication::topLevelWidgets())
                if (w->isVisible() && w->inherits("QMessageBox")) boxSeen = true, w->close();
        });
        watch.start(5);
        QCOMPARE(toolkit::ShowModal(&form), int(toolkit::mrOk));
        QCOMPARE(form.Session().Result, int(LoaderErrorCancelled));
        QCOMPARE(engine.writes, 1);
        QCOMPARE(engine.startBios, 0);
        QVERIFY(!boxSeen);
        // A still window after a cancel must not look like a hung load.
        QCOMPARE(status->PanelText(0), QString(ErrorMessage(LoaderErrorCancelled)));
    }

    void aFailureShowsAWarningWithItsDetailBehindTheDetailsButton() {
        WaitingEngine engine;
        engine.failureDetail = "COM3 (/dev/ttyUSB0): no answer to SYS/WRITE within 200 ms";
        const std::string image = WriteFile("image3.bin", std::vector<uint8_t>(300, 0x22));
        TfrmLoadImage form(&owner, status, image, env, engine, {});
        int boxes = 0;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QString text, detail;
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&] {
            for (QWidget *w : QApplication::topLevelWidgets()) {
                auto *box = qobject_cast<QMessageBox *>(w);
                if (box == nullptr || !box->isVisible()) continue;
                ++boxes;
                icon = box->icon();
                text = box->text();
                detail = box->detailedText();
                box->close();
            }
        });
        watch.start(5);
        QCOMPARE(toolkit::ShowModal(&form), int(toolkit::mrOk));
        QCOMPARE(form.Session().Result, int(LoaderErrorTimeout));
        QCOMPARE(boxes, 1);
        QCOMPARE(icon, QMessageBox::Warning);
        QCOMPARE(text, QString(ErrorMessage(LoaderErrorTimeout)));
        QCOMPARE(detail, QString::fromStdString(engine.failureDetail));
    }
};

QTEST_MAIN(TestFrmLoadImage)
#include "tst_frmzeploadimage.moc"
