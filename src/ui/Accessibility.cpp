#include "ui/Accessibility.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QWidget>

namespace {

const char* const hiddenProperty = "qh_accessibleHidden";
const char* const headerProperty = "qh_accessibleHeader";

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
            // A heading or a wrapping label is read by its text.
            const QVariant text = widget()->property("text");
            return text.toString();
        }
        return QAccessibleWidget::text(t);
    }

    int childCount() const override { return m_hidden ? 0 : QAccessibleWidget::childCount(); }

private:
    bool m_hidden;
};

QAccessibleInterface* factory(const QString&, QObject* object)
{
    auto* widget = qobject_cast<QWidget*>(object);
    if (!widget)
        return nullptr;
    if (widget->property(hiddenProperty).toBool())
        return new TaggedWidget(widget, QAccessible::NoRole, true);
    if (widget->property(headerProperty).toBool())
        return new TaggedWidget(widget, QAccessible::Heading, false);
    if (widget->inherits("WrappingLabel"))
        return new TaggedWidget(widget, QAccessible::StaticText, false);
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

} // namespace Accessibility
