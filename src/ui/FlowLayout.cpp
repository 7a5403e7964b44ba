#include "ui/FlowLayout.h"

#include "ui/Palette.h"
#include "ui/Symbols.h"
#include "ui/TextLabel.h"
#include "ui/Theme.h"

#include <QAbstractButton>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>

FlowLayout::FlowLayout(int spacing, QWidget* parent) : QLayout(parent)
{
    setContentsMargins(0, 0, 0, 0);
    setSpacing(spacing);
}

FlowLayout::~FlowLayout()
{
    while (QLayoutItem* item = takeAt(0))
        delete item;
}

FlowLayout::Arrangement FlowLayout::arrange(const QList<QSize>& sizes, int width, int spacing)
{
    Arrangement result;
    int x = 0;
    int y = 0;
    int rowHeight = 0;
    for (const QSize& size : sizes) {
        // Strict: a child that ends exactly at the edge stays; the first of a row never moves.
        if (x > 0 && x + size.width() > width) {
            y += rowHeight + spacing;
            x = 0;
            rowHeight = 0;
        }
        result.frames.append(QRect(QPoint(x, y), size));
        x += size.width() + spacing;
        rowHeight = std::max(rowHeight, size.height());
    }
    result.size = QSize(width, y + rowHeight);
    return result;
}

void FlowLayout::addItem(QLayoutItem* item)
{
    m_items.append(item);
}

int FlowLayout::count() const
{
    return int(m_items.size());
}

QLayoutItem* FlowLayout::itemAt(int index) const
{
    return m_items.value(index);
}

QLayoutItem* FlowLayout::takeAt(int index)
{
    if (index < 0 || index >= m_items.size())
        return nullptr;
    return m_items.takeAt(index);
}

Qt::Orientations FlowLayout::expandingDirections() const
{
    return {};
}

bool FlowLayout::hasHeightForWidth() const
{
    return true;
}

QList<QSize> FlowLayout::childSizes() const
{
    QList<QSize> sizes;
    for (QLayoutItem* item : m_items)
        if (!item->isEmpty())
            sizes.append(item->sizeHint());
    return sizes;
}

int FlowLayout::heightForWidth(int width) const
{
    const QMargins m = contentsMargins();
    const int inner = std::max(0, width - m.left() - m.right());
    return arrange(childSizes(), inner, spacing()).size.height() + m.top() + m.bottom();
}

QSize FlowLayout::sizeHint() const
{
    const QMargins m = contentsMargins();
    const int width = defaultWidth + m.left() + m.right();
    return QSize(width, heightForWidth(width));
}

QSize FlowLayout::minimumSize() const
{
    // Children are never compressed; a narrow container lets a wide one overflow, so the
    // minimum width is only the margins. The height follows the width (heightForWidth).
    const QMargins m = contentsMargins();
    return QSize(m.left() + m.right(), m.top() + m.bottom());
}

void FlowLayout::setGeometry(const QRect& rect)
{
    QLayout::setGeometry(rect);
    const QRect inner = rect.marginsRemoved(contentsMargins());
    QList<QLayoutItem*> visible;
    for (QLayoutItem* item : m_items)
        if (!item->isEmpty())
            visible.append(item);
    const Arrangement arrangement = arrange(childSizes(), inner.width(), spacing());
    for (qsizetype i = 0; i < visible.size(); ++i) {
        QRect frame = arrangement.frames.at(i).translated(inner.topLeft());
        if (parentWidget() && parentWidget()->layoutDirection() == Qt::RightToLeft)
            frame.moveRight(inner.right() - (frame.left() - inner.left()));
        visible.at(i)->setGeometry(frame);
    }
}

// ---------------------------------------------------------------------------------------------
// FlowingChips

namespace {

constexpr qreal chipTextSize = 12.5;
constexpr qreal removeSymbolSize = 11;

class RemoveChipButton : public QAbstractButton {
public:
    explicit RemoveChipButton(QWidget* parent) : QAbstractButton(parent)
    {
        const int edge = int(Symbols::boxSize(removeSymbolSize));
        setFixedSize(edge, edge);
        setFocusPolicy(Qt::StrongFocus);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        if (isDown())
            painter.setOpacity(0.6);
        Symbols::paint(painter, rect(), Symbol::xmarkCircleFill, FocusColor::textTertiary(), removeSymbolSize);
    }
};

class Chip : public QWidget {
public:
    Chip(const QString& text, QWidget* parent) : QWidget(parent)
    {
        setObjectName(QStringLiteral("chip"));
        setProperty("text", text);
        auto* layout = new QHBoxLayout(this);
        layout->setContentsMargins(10, 6, 10, 6);
        layout->setSpacing(4);
        layout->addWidget(plainLabel(text, chipTextSize, QFont::DemiBold, FocusColor::text(), this), 0,
                          Qt::AlignVCenter);
        remove = new RemoveChipButton(this);
        remove->setObjectName(QStringLiteral("removeButton"));
        remove->setAccessibleName(FlowingChips::tr("Remove %1").arg(text));
        layout->addWidget(remove, 0, Qt::AlignVCenter);
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    }

    QAbstractButton* remove;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        // The outline is centred on the capsule's edge; the widget's rectangle is the capsule.
        const QRectF capsule = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        const qreal radius = capsule.height() / 2;
        painter.setBrush(FocusColor::white());
        painter.setPen(QPen(FocusColor::hairline(), 1));
        painter.drawRoundedRect(capsule, radius, radius);
    }
};

} // namespace

FlowingChips::FlowingChips(const QStringList& items, QWidget* parent) : QWidget(parent)
{
    m_layout = new FlowLayout(6, this);
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
    setItems(items);
}

void FlowingChips::setItems(const QStringList& items)
{
    // Chips are keyed by their text: a chip that stays keeps its widget (and its focus).
    QHash<QString, Chip*> existing;
    while (QLayoutItem* item = m_layout->takeAt(0)) {
        if (auto* chip = static_cast<Chip*>(item->widget()))
            existing.insert(chip->property("text").toString(), chip);
        delete item;
    }
    for (const QString& text : items) {
        Chip* chip = existing.take(text);
        if (!chip) {
            chip = new Chip(text, this);
            connect(chip->remove, &QAbstractButton::clicked, this, [this, text] { emit removeClicked(text); });
        }
        m_layout->addWidget(chip);
        chip->show();
    }
    for (Chip* gone : std::as_const(existing)) {
        gone->hide();
        gone->setParent(nullptr);
        gone->deleteLater();
    }
    m_items = items;
    updateGeometry();
}
