#include "Screenshots.h"
#include "StoreFixture.h"
#include "router/AppContext.h"
#include "router/AppRouter.h"
#include "screens/notes/NotesView.h"
#include "ui/Theme.h"

#include <QApplication>

namespace {

const QSize pageSize(1100, 720);

struct Sample {
    StoreFixture f;
    StorageService& store = f.make();
    AppRouter router;
    AppContext context;

    Sample()
    {
        context.storage = &store;
        context.router = &router;
        context.clock = &f.clock;
        context.calendar = [this] { return f.calendar; };
    }
    Note add(const QString& title, const QString& body, double daysAgo)
    {
        const Note note{QUuid::createUuid(), title, body, 0, 0};
        f.clock.set(TestEnvironment::at(2026, 12, 7, 9) - daysAgo * 86400);
        store.notes().upsertNote(note);
        return store.notes().notes().front();
    }
    void fill()
    {
        add(QStringLiteral("Books to read"), QStringLiteral("The Overstory\nPiranesi\nA Psalm for the Wild-Built"), 12);
        add(QStringLiteral("Trip to the coast: what to pack so that nothing is forgotten this time"),
            QStringLiteral("Rain jacket, walking boots, the good camera, chargers, a paper map, snacks for the "
                           "train and something to read on the way back."),
            3);
        add(QString(), QString(), 1);
        add(QStringLiteral("Ideas for the garden"),
            QStringLiteral("Move the herbs to the sunny corner.\nAsk about the old apple tree."), 0.2);
        f.clock.set(TestEnvironment::at(2026, 12, 7, 10));
    }
};

} // namespace

int main(int argc, char** argv)
{
    Theme::prepareApplication();
    QApplication app(argc, argv);
    Theme::apply(app);
    {
        Sample s;
        NotesView view(s.context);
        Screenshots::save(&view, QStringLiteral("notes_empty"), pageSize);
    }
    {
        Sample s;
        s.fill();
        const Note scratch = s.add(QStringLiteral("Scratch"), QString(), 0);
        s.f.clock.set(TestEnvironment::at(2026, 12, 7, 10));
        NotesView view(s.context);
        view.setAttribute(Qt::WA_DontShowOnScreen);
        view.show();
        view.state().noteEmptied(scratch);
        Screenshots::save(&view, QStringLiteral("notes_placeholder"), pageSize);
    }
    {
        Sample s;
        s.fill();
        NotesView view(s.context);
        Screenshots::save(&view, QStringLiteral("notes_editing"), pageSize);
        view.state().startNewNote();
        Screenshots::save(&view, QStringLiteral("notes_new"), pageSize);
    }
    return Screenshots::exitCode();
}
