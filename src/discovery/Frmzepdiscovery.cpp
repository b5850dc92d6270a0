#include "discovery/Frmzepdiscovery.h"

#include "discovery/ControlPictures.h"
#include "loader/LoaderEngine.h"
#include "loader/LoaderErrors.h"
#include "toolkit/Actions.h"
#include "toolkit/Forms.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPushButton>
#include <QShowEvent>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <memory>

namespace {

constexpr int ClientWidth = 560;
constexpr int ClientHeight = 240;

// A button that stands for its action: pressing it triggers the action (which does nothing while
// disabled), and it follows the action's caption and enabled state.
void BindButton(QPushButton *button, QAction *action) {
    auto follow = [button, action] {
        button->setText(action->text());
        button->setEnabled(action->isEnabled());
    };
    follow();
    QObject::connect(button, &QPushButton::clicked, action, &QAction::trigger);
    QObject::connect(action, &QAction::changed, button, follow);
}

QString Text(const std::string &text) { return QString::fromStdString(text); }

// A text of a reply as the list shows it: whatever the device sent, one row of visible characters.
QString Shown(const std::string &text) { return Text(WithControlPictures(text)); }

} // namespace

TfrmDiscovery::TfrmDiscovery(QWidget *owner, std::string &address, std::string &name,
                             std::string &port, uint16_t discoveryPort)
    : QDialog(owner), address_(address), name_(name), port_(port), discoveryPort_(discoveryPort) {
    setObjectName(QStringLiteral("frmDiscovery"));
    setWindowTitle(QStringLiteral("Discovery"));
    setWindowFlags((windowFlags() & ~Qt::WindowType_Mask) | Qt::Tool);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    resize(ClientWidth, ClientHeight);

    lvDiscovery = new QTreeWidget(this);
    lvDiscovery->setObjectName(QStringLiteral("lvDiscovery"));
    lvDiscovery->setColumnCount(ColumnCount);
    lvDiscovery->setHeaderLabels({QStringLiteral("Name"), QStringLiteral("IP Address"),
                                  QStringLiteral("Control Port"), QStringLiteral("Status"),
                                  QStringLiteral("MAC Address")});
    // A report-style list: plain rows, chosen whole.
    lvDiscovery->setRootIsDecorated(false);
    lvDiscovery->setItemsExpandable(false);
    lvDiscovery->setAllColumnsShowFocus(true);
    lvDiscovery->setSelectionBehavior(QAbstractItemView::SelectRows);
    lvDiscovery->setSelectionMode(QAbstractItemView::SingleSelection);
    lvDiscovery->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    lvDiscovery->header()->setSectionsMovable(false);

    alDiscovery = new toolkit::TActionList(this);
    actSelect = alDiscovery->Add(QStringLiteral("&Select"));
    actSelect->OnExecute = [this] { actSelectExecute(); };
    actSelect->OnUpdate = [this] { actSelectUpdate(); };
    actCancel = alDiscovery->Add(QStringLiteral("&Cancel"));
    actCancel->OnExecute = [this] { actCancelExecute(); };
    actCancel->OnUpdate = [this] { actCancelUpdate(); };

    btnSelect = new QPushButton(this);
    btnSelect->setObjectName(QStringLiteral("btnSelect"));
    BindButton(btnSelect, actSelect);
    btnCancel = new QPushButton(this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    BindButton(btnCancel, actCancel);
    // Enter in the list must not pick a row behind the user's back: only Select chooses.
    btnSelect->setAutoDefault(false);
    btnCancel->setAutoDefault(false);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(btnSelect);
    buttons->addWidget(btnCancel);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(lvDiscovery, 1);
    layout->addLayout(buttons);

    tmrDiscovery = new QTimer(this);
    tmrDiscovery->setObjectName(QStringLiteral("tmrDiscovery"));
    tmrDiscovery->setInterval(PollIntervalMs);
    tmrDiscovery->setSingleShot(false);
    connect(tmrDiscovery, &QTimer::timeout, this, [this] { tmrDiscoveryTimer(); });

    alDiscovery->UpdateAll();
}

TfrmDiscovery::~TfrmDiscovery() {
    tmrDiscovery->stop();
    if (roundOpen_) {
        try {
            ProcessLoaderEngine().StopDiscovery();
        } catch (const TargetCommException &) {
            // Only closes the round's socket; a destructor has nobody to tell.
        }
    }
    if (cursorSet_) QApplication::restoreOverrideCursor();
}

// ---- the round ----

void TfrmDiscovery::showEvent(QShowEvent *event) {
    QDialog::showEvent(event);
    if (!event->spontaneous()) FormShow();
}

void TfrmDiscovery::PrepareRound() {
    lvDiscovery->clear();
    countdown_ = PollsPerRound;
}

void TfrmDiscovery::FormShow() {
    if (busy_) return; // shown again while its round runs (a restore): one round at a time
    if (parentWidget() != nullptr) toolkit::CenterForm(*parentWidget()->window(), *this);
    SetBusy(true);
    try {
        ProcessLoaderEngine().StartDiscovery(discoveryPort_);
    } catch (const TargetCommException &error) {
        // Told once the window is up, not from inside its show.
        const int32_t code = error.Code();
        QTimer::singleShot(0, this, [this, code] { FailRound(code); });
        return;
    }
    roundOpen_ = true;
    tmrDiscovery->start();
}

void TfrmDiscovery::tmrDiscoveryTimer() {
    tmrDiscovery->stop();
    if (countdown_ <= 0) {
        EndRound();
        return;
    }
    --countdown_;
    std::string name, ip, port, status, mac;
    try {
        ProcessLoaderEngine().PollDiscovery(name, ip, port, status, mac);
    } catch (const TargetCommException &error) {
        FailRound(error.Code());
        return;
    }
    if (!name.empty() || !ip.empty() || !port.empty() || !status.empty() || !mac.empty())
        AddDevice(name, ip, port, status, mac);
    tmrDiscovery->start();
}

void TfrmDiscovery::AddDevice(const std::string &name, const std::string &ip,
                              const std::string &port, const std::string &status,
                              const std::string &mac) {
    // A device answers every request of the round: the first reply from an address stands.
    const QString address = Shown(ip);
    for (int row = 0; row < lvDiscovery->topLevelItemCount(); ++row)
        if (lvDiscovery->topLevelItem(row)->text(ColIpAddress) == address) return;
    auto *item = new QTreeWidgetItem(lvDiscovery);
    item->setText(ColName, Shown(name));
    item->setText(ColIpAddress, address);
    item->setText(ColControlPort, Shown(port));
    item->setText(ColStatus, Shown(status));
    item->setText(ColMacAddress, Shown(mac));
}

void TfrmDiscovery::EndRound() {
    tmrDiscovery->stop();
    if (roundOpen_) {
        roundOpen_ = false;
        try {
            ProcessLoaderEngine().StopDiscovery();
        } catch (const TargetCommException &) {
            // Stopping only closes the round's socket; the devices found are still good.
        }
    }
    SetBusy(false);
}

void TfrmDiscovery::FailRound(int32_t loaderError) {
    EndRound();
    const char *message = ErrorMessage(loaderError);
    toolkit::ShowMessageBox(QStringLiteral("Error"),
                            message != nullptr ? QString::fromLatin1(message)
                                               : QStringLiteral("Loader error %1").arg(loaderError),
                            this);
}

void TfrmDiscovery::SetBusy(bool busy) {
    busy_ = busy;
    if (busy && !cursorSet_) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        cursorSet_ = true;
    } else if (!busy && cursorSet_) {
        QApplication::restoreOverrideCursor();
        cursorSet_ = false;
    }
    // At once, not at the next idle turn: a click that comes before it must find them right.
    alDiscovery->UpdateAll();
}

// ---- actions ----

void TfrmDiscovery::actSelectExecute() {
    const QList<QTreeWidgetItem *> selected = lvDiscovery->selectedItems();
    if (selected.isEmpty()) return;
    const QTreeWidgetItem *row = selected.front();
    address_ = row->text(ColIpAddress).toStdString();
    // The name as shown: a control character from the network has no place in the settings.
    name_ = row->text(ColName).toStdString();
    port_ = row->text(ColControlPort).toStdString();
    toolkit::SetModalResult(this, toolkit::mrOk);
}

void TfrmDiscovery::actCancelExecute() { toolkit::SetModalResult(this, toolkit::mrCancel); }

void TfrmDiscovery::actSelectUpdate() { actSelect->setEnabled(!busy_); }

void TfrmDiscovery::actCancelUpdate() { actCancel->setEnabled(!busy_); }

// ---- keys and closing ----

void TfrmDiscovery::keyPressEvent(QKeyEvent *event) {
    if (event->key() == Qt::Key_Escape) {
        // Escape presses Cancel, which does nothing while the round runs.
        btnCancel->click();
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TfrmDiscovery::reject() {
    if (busy_) return;
    QDialog::reject();
}

void TfrmDiscovery::closeEvent(QCloseEvent *event) {
    // The round always ends before the window does.
    if (busy_) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

int ShowDiscoveryDialog(QWidget *owner, std::string &address, std::string &name,
                        std::string &port) {
    auto form = std::make_unique<TfrmDiscovery>(owner, address, name, port);
    return toolkit::ShowModal(form.get());
}
