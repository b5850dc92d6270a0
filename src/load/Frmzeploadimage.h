// TfrmLoadImage: the modal progress window of one load. It starts the load by itself 1 ms after
// it is shown, shows the stage, a progress bar with its percentage and a Cancel button, writes the
// byte counter and the elapsed time into the main window's status bar, and closes when the load
// has ended.
#pragma once

#include "load/LoadDisplay.h"
#include "loader/LoaderEngineApi.h"

#include <QWidget>

#include <memory>
#include <string>

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;
class LoadSession;
struct Environment;

namespace toolkit {
class TStatusBar;
}

class TfrmLoadImage : public QWidget, public LoadDisplay {
    Q_OBJECT
public:
    // owner: the main window, whose caption and status bar the load writes.
    TfrmLoadImage(QWidget *owner, toolkit::TStatusBar *ownerStatus, const std::string &fileName,
                  Environment &environment, LoaderEngineApi &engine, PassphraseCallback passphrase);
    ~TfrmLoadImage() override;

    QLabel *lblProgress = nullptr;
    QProgressBar *pbarProgressBar = nullptr;
    QLabel *lblPercent = nullptr; // the bar's percentage, beside it
    QWidget *Panel1 = nullptr;
    QWidget *Panel2 = nullptr;
    QPushButton *btnCancel = nullptr;
    QTimer *tmrStartLoad = nullptr;

    const LoadSession &Session() const { return *session_; }
    // How the load ended (filled when it has).
    const LoadOutcome &Outcome() const { return outcome_; }

    // LoadDisplay
    platform::HWND WindowHandle() override { return window_; }
    void ShowProgressWindow() override;
    void SetStage(const std::string &text) override;
    void SetProgressMax(uint32_t maximum) override;
    void StepProgress(uint32_t step) override;
    void SetStatusPanel(int panel, std::string_view text) override;
    void SetCaptions(const std::string &mainCaption, const std::string &progressCaption) override;
    void SetBusyCursor(bool busy) override;
    void ShowMessage(const std::string &caption, const std::string &text) override;
    void ShowFailure(const std::string &message, const std::string &detail) override;
    void ShowOutcome(const LoadOutcome &outcome) override;
    void Finish() override;

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void FormShow();
    void tmrStartLoadTimer();
    void btnCancelClick();
    void RepaintOwner();
    void ShowPercent();

    QWidget *owner_;
    toolkit::TStatusBar *ownerStatus_;
    LoaderEngineApi &engine_;
    platform::HWND window_;
    std::unique_ptr<LoadSession> session_;
    LoadOutcome outcome_;
    bool cursorSaved_ = false;
    bool finished_ = false;
};

// Runs one load of fileName through engine in a progress window owned by the main window: shown
// modally, destroyed when it closes. Returns how the load ended.
LoadOutcome RunLoadImageWindow(QWidget *owner, toolkit::TStatusBar *ownerStatus,
                               const std::string &fileName, PassphraseCallback passphrase,
                               LoaderEngineApi &engine);
