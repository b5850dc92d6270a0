#include "load/Frmzeploadimage.h"

#include "load/LoadSession.h"
#include "settings/Zepenvironment.h"
#include "toolkit/Application.h"
#include "toolkit/Forms.h"
#include "toolkit/StatusBar.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

namespace {

// The connections hook this window's procedure while a load runs; by itself it has nothing to do.
platform::LRESULT LoadWindowProc(platform::HWND, platform::UINT, platform::WPARAM,
                                 platform::LPARAM) {
    return 0;
}

QWidget *Spacer(QWidget *parent, int x, int y) {
    auto *panel = new QWidget(parent);
    panel->setGeometry(x, y, 7, 8);
    return panel;
}

} // namespace

TfrmLoadImage::TfrmLoadImage(QWidget *owner, toolkit::TStatusBar *ownerStatus,
                             const std::string &fileName, Environment &environment,
                             LoaderEngineApi &engine, PassphraseCallback passphrase)
    : QWidget(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint), owner_(owner),
      ownerStatus_(ownerStatus), engine_(engine), window_(platform::CreateWindow(LoadWindowProc)) {
    setWindowTitle(QStringLiteral("Progress"));
    setFixedSize(312, 109);

    lblProgress = new QLabel(this);
    lblProgress->setGeometry(8, 8, 296, 16);
    pbarProgressBar = new QProgressBar(this);
    pbarProgressBar->setGeometry(8, 32, 249, 25);
    pbarProgressBar->setRange(0, 100);
    pbarProgressBar->setValue(0);
    pbarProgressBar->setTextVisible(false);
    Panel1 = Spacer(this, 257, 32);
    // Beside the bar rather than on it: every style then shows it the same way.
    lblPercent = new QLabel(this);
    lblPercent->setGeometry(264, 32, 40, 25);
    lblPercent->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    ShowPercent();
    Panel2 = Spacer(this, 297, 94);
    btnCancel = new QPushButton(QStringLiteral("&Cancel"), this);
    btnCancel->setGeometry(118, 68, 75, 25);
    connect(btnCancel, &QPushButton::clicked, this, [this] { btnCancelClick(); });

    tmrStartLoad = new QTimer(this);
    tmrStartLoad->setInterval(1);
    connect(tmrStartLoad, &QTimer::timeout, this, [this] { tmrStartLoadTimer(); });
    tmrStartLoad->start();

    session_ =
        std::make_unique<LoadSession>(fileName, environment, engine, *this, std::move(passphrase));
    session_->AskPassphraseAgain = true;
}

TfrmLoadImage::~TfrmLoadImage() {
    if (cursorSaved_) QApplication::restoreOverrideCursor();
    platform::DestroyWindow(window_);
}

void TfrmLoadImage::showEvent(QShowEvent *event) {
    QWidget::showEvent(event);
    FormShow();
}

void TfrmLoadImage::FormShow() {
    if (owner_ != nullptr) toolkit::CenterForm(*owner_, *this);
}

void TfrmLoadImage::closeEvent(QCloseEvent *event) {
    // No border icons: the window closes only when the load has ended.
    if (!finished_)
        event->ignore();
    else
        QWidget::closeEvent(event);
}

void TfrmLoadImage::keyPressEvent(QKeyEvent *event) {
    if (event->key() == Qt::Key_Escape && !finished_)
        return; // Escape does not close a running load; Cancel does
    QWidget::keyPressEvent(event);
}

void TfrmLoadImage::tmrStartLoadTimer() {
    tmrStartLoad->stop(); // fires once: a load never starts twice
    session_->RunLoad();
}

void TfrmLoadImage::btnCancelClick() { engine_.CancelTransfer(); }

void TfrmLoadImage::RepaintOwner() {
    if (owner_ != nullptr) owner_->repaint();
}

void TfrmLoadImage::ShowProgressWindow() { show(); }

void TfrmLoadImage::ShowPercent() {
    const qint64 maximum = pbarProgressBar->maximum();
    const qint64 percent = maximum > 0 ? qint64(pbarProgressBar->value()) * 100 / maximum : 0;
    lblPercent->setText(QStringLiteral("%1%").arg(percent));
    lblPercent->repaint();
}

void TfrmLoadImage::SetStage(const std::string &text) {
    lblProgress->setText(QString());
    repaint();
    lblProgress->setText(QString::fromStdString(text));
    repaint();
}

void TfrmLoadImage::SetProgressMax(uint32_t maximum) {
    // QProgressBar counts in int; the total of a load stays far below that.
    pbarProgressBar->setMaximum(static_cast<int>(std::min<uint32_t>(maximum, INT32_MAX)));
    ShowPercent();
}

void TfrmLoadImage::StepProgress(uint32_t step) {
    const qint64 next = qint64(pbarProgressBar->value()) + step;
    pbarProgressBar->setValue(static_cast<int>(std::min<qint64>(next, pbarProgressBar->maximum())));
    pbarProgressBar->repaint();
    ShowPercent();
}

void TfrmLoadImage::SetStatusPanel(int panel, std::string_view text) {
    if (ownerStatus_ != nullptr) {
        ownerStatus_->SetPanelText(
            panel, QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
        ownerStatus_->repaint();
    }
    RepaintOwner();
}

void TfrmLoadImage::SetCaptions(const std::string &mainCaption,
                                const std::string &progressCaption) {
    const QString main = QString::fromStdString(mainCaption);
    if (owner_ != nullptr) owner_->setWindowTitle(main);
    toolkit::SetApplicationTitle(main);
    setWindowTitle(QString::fromStdString(progressCaption));
    RepaintOwner();
}

void TfrmLoadImage::SetBusyCursor(bool busy) {
    if (busy && !cursorSaved_) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        cursorSaved_ = true;
    } else if (!busy && cursorSaved_) {
        QApplication::restoreOverrideCursor();
        cursorSaved_ = false;
    }
}

void TfrmLoadImage::ShowMessage(const std::string &caption, const std::string &text) {
    toolkit::ShowMessageBox(QString::fromStdString(caption), QString::fromStdString(text), this);
}

void TfrmLoadImage::ShowFailure(const std::string &message, const std::string &detail) {
    toolkit::ShowWarningBox("Error", QString::fromStdString(message),
                            QString::fromStdString(detail), this);
}

void TfrmLoadImage::ShowOutcome(const LoadOutcome &outcome) { outcome_ = outcome; }

void TfrmLoadImage::Finish() {
    finished_ = true;
    toolkit::SetModalResult(this, toolkit::mrOk);
}

LoadOutcome RunLoadImageWindow(QWidget *owner, toolkit::TStatusBar *ownerStatus,
                               const std::string &fileName, PassphraseCallback passphrase,
                               LoaderEngineApi &engine) {
    auto form = std::make_unique<TfrmLoadImage>(owner, ownerStatus, fileName, Env(), engine,
                                                std::move(passphrase));
    toolkit::ShowModal(form.get());
    return form->Outcome();
}
