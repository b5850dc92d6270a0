// Helpers for form tests that drive modal windows: each modal loop needs something on a timer
// to end it, and a safety limit so that a fault shows up as a failure, not a hang.
#pragma once

#include "toolkit/Application.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

namespace testing_support {

// Polls every 10 ms, at most limitMs, for a visible top-level widget of type T; hands it to act
// once. Returns the timer (owned by the application) so a test can check it has stopped.
template <typename T> QTimer *WhenVisible(std::function<void(T *)> act, int limitMs = 5000) {
    auto *timer = new QTimer(qApp);
    auto elapsed = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, elapsed, act, limitMs] {
        *elapsed += 10;
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            auto *found = qobject_cast<T *>(widget);
            if (found != nullptr && found->isVisible()) {
                timer->stop();
                timer->deleteLater();
                act(found);
                return;
            }
        }
        if (*elapsed >= limitMs) {
            timer->stop();
            timer->deleteLater();
        }
    });
    timer->start(10);
    return timer;
}

struct SeenBox {
    QString caption;
    QString text;
    bool seen = false;
};

// Closes the next message box with its OK button, recording what it said.
inline void CloseNextMessageBox(SeenBox &seen) {
    WhenVisible<QMessageBox>([&seen](QMessageBox *box) {
        seen.caption = box->windowTitle();
        seen.text = box->text();
        seen.seen = true;
        if (QAbstractButton *ok = box->button(QMessageBox::Ok)) ok->click();
    });
}

} // namespace testing_support

// A QtTest main with our application object (its exception display, the native pump).
#define TARNWICK_TEST_MAIN(TestClass)                                                              \
    int main(int argc, char *argv[]) {                                                             \
        toolkit::TApplication application(argc, argv);                                             \
        TestClass test;                                                                            \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return QTest::qExec(&test, argc, argv);                                                    \
    }
