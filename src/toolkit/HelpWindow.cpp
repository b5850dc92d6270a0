#include "toolkit/HelpWindow.h"

#include "toolkit/Application.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QPointer>
#include <QPushButton>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace toolkit {
namespace {

QPointer<THelpWindow> helpWindow; // UI thread only

// A window that belongs to an application-modal window is the only kind that modal window lets
// the user reach.
QWidget *HelpWindowOwner() {
    if (QWidget *modal = QApplication::activeModalWidget()) return modal;
    return MainForm();
}

} // namespace

THelpWindow::THelpWindow(QWidget *parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("frmHelp"));
    setWindowTitle(QStringLiteral("Help"));
    resize(760, 620);

    btnBack = new QPushButton(QStringLiteral("&Back"), this);
    btnForward = new QPushButton(QStringLiteral("&Forward"), this);
    btnContents = new QPushButton(QStringLiteral("&Contents"), this);
    txtPage = new QTextBrowser(this);
    txtPage->setOpenLinks(true);
    txtPage->setOpenExternalLinks(false); // no web browser is needed, nor started

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(btnBack);
    buttons->addWidget(btnForward);
    buttons->addWidget(btnContents);
    buttons->addStretch(1);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(buttons);
    layout->addWidget(txtPage, 1);

    btnBack->setEnabled(false);
    btnForward->setEnabled(false);
    connect(btnBack, &QPushButton::clicked, txtPage, &QTextBrowser::backward);
    connect(btnForward, &QPushButton::clicked, txtPage, &QTextBrowser::forward);
    connect(btnContents, &QPushButton::clicked, this, [this] { btnContentsClick(); });
    connect(txtPage, &QTextBrowser::backwardAvailable, btnBack, &QPushButton::setEnabled);
    connect(txtPage, &QTextBrowser::forwardAvailable, btnForward, &QPushButton::setEnabled);
    connect(txtPage, &QTextBrowser::sourceChanged, this,
            [this](const QUrl &page) { txtPageSourceChanged(page); });
}

void THelpWindow::ShowPage(const QUrl &page, const QUrl &contents) {
    contents_ = contents;
    txtPage->setSource(page);
}

void THelpWindow::btnContentsClick() {
    if (contents_.isValid()) txtPage->setSource(contents_);
}

void THelpWindow::txtPageSourceChanged(const QUrl &) {
    const QString title = txtPage->documentTitle();
    setWindowTitle(title.isEmpty() ? QStringLiteral("Help") : title);
}

THelpWindow *ShowHelpWindow(const QUrl &page, const QUrl &contents) {
    QWidget *owner = HelpWindowOwner();
    if (helpWindow == nullptr) {
        helpWindow = new THelpWindow(owner);
        helpWindow->setAttribute(Qt::WA_DeleteOnClose);
    } else if (helpWindow->parentWidget() != owner) {
        const QRect place = helpWindow->geometry();
        helpWindow->setParent(owner, Qt::Window); // keeps its history
        helpWindow->setGeometry(place);
    }
    helpWindow->ShowPage(page, contents);
    helpWindow->show();
    helpWindow->raise();
    helpWindow->activateWindow();
    return helpWindow;
}

THelpWindow *HelpWindow() { return helpWindow; }

} // namespace toolkit
