// The program's own help window: the HTML help pages in a text browser with Back, Forward and
// Contents, so that help opens on a machine without a web browser.
#pragma once

#include <QUrl>
#include <QWidget>

class QPushButton;
class QTextBrowser;

namespace toolkit {

class THelpWindow : public QWidget {
    Q_OBJECT
public:
    explicit THelpWindow(QWidget *parent = nullptr);

    QPushButton *btnBack = nullptr;
    QPushButton *btnForward = nullptr;
    QPushButton *btnContents = nullptr;
    QTextBrowser *txtPage = nullptr;

    // Shows page (a local file, with an anchor when it has one); Contents leads to contents.
    void ShowPage(const QUrl &page, const QUrl &contents);

private:
    void btnContentsClick();
    void txtPageSourceChanged(const QUrl &page);

    QUrl contents_;
};

// Shows page in the one help window of the program, made when first needed. The window belongs
// to the modal window that asked for it (or to the main form), so that it takes input while a
// modal dialog is up. Returns the window.
THelpWindow *ShowHelpWindow(const QUrl &page, const QUrl &contents);
// The help window when there is one (null otherwise); HELP_QUIT closes it.
THelpWindow *HelpWindow();

} // namespace toolkit
