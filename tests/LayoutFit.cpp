#include "LayoutFit.h"

#include <QAbstractButton>
#include <QLabel>
#include <QLayout>
#include <QRegularExpression>
#include <QScrollArea>
#include <QScrollBar>
#include <QStackedLayout>

namespace {

bool holds(const QLayout* layout, const QWidget* widget)
{
    for (int i = 0; i < layout->count(); ++i) {
        QLayoutItem* item = layout->itemAt(i);
        if (item->widget() == widget || (item->layout() && holds(item->layout(), widget)))
            return true;
    }
    return false;
}

// Why the text of `w` does not fit the room it was given, or nothing. Labels and buttons, and
// texts that answer a height for a width by themselves.
QString textCut(const QWidget* w)
{
    const auto* label = qobject_cast<const QLabel*>(w);
    const auto* button = qobject_cast<const QAbstractButton*>(w);
    const bool wrapsItself = !label && !button && !w->layout() && w->hasHeightForWidth();
    const QString text = w->property("text").toString();
    if (text.isEmpty() || (!label && !button && !wrapsItself))
        return {};
    const bool wraps = wrapsItself || (label && label->wordWrap());
    // A label never breaks a word: one wider than the line runs out of it.
    for (const QString& word : text.split(QRegularExpression(QStringLiteral("\\s+"))))
        if (label && wraps && label->fontMetrics().horizontalAdvance(word) > label->contentsRect().width())
            return QStringLiteral("\"%1\" is wider than the line").arg(word);
    const QSize has = w->size();
    const QSize needs = wraps ? QSize(has.width(), w->heightForWidth(has.width())) : w->sizeHint();
    if (needs.width() <= has.width() && (button || needs.height() <= has.height()))
        return {};
    return QStringLiteral("needs %1x%2, has %3x%4")
        .arg(needs.width())
        .arg(needs.height())
        .arg(has.width())
        .arg(has.height());
}

} // namespace

QStringList LayoutFit::cut(QWidget* root)
{
    QStringList found;
    const auto name = [](const QWidget* w) {
        const QString text = w->property("text").toString().left(40);
        return (w->objectName().isEmpty() ? QString::fromLatin1(w->metaObject()->className()) : w->objectName()) +
               (text.isEmpty() ? QString() : QStringLiteral(" \"%1\"").arg(text));
    };
    for (QWidget* w : root->findChildren<QWidget*>()) {
        if (!w->isVisibleTo(root) || w->isWindow())
            continue;
        if (const QString why = textCut(w); !why.isEmpty())
            found << name(w) + QStringLiteral(": ") + why;
        const auto* area = qobject_cast<const QScrollArea*>(w);
        if (area && area->widget() && area->widget()->hasHeightForWidth() &&
            area->widget()->heightForWidth(area->maximumViewportSize().width()) <=
                area->maximumViewportSize().height() &&
            area->verticalScrollBar()->maximum() > 0)
            found << name(w) + QStringLiteral(" scrolls what fits");
        // What a layout placed stays inside its parent and off its neighbours; what is placed by
        // hand (a hairline over an edge) and what a scroll area scrolls may reach out.
        QWidget* parent = w->parentWidget();
        const QLayout* layout = parent->layout();
        if (!layout || qobject_cast<const QStackedLayout*>(layout) || !holds(layout, w))
            continue;
        if (!parent->rect().contains(w->geometry()))
            found << name(w) + QStringLiteral(" reaches out of ") + name(parent);
        const QObjectList siblings = parent->children();
        for (qsizetype i = siblings.indexOf(w) + 1; i < siblings.size(); ++i) {
            auto* other = qobject_cast<QWidget*>(siblings.at(i));
            if (other && other->isVisibleTo(root) && !other->isWindow() && holds(layout, other) &&
                w->geometry().intersects(other->geometry()))
                found << name(w) + QStringLiteral(" overlaps ") + name(other);
        }
    }
    return found;
}
