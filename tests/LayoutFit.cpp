#include "LayoutFit.h"

#include <QAbstractButton>
#include <QLabel>
#include <QLayout>
#include <QRegularExpression>
#include <QScrollArea>
#include <QStackedLayout>
#include <QWidget>

namespace LayoutFit {

namespace {

QString describe(const QWidget* widget, const QString& what)
{
    QString name = widget->objectName();
    if (name.isEmpty())
        name = QString::fromLatin1(widget->metaObject()->className());
    QString text;
    if (const auto* label = qobject_cast<const QLabel*>(widget))
        text = label->text();
    else if (const auto* button = qobject_cast<const QAbstractButton*>(widget))
        text = button->text();
    else if (const QVariant property = widget->property("text"); property.canConvert<QString>())
        text = property.toString();
    if (text.size() > 48)
        text = text.left(47) + QChar(0x2026);
    return QStringLiteral("%1 \"%2\": %3").arg(name, text, what);
}

QString size(const QSize& s)
{
    return QStringLiteral("%1x%2").arg(s.width()).arg(s.height());
}

// A scroll area's content may be larger than the area; the area itself may not.
bool isScrolledContent(const QWidget* widget)
{
    const QWidget* viewport = widget->parentWidget();
    const auto* area = viewport ? qobject_cast<const QAbstractScrollArea*>(viewport->parentWidget()) : nullptr;
    return area && area->viewport() == viewport;
}

bool holds(const QLayout* layout, const QWidget* widget)
{
    for (int i = 0; i < layout->count(); ++i) {
        QLayoutItem* item = layout->itemAt(i);
        if (item->widget() == widget)
            return true;
        if (item->layout() && holds(item->layout(), widget))
            return true;
    }
    return false;
}

// The text of a label or a button that does not fit the room it was given.
QString textCut(const QWidget* widget)
{
    if (const auto* label = qobject_cast<const QLabel*>(widget)) {
        if (label->text().isEmpty())
            return {};
        if (label->wordWrap()) {
            // A word is never broken: one longer than the line runs out of the label.
            const QFontMetrics metrics(label->font());
            for (const QString& word : label->text().split(QRegularExpression(QStringLiteral("\\s+")))) {
                if (metrics.horizontalAdvance(word) > label->contentsRect().width())
                    return QStringLiteral("the word \"%1\" is wider than %2")
                        .arg(word)
                        .arg(label->contentsRect().width());
            }
            const int needed = label->heightForWidth(label->width());
            return needed > label->height() ? QStringLiteral("needs %1 high at %2 wide, has %3")
                                                  .arg(needed)
                                                  .arg(label->width())
                                                  .arg(label->height())
                                            : QString();
        }
        const QSize needed = label->sizeHint();
        return needed.width() > label->width() || needed.height() > label->height()
                   ? QStringLiteral("needs %1, has %2").arg(size(needed), size(label->size()))
                   : QString();
    }
    if (const auto* button = qobject_cast<const QAbstractButton*>(widget)) {
        if (button->text().isEmpty())
            return {};
        const QSize needed = button->sizeHint();
        return needed.width() > button->width()
                   ? QStringLiteral("needs %1, has %2").arg(size(needed), size(button->size()))
                   : QString();
    }
    // Texts of their own that wrap (any widget that answers a height for a width by itself).
    if (!widget->layout() && widget->hasHeightForWidth() && widget->property("text").isValid()) {
        const int needed = widget->heightForWidth(widget->width());
        return needed > widget->height() ? QStringLiteral("needs %1 high at %2 wide, has %3")
                                               .arg(needed)
                                               .arg(widget->width())
                                               .arg(widget->height())
                                         : QString();
    }
    return {};
}

} // namespace

QStringList cut(QWidget* root)
{
    QStringList found;
    QList<QWidget*> widgets{root};
    widgets += root->findChildren<QWidget*>();
    for (QWidget* widget : widgets) {
        if (!widget->isVisibleTo(root) || (widget != root && widget->isWindow()))
            continue;
        if (const QString text = textCut(widget); !text.isEmpty())
            found.append(describe(widget, text));
        QWidget* parent = widget->parentWidget();
        if (widget == root || !parent || isScrolledContent(widget))
            continue;
        // Only what a layout placed: a widget placed by hand (a hairline over an edge) may reach out on purpose.
        const QLayout* layout = parent->layout();
        if (!layout || qobject_cast<const QStackedLayout*>(layout) || !holds(layout, widget))
            continue;
        if (!parent->rect().contains(widget->geometry()))
            found.append(describe(widget, QStringLiteral("reaches past its parent %1 (%2 in %3)")
                                              .arg(describe(parent, {}), size(widget->size()), size(parent->size()))));
        for (QWidget* sibling : parent->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (sibling == widget || !sibling->isVisibleTo(root) || sibling->isWindow() || !holds(layout, sibling))
                continue;
            // Each pair once.
            if (parent->children().indexOf(sibling) < parent->children().indexOf(widget))
                continue;
            if (widget->geometry().intersects(sibling->geometry()))
                found.append(describe(widget, QStringLiteral("overlaps %1").arg(describe(sibling, {}))));
        }
    }
    return found;
}

} // namespace LayoutFit
