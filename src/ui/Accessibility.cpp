#include "ui/Accessibility.h"

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QAccessibleWidget>
#include <QLabel>
#include <QScrollBar>
#include <QWidget>

namespace {

const char* const hiddenProperty = "qh_accessibleHidden";
const char* const headerProperty = "qh_accessibleHeader";
const char* const roleProperty = "qh_accessibleRole";
const char* const expandedProperty = "qh_accessibleExpanded";
const char* const iconButtonProperty = "qh_accessibleIconButton";

bool isIconGlyph(QChar c)
{
    return c.unicode() >= 0xE000 && c.unicode() <= 0xF8FF;
}

class TaggedWidget : public QAccessibleWidget {
public:
    TaggedWidget(QWidget* widget, QAccessible::Role role, bool hidden)
        : QAccessibleWidget(widget, role), m_hidden(hidden)
    {
    }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        if (m_hidden) {
            s.invisible = true;
            s.focusable = false;
        }
        return s;
    }

    QString text(QAccessible::Text t) const override
    {
        if (m_hidden)
            return {};
        if (t == QAccessible::Name) {
            const QString name = QAccessibleWidget::text(t);
            if (!name.isEmpty())
                return name;
            // A heading, a wrapping label or a window is read by its text or title.
            const QVariant text = widget()->property("text");
            if (text.isValid())
                return Accessibility::withoutIconGlyphs(text.toString());
            return widget()->isWindow() ? widget()->windowTitle() : QString();
        }
        return QAccessibleWidget::text(t);
    }

    int childCount() const override { return m_hidden ? 0 : QAccessibleWidget::childCount(); }

private:
    bool m_hidden;
};

// Our own buttons drawn by hand. Qt's "toggle" only flips the checked state without a click,
// so nothing listening to clicks heard it: here press and toggle both click, as the mouse does.
class HandDrawnButton : public QAccessibleWidget {
public:
    HandDrawnButton(QAbstractButton* button, QAccessible::Role role) : QAccessibleWidget(button, role)
    {
        addControllingSignal(QStringLiteral("clicked(bool)"));
    }

    QAbstractButton* button() const { return static_cast<QAbstractButton*>(widget()); }

    // Read when asked, not when the interface was made: a button named in its constructor, before
    // it was made checkable or given its role, would otherwise stay a plain button for good.
    QAccessible::Role role() const override
    {
        const QVariant role = widget()->property(roleProperty);
        if (role.isValid())
            return QAccessible::Role(role.toInt());
        return !button()->isCheckable()    ? QAccessible::Button
               : button()->autoExclusive() ? QAccessible::RadioButton
                                           : QAccessible::CheckBox;
    }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        if (button()->isCheckable()) {
            s.checkable = true;
            s.checked = button()->isChecked();
            if (const QAccessible::Role r = role(); r == QAccessible::PageTab || r == QAccessible::RadioButton) {
                s.selectable = true;
                s.selected = button()->isChecked();
            }
        }
        if (button()->isDown())
            s.pressed = true;
        if (const QVariant expanded = widget()->property(expandedProperty); expanded.isValid()) {
            s.expandable = true;
            s.expanded = expanded.toBool();
            s.collapsed = !expanded.toBool();
        }
        return s;
    }

    QString text(QAccessible::Text t) const override
    {
        QString text = QAccessibleWidget::text(t);
        if (t == QAccessible::Name && text.isEmpty())
            text = button()->text();
        // Qt falls back on the help tag, which for an icon's button is its name over again.
        if (t == QAccessible::Description && widget()->accessibleDescription().isEmpty() &&
            text == QAccessibleWidget::text(QAccessible::Name))
            return {};
        return Accessibility::withoutIconGlyphs(text);
    }

    QStringList actionNames() const override
    {
        if (!widget()->isEnabled())
            return QAccessibleWidget::actionNames();
        return QStringList{button()->isCheckable() ? toggleAction() : pressAction()} + QAccessibleWidget::actionNames();
    }

    void doAction(const QString& action) override
    {
        if (!widget()->isEnabled())
            return;
        if (action == pressAction() || action == toggleAction())
            button()->click();
        else
            QAccessibleWidget::doAction(action);
    }

    QStringList keyBindingsForAction(const QString&) const override { return {}; }
};

// A scrolling area: its view, its scroll bars while they show, and its corner. Qt's own interface
// reads this list at the index a client asks for without checking it, and a client asks by a count
// it read a moment earlier: a scroll bar that hid in between (a page's height changes as rows are
// measured, added or taken away) made it read past the list's end and take what lay there for a
// widget. Here every index is checked against the list as it is now.
class ScrollingArea : public QAccessibleWidget {
public:
    ScrollingArea(QAbstractScrollArea* area, QAccessible::Role role) : QAccessibleWidget(area, role) {}

    QWidgetList parts() const
    {
        const auto* area = static_cast<const QAbstractScrollArea*>(widget());
        QWidgetList list;
        if (QWidget* view = area->viewport())
            list.append(view);
        for (const QScrollBar* bar : {area->horizontalScrollBar(), area->verticalScrollBar()})
            if (bar && bar->isVisible() && bar->parentWidget())
                list.append(bar->parentWidget());
        if (QWidget* corner = area->cornerWidget(); corner && corner->isVisible())
            list.append(corner);
        return list;
    }

    int childCount() const override { return int(parts().size()); }

    QAccessibleInterface* child(int index) const override
    {
        const QWidgetList list = parts();
        return index >= 0 && index < list.size() ? QAccessible::queryAccessibleInterface(list.at(index)) : nullptr;
    }

    int indexOfChild(const QAccessibleInterface* child) const override
    {
        if (!child || !child->object() || !child->object()->isWidgetType())
            return -1;
        return int(parts().indexOf(static_cast<QWidget*>(child->object())));
    }

    QAccessibleInterface* childAt(int x, int y) const override
    {
        const QPoint point = widget()->mapFromGlobal(QPoint(x, y));
        for (QWidget* part : parts())
            if (part->isVisible() && part->geometry().contains(point))
                return QAccessible::queryAccessibleInterface(part);
        return nullptr;
    }
};

QAccessible::Role roleOf(const QWidget* widget, QAccessible::Role fallback)
{
    const QVariant role = widget->property(roleProperty);
    return role.isValid() ? QAccessible::Role(role.toInt()) : fallback;
}

// Qt's push, tool, check and radio buttons have interfaces of their own (menus among them).
bool isStandardButton(const QObject* object)
{
    return object->inherits("QPushButton") || object->inherits("QToolButton") || object->inherits("QCheckBox") ||
           object->inherits("QRadioButton");
}

QAccessibleInterface* factory(const QString& className, QObject* object)
{
    auto* widget = qobject_cast<QWidget*>(object);
    if (!widget)
        return nullptr;
    if (widget->property(hiddenProperty).toBool())
        return new TaggedWidget(widget, QAccessible::NoRole, true);
    if (widget->property(headerProperty).toBool())
        return new TaggedWidget(widget, QAccessible::Heading, false);
    // Asked by class, most derived first: a list or a text field has been given Qt's own interface
    // for its class before its scrolling-area base is reached.
    if (className == QLatin1String("QScrollArea") || className == QLatin1String("QAbstractScrollArea"))
        return new ScrollingArea(static_cast<QAbstractScrollArea*>(widget), roleOf(widget, QAccessible::Client));
    if (widget->inherits("WrappingLabel"))
        return new TaggedWidget(widget, QAccessible::StaticText, false);
    // A symbol drawn from the icon font says nothing to someone who cannot see it.
    if (const auto* label = qobject_cast<QLabel*>(widget);
        label && !label->text().isEmpty() && Accessibility::withoutIconGlyphs(label->text()).trimmed().isEmpty())
        return new TaggedWidget(widget, QAccessible::NoRole, true);
    if (auto* button = qobject_cast<QAbstractButton*>(widget);
        button && (!isStandardButton(button) || button->property(iconButtonProperty).toBool())) {
        return new HandDrawnButton(button, QAccessible::Button);
    }
    if (widget->property(roleProperty).isValid())
        return new TaggedWidget(widget, roleOf(widget, QAccessible::Client), false);
    return nullptr;
}

} // namespace

namespace Accessibility {

void installFactory()
{
    static const bool installed = [] {
        QAccessible::installFactory(factory);
        return true;
    }();
    Q_UNUSED(installed);
}

void hide(QWidget* widget)
{
    installFactory();
    widget->setProperty(hiddenProperty, true);
    widget->setFocusPolicy(Qt::NoFocus);
}

void markHeader(QWidget* widget)
{
    installFactory();
    widget->setProperty(headerProperty, true);
}

void setRole(QWidget* widget, QAccessible::Role role)
{
    installFactory();
    widget->setProperty(roleProperty, int(role));
}

void nameIconButton(QWidget* button, const QString& text)
{
    installFactory();
    button->setProperty(iconButtonProperty, true);
    button->setToolTip(text);
    button->setAccessibleName(text);
}

void setExpanded(QWidget* button, bool expanded)
{
    installFactory();
    const bool changed = button->property(expandedProperty) != QVariant(expanded);
    button->setProperty(expandedProperty, expanded);
    if (changed && QAccessible::isActive()) {
        QAccessible::State state;
        state.expanded = true;
        state.collapsed = true;
        QAccessibleStateChangeEvent event(button, state);
        QAccessible::updateAccessibility(&event);
    }
}

QString withoutIconGlyphs(const QString& text)
{
    QString kept;
    kept.reserve(text.size());
    for (QChar c : text)
        if (!isIconGlyph(c))
            kept.append(c);
    return kept;
}

} // namespace Accessibility
