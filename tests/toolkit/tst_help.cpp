// The help: which folder it is taken from, that the pages and pictures it links exist, the help
// window's topic, Back, Forward and Contents, a modal dialog's help, and help found nowhere.
#include "toolkit/ModalHelpers.h"

#include "toolkit/Application.h"
#include "toolkit/Forms.h"
#include "toolkit/Help.h"
#include "toolkit/HelpLocation.h"
#include "toolkit/HelpWindow.h"

#include <QDialog>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QtTest>

#include <filesystem>
#include <vector>

namespace fs = std::filesystem;

namespace {

const QString SourceHelp = QStringLiteral(TARNWICK_SOURCE_DIR "/docs/help");

QString PageOf(const QTextBrowser *browser) {
    return QFileInfo(browser->source().toLocalFile()).fileName();
}

} // namespace

class TstHelp : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void lookupTakesTheFirstFolderHoldingTheHelp_data();
    void lookupTakesTheFirstFolderHoldingTheHelp();
    void foldersAreBesideTheProgramThenShareThenSource();
    void topicsAndIndexPage();
    void everyLinkAndPictureOfThePagesExists();
    void buildTreeHasItsHelpWhateverTheCurrentFolder();

    void windowOpensAtTheTopicAndGoesBackForwardAndToTheContents();
    void helpFromAModalDialogBelongsToThatDialog();
    void helpFoundNowhereNamesTheFoldersLookedIn();
};

void TstHelp::initTestCase() { toolkit::SetApplicationHelpFile(QStringLiteral("Mossvale.hlp")); }

void TstHelp::cleanup() {
    toolkit::SetHelpSearchFolders({});
    if (toolkit::THelpWindow *window = toolkit::HelpWindow()) delete window;
}

void TstHelp::lookupTakesTheFirstFolderHoldingTheHelp_data() {
    QTest::addColumn<QList<bool>>("holdsHelp"); // beside the program, share, source
    QTest::addColumn<int>("chosen");            // -1: none
    QTest::newRow("none") << QList<bool>{false, false, false} << -1;
    QTest::newRow("source only") << QList<bool>{false, false, true} << 2;
    QTest::newRow("share only") << QList<bool>{false, true, false} << 1;
    QTest::newRow("beside only") << QList<bool>{true, false, false} << 0;
    QTest::newRow("share and source") << QList<bool>{false, true, true} << 1;
    QTest::newRow("beside and source") << QList<bool>{true, false, true} << 0;
    QTest::newRow("all three") << QList<bool>{true, true, true} << 0;
}

void TstHelp::lookupTakesTheFirstFolderHoldingTheHelp() {
    QFETCH(QList<bool>, holdsHelp);
    QFETCH(int, chosen);
    QTemporaryDir root;
    const fs::path program = fs::path(root.path().toStdString()) / "opt" / "bin";
    const fs::path source = fs::path(root.path().toStdString()) / "src" / "docs" / "help";
    const std::vector<fs::path> folders = toolkit::HelpFolders(program, source);
    QCOMPARE(folders.size(), size_t(3));
    for (int i = 0; i < 3; ++i) {
        // A folder without the contents page (here: with another page only) does not count.
        fs::create_directories(folders[size_t(i)]);
        const char *page = holdsHelp[i] ? "Mossvale.html" : "other.html";
        QFile file(QString::fromStdString((folders[size_t(i)] / page).string()));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    const fs::path found = toolkit::FindHelpFolder(folders, "Mossvale.html");
    QCOMPARE(QString::fromStdString(found.string()),
             chosen < 0 ? QString() : QString::fromStdString(folders[size_t(chosen)].string()));
}

void TstHelp::foldersAreBesideTheProgramThenShareThenSource() {
    const std::vector<fs::path> folders =
        toolkit::HelpFolders("/usr/bin", "/home/dev/tarnwick/docs/help");
    QCOMPARE(folders, (std::vector<fs::path>{"/usr/bin/help", "/usr/share/tarnwick/help",
                                             "/home/dev/tarnwick/docs/help"}));
    QCOMPARE(toolkit::HelpFolders("", "").size(), size_t(0));
}

void TstHelp::topicsAndIndexPage() {
    QCOMPARE(toolkit::HelpIndexPage("Mossvale.hlp"), std::string("Mossvale.html"));
    QCOMPARE(toolkit::HelpIndexPage(""), std::string());
    QCOMPARE(toolkit::HelpTopicPage(6, "Mossvale.html"), std::string("options.html"));
    QCOMPARE(toolkit::HelpTopicPage(99, "Mossvale.html"), std::string("Mossvale.html"));
    QVERIFY(QFile::exists(SourceHelp + "/options.html"));
}

void TstHelp::everyLinkAndPictureOfThePagesExists() {
    const QDir help(SourceHelp);
    const QStringList pages = help.entryList({QStringLiteral("*.html")}, QDir::Files);
    QVERIFY(pages.contains(QStringLiteral("Mossvale.html")));
    QVERIFY(pages.contains(QStringLiteral("errors.html")));
    const QRegularExpression reference(QStringLiteral(R"((?:href|src)="([^"#:]*)(#[^"]*)?")"));
    int checked = 0;
    for (const QString &page : pages) {
        QFile file(help.filePath(page));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(file.readAll());
        for (const QRegularExpressionMatch &match : reference.globalMatch(text)) {
            const QString target = match.captured(1).isEmpty() ? page : match.captured(1);
            const QString path = help.absoluteFilePath(target);
            QVERIFY2(QFile::exists(path), qPrintable(page + " links " + target));
            const QString anchor = match.captured(2).mid(1);
            if (!anchor.isEmpty()) {
                QFile linked(path);
                QVERIFY(linked.open(QIODevice::ReadOnly));
                QVERIFY2(QString::fromUtf8(linked.readAll())
                             .contains(QStringLiteral("id=\"%1\"").arg(anchor)),
                         qPrintable(page + " links the missing anchor " + target + "#" + anchor));
            }
            ++checked;
        }
    }
    QVERIFY(checked > 20);
}

void TstHelp::buildTreeHasItsHelpWhateverTheCurrentFolder() {
    QTemporaryDir elsewhere;
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(elsewhere.path()));
    const QUrl contents = toolkit::HelpUrl(toolkit::HELP_FINDER, 0);
    QDir::setCurrent(previous);
    const QDir program(QCoreApplication::applicationDirPath());
    QCOMPARE(contents.toLocalFile(),
             program.absoluteFilePath(QStringLiteral("help/Mossvale.html")));
    // The pictures the pages show are copied beside them too.
    QVERIFY(QFile::exists(program.absoluteFilePath(QStringLiteral("screenshots/main-window.png"))));
}

void TstHelp::windowOpensAtTheTopicAndGoesBackForwardAndToTheContents() {
    toolkit::SetHelpSearchFolders({SourceHelp});
    QVERIFY(toolkit::HelpContext(6));
    toolkit::THelpWindow *window = toolkit::HelpWindow();
    QVERIFY(window != nullptr);
    QVERIFY(window->isVisible());
    QCOMPARE(PageOf(window->txtPage), QStringLiteral("options.html"));
    QCOMPARE(window->windowTitle(), QStringLiteral("The option dialogs"));
    QVERIFY(!window->btnBack->isEnabled());

    window->btnContents->click();
    QCOMPARE(PageOf(window->txtPage), QStringLiteral("Mossvale.html"));
    QVERIFY(window->btnBack->isEnabled());
    QVERIFY(!window->btnForward->isEnabled());
    window->btnBack->click();
    QCOMPARE(PageOf(window->txtPage), QStringLiteral("options.html"));
    QVERIFY(window->btnForward->isEnabled());
    window->btnForward->click();
    QCOMPARE(PageOf(window->txtPage), QStringLiteral("Mossvale.html"));

    // Another command reuses the one window.
    QVERIFY(toolkit::HelpCommand(toolkit::HELP_FINDER, 0));
    QCOMPARE(toolkit::HelpWindow(), window);
    QVERIFY(toolkit::HelpCommand(toolkit::HELP_QUIT, 0));
    QVERIFY(toolkit::HelpWindow() == nullptr || !toolkit::HelpWindow()->isVisible());
}

void TstHelp::helpFromAModalDialogBelongsToThatDialog() {
    toolkit::SetHelpSearchFolders({SourceHelp});
    QDialog dialog;
    QWidget *owner = nullptr;
    bool opened = false;
    QTimer::singleShot(10, &dialog, [&] {
        opened = toolkit::HelpContext(6);
        if (toolkit::HelpWindow() != nullptr) owner = toolkit::HelpWindow()->parentWidget();
        toolkit::SetModalResult(&dialog, toolkit::mrOk);
    });
    QTimer safety;
    safety.setSingleShot(true);
    QObject::connect(&safety, &QTimer::timeout,
                     [&] { toolkit::SetModalResult(&dialog, toolkit::mrAbort); });
    safety.start(5000);
    QCOMPARE(toolkit::ShowModal(&dialog), int(toolkit::mrOk));
    QVERIFY(opened);
    // A window of the modal dialog is the only kind the dialog lets the user reach.
    QCOMPARE(owner, &dialog);
}

void TstHelp::helpFoundNowhereNamesTheFoldersLookedIn() {
    QTemporaryDir root;
    const QStringList folders = {root.filePath("beside"), root.filePath("share"),
                                 root.filePath("source")};
    toolkit::SetHelpSearchFolders(folders);
    testing_support::SeenBox box;
    testing_support::CloseNextMessageBox(box);
    QVERIFY(!toolkit::HelpCommand(toolkit::HELP_FINDER, 0));
    QVERIFY(box.seen);
    QVERIFY(box.text.contains(QStringLiteral("Mossvale.html")));
    for (const QString &folder : folders) QVERIFY2(box.text.contains(folder), qPrintable(box.text));
    QVERIFY(toolkit::HelpWindow() == nullptr);
}

TARNWICK_TEST_MAIN(TstHelp)
#include "tst_help.moc"
