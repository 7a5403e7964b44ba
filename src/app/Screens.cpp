#include "app/Screens.h"

#include "app/MainWindow.h"
#include "onboarding/OnboardingView.h"
#include "screens/block/BlockRulesView.h"
#include "screens/block/BlockingBypassCooldownSheet.h"
#include "screens/notes/NotesView.h"
#include "screens/settings/SettingsView.h"
#include "screens/todos/TodosView.h"

void installScreens(MainWindow& window)
{
    using Destination = AppRouter::Destination;
    window.setPageFactory(Destination::todos, [](AppContext& c, QWidget* parent) { return new TodosView(c, parent); });
    window.setPageFactory(Destination::block,
                          [](AppContext& c, QWidget* parent) { return new BlockRulesView(c, parent); });
    window.setPageFactory(Destination::notes, [](AppContext& c, QWidget* parent) { return new NotesView(c, parent); });
    window.setPageFactory(Destination::settings,
                          [](AppContext& c, QWidget* parent) { return new SettingsView(c, parent); });
    window.setUrgentBreakFactory([](AppContext& c, const BlockRule& rule, QWidget* parent) -> QDialog* {
        return BlockingBypassCooldownSheet::forUrgentBreak(c, rule.id, parent);
    });
    window.setOnboardingFactory([](AppContext& c, std::function<void()> onFinish, QWidget* parent) -> QDialog* {
        return new OnboardingView(c, 0, std::move(onFinish), parent);
    });
}
