// Tarnwick's desktop program. It takes no command-line arguments: everything it needs is in the
// user's settings.
#include "app/Frmzepmain.h"
#include "app/TerminationSignals.h"
#include "discovery/Frmzepdiscovery.h"
#include "loader/LoaderErrors.h"
#include "settings/Frmzepcommunications.h"
#include "settings/Zepenvironment.h"
#include "toolkit/Application.h"
#include "toolkit/Forms.h"
#include "toolkit/MessageLoop.h"

#include <memory>

int main(int argc, char *argv[]) {
    // Qt would read options such as -platform or -style from the command line; it gets only the
    // program's own path.
    int qtArgc = argc > 0 ? 1 : 0;
    char *qtArgv[] = {argc > 0 ? argv[0] : nullptr, nullptr};
    toolkit::TApplication application(qtArgc, qtArgv);
    try {
        toolkit::SetApplicationTitle(QStringLiteral("Tarnwick"));
        toolkit::SetApplicationHelpFile(QStringLiteral("Mossvale.hlp"));

        // The engine's own message boxes ("error") are modal boxes on the active window here.
        SetMessageFunction([](const std::string &caption, const std::string &text) {
            toolkit::ShowMessageBox(QString::fromStdString(caption), QString::fromStdString(text));
        });

        auto mainWindow = std::make_unique<TfrmZEP>();
        toolkit::SetMainForm(mainWindow.get());
        mainWindow->show();
        // The discovery dialog lives from here to the end, beside the main window; the
        // communications dialog's Discovery button shows it for a new round each time.
        DiscoveredDevice choice;
        auto frmDiscovery = std::make_unique<TfrmDiscovery>(mainWindow.get(), choice.Address,
                                                            choice.Name, choice.ControlPort);
        SetDiscoveryDialogRunner([&](QWidget *, DiscoveredDevice &device) {
            frmDiscovery->PrepareRound();
            if (toolkit::ShowModal(frmDiscovery.get()) != toolkit::mrOk) return false;
            device = choice;
            return true;
        });

        LoadSettings(argc > 0 ? argv[0] : "");
        mainWindow->ShowLoadInformation(); // the road of the settings just loaded
        TerminationSignals terminationSignals(mainWindow.get());
        toolkit::Run();
        SetDiscoveryDialogRunner({});
        SaveSettings();
    } catch (...) {
        // What escaped is shown, and the rest is skipped: settings that could not be read whole
        // must not be written back over the user's.
        toolkit::HandleException();
        return 1;
    }
    return 0;
}
