#include "ui/ReturnKey.h"

#include <QAbstractButton>
#include <QApplication>
#include <QKeyEvent>
#include <QPointer>

namespace {

class Presser : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::KeyPress)
            return false;
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool plain = key->modifiers() == Qt::NoModifier || key->modifiers() == Qt::KeypadModifier;
        if (!plain || (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter))
            return false;
        // Only where the key arrives first: the focused widget, not the parents it travels up to.
        auto* button = qobject_cast<QAbstractButton*>(watched);
        if (!button || button->window()->focusWidget() != button || !button->isEnabled() || !button->isVisible())
            return false;
        // Held down, the key repeats: one press, like Space.
        if (!key->isAutoRepeat())
            button->click();
        return true;
    }
};

QPointer<Presser> presser;

} // namespace

namespace ReturnKey {

void install(QApplication& app)
{
    if (presser)
        return;
    presser = new Presser(&app);
    app.installEventFilter(presser);
}

} // namespace ReturnKey
