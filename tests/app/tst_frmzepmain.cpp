// The main window: caption, menus and tool bar, status panels, the road switch, the open command,
// file drops, help, exit, the rules of the recent-files menus, and what the client area says (what
// to do, the road, the last load's result).
#include "toolkit/ModalHelpers.h"

#include "app/Frmzepmain.h"
#include "load/LoadTexts.h"
#include "loader/LoaderErrors.h"
#include "settings/Frmzepcommunications.h"
#include "support/WaitingEngine.h"
#include "settings/Zepenvironment.h"
#include "toolkit/Actions.h"
#include "toolkit/Application.h"
#include "toolkit/Forms.h"
#include "toolkit/Help.h"
#include "toolkit/MessageLoop.h"
#include "toolkit/OpenDialog.h"
#include "toolkit/StatusBar.h"

#include <QContextMenuEvent>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QMenu>
#include <QMimeData>
#include <QTemporaryDir>
#include <QToolButton>
#include <QUrl>
#include <QtTest>

#include <deque>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

using Names = std::vector<std::string>;

namespace {

std::vector<QUrl> helpUrls;
bool RecordHelpUrl(const QUrl &url) {
    helpUrls.push_back(url);
    return true;
}

// Answers the open dialog with the queued names; an empty queue is a cancel.
struct ScriptedOpenDialog {
    std::deque<QString> answers;
    QStringList filtersSeen;
    QStringList foldersSeen;

    toolkit::OpenDialogRunner Runner() {
        return [this](toolkit::TOpenDialog &dialog) {
            filtersSeen << dialog.Filter;
            foldersSeen << dialog.InitialDir;
            if (answers.empty()) return false;
            dialog.FileName = answers.front();
            answers.pop_front();
            return true;
        };
    }
};

void Drop(QWidget &target, const QList<QUrl> &urls) {
    QMimeData data;
    data.setUrls(urls);
    QDragEnterEvent enter(QPoint(10, 40), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&target, &enter);
    QDropEvent drop(QPointF(10, 40), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&target, &drop);
}

void OpenMenu(QMenu *menu) {
    menu->popup(QPoint(0, 0)); // runs its about-to-show handler
    menu->hide();
}

QStringList VisibleTexts(const QMenu *menu) {
    QStringList texts;
    for (const QAction *item : menu->actions())
        if (item->isVisible() && !item->isSeparator()) texts << item->text();
    return texts;
}

} // namespace

class TstFrmZepMain : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void captionAndVersion();
    void menusAndToolBarCarryTheirCaptions();
    void statusPanelsAreHalfTheBarWidth();

    void roadSwitchSetsBothConnectionFlags();
    void roadSwitchShowsTheLoadedSettingWhenTheMenuOpensOrAtIdle();

    void openFilterFollowsTheRoad();
    void cancellingTheOpenDialogChangesNothing();
    void openedFileIsRecordedThenLoaded();

    void dropOfSeveralFilesLoadsTheFirstOnlyAfterTheDrop();
    void dropWithoutFilesIsRefused();
    void longDroppedPathIsKeptWhole();

    void eleventhFileDropsTheOldest();
    void sameFileInOtherCaseMovesToTopWithoutASecondEntry();
    void thirdFileMenuEntryLoadsThatFileAndMovesItUp();
    void contextMenuEntryLoadsThenMovesToTop();
    void emptyListShowsNoSeparatorAndNoContextMenu();
    void menusShowOnlyTheFirstTenOfALongerStoredList();
    void ampersandInAPathIsShownAsIs();

    void openDialogStartsInTheFolderOfTheLastFile_data();
    void openDialogStartsInTheFolderOfTheLastFile();

    void clientAreaSaysWhatToDoAndTheRoadAfterEachChange();
    void lastLoadShowsAFailureWithItsDetail();
    void lastLoadShowsASuccessWithItsTime();

    void centerFormWithDifferenceMinusThree();
    void helpContentsOpensFromTheStartFolder();
    void exitClosesTheMainWindowAndEndsTheLoop();

private:
    // Runs one real load session of fileName through the real progress window, with a board
    // that answers at once; answers a failure's box. Returns the box's text (empty: no box).
    QString LoadThroughTheProgressWindow(const std::string &fileName);
    std::string WriteFile(const QString &name, const std::string &bytes);

    QTemporaryDir files_;
    std::unique_ptr<TfrmZEP> form_;
    Names loads_;
    ScriptedOpenDialog openDialog_;
    toolkit::OpenDialogRunner previousRunner_;
};

void TstFrmZepMain::initTestCase() {
    toolkit::SetApplicationHelpFile(QStringLiteral("Mossvale.hlp"));
    previousRunner_ = toolkit::SetOpenDialogRunner(openDialog_.Runner());
}

void TstFrmZepMain::init() {
    Env() = Environment{};
    Env().Comm.UseCorvixLink = 1;
    loads_.clear();
    openDialog_ = ScriptedOpenDialog{};
    form_ = std::make_unique<TfrmZEP>();
    form_->LoadSessionRunner = [this](const std::string &name) { loads_.push_back(name); };
}

void TstFrmZepMain::cleanup() {
    form_.reset();
    toolkit::SetMainForm(nullptr);
    platform::MSG msg;
    for (int i = 0; i < 1000 && platform::PeekMessage(&msg, nullptr, 0, 0, platform::PM_REMOVE);
         ++i) {
    }
}

void TstFrmZepMain::captionAndVersion() {
    QCOMPARE(form_->windowTitle(), QStringLiteral("Tarnwick 3.02"));
    QCOMPARE(toolkit::ApplicationTitle(), QStringLiteral("Tarnwick 3.02"));
    QCOMPARE(form_->VersionText, std::string("3.02"));
    QCOMPARE(frmZEP, form_.get());
    QCOMPARE(QString::fromStdString(form_->StartDir), QDir::currentPath());
    QCOMPARE(form_->size(), QSize(463, 408));
}

void TstFrmZepMain::menusAndToolBarCarryTheirCaptions() {
    auto &f = *form_;
    QCOMPARE(f.File->title(), QStringLiteral("&File"));
    QCOMPARE(f.optLoadFlashImage->text(), QStringLiteral("&Load Flash Image..."));
    QVERIFY(f.Seperator1->isSeparator());
    QCOMPARE(f.optExit->text(), QStringLiteral("E&xit"));
    QVERIFY(f.MRUSeperator->isSeparator());
    QVERIFY(!f.MRUSeperator->isVisible());
    const QList<QAction *> fileItems = f.File->actions();
    QCOMPARE(fileItems.size(), 14);
    QCOMPARE(fileItems.indexOf(f.MRU[0]), fileItems.indexOf(f.MRUSeperator) + 1);
    QCOMPARE(f.Setup->title(), QStringLiteral("&Setup"));
    QCOMPARE(f.optCommunications->text(), QStringLiteral("&Communications..."));
    QCOMPARE(f.optFileLocations->text(), QStringLiteral("&File Locations..."));
    QCOMPARE(f.LoadthroughCorvixSys1->text(), QStringLiteral("Load through CorvixSys"));
    QVERIFY(f.Setup->actions().contains(f.actUseCorvixSys));
    QCOMPARE(f.Help->title(), QStringLiteral("&Help"));
    QCOMPARE(f.optContents->text(), QStringLiteral("&Contents"));
    QVERIFY(f.N1->isSeparator());
    QCOMPARE(f.optAbout->text(), QStringLiteral("&About..."));
    QCOMPARE(f.mnupoZEP->actions().size(), 10);
    for (QAction *item : f.mnupoZEP->actions()) QVERIFY(!item->isVisible());

    QCOMPARE(f.btnFile->text(), QStringLiteral("&File"));
    QCOMPARE(f.btnSetup->text(), QStringLiteral("&Setup"));
    QCOMPARE(f.btnHelp->text(), QStringLiteral("&Help"));
    QCOMPARE(f.btnFile->menu(), f.File);
    QCOMPARE(f.btnSetup->menu(), f.Setup);
    QCOMPARE(f.btnHelp->menu(), f.Help);
    QCOMPARE(f.tbMainMenu->width(), f.btnFile->sizeHint().width() + f.btnSetup->sizeHint().width() +
                                        f.btnHelp->sizeHint().width());
}

void TstFrmZepMain::statusPanelsAreHalfTheBarWidth() {
    QCOMPARE(form_->sbStatus->PanelCount(), 2);
    QCOMPARE(form_->sbStatus->PanelWidth(0), 463 / 2); // already in the constructor
    form_->show();
    QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
    form_->resize(501, 300);
    QTRY_COMPARE_WITH_TIMEOUT(form_->sbStatus->width(), 501, 5000);
    QCOMPARE(form_->sbStatus->PanelWidth(0), 250);
    QCOMPARE(form_->sbStatus->PanelWidth(1), 250);
    form_->resize(620, 300);
    QTRY_COMPARE_WITH_TIMEOUT(form_->sbStatus->PanelWidth(1), 310, 5000);
    QCOMPARE(form_->sbStatus->PanelWidth(0), 310);
}

void TstFrmZepMain::roadSwitchSetsBothConnectionFlags() {
    Env().Comm.UseCorvixLink = 7;
    Env().Comm.UseCorvixSys = 9;
    form_->actUseCorvixSys->trigger(); // as a click on the menu entry
    QVERIFY(form_->actUseCorvixSys->isChecked());
    QCOMPARE(Env().LoadThroughCorvixSys, uint8_t(1));
    QCOMPARE(Env().Comm.UseCorvixLink, 0);
    QCOMPARE(Env().Comm.UseCorvixSys, 1);

    Env().Comm.UseCorvixLink = 5;
    Env().Comm.UseCorvixSys = 5;
    form_->actUseCorvixSys->trigger();
    QVERIFY(!form_->actUseCorvixSys->isChecked());
    QCOMPARE(Env().LoadThroughCorvixSys, uint8_t(0));
    QCOMPARE(Env().Comm.UseCorvixLink, 1);
    QCOMPARE(Env().Comm.UseCorvixSys, 0);
}

void TstFrmZepMain::roadSwitchShowsTheLoadedSettingWhenTheMenuOpensOrAtIdle() {
    QVERIFY(!form_->actUseCorvixSys->isChecked());
    Env().LoadThroughCorvixSys = 1; // as loaded at start-up, after the window was made
    OpenMenu(form_->Setup);
    QVERIFY(form_->actUseCorvixSys->isChecked());
    Env().LoadThroughCorvixSys = 0;
    toolkit::UpdateActions();
    QVERIFY(!form_->actUseCorvixSys->isChecked());
}

void TstFrmZepMain::openFilterFollowsTheRoad() {
    form_->optLoadFlashImageClick();
    Env().LoadThroughCorvixSys = 1;
    form_->optLoadFlashImageClick();
    QCOMPARE(openDialog_.filtersSeen,
             QStringList({QStringLiteral("Binary Image Files (*.bin)|*.BIN"),
                          QStringLiteral("CorvixSys User Programs (*.upl)|*.UPL")}));
}

void TstFrmZepMain::cancellingTheOpenDialogChangesNothing() {
    Env().RecentFiles = {"/data/a.bin", "/data/b.bin"};
    const Environment before = Env();
    form_->optLoadFlashImageClick(); // no answer queued: the user cancels
    QCOMPARE(openDialog_.filtersSeen.size(), 1);
    QVERIFY(loads_.empty());
    QCOMPARE(Env().RecentFiles, before.RecentFiles);
    QCOMPARE(Env().LoadThroughCorvixSys, before.LoadThroughCorvixSys);
    QCOMPARE(Env().Comm.UseCorvixLink, before.Comm.UseCorvixLink);
}

void TstFrmZepMain::openedFileIsRecordedThenLoaded() {
    Names listDuringLoad;
    form_->LoadSessionRunner = [&](const std::string &name) {
        loads_.push_back(name);
        listDuringLoad = Env().RecentFiles;
    };
    openDialog_.answers = {QStringLiteral("/data/image.bin")};
    form_->optLoadFlashImageClick();
    QCOMPARE(loads_, Names{"/data/image.bin"});
    QCOMPARE(listDuringLoad, Names{"/data/image.bin"});
}

void TstFrmZepMain::dropOfSeveralFilesLoadsTheFirstOnlyAfterTheDrop() {
    Drop(*form_, {QUrl::fromLocalFile(QStringLiteral("/data/first.upl")),
                  QUrl::fromLocalFile(QStringLiteral("/data/second.bin")),
                  QUrl::fromLocalFile(QStringLiteral("/data/third.bin"))});
    QVERIFY(loads_.empty()); // the drop completes before its load starts
    toolkit::ProcessMessages();
    QCOMPARE(loads_, Names{"/data/first.upl"});
    QCOMPARE(Env().RecentFiles, Names{"/data/first.upl"});
    toolkit::ProcessMessages();
    QCOMPARE(loads_.size(), size_t(1));
}

void TstFrmZepMain::dropWithoutFilesIsRefused() {
    QMimeData data;
    data.setUrls({QUrl(QStringLiteral("https://example.invalid/image.bin"))});
    QDragEnterEvent enter(QPoint(10, 40), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(form_.get(), &enter);
    QVERIFY(!enter.isAccepted());
    Drop(*form_, {QUrl(QStringLiteral("https://example.invalid/image.bin"))});
    toolkit::ProcessMessages();
    QVERIFY(loads_.empty());
    QVERIFY(Env().RecentFiles.empty());
}

void TstFrmZepMain::longDroppedPathIsKeptWhole() {
    const QString longPath =
        QStringLiteral("/data/") + QString(300, QLatin1Char('d')) + QStringLiteral("/image.bin");
    Drop(*form_, {QUrl::fromLocalFile(longPath)});
    toolkit::ProcessMessages();
    QCOMPARE(loads_, Names{longPath.toStdString()});
}

void TstFrmZepMain::eleventhFileDropsTheOldest() {
    for (int i = 0; i < 10; ++i)
        openDialog_.answers.push_back(QStringLiteral("/data/f%1.bin").arg(i));
    for (int i = 0; i < 10; ++i) form_->optLoadFlashImageClick();
    QCOMPARE(Env().RecentFiles.size(), size_t(10));
    QCOMPARE(Env().RecentFiles.back(), std::string("/data/f0.bin"));

    Drop(*form_, {QUrl::fromLocalFile(QStringLiteral("/data/f10.bin"))}); // the eleventh, by a drop
    toolkit::ProcessMessages();
    QCOMPARE(Env().RecentFiles.size(), size_t(10));
    QCOMPARE(Env().RecentFiles.front(), std::string("/data/f10.bin"));
    QCOMPARE(Env().RecentFiles.back(), std::string("/data/f1.bin"));

    openDialog_.answers = {QStringLiteral("/data/f11.bin")}; // and one more by the dialog
    form_->optLoadFlashImageClick();
    QCOMPARE(Env().RecentFiles.size(), size_t(10));
    QCOMPARE(Env().RecentFiles.front(), std::string("/data/f11.bin"));
    QCOMPARE(Env().RecentFiles.back(), std::string("/data/f2.bin"));
}

void TstFrmZepMain::sameFileInOtherCaseMovesToTopWithoutASecondEntry() {
    Env().RecentFiles = {"/data/a.bin", "/data/Image.BIN", "/data/c.bin"};
    openDialog_.answers = {QStringLiteral("/data/image.bin")};
    form_->optLoadFlashImageClick();
    QCOMPARE(Env().RecentFiles, (Names{"/data/image.bin", "/data/a.bin", "/data/c.bin"}));
    QCOMPARE(loads_, Names{"/data/image.bin"});
    // A full list is not shortened by a name it already holds.
    Env().RecentFiles.clear();
    for (int i = 0; i < 10; ++i)
        Env().RecentFiles.push_back("/data/f" + std::to_string(i) + ".bin");
    form_->RecordRecentFile("/DATA/F9.BIN");
    QCOMPARE(Env().RecentFiles.size(), size_t(10));
    QCOMPARE(Env().RecentFiles.front(), std::string("/DATA/F9.BIN"));
    QCOMPARE(Env().RecentFiles.back(), std::string("/data/f8.bin"));
}

void TstFrmZepMain::thirdFileMenuEntryLoadsThatFileAndMovesItUp() {
    Env().RecentFiles = {"/data/a.bin", "/data/b.bin", "/data/c.bin", "/data/d.bin"};
    OpenMenu(form_->File);
    QVERIFY(form_->MRUSeperator->isVisible());
    QCOMPARE(form_->MRU[2]->text(), QStringLiteral("&2 /data/c.bin"));
    QVERIFY(form_->MRU[3]->isVisible());
    QVERIFY(!form_->MRU[4]->isVisible());
    form_->MRU[2]->trigger();
    QCOMPARE(loads_, Names{"/data/c.bin"});
    QCOMPARE(Env().RecentFiles,
             (Names{"/data/c.bin", "/data/a.bin", "/data/b.bin", "/data/d.bin"}));
    OpenMenu(form_->File);
    QCOMPARE(VisibleTexts(form_->File).mid(2),
             QStringList({"&0 /data/c.bin", "&1 /data/a.bin", "&2 /data/b.bin", "&3 /data/d.bin"}));
}

void TstFrmZepMain::contextMenuEntryLoadsThenMovesToTop() {
    Env().RecentFiles = {"/data/a.bin", "/data/b.bin", "/data/c.bin"};
    form_->show();
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(20, 60),
                            form_->mapToGlobal(QPoint(20, 60)));
    QApplication::sendEvent(form_.get(), &event);
    QVERIFY(form_->mnupoZEP->isVisible());
    QCOMPARE(VisibleTexts(form_->mnupoZEP),
             QStringList({"&0 /data/a.bin", "&1 /data/b.bin", "&2 /data/c.bin"}));
    form_->mnupoZEP->hide();
    Names listDuringLoad;
    form_->LoadSessionRunner = [&](const std::string &name) {
        loads_.push_back(name);
        listDuringLoad = Env().RecentFiles;
    };
    form_->puMRU[1]->trigger();
    QCOMPARE(loads_, Names{"/data/b.bin"});
    QCOMPARE(listDuringLoad,
             (Names{"/data/a.bin", "/data/b.bin", "/data/c.bin"})); // moved afterwards
    OpenMenu(form_->File);
    QCOMPARE(form_->MRU[0]->text(), QStringLiteral("&0 /data/b.bin"));
    form_->mnupoZEPPopup();
    QCOMPARE(form_->puMRU[0]->text(), QStringLiteral("&0 /data/b.bin"));
}

void TstFrmZepMain::emptyListShowsNoSeparatorAndNoContextMenu() {
    form_->show();
    OpenMenu(form_->File);
    QVERIFY(!form_->MRUSeperator->isVisible());
    QCOMPARE(VisibleTexts(form_->File), QStringList({"&Load Flash Image...", "E&xit"}));
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(20, 60),
                            form_->mapToGlobal(QPoint(20, 60)));
    QApplication::sendEvent(form_.get(), &event);
    QVERIFY(!form_->mnupoZEP->isVisible());
    QVERIFY(VisibleTexts(form_->mnupoZEP).isEmpty());
}

void TstFrmZepMain::menusShowOnlyTheFirstTenOfALongerStoredList() {
    for (int i = 0; i < 12; ++i)
        Env().RecentFiles.push_back("/data/f" + std::to_string(i) + ".bin");
    OpenMenu(form_->File);
    form_->mnupoZEPPopup();
    QCOMPARE(form_->MRU[9]->text(), QStringLiteral("&9 /data/f9.bin"));
    QCOMPARE(VisibleTexts(form_->mnupoZEP).size(), 10);
    form_->RecordRecentFile("/data/new.bin"); // a new name brings the list back to ten
    QCOMPARE(Env().RecentFiles.size(), size_t(10));
    QCOMPARE(Env().RecentFiles.back(), std::string("/data/f8.bin"));
}

void TstFrmZepMain::ampersandInAPathIsShownAsIs() {
    Env().RecentFiles = {"/data/R&D/image.bin"};
    OpenMenu(form_->File);
    QCOMPARE(form_->MRU[0]->text(), QStringLiteral("&0 /data/R&&D/image.bin"));
    form_->MRU[0]->trigger();
    QCOMPARE(loads_, Names{"/data/R&D/image.bin"});
}

std::string TstFrmZepMain::WriteFile(const QString &name, const std::string &bytes) {
    const std::string path = files_.filePath(name).toStdString();
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

QString TstFrmZepMain::LoadThroughTheProgressWindow(const std::string &fileName) {
    Env().ColdLoaderFile = WriteFile(QStringLiteral("coldload.bin"), "\x80\x24\x80");
    Env().PilotBiosFile = WriteFile(QStringLiteral("pilot.bin"), "\xCC\x01\x02\x03");
    Env().FlashTableFile = WriteFile(QStringLiteral("Flash.ini"), "[00bf]\nwrite mode=2\n");
    Env().PilotBiosBaudRate = 57600;
    Env().Comm.MaxNegotiatedBaud = 57600;
    WaitingEngine engine;
    form_->Engine = &engine;
    form_->LoadSessionRunner = nullptr;
    form_->show();
    testing_support::SeenBox box;
    testing_support::CloseNextMessageBox(box);
    form_->RunLoadSession(fileName);
    form_->Engine = nullptr;
    return box.seen ? box.text : QString();
}

void TstFrmZepMain::openDialogStartsInTheFolderOfTheLastFile_data() {
    QTest::addColumn<QStringList>("recent");
    QTest::addColumn<QString>("folder");
    const QString here = files_.path();
    QVERIFY(QDir(here).mkpath(QStringLiteral("older")));
    const QString older = files_.filePath(QStringLiteral("older"));
    const QString gone = files_.filePath(QStringLiteral("gone"));
    QTest::newRow("nothing loaded yet") << QStringList() << QString();
    QTest::newRow("the last file's folder")
        << QStringList({here + "/image.bin", older + "/old.bin"}) << here;
    QTest::newRow("a folder that is gone is passed over")
        << QStringList({gone + "/image.bin", older + "/old.bin"}) << older;
    QTest::newRow("no folder of the list is left")
        << QStringList({gone + "/image.bin"}) << QString();
}

void TstFrmZepMain::openDialogStartsInTheFolderOfTheLastFile() {
    QFETCH(QStringList, recent);
    QFETCH(QString, folder);
    for (const QString &name : recent) Env().RecentFiles.push_back(name.toStdString());
    form_->optLoadFlashImageClick();
    QCOMPARE(openDialog_.foldersSeen, QStringList({folder}));
}

void TstFrmZepMain::clientAreaSaysWhatToDoAndTheRoadAfterEachChange() {
    QVERIFY(form_->lblHint->text().contains(QStringLiteral("File > Load Flash Image...")));
    QVERIFY(form_->lblHint->text().contains(QStringLiteral(".bin")));
    QVERIFY(form_->lblLastLoad->text().isEmpty()); // nothing loaded yet

    // The road switch of the Setup menu.
    form_->actUseCorvixSys->trigger();
    QVERIFY(form_->lblHint->text().contains(QStringLiteral(".upl")));
    QCOMPARE(form_->lblRoad->text(), QString::fromStdString(RoadLine(Env())));
    QVERIFY(form_->lblRoad->text().startsWith(QStringLiteral("CorvixSys over serial COM")));
    form_->actUseCorvixSys->trigger();

    // The Communications dialog: a CorvixLink device chosen there shows at once.
    testing_support::WhenVisible<TfrmCommunications>([](TfrmCommunications *dialog) {
        dialog->rdbUseTCP->click();
        dialog->edtCorvixLinkAddress->setText(QStringLiteral("192.168.1.50"));
        dialog->edtCorvixLinkPort->setText(QStringLiteral("4244"));
        dialog->btnOK->click();
    });
    Env().Comm.CorvixSysTcpPort = 65023; // the dialog converts both ports
    QTimer safety; // a dialog or box left open ends the test's wait, not the test run
    QObject::connect(&safety, &QTimer::timeout, [] {
        if (QWidget *modal = QApplication::activeModalWidget())
            toolkit::SetModalResult(modal, toolkit::mrAbort);
    });
    safety.start(5000);
    form_->optCommunicationsClick();
    safety.stop();
    QCOMPARE(Env().Comm.UseTCP, 1);
    QCOMPARE(form_->lblRoad->text(), QStringLiteral("CorvixLink 192.168.1.50:4244"));
}

void TstFrmZepMain::lastLoadShowsAFailureWithItsDetail() {
    const std::string missing = files_.filePath(QStringLiteral("missing.bin")).toStdString();
    const QString box = LoadThroughTheProgressWindow(missing);
    const QString message = QString::fromUtf8(ErrorMessage(LoaderErrorProgramOpen));
    QCOMPARE(box, message);
    const QStringList lines = form_->lblLastLoad->text().split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 2);
    QCOMPARE(lines[0], QStringLiteral("Last load: missing.bin failed: ") + message);
    QVERIFY(lines[1].contains(QString::fromStdString(missing))); // the detail names the file
}

void TstFrmZepMain::lastLoadShowsASuccessWithItsTime() {
    const std::string image = WriteFile(QStringLiteral("image.bin"), std::string(300, 'Z'));
    QCOMPARE(LoadThroughTheProgressWindow(image), QString());
    const QString text = form_->lblLastLoad->text();
    QVERIFY2(text.startsWith(QStringLiteral("Last load: image.bin went through in ")),
             qPrintable(text));
    QVERIFY(text.endsWith(QStringLiteral(" seconds.")));
    QVERIFY(form_->sbStatus->PanelText(0).startsWith(QStringLiteral("Elapsed Time: ")));
    QCOMPARE(form_->sbStatus->PanelText(1), QStringLiteral("307 of 307 bytes sent"));
}

void TstFrmZepMain::centerFormWithDifferenceMinusThree() {
    form_->move(120, 90);
    QWidget other;
    other.resize(form_->width() + 3, form_->height() - 5);
    form_->CenterForm(&other);
    QCOMPARE(other.x(), form_->x() - 1);
    QCOMPARE(other.y(), form_->y() + 2);
}

void TstFrmZepMain::helpContentsOpensFromTheStartFolder() {
    // Started in a folder that holds no help, and run from another one: the contents page is
    // found beside the program, and the current folder is left as it was.
    QTemporaryDir startDir;
    QTemporaryDir elsewhere;
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(startDir.path()));
    form_ = std::make_unique<TfrmZEP>(); // records where it started
    QVERIFY(QDir::setCurrent(elsewhere.path()));
    const toolkit::HelpOpener before = toolkit::SetHelpOpener(RecordHelpUrl);
    helpUrls.clear();
    form_->optContents->trigger();
    const QString afterwards = QDir::currentPath();
    toolkit::SetHelpOpener(before);
    QDir::setCurrent(previous);
    QCOMPARE(helpUrls.size(), size_t(1));
    QCOMPARE(helpUrls[0].toLocalFile(),
             QDir(QCoreApplication::applicationDirPath())
                 .absoluteFilePath(QStringLiteral("help/Mossvale.html")));
    QCOMPARE(afterwards, QDir(elsewhere.path()).absolutePath());
}

void TstFrmZepMain::exitClosesTheMainWindowAndEndsTheLoop() {
    toolkit::SetMainForm(form_.get());
    form_->show();
    QTimer::singleShot(10, form_.get(), [this] { form_->optExit->trigger(); });
    QTimer safety;
    safety.setSingleShot(true);
    QObject::connect(&safety, &QTimer::timeout, [] { platform::PostQuitMessage(99); });
    safety.start(5000);
    QCOMPARE(toolkit::Run(), 0);
    QVERIFY(!form_->isVisible());
}

TARNWICK_TEST_MAIN(TstFrmZepMain)
#include "tst_frmzepmain.moc"
