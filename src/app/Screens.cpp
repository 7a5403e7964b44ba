#include "app/Screens.h"

#include "app/MainWindow.h"
#include "onboarding/OnboardingView.h"
#include "screens/block/BlockRulesView.h"
#include "screens/block/BlockingBypassCooldownSheet.h"
#include "screens/notes/NotesView.h"
#include "screens/settings/SettingsView.h"
#include "screens/todos/TodosView.h"

namespace {

class ProgramScreens : public WindowScreens {
public:
    QWidget* page(AppRouter::Destination destination, AppContext& context, QWidget* parent) const override
    {
        switch (destination) {
        case AppRouter::Destination::todos:
            return new TodosView(context, parent);
        case AppRouter::Destination::block:
            return new BlockRulesView(context, parent);
        case AppRouter::Destination::notes:
            return new NotesView(context, parent);
        case AppRouter::Destination::settings:
            return new SettingsView(context, parent);
        }
        return MainWindow::placeholderPage(destination, parent);
    }

    QDialog* onboarding(AppContext& context, std::function<void()> onFinish, QWidget* parent) const override
    {
        return new OnboardingView(context, 0, std::move(onFinish), parent);
    }

    QDialog* urgentBreak(AppContext& context, const BlockRule& rule, QWidget* parent) const override
    {
        return BlockingBypassCooldownSheet::forUrgentBreak(context, rule.id, parent);
    }
};

} // namespace

const WindowScreens& programScreens()
{
    static const ProgramScreens screens;
    return screens;
}
