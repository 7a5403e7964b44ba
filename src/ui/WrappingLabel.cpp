#include "ui/WrappingLabel.h"

#include "ui/Accessibility.h"
#include "ui/Palette.h"

#include <QEvent>
#include <QPainter>
#include <QTextLayout>
#include <algorithm>
#include <cmath>

WrappingLabel::WrappingLabel(const QString& text, QWidget* parent)
    : QWidget(parent), m_text(text), m_color(FocusColor::text())
{
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    Accessibility::installFactory();
}

WrappingLabel::~WrappingLabel() = default;

void WrappingLabel::setText(const QString& text)
{
    if (text == m_text)
        return;
    m_text = text;
    forgetLayout();
    updateGeometry();
    update();
}

void WrappingLabel::setColor(const QColor& color)
{
    m_color = color;
    update();
}

void WrappingLabel::setStrikeOut(bool strikeOut)
{
    QFont f = font();
    f.setStrikeOut(strikeOut);
    setFont(f);
}

void WrappingLabel::setMaxLines(int lines)
{
    m_maxLines = lines;
    forgetLayout();
    updateGeometry();
    update();
}

void WrappingLabel::forgetLayout()
{
    m_laidAt.clear();
    m_widest = -1;
}

const WrappingLabel::Laid& WrappingLabel::lay(qreal width) const
{
    // A box layout asks a label at its own width and at its column's, the page at the viewport's
    // with and without the scroll bar: four widths cover a pass.
    constexpr size_t kept = 4;
    auto it = std::find_if(m_laidAt.begin(), m_laidAt.end(), [width](const auto& at) { return at.first == width; });
    if (it == m_laidAt.end()) {
        if (m_laidAt.size() == kept)
            m_laidAt.pop_back();
        m_laidAt.emplace_back(width, layOut(paragraphsOf(m_text, font()), font(), width, m_maxLines));
        it = m_laidAt.end() - 1;
    }
    std::rotate(m_laidAt.begin(), it, it + 1);
    return m_laidAt.front().second;
}

WrappingLabel::Paragraphs WrappingLabel::paragraphsOf(const QString& source, const QFont& font)
{
    // Line breaks in the text stay line breaks; each paragraph wraps on its own.
    QString text = source;
    text.replace(QChar::LineSeparator, u'\n').replace(QChar::ParagraphSeparator, u'\n');
    Paragraphs paragraphs;
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    for (const QString& paragraph : text.split(u'\n')) {
        auto layout = std::make_unique<QTextLayout>(paragraph, font);
        layout->setTextOption(option);
        paragraphs.push_back(std::move(layout));
    }
    return paragraphs;
}

WrappingLabel::Laid WrappingLabel::layOut(const Paragraphs& paragraphs, const QFont& font, qreal width, int maxLines)
{
    Laid laid;
    const QFontMetricsF metrics(font);
    width = std::max<qreal>(1, width);
    qreal y = 0;
    for (size_t p = 0; p < paragraphs.size(); ++p) {
        QTextLayout& layout = *paragraphs[p];
        const QString& paragraph = layout.text();
        layout.beginLayout();
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(width);
            if (maxLines > 0 && laid.lines.size() == maxLines - 1) {
                // The last allowed line holds the rest of its paragraph, cut with an ellipsis,
                // which also stands for any paragraph after it.
                const QString tail = paragraph.mid(line.textStart());
                const bool more = std::any_of(paragraphs.begin() + qsizetype(p) + 1, paragraphs.end(),
                                              [](const auto& after) { return !after->text().trimmed().isEmpty(); });
                const QString shown =
                    metrics.elidedText(more ? tail.trimmed() + QChar(0x2026) : tail, Qt::ElideRight, width);
                laid.lines.append({QPointF(0, y), shown});
                layout.endLayout();
                laid.height = y + metrics.height();
                return laid;
            }
            laid.lines.append({QPointF(0, y), paragraph.mid(line.textStart(), line.textLength())});
            y += metrics.lineSpacing();
        }
        layout.endLayout();
    }
    laid.height = laid.lines.isEmpty() ? 0 : y - metrics.lineSpacing() + metrics.height();
    return laid;
}

int WrappingLabel::lineCount(int width) const
{
    return int(lay(width).lines.size());
}

int WrappingLabel::heightForWidth(int width) const
{
    return int(std::ceil(lay(width).height));
}

int WrappingLabel::heightFor(const QString& text, const QFont& font, int width, int maxLines)
{
    return int(std::ceil(layOut(paragraphsOf(text, font), font, width, maxLines).height));
}

QSize WrappingLabel::sizeHint() const
{
    if (m_widest < 0) {
        const QFontMetricsF metrics(font());
        m_widest = 0;
        for (const QString& line : m_text.split(u'\n'))
            m_widest = std::max(m_widest, metrics.horizontalAdvance(line));
    }
    const int w = int(std::ceil(m_widest)) + 1;
    return QSize(w, heightForWidth(w));
}

QSize WrappingLabel::minimumSizeHint() const
{
    const QFontMetricsF metrics(font());
    const int w = int(std::ceil(metrics.averageCharWidth() * 4));
    return QSize(std::min(w, sizeHint().width()), int(std::ceil(metrics.height())));
}

void WrappingLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setFont(font());
    painter.setPen(m_color);
    const QFontMetricsF metrics(font());
    const Laid& laid = lay(width());
    const Qt::Alignment align = (layoutDirection() == Qt::RightToLeft ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignTop;
    for (const auto& [origin, line] : laid.lines)
        painter.drawText(QRectF(origin.x(), origin.y(), width(), metrics.height()), int(align), line);
}

void WrappingLabel::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::FontChange) {
        forgetLayout();
        updateGeometry();
        update();
    }
    QWidget::changeEvent(event);
}
