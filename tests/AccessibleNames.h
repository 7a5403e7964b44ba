#pragma once

// What a screen reader can tell apart in a window: every control that takes the keyboard has a
// name it says once, a button with a checked state is announced as a radio button or a check box, and no two
// controls of one group (the window, or a named group such as a row of chips) share a name.
#include <QAbstractButton>
#include <QAccessible>
#include <QHash>
#include <QStringList>
#include <QWidget>

namespace AccessibleNames {

inline QString describe(const QWidget* w)
{
    return QStringLiteral("%1 \"%2\"").arg(QString::fromLatin1(w->metaObject()->className()), w->objectName());
}

// The faults found under `root`, one a line; empty when there are none.
inline QStringList problems(QWidget* root)
{
    QStringList found;
    QHash<QPair<const QWidget*, QString>, const QWidget*> named;
    for (QWidget* w : root->findChildren<QWidget*>()) {
        if (!(w->focusPolicy() & Qt::TabFocus) || !w->isEnabled() || !w->isVisibleTo(root))
            continue;
        // A spin box's or combo box's own text field is read as part of it.
        if (w->parentWidget() &&
            (w->parentWidget()->inherits("QAbstractSpinBox") || w->parentWidget()->inherits("QComboBox")))
            continue;
        QAccessibleInterface* face = QAccessible::queryAccessibleInterface(w);
        if (!face || face->state().invisible)
            continue;
        const QString name = face->text(QAccessible::Name).trimmed();
        if (name.isEmpty()) {
            found.append(describe(w) + QStringLiteral(" has no name"));
            continue;
        }
        const auto* button = qobject_cast<const QAbstractButton*>(w);
        if (button && face->text(QAccessible::Description).trimmed() == name)
            found.append(QStringLiteral("%1 \"%2\" says its name again as its description").arg(describe(w), name));
        if (button && button->isCheckable() && face->role() == QAccessible::Button)
            found.append(QStringLiteral("%1 \"%2\" has a checked state but is announced as a plain button")
                             .arg(describe(w), name));
        const QWidget* group = root;
        for (QWidget* up = w->parentWidget(); up && up != root; up = up->parentWidget()) {
            QAccessibleInterface* upFace = QAccessible::queryAccessibleInterface(up);
            if (upFace && (upFace->role() == QAccessible::Grouping || upFace->role() == QAccessible::PageTabList) &&
                !upFace->text(QAccessible::Name).isEmpty()) {
                group = up;
                break;
            }
        }
        if (const QWidget* other = named.value({group, name}))
            found.append(QStringLiteral("%1 and %2 are both \"%3\"").arg(describe(other), describe(w), name));
        else
            named.insert({group, name}, w);
    }
    return found;
}

} // namespace AccessibleNames
