// The Passphrase window and the desktop program's passphrase provider: what OK, Enter, Cancel,
// Escape and closing do to the caller's buffer, the 31-character limit, and the key returned.
#include "toolkit/ModalHelpers.h"

#include "settings/Frmtcpdlpassword.h"
#include "toolkit/CenterForm.h"
#include "toolkit/Forms.h"

#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QtTest>

#include <cstdio>
#include <functional>
#include <string>

namespace {

std::string Hex(const PassphraseKey &key) {
    std::string text;
    char pair[3];
    for (const uint8_t byte : key) {
        std::snprintf(pair, sizeof pair, "%02x", byte);
        text += pair;
    }
    return text;
}

PassphraseBuffer Marked() {
    PassphraseBuffer buffer{};
    StoreInBuffer(buffer, "untouched");
    return buffer;
}

// Shows the window for buffer modally; act runs on it once it is up. A window that does not
// end within 5 s is ended with mrAbort, so a fault fails the test instead of hanging it.
int RunWindow(PassphraseBuffer &buffer, const std::function<void(TfrmTCPPassword *)> &act) {
    TfrmTCPPassword form(nullptr, buffer);
    testing_support::WhenVisible<TfrmTCPPassword>(act);
    QTimer::singleShot(5000, &form, [&form] { toolkit::SetModalResult(&form, toolkit::mrAbort); });
    return toolkit::ShowModal(&form);
}

// Answers the next passphrase window by typing text and pressing key.
void Answer(const QString &text, Qt::Key key) {
    testing_support::WhenVisible<TfrmTCPPassword>([text, key](TfrmTCPPassword *form) {
        QTest::keyClicks(form->Password, text);
        QTest::keyClick(form->Password, key);
    });
}

} // namespace

class TstFrmTcpDlPassword : public QObject {
    Q_OBJECT

private slots:
    void contents();
    void okWritesTheTypedText_data();
    void okWritesTheTypedText();
    void cancelEscapeAndCloseLeaveTheBuffer_data();
    void cancelEscapeAndCloseLeaveTheBuffer();
    void thirtyOneCharactersFillTheBuffer();
    void providerReturnsTheKeyOfTheCharactersAlone();
    void providerAsksOnEveryChallenge();
    void cancelledProviderGivesTheKeyOfNothing();
    void centredOverTheMainWindow();
    void screenshot();
};

void TstFrmTcpDlPassword::contents() {
    PassphraseBuffer buffer{};
    TfrmTCPPassword form(nullptr, buffer);
    QCOMPARE(form.windowTitle(), QStringLiteral("Passphrase"));
    QCOMPARE(form.GroupBox1->title(), QStringLiteral(" Enter your passphrase "));
    QCOMPARE(form.Label1->text(), QStringLiteral("Passphrase:"));
    QCOMPARE(form.AccceptButton->text(), QStringLiteral("&OK"));
    QCOMPARE(form.CancelButton->text(), QStringLiteral("&Cancel"));
    QCOMPARE(form.Password->echoMode(), QLineEdit::Password);
    QCOMPARE(form.Password->maxLength(), 31);
    QCOMPARE(form.Password->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr,
                                               form.Password),
             int('*'));
}

void TstFrmTcpDlPassword::okWritesTheTypedText_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("byEnter");
    QTest::newRow("button") << "open sesame" << false;
    QTest::newRow("Enter") << "open sesame" << true;
    QTest::newRow("empty") << "" << false;
}

void TstFrmTcpDlPassword::okWritesTheTypedText() {
    QFETCH(QString, typed);
    QFETCH(bool, byEnter);
    PassphraseBuffer buffer = Marked();
    const int result = RunWindow(buffer, [&](TfrmTCPPassword *form) {
        // Focus arrives with the window's activation, which a loaded machine may deliver late.
        QTRY_COMPARE_WITH_TIMEOUT(QApplication::focusWidget(), form->Password, 5000);
        QTest::keyClicks(form->Password, typed);
        if (byEnter)
            QTest::keyClick(form->Password, Qt::Key_Return);
        else
            form->AccceptButton->click();
    });
    QCOMPARE(result, int(toolkit::mrOk));
    QCOMPARE(QString::fromStdString(std::string(TextOfBuffer(buffer))), typed);
    for (size_t i = static_cast<size_t>(typed.size()); i < buffer.size(); ++i)
        QCOMPARE(buffer[i], '\0');
}

void TstFrmTcpDlPassword::cancelEscapeAndCloseLeaveTheBuffer_data() {
    QTest::addColumn<int>("how"); // 0 Cancel button, 1 Escape, 2 window closed
    QTest::newRow("Cancel") << 0;
    QTest::newRow("Escape") << 1;
    QTest::newRow("closed") << 2;
}

void TstFrmTcpDlPassword::cancelEscapeAndCloseLeaveTheBuffer() {
    QFETCH(int, how);
    PassphraseBuffer buffer = Marked();
    const int result = RunWindow(buffer, [how](TfrmTCPPassword *form) {
        QTest::keyClicks(form->Password, QStringLiteral("typed but not given"));
        if (how == 0)
            form->CancelButton->click();
        else if (how == 1)
            QTest::keyClick(form->Password, Qt::Key_Escape);
        else
            form->close();
    });
    QCOMPARE(result, int(toolkit::mrCancel));
    QCOMPARE(std::string(TextOfBuffer(buffer)), std::string("untouched"));
}

void TstFrmTcpDlPassword::thirtyOneCharactersFillTheBuffer() {
    PassphraseBuffer buffer = Marked();
    QString shown;
    RunWindow(buffer, [&shown](TfrmTCPPassword *form) {
        QTest::keyClicks(form->Password, QString(40, QLatin1Char('p')));
        shown = form->Password->text();
        form->AccceptButton->click();
    });
    QCOMPARE(shown.size(), 31);
    QCOMPARE(std::string(TextOfBuffer(buffer)), std::string(31, 'p'));
    QCOMPARE(buffer[31], '\0');

    // Letters of two bytes each: the edit stops where the buffer would overflow.
    RunWindow(buffer, [&shown](TfrmTCPPassword *form) {
        for (int i = 0; i < 20; ++i) // QTest::keyClicks takes ASCII only
            QTest::sendKeyEvent(QTest::Click, form->Password, Qt::Key_unknown, QString(QChar(0xE4)),
                                Qt::NoModifier);
        shown = form->Password->text();
        form->AccceptButton->click();
    });
    QCOMPARE(shown.size(), 15);
    QCOMPARE(QString::fromUtf8(TextOfBuffer(buffer).data(), 30), QString(15, QChar(0xE4)));
}

void TstFrmTcpDlPassword::providerReturnsTheKeyOfTheCharactersAlone() {
    const PassphraseCallback provider = WindowPassphraseCallback();
    Answer(QStringLiteral("abc"), Qt::Key_Return);
    QCOMPARE(Hex(provider()), std::string("900150983cd24fb0d6963f7d28e17f72"));
    Answer(QString(), Qt::Key_Return);
    QCOMPARE(Hex(provider()), std::string("d41d8cd98f00b204e9800998ecf8427e"));
}

void TstFrmTcpDlPassword::providerAsksOnEveryChallenge() {
    const PassphraseCallback provider = WindowPassphraseCallback();
    Answer(QStringLiteral("first"), Qt::Key_Enter);
    const PassphraseKey first = provider();
    Answer(QStringLiteral("second"), Qt::Key_Enter);
    const PassphraseKey second = provider();
    QCOMPARE(first, KeyOfPassphrase("first"));
    QCOMPARE(second, KeyOfPassphrase("second"));
    QCOMPARE(LastPassphraseKey(), second);
}

void TstFrmTcpDlPassword::cancelledProviderGivesTheKeyOfNothing() {
    const PassphraseCallback provider = WindowPassphraseCallback();
    Answer(QStringLiteral("not given"), Qt::Key_Escape);
    QCOMPARE(Hex(provider()), std::string("d41d8cd98f00b204e9800998ecf8427e"));
}

void TstFrmTcpDlPassword::centredOverTheMainWindow() {
    QWidget mainWindow;
    mainWindow.setGeometry(60, 40, 700, 500);
    mainWindow.show();
    QVERIFY(QTest::qWaitForWindowExposed(&mainWindow));
    toolkit::SetMainForm(&mainWindow);
    PassphraseBuffer buffer{};
    QPoint position;
    QSize size;
    RunWindow(buffer, [&](TfrmTCPPassword *form) {
        position = form->pos();
        size = form->size();
        form->CancelButton->click();
    });
    toolkit::SetMainForm(nullptr);
    const toolkit::FormPosition expected =
        toolkit::CenteredPosition(mainWindow.x(), mainWindow.y(), mainWindow.width(),
                                  mainWindow.height(), size.width(), size.height());
    QCOMPARE(position, QPoint(expected.Left, expected.Top));
}

void TstFrmTcpDlPassword::screenshot() {
    const QString folder = qEnvironmentVariable("TARNWICK_SCREENSHOT_DIR");
    if (folder.isEmpty()) QSKIP("TARNWICK_SCREENSHOT_DIR is not set");
    PassphraseBuffer buffer{};
    bool saved = false;
    RunWindow(buffer, [&](TfrmTCPPassword *form) {
        QTest::keyClicks(form->Password, QStringLiteral("correct horse"));
        QTest::qWait(200); // first paint
        saved = form->grab().save(QDir(folder).filePath(QStringLiteral("passphrase.png")));
        form->CancelButton->click();
    });
    QVERIFY(saved);
}

TARNWICK_TEST_MAIN(TstFrmTcpDlPassword)
#include "tst_frmtcpdlpassword.moc"
