#include "ui/Headings.h"

#include "ui/Accessibility.h"
#include "ui/Eyebrow.h"
#include "ui/Layouts.h"
#include "ui/Palette.h"
#include "ui/Theme.h"
#include "ui/WrappingLabel.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QPainter>
#include <QVBoxLayout>
#include <cmath>

void setPageTitle(QWidget* page, const QString& title)
{
    page->setWindowTitle(title);
}

namespace {

// Follows its view's size and draws the hairline over the view's bottom row.
class BottomHairline : public QWidget {
public:
    explicit BottomHairline(QWidget* view) : QWidget(view)
    {
        setObjectName(QStringLiteral("bottomHairline"));
        setAttribute(Qt::WA_TransparentForMouseEvents);
        Accessibility::hide(this);
        view->installEventFilter(this);
        follow();
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == parent() && (event->type() == QEvent::Resize || event->type() == QEvent::ChildAdded))
            follow();
        return false;
    }
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), FocusColor::hairline());
    }

private:
    void follow()
    {
        const QWidget* view = parentWidget();
        setGeometry(0, view->height() - 1, view->width(), 1);
        raise();
    }
};

} // namespace

void addBottomHairline(QWidget* view)
{
    if (!view->findChild<QWidget*>(QStringLiteral("bottomHairline"), Qt::FindDirectChildrenOnly))
        new BottomHairline(view);
}

FocusGroupDivider::FocusGroupDivider(qreal leading, QWidget* parent) : QWidget(parent), m_leading(leading)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setFixedHeight(1);
    Accessibility::hide(this);
}

QSize FocusGroupDivider::sizeHint() const
{
    return QSize(int(std::ceil(m_leading)) + 1, 1);
}

void FocusGroupDivider::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    QRectF line(m_leading, 0, std::max<qreal>(0, width() - m_leading), 1);
    if (layoutDirection() == Qt::RightToLeft)
        line.moveLeft(0);
    painter.fillRect(line, FocusColor::hairline());
}

FocusHeadline::FocusHeadline(const QString& eyebrow, const QString& title, qreal size, QWidget* trailing,
                             QWidget* parent)
    : QWidget(parent)
{
    auto* layout = columnLayout(this, 8);

    m_eyebrowRow = new QWidget(this);
    auto* row = new QHBoxLayout(m_eyebrowRow);
    row->setContentsMargins(0, 0, 0, 0);
    m_eyebrow = new Eyebrow(eyebrow, FocusColor::textSecondary(), 12, m_eyebrowRow);
    m_eyebrow->setObjectName(QStringLiteral("eyebrow"));
    row->addWidget(m_eyebrow, 0, Qt::AlignVCenter);
    row->addStretch(1);
    if (trailing) {
        trailing->setParent(m_eyebrowRow);
        row->addWidget(trailing, 0, Qt::AlignVCenter);
    }
    layout->addWidget(m_eyebrowRow);

    auto* titleLabel = new WrappingLabel(title, this);
    titleLabel->setObjectName(QStringLiteral("title"));
    titleLabel->setFont(Theme::font(size, QFont::DemiBold, Theme::Design::serif));
    titleLabel->setColor(FocusColor::text());
    Accessibility::markHeader(titleLabel);
    layout->addWidget(titleLabel);
    m_title = titleLabel;

    setEyebrow(eyebrow);
}

void FocusHeadline::setTitle(const QString& title)
{
    m_title->setText(title);
}

void FocusHeadline::setEyebrow(const QString& eyebrow)
{
    m_eyebrow->setEyebrowText(eyebrow);
    // Without an eyebrow the whole row goes, trailing widget included.
    m_eyebrowRow->setVisible(!eyebrow.isEmpty());
}

FocusSectionHeader::FocusSectionHeader(const QString& title, QWidget* trailing, QWidget* parent) : QWidget(parent)
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 4);
    m_title = new Eyebrow(title, FocusColor::textSecondary(), 12, this);
    m_title->setObjectName(QStringLiteral("eyebrow"));
    row->addWidget(m_title, 0, Qt::AlignVCenter);
    row->addStretch(1);
    if (trailing) {
        trailing->setParent(this);
        row->addWidget(trailing, 0, Qt::AlignVCenter);
    }
}

void FocusSectionHeader::setTitle(const QString& title)
{
    m_title->setEyebrowText(title);
}
