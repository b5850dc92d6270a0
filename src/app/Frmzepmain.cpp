#include "app/Frmzepmain.h"

#include "app/Frmzepabout.h"
#include "app/RecentFiles.h"
#include "settings/Version.h"
#include "load/Frmzeploadimage.h"
#include "load/LoadTexts.h"
#include "settings/Frmtcpdlpassword.h"
#include "settings/Frmzepcommunications.h"
#include "settings/Frmzepfilelocations.h"
#include "settings/Zepenvironment.h"
#include "toolkit/Actions.h"
#include "toolkit/Application.h"
#include "toolkit/Forms.h"
#include "toolkit/Help.h"
#include "toolkit/OpenDialog.h"
#include "toolkit/StatusBar.h"

#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QScreen>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#include <filesystem>
#include <system_error>

TfrmZEP *frmZEP = nullptr;

namespace {

constexpr int FormWidth = 463;
constexpr int FormHeight = 408;

QString MenuText(const std::string &text) { return QString::fromStdString(text); }

std::string FileNameOf(const QString &path) { return QFile::encodeName(path).toStdString(); }

QStringList DroppedFiles(const QMimeData *data) {
    QStringList files;
    if (data == nullptr || !data->hasUrls()) return files;
    for (const QUrl &url : data->urls())
        if (url.isLocalFile() && !url.toLocalFile().isEmpty()) files << url.toLocalFile();
    return files;
}

QString CurrentDirectory() {
    std::error_code error;
    const std::filesystem::path current = std::filesystem::current_path(error);
    return error ? QString() : QString::fromStdString(current.string());
}

} // namespace

TfrmZEP::TfrmZEP(QWidget *parent) : QWidget(parent) {
    handle_ = platform::CreateWindow(WindowProc, this);
    frmZEP = this;
    setObjectName(QStringLiteral("frmZEP"));
    DevicePassphrase = WindowPassphraseCallback();

    CreateMenus();
    CreateToolBar();
    pnlDockSpot = new QFrame(this);
    pnlDockSpot->setFrameStyle(QFrame::Panel | QFrame::Sunken); // lowered inner bevel only
    pnlDockSpot->setLineWidth(1);
    CreateInformation();
    sbStatus = new toolkit::TStatusBar(2, this);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(cbMainMenu);
    layout->addWidget(pnlDockSpot, 1);
    layout->addWidget(sbStatus);

    resize(FormWidth, FormHeight);
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    layout->activate(); // lays the status bar out now, so its panels get their real halves
    // Qt shows tool tips without being asked; there is no hint switch to turn on.
    FormResize();

    VersionText = ::VersionText();
    const QString caption = QStringLiteral("Tarnwick ") + QString::fromStdString(VersionText);
    setWindowTitle(caption);
    toolkit::SetApplicationTitle(caption);
    // Kept whole: a cut path would send the help command to some other folder.
    StartDir = CurrentDirectory().toStdString();
    FormCreate();
    ShowLoadInformation();
}

TfrmZEP::~TfrmZEP() {
    platform::DestroyWindow(handle_);
    if (frmZEP == this) frmZEP = nullptr;
}

void TfrmZEP::CreateMenus() {
    mnuZEP = new QMenuBar(this);
    mnuZEP->setNativeMenuBar(false);
    mnuZEP->hide(); // the tool bar draws it (see CreateToolBar)

    File = mnuZEP->addMenu(QStringLiteral("&File"));
    optLoadFlashImage = File->addAction(QStringLiteral("&Load Flash Image..."), this,
                                        &TfrmZEP::optLoadFlashImageClick);
    Seperator1 = File->addSeparator();
    optExit = File->addAction(QStringLiteral("E&xit"), this, &TfrmZEP::optExitClick);
    MRUSeperator = File->addSeparator();
    MRUSeperator->setVisible(false);
    for (QAction *&item : MRU) {
        item = File->addAction(QString());
        item->setVisible(false);
        connect(item, &QAction::triggered, this, [this, item] { MRUClick(item); });
    }
    connect(File, &QMenu::aboutToShow, this, &TfrmZEP::FileClick);

    ActionList1 = new toolkit::TActionList(this);
    actUseCorvixSys = ActionList1->Add(QStringLiteral("Load through CorvixSys"));
    actUseCorvixSys->setCheckable(true);
    actUseCorvixSys->OnExecute = [this] { actUseCorvixSysExecute(); };
    actUseCorvixSys->OnUpdate = [this] { actUseCorvixSysUpdate(); };

    Setup = mnuZEP->addMenu(QStringLiteral("&Setup"));
    optCommunications = Setup->addAction(QStringLiteral("&Communications..."), this,
                                         &TfrmZEP::optCommunicationsClick);
    optFileLocations = Setup->addAction(QStringLiteral("&File Locations..."), this,
                                        &TfrmZEP::optFileLocationsClick);
    Setup->addAction(actUseCorvixSys);
    LoadthroughCorvixSys1 = actUseCorvixSys;
    ActionList1->UpdateBeforeShowing(Setup);

    Help = mnuZEP->addMenu(QStringLiteral("&Help"));
    optContents = Help->addAction(QStringLiteral("&Contents"), this, &TfrmZEP::optContentsClick);
    N1 = Help->addSeparator();
    optAbout = Help->addAction(QStringLiteral("&About..."), this, &TfrmZEP::optAboutClick);

    mnupoZEP = new QMenu(this);
    for (QAction *&item : puMRU) {
        item = mnupoZEP->addAction(QString());
        item->setVisible(false);
        connect(item, &QAction::triggered, this, [this, item] { PopUpClick(item); });
    }

    dlgOpenImageFile = new toolkit::TOpenDialog(this);
}

QToolButton *TfrmZEP::CreateMenuButton(const QString &caption, QMenu *menu) {
    auto *button = new QToolButton(tbMainMenu);
    button->setText(caption); // the '&' gives it its Alt shortcut, as on a menu bar
    button->setMenu(menu);
    button->setPopupMode(QToolButton::InstantPopup);
    button->setToolButtonStyle(Qt::ToolButtonTextOnly);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);
    // A menu bar shows no drop-down arrows.
    button->setStyleSheet(
        QStringLiteral("QToolButton::menu-indicator { image: none; width: 0px; }"));
    tbMainMenu->layout()->addWidget(button);
    return button;
}

void TfrmZEP::CreateToolBar() {
    cbMainMenu = new QFrame(this);
    auto *barLayout = new QHBoxLayout(cbMainMenu);
    barLayout->setContentsMargins(0, 0, 0, 0);
    barLayout->setSpacing(0);
    tbMainMenu = new QWidget(cbMainMenu);
    auto *toolLayout = new QHBoxLayout(tbMainMenu);
    toolLayout->setContentsMargins(0, 0, 0, 0);
    toolLayout->setSpacing(0);
    btnFile = CreateMenuButton(QStringLiteral("&File"), File);
    btnSetup = CreateMenuButton(QStringLiteral("&Setup"), Setup);
    btnHelp = CreateMenuButton(QStringLiteral("&Help"), Help);
    barLayout->addWidget(tbMainMenu);
    barLayout->addStretch(1);
}

void TfrmZEP::CreateInformation() {
    const auto makeLabel = [this](const char *name) {
        auto *label = new QLabel(pnlDockSpot);
        label->setObjectName(QLatin1String(name));
        label->setWordWrap(true);
        label->setTextFormat(Qt::PlainText); // paths and device texts are shown as they are
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
        label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
        return label;
    };
    lblHint = makeLabel("lblHint");
    lblRoad = makeLabel("lblRoad");
    lblLastLoad = makeLabel("lblLastLoad");
    QFont hintFont = lblHint->font();
    hintFont.setBold(true);
    lblHint->setFont(hintFont);
    auto *layout = new QVBoxLayout(pnlDockSpot);
    layout->setContentsMargins(16, 16, 16, 16);
    layout->setSpacing(12);
    layout->addStretch(1);
    layout->addWidget(lblHint);
    layout->addWidget(lblRoad);
    layout->addWidget(lblLastLoad);
    layout->addStretch(2);
}

void TfrmZEP::ShowLoadInformation() {
    lblHint->setText(QString::fromStdString(LoadHint(Env())));
    lblRoad->setText(QString::fromStdString(RoadLine(Env())));
}

void TfrmZEP::FormCreate() {
    setAcceptDrops(true);
    int width = 0;
    for (const QToolButton *button : {btnFile, btnSetup, btnHelp})
        if (!button->isHidden()) width += button->sizeHint().width();
    tbMainMenu->setFixedWidth(width);
}

void TfrmZEP::FormResize() {
    for (int panel = 0; panel < 2; ++panel) sbStatus->SetPanelWidth(panel, sbStatus->width() / 2);
}

void TfrmZEP::resizeEvent(QResizeEvent *event) {
    QWidget::resizeEvent(event);
    FormResize();
}

void TfrmZEP::closeEvent(QCloseEvent *event) {
    QWidget::closeEvent(event);
    if (event->isAccepted() && toolkit::MainForm() == this) platform::PostQuitMessage(0);
}

void TfrmZEP::CenterForm(QWidget *form) const {
    if (form != nullptr) toolkit::CenterForm(*this, *form);
}

platform::LRESULT TfrmZEP::WindowProc(platform::HWND hwnd, platform::UINT msg,
                                      platform::WPARAM wParam, platform::LPARAM lParam) {
    auto *self = static_cast<TfrmZEP *>(platform::GetWindowUserData(hwnd));
    return self != nullptr ? self->Dispatch(msg, wParam, lParam) : 0;
}

platform::LRESULT TfrmZEP::Dispatch(platform::UINT msg, platform::WPARAM, platform::LPARAM) {
    if (msg == platform::WM_DROPFILES && !pendingDrops_.empty()) {
        const QStringList files = pendingDrops_.front();
        pendingDrops_.pop_front(); // the drop is released before its load runs
        WmDropFiles(files);
    }
    return 0;
}

void TfrmZEP::dragEnterEvent(QDragEnterEvent *event) {
    if (!DroppedFiles(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void TfrmZEP::dropEvent(QDropEvent *event) {
    const QStringList files = DroppedFiles(event->mimeData());
    if (files.isEmpty()) return;
    event->acceptProposedAction();
    // The load runs from our loop once the drop has completed: a modal load inside the drop
    // would keep the program the file came from waiting for the end of the drop.
    pendingDrops_.push_back(files);
    platform::PostMessage(handle_, platform::WM_DROPFILES, 0, 0);
}

void TfrmZEP::WmDropFiles(const QStringList &files) {
    if (files.isEmpty()) return;
    const std::string name = FileNameOf(files.constFirst());
    RecordRecentFile(name);
    RunLoadSession(name);
}

void TfrmZEP::RunLoadSession(const std::string &fileName) {
    if (LoadSessionRunner) {
        LoadSessionRunner(fileName);
        return;
    }
    const LoadOutcome outcome = RunLoadImageWindow(this, sbStatus, fileName, DevicePassphrase,
                                                   Engine != nullptr ? *Engine : TheLoaderEngine());
    lblLastLoad->setText(QString::fromStdString(LastLoadText(fileName, outcome)));
}

void TfrmZEP::optLoadFlashImageClick() {
    dlgOpenImageFile->Filter = Env().LoadThroughCorvixSys != 0
                                   ? QStringLiteral("CorvixSys User Programs (*.upl)|*.UPL")
                                   : QStringLiteral("Binary Image Files (*.bin)|*.BIN");
    dlgOpenImageFile->InitialDir =
        QFile::decodeName(recentfiles::LastFolder(Env().RecentFiles).c_str());
    if (!dlgOpenImageFile->Execute()) return;
    const std::string name = FileNameOf(dlgOpenImageFile->FileName);
    RecordRecentFile(name);
    RunLoadSession(name);
}

void TfrmZEP::optCommunicationsClick() {
    ShowCommunicationsDialog(this);
    ShowLoadInformation();
}

void TfrmZEP::optFileLocationsClick() { ShowFileLocationsDialog(this); }

void TfrmZEP::optAboutClick() {
    // A new box for every showing: it builds its texts when it is shown.
    TfrmAbout about(this);
    toolkit::ShowModal(&about);
}

void TfrmZEP::optContentsClick() {
    // The help is found beside the program, in the installed share folder or in the source tree,
    // whatever the current folder is.
    toolkit::HelpCommand(toolkit::HELP_FINDER, 0);
}

void TfrmZEP::optExitClick() { close(); }

void TfrmZEP::actUseCorvixSysExecute() {
    const bool checked = !actUseCorvixSys->isChecked();
    actUseCorvixSys->setChecked(checked);
    Env().LoadThroughCorvixSys = checked ? 1 : 0;
    Env().Comm.UseCorvixLink = checked ? 0 : 1;
    Env().Comm.UseCorvixSys = checked ? 1 : 0;
    ShowLoadInformation();
}

void TfrmZEP::actUseCorvixSysUpdate() {
    actUseCorvixSys->setChecked(Env().LoadThroughCorvixSys != 0);
}

void TfrmZEP::RecordRecentFile(const std::string &name) {
    recentfiles::Record(Env().RecentFiles, name);
}

void TfrmZEP::ShowRecentFiles(QMenu *menu, size_t firstSlot) {
    const std::vector<std::string> &list = Env().RecentFiles;
    const QList<QAction *> items = menu->actions();
    // A list stored by an older version may be longer than the ten slots: show its first ten.
    for (size_t i = 0; i < list.size() && i < recentfiles::MenuSlots; ++i) {
        QAction *item = items.at(static_cast<qsizetype>(firstSlot) + static_cast<qsizetype>(i));
        item->setText(MenuText(recentfiles::EntryCaption(i, list[i])));
        item->setVisible(true);
    }
}

void TfrmZEP::FileClick() {
    if (Env().RecentFiles.empty()) return;
    MRUSeperator->setVisible(true);
    ShowRecentFiles(File, static_cast<size_t>(File->actions().indexOf(MRUSeperator)) + 1);
}

void TfrmZEP::MRUClick(QAction *item) {
    const qsizetype position =
        File->actions().indexOf(item) - File->actions().indexOf(MRUSeperator) - 1;
    std::vector<std::string> &list = Env().RecentFiles;
    if (position < 0 || static_cast<size_t>(position) >= list.size()) return;
    recentfiles::MoveToTop(list, static_cast<size_t>(position));
    const std::string name = list.front(); // a copy: the session may change the list
    RunLoadSession(name);
}

void TfrmZEP::mnupoZEPPopup() {
    if (Env().RecentFiles.empty()) return;
    ShowRecentFiles(mnupoZEP, 0);
}

void TfrmZEP::PopUpClick(QAction *item) {
    const qsizetype position = mnupoZEP->actions().indexOf(item);
    if (position < 0 || static_cast<size_t>(position) >= Env().RecentFiles.size()) return;
    // A copy: the session may change the list while it runs.
    const std::string name = Env().RecentFiles[static_cast<size_t>(position)];
    RunLoadSession(name);
    std::vector<std::string> &list = Env().RecentFiles;
    for (size_t i = 0; i < list.size(); ++i)
        if (list[i] == name) {
            recentfiles::MoveToTop(list, i);
            break;
        }
}

void TfrmZEP::contextMenuEvent(QContextMenuEvent *event) {
    mnupoZEPPopup();
    for (const QAction *item : mnupoZEP->actions())
        if (item->isVisible()) {
            mnupoZEP->popup(event->globalPos());
            return;
        }
    // Nothing to offer yet: no menu at all rather than an empty frame.
}
