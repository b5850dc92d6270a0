#include "toolkit/MessageLoop.h"

#include "toolkit/Actions.h"

#include "platform/Wait.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QPointer>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <mutex>

namespace toolkit {
namespace {

const QEvent::Type WakeEventType = static_cast<QEvent::Type>(QEvent::registerEventType());

// Lives on the user-interface thread as a child of the application object. Its wake event is
// what a post or a cross-thread send turns into, so that a blocked dispatcher returns and sent
// messages are serviced even while Qt runs a loop of its own.
class PumpObject : public QObject {
public:
    explicit PumpObject(QObject *parent);
    ~PumpObject() override;

    void ArmTimeout(int timeoutMs) { timeout_.start(timeoutMs); }
    void DisarmTimeout() { timeout_.stop(); }

    // Any thread. At most one wake event waits in Qt's queue at a time: a busy reader thread
    // that sends thousands of packets must not flood it.
    void Wake();

protected:
    void customEvent(QEvent *event) override;

private:
    uint32_t threadId_;
    QTimer timeout_;
    std::atomic<bool> wakePosted_{false};
};

// Guards the pointer against a reader thread waking the pump while the application object is
// being torn down.
std::mutex pumpMutex;
PumpObject *pump = nullptr;

bool PumpWait(int timeoutMs);
void PumpWake();

PumpObject::PumpObject(QObject *parent) : QObject(parent), threadId_(platform::CurrentThreadId()) {
    // Our own timers are due at exact times; a coarse Qt timer could wake up to 5% late.
    timeout_.setTimerType(Qt::PreciseTimer);
    timeout_.setSingleShot(true);
    {
        std::lock_guard lock(pumpMutex);
        pump = this;
    }
    platform::SetNativePump(threadId_, {PumpWait, PumpWake});
}

PumpObject::~PumpObject() {
    platform::SetNativePump(threadId_, {});
    std::lock_guard lock(pumpMutex);
    pump = nullptr;
}

void PumpObject::Wake() {
    if (!wakePosted_.exchange(true))
        QCoreApplication::postEvent(this, new QEvent(WakeEventType), Qt::HighEventPriority);
}

void PumpObject::customEvent(QEvent *event) {
    if (event->type() != WakeEventType) return QObject::customEvent(event);
    // Cleared first: a send arriving while we service the others must post a new wake event.
    wakePosted_.store(false);
    platform::ServiceSentMessages();
}

bool PumpWait(int timeoutMs) {
    PumpObject *self = pump; // only this thread changes it
    QAbstractEventDispatcher *dispatcher = QAbstractEventDispatcher::instance();
    if (self == nullptr || dispatcher == nullptr) return false;
    if (timeoutMs == 0) return dispatcher->processEvents(QEventLoop::AllEvents);
    if (timeoutMs > 0) self->ArmTimeout(timeoutMs);
    const bool processed =
        dispatcher->processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    // The pump may have been destroyed by what the events did (the application object ending).
    std::lock_guard lock(pumpMutex);
    if (pump != nullptr) pump->DisarmTimeout();
    return processed;
}

void PumpWake() {
    std::lock_guard lock(pumpMutex);
    if (pump != nullptr) pump->Wake();
}

} // namespace

void InstallNativePump() {
    QCoreApplication *app = QCoreApplication::instance();
    if (app == nullptr) return;
    {
        std::lock_guard lock(pumpMutex);
        if (pump != nullptr) return;
    }
    new PumpObject(app); // owned by the application object, which destroys it last
}

bool HandleMessage(platform::MSG &msg) {
    // Idle: no message waits (a WM_NULL only says Qt events were handled on the way).
    if (!platform::PeekMessage(&msg, nullptr, 0, 0, platform::PM_NOREMOVE) ||
        msg.message == platform::WM_NULL)
        UpdateActions();
    if (!platform::GetMessage(&msg, nullptr, 0, 0)) return false;
    if (msg.message != platform::WM_NULL) {
        platform::TranslateMessage(&msg);
        platform::DispatchMessage(&msg);
    }
    return true;
}

int Run() {
    InstallNativePump();
    platform::MSG msg;
    while (HandleMessage(msg)) {
        // Qt deletes deleteLater() objects when control is back in the outermost loop; this is it.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return static_cast<int>(msg.wParam);
}

void ProcessMessages() {
    QCoreApplication::processEvents();
    platform::PumpPending();
}

} // namespace toolkit
