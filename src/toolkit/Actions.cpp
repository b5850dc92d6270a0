#include "toolkit/Actions.h"

#include <QMenu>

#include <algorithm>

namespace toolkit {
namespace {

std::vector<TActionList *> &LiveLists() {
    static std::vector<TActionList *> lists; // UI thread only
    return lists;
}

} // namespace

TAction::TAction(const QString &caption, QObject *parent) : QAction(caption, parent) {
    connect(this, &QAction::triggered, this, [this] {
        // Qt flips a checkable action before it reports the trigger. The Execute handler owns
        // the checked state (it mirrors a setting), so the flip is undone first.
        if (isCheckable()) {
            const QSignalBlocker blocker(this);
            setChecked(!isChecked());
        }
        Execute();
    });
}

void TAction::Execute() {
    if (OnExecute) OnExecute();
}

void TAction::Update() {
    if (OnUpdate) OnUpdate();
}

TActionList::TActionList(QObject *parent) : QObject(parent) { LiveLists().push_back(this); }

TActionList::~TActionList() { std::erase(LiveLists(), this); }

TAction *TActionList::Add(const QString &caption) {
    auto *action = new TAction(caption, this);
    actions_.push_back(action);
    return action;
}

void TActionList::UpdateAll() {
    for (TAction *action : actions_) action->Update();
}

void TActionList::UpdateBeforeShowing(QMenu *menu) {
    connect(menu, &QMenu::aboutToShow, this, [this, menu] {
        for (TAction *action : actions_)
            if (menu->actions().contains(action)) action->Update();
    });
}

void UpdateActions() {
    // A copy: an update handler may create or destroy a form and with it an action list.
    const std::vector<TActionList *> lists = LiveLists();
    for (TActionList *list : lists)
        if (std::find(LiveLists().begin(), LiveLists().end(), list) != LiveLists().end())
            list->UpdateAll();
}

} // namespace toolkit
