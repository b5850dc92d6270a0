// The Choose File Locations dialog: the paths it shows, the browse buttons and their filters,
// OK's checks in their order, what OK writes, Enter and Escape, placement over the owner.
#include "toolkit/ModalHelpers.h"

#include "settings/FrmOptionDialogs.h"
#include "settings/Frmzepfilelocations.h"
#include "settings/Zepenvironment.h"
#include "toolkit/CenterForm.h"
#include "toolkit/Forms.h"
#include "toolkit/OpenDialog.h"

#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <vector>

namespace {

const std::string OldColdLoader = "/opt/zep/bios/coldload.bin";
const std::string OldPilotBios = "/opt/zep/bios/pilot.bin";
const std::string OldFlashTable = "/opt/zep/Flash.ini";

struct Browsed {
    QString filter;
    QString fileNameAtStart;
    int runs = 0;
};

} // namespace

class TstFrmZepFileLocations : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void showsThePathsWithTheCaretAtTheEnd();
    void checksInOrder_data();
    void checksInOrder();
    void clearingOnlyTheFlashTableKeepsTheOldPaths();
    void textsAreCopiedUnchangedAndMissingFilesAccepted();
    void browseButtons_data();
    void browseButtons();
    void enterAppliesEscapeCancels();
    void centredOverTheOwnerWhenShown();
    void screenshot();

private:
    std::unique_ptr<TfrmFileLocations> Open(QWidget *owner = nullptr);
    static bool StillOpen(const TfrmFileLocations &form) {
        return form.isVisible() && toolkit::GetModalResult(&form) == toolkit::mrNone;
    }
    bool PathsUnchanged() const {
        return Env().ColdLoaderFile == OldColdLoader && Env().PilotBiosFile == OldPilotBios &&
               Env().FlashTableFile == OldFlashTable;
    }

    std::vector<QString> boxes_;
    OptionMessageBox previousBox_;
    Browsed browsed_;
    QString pick_; // what the open dialog answers; empty: the user cancels
    toolkit::OpenDialogRunner previousRunner_;
};

void TstFrmZepFileLocations::init() {
    Env().ColdLoaderFile = OldColdLoader;
    Env().PilotBiosFile = OldPilotBios;
    Env().FlashTableFile = OldFlashTable;
    boxes_.clear();
    previousBox_ =
        SetOptionMessageBox([this](const QString &caption, const QString &text, QWidget *) {
            QCOMPARE(caption, QStringLiteral("Error"));
            boxes_.push_back(text);
        });
    browsed_ = {};
    pick_.clear();
    previousRunner_ = toolkit::SetOpenDialogRunner([this](toolkit::TOpenDialog &dialog) {
        ++browsed_.runs;
        browsed_.filter = dialog.Filter;
        browsed_.fileNameAtStart = dialog.FileName;
        dialog.FileName = pick_;
        return !pick_.isEmpty();
    });
}

void TstFrmZepFileLocations::cleanup() {
    SetOptionMessageBox(previousBox_);
    toolkit::SetOpenDialogRunner(previousRunner_);
}

std::unique_ptr<TfrmFileLocations> TstFrmZepFileLocations::Open(QWidget *owner) {
    auto form = std::make_unique<TfrmFileLocations>(owner);
    form->show();
    if (!QTest::qWaitForWindowExposed(form.get())) qWarning("the dialog was not exposed");
    return form;
}

void TstFrmZepFileLocations::showsThePathsWithTheCaretAtTheEnd() {
    const auto form = Open();
    QCOMPARE(form->windowTitle(), QStringLiteral("Choose File Locations"));
    QCOMPARE(form->gboxFiles->title(), QStringLiteral(" File Locations "));
    QCOMPARE(form->lblColdLoader->text(), QStringLiteral("Cold Loader : "));
    QCOMPARE(form->lblPilotBIOS->text(), QStringLiteral("Pilot BIOS : "));
    QCOMPARE(form->lblFlashIni->text(), QStringLiteral("Flash table : "));
    QVERIFY(form->lblFlashIni->alignment() & Qt::AlignRight);
    QCOMPARE(form->btnPilotBIOSBrowse->text(), QStringLiteral("..."));
    for (QLineEdit *edit : {form->edtColdLoader, form->edtPilotBIOS, form->edtFlashIni}) {
        QVERIFY(!edit->text().isEmpty());
        QCOMPARE(edit->cursorPosition(), edit->text().size());
    }
    QCOMPARE(form->edtColdLoader->text().toStdString(), OldColdLoader);
    QCOMPARE(form->edtPilotBIOS->text().toStdString(), OldPilotBios);
    QCOMPARE(form->edtFlashIni->text().toStdString(), OldFlashTable);
}

void TstFrmZepFileLocations::checksInOrder_data() {
    QTest::addColumn<bool>("coldLoader"); // filled?
    QTest::addColumn<bool>("pilotBios");
    QTest::addColumn<bool>("flashTable");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("focused"); // 0 cold loader, 1 pilot BIOS, 2 flash table
    QTest::newRow("all empty") << false << false << false << "Cold loader file name cannot be blank"
                               << 0;
    QTest::newRow("cold loader empty")
        << false << true << true << "Cold loader file name cannot be blank" << 0;
    QTest::newRow("pilot BIOS and flash table empty")
        << true << false << false << "Pilot BIOS file name cannot be blank" << 1;
}

void TstFrmZepFileLocations::checksInOrder() {
    QFETCH(bool, coldLoader);
    QFETCH(bool, pilotBios);
    QFETCH(bool, flashTable);
    QFETCH(QString, message);
    QFETCH(int, focused);
    const auto form = Open();
    const QList<QLineEdit *> edits = {form->edtColdLoader, form->edtPilotBIOS, form->edtFlashIni};
    const bool filled[] = {coldLoader, pilotBios, flashTable};
    for (int i = 0; i < 3; ++i)
        if (!filled[i]) edits[i]->clear();
    QTest::keyClick(form->edtFlashIni, Qt::Key_Return); // Enter in any edit is OK
    QCOMPARE(boxes_.size(), size_t(1));
    QCOMPARE(boxes_[0], message);
    QCOMPARE(form->focusWidget(), edits[focused]);
    QVERIFY(StillOpen(*form));
    QVERIFY(PathsUnchanged());
}

void TstFrmZepFileLocations::clearingOnlyTheFlashTableKeepsTheOldPaths() {
    const auto form = Open();
    form->edtColdLoader->setText(QStringLiteral("/new/coldload.bin"));
    form->edtFlashIni->clear();
    form->btnOK->click();
    QCOMPARE(boxes_.size(), size_t(1));
    QCOMPARE(boxes_[0], QStringLiteral("Flash.ini file name cannot be blank"));
    QCOMPARE(form->focusWidget(), form->edtFlashIni);
    QVERIFY(StillOpen(*form));
    QVERIFY(PathsUnchanged());
}

void TstFrmZepFileLocations::textsAreCopiedUnchangedAndMissingFilesAccepted() {
    const auto form = Open();
    const QString missing = QStringLiteral("/no/such/folder/cold load.bin ");
    form->edtColdLoader->setText(missing);
    form->edtPilotBIOS->setText(QStringLiteral("relative/pilot.BIN"));
    form->btnOK->click();
    QVERIFY(boxes_.empty());
    QVERIFY(!form->isVisible());
    QCOMPARE(toolkit::GetModalResult(form.get()), int(toolkit::mrOk));
    QCOMPARE(QString::fromStdString(Env().ColdLoaderFile), missing);
    QCOMPARE(Env().PilotBiosFile, std::string("relative/pilot.BIN"));
    QCOMPARE(Env().FlashTableFile, OldFlashTable);
}

void TstFrmZepFileLocations::browseButtons_data() {
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("filter");
    QTest::newRow("cold loader") << 0 << "Binary Image Files (*.bin)|*.BIN";
    QTest::newRow("pilot BIOS") << 1 << "Binary Image Files (*.bin)|*.BIN";
    QTest::newRow("flash table") << 2 << "Flash Initialization Files (*.ini)|*.INI";
}

void TstFrmZepFileLocations::browseButtons() {
    QFETCH(int, row);
    QFETCH(QString, filter);
    const auto form = Open();
    const QList<QLineEdit *> edits = {form->edtColdLoader, form->edtPilotBIOS, form->edtFlashIni};
    const QList<QPushButton *> buttons = {form->btnColdLoaderBrowse, form->btnPilotBIOSBrowse,
                                          form->btnFlashIniBrowse};
    const QString before = edits[row]->text();
    form->dlgOpenFile->FileName = QStringLiteral("/left/over/from/before.bin");

    buttons[row]->click(); // cancelled
    QCOMPARE(browsed_.runs, 1);
    QCOMPARE(browsed_.filter, filter);
    QVERIFY(browsed_.fileNameAtStart.isEmpty());
    QCOMPARE(edits[row]->text(), before);

    pick_ = QStringLiteral("/home/user/boards/chosen/file.bin");
    edits[row]->setCursorPosition(0);
    buttons[row]->click();
    QCOMPARE(edits[row]->text(), pick_);
    QCOMPARE(edits[row]->cursorPosition(), pick_.size());
    for (int other = 0; other < 3; ++other)
        if (other != row) QVERIFY(edits[other]->text() != pick_);
    QVERIFY(PathsUnchanged()); // only OK writes
}

void TstFrmZepFileLocations::enterAppliesEscapeCancels() {
    for (const Qt::Key key : {Qt::Key_Escape, Qt::Key_Enter}) {
        init();
        TfrmFileLocations form;
        bool pressed = false;
        testing_support::WhenVisible<TfrmFileLocations>([&](TfrmFileLocations *shown) {
            shown->edtPilotBIOS->setText(QStringLiteral("/changed/pilot.bin"));
            QTest::keyClick(shown->btnHelp, key);
            pressed = true;
        });
        QTimer::singleShot(5000, &form,
                           [&form] { toolkit::SetModalResult(&form, toolkit::mrAbort); });
        const int result = toolkit::ShowModal(&form);
        QVERIFY(pressed);
        QVERIFY(boxes_.empty());
        if (key == Qt::Key_Escape) {
            QCOMPARE(result, int(toolkit::mrCancel));
            QVERIFY(PathsUnchanged());
        } else {
            QCOMPARE(result, int(toolkit::mrOk));
            QCOMPARE(Env().PilotBiosFile, std::string("/changed/pilot.bin"));
        }
        cleanup();
    }
}

void TstFrmZepFileLocations::centredOverTheOwnerWhenShown() {
    QWidget owner;
    owner.setGeometry(100, 80, 900, 700);
    owner.show();
    QVERIFY(QTest::qWaitForWindowExposed(&owner));
    const auto form = Open(&owner);
    const toolkit::FormPosition expected = toolkit::CenteredPosition(
        owner.x(), owner.y(), owner.width(), owner.height(), form->width(), form->height());
    QCOMPARE(form->pos(), QPoint(expected.Left, expected.Top));
}

void TstFrmZepFileLocations::screenshot() {
    const QString folder = qEnvironmentVariable("TARNWICK_SCREENSHOT_DIR");
    if (folder.isEmpty()) QSKIP("TARNWICK_SCREENSHOT_DIR is not set");
    Env().ColdLoaderFile = "/opt/tarnwick/bios/coldload.bin";
    Env().PilotBiosFile = "/opt/tarnwick/bios/pilot.bin";
    Env().FlashTableFile = "/opt/tarnwick/Flash.ini";
    const auto form = Open();
    QTest::qWait(200); // first paint
    QVERIFY(form->grab().save(QDir(folder).filePath(QStringLiteral("file-locations.png"))));
}

TARNWICK_TEST_MAIN(TstFrmZepFileLocations)
#include "tst_frmzepfilelocations.moc"
