// Actions whose state follows the program's settings: each action has an Execute handler (the
// command) and an Update handler (refreshes its checked or enabled state). The application's
// loop runs every Update when it goes idle, and a menu runs those of its actions before it opens,
// so a menu never shows a stale check mark.
#pragma once

#include <QAction>
#include <QObject>

#include <functional>
#include <vector>

class QMenu;

namespace toolkit {

class TAction : public QAction {
    Q_OBJECT
public:
    TAction(const QString &caption, QObject *parent);

    std::function<void()> OnExecute;
    std::function<void()> OnUpdate;

    void Execute();
    void Update();
};

// A set of actions that take part in idle updates for as long as the list exists.
class TActionList : public QObject {
    Q_OBJECT
public:
    explicit TActionList(QObject *parent = nullptr);
    ~TActionList() override;

    TAction *Add(const QString &caption);
    void UpdateAll();
    // Runs the updates of this list's actions that the menu shows, just before it opens.
    void UpdateBeforeShowing(QMenu *menu);

private:
    std::vector<TAction *> actions_; // children of this object
};

// Runs the Update handler of every action of every live action list (UI thread).
void UpdateActions();

} // namespace toolkit
