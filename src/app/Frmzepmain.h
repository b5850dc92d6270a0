// TfrmZEP: the main window. It offers the commands, accepts a dropped file, keeps the
// recent-files menus and carries the status bar that a load session writes into. It owns no load
// logic: every load goes through RunLoadSession.
#pragma once

#include "loader/LoaderEngineApi.h"

#include "platform/Messages.h"

#include <QWidget>

#include <array>
#include <deque>
#include <functional>
#include <string>

class QAction;
class QFrame;
class QLabel;
class QMenu;
class QMenuBar;
class QToolButton;

namespace toolkit {
class TAction;
class TActionList;
class TOpenDialog;
class TStatusBar;
} // namespace toolkit

class TfrmZEP : public QWidget {
    Q_OBJECT
public:
    explicit TfrmZEP(QWidget *parent = nullptr);
    ~TfrmZEP() override;

    // Components, in the order the form declares them.
    QMenuBar *mnuZEP = nullptr;
    QMenu *File = nullptr;
    QAction *optLoadFlashImage = nullptr;
    QAction *Seperator1 = nullptr;
    QAction *optExit = nullptr;
    QAction *MRUSeperator = nullptr;
    std::array<QAction *, 10> MRU{};
    QMenu *Setup = nullptr;
    QAction *optCommunications = nullptr;
    QAction *optFileLocations = nullptr;
    QAction *LoadthroughCorvixSys1 = nullptr; // the menu shows actUseCorvixSys itself
    QMenu *Help = nullptr;
    QAction *optContents = nullptr;
    QAction *N1 = nullptr;
    QAction *optAbout = nullptr;
    QMenu *mnupoZEP = nullptr;
    std::array<QAction *, 10> puMRU{};
    toolkit::TStatusBar *sbStatus = nullptr;
    QFrame *pnlDockSpot = nullptr;
    QWidget *cbMainMenu = nullptr;
    QWidget *tbMainMenu = nullptr;
    QToolButton *btnFile = nullptr;
    QToolButton *btnSetup = nullptr;
    QToolButton *btnHelp = nullptr;
    toolkit::TOpenDialog *dlgOpenImageFile = nullptr;
    toolkit::TActionList *ActionList1 = nullptr;
    toolkit::TAction *actUseCorvixSys = nullptr;
    // In the client area: what to do, the road a load takes now and where it goes, and how the
    // last load ended.
    QLabel *lblHint = nullptr;
    QLabel *lblRoad = nullptr;
    QLabel *lblLastLoad = nullptr;

    std::string VersionText;
    std::string StartDir; // the current directory when the window was made, full length

    // Our window handle: WM_DROPFILES and the load session's messages go through it.
    platform::HWND Handle() const { return handle_; }

    // Places another form centred over this window.
    void CenterForm(QWidget *form) const;

    // Runs one load session for fileName: the open command, a drop and the recent-file entries
    // all come here. LoadSessionRunner, when set, is called instead (tests observe loads by it).
    void RunLoadSession(const std::string &fileName);
    std::function<void(const std::string &fileName)> LoadSessionRunner;
    // The engine loads go through; null: the program's own.
    LoaderEngineApi *Engine = nullptr;
    // Shows the hint and the road for the settings as they are now: called after start-up has
    // loaded them and after every command that may change them.
    void ShowLoadInformation();
    // Asked for a network device's passphrase during a load's connect.
    PassphraseCallback DevicePassphrase;

    void FormCreate();
    void FormResize();
    platform::LRESULT Dispatch(platform::UINT msg, platform::WPARAM wParam,
                               platform::LPARAM lParam);
    // The files of one drop, as the shell hands them over; only the first is loaded.
    void WmDropFiles(const QStringList &files);
    void optLoadFlashImageClick();
    void optCommunicationsClick();
    void optFileLocationsClick();
    void optAboutClick();
    void optContentsClick();
    void optExitClick();
    void actUseCorvixSysExecute();
    void actUseCorvixSysUpdate();
    void RecordRecentFile(const std::string &name);
    void FileClick();
    void MRUClick(QAction *item);
    void mnupoZEPPopup();
    void PopUpClick(QAction *item);

protected:
    void resizeEvent(QResizeEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    static platform::LRESULT WindowProc(platform::HWND hwnd, platform::UINT msg,
                                        platform::WPARAM wParam, platform::LPARAM lParam);
    void CreateMenus();
    void CreateToolBar();
    void CreateInformation();
    QToolButton *CreateMenuButton(const QString &caption, QMenu *menu);
    void ShowRecentFiles(QMenu *menu, size_t firstSlot);

    platform::HWND handle_ = nullptr;
    std::deque<QStringList> pendingDrops_; // handed over with WM_DROPFILES, taken by WmDropFiles
};

// The main window of the running program (null when there is none).
extern TfrmZEP *frmZEP;
