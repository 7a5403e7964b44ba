#include "ui/FocusPage.h"

#include "ui/Palette.h"
#include "ui/Theme.h"

#include <QLayout>
#include <QResizeEvent>
#include <QScrollBar>
#include <QWidgetItem>
#include <cmath>

namespace {

constexpr int paddingX = 40;
constexpr int paddingTop = 24;
constexpr int paddingBottom = 40;
constexpr int columnGap = 44;
constexpr int stackGap = 22;

// Places the main column and the side column inside the scrolled content; the page decides the
// form from its own width, the layout only follows.
class PageLayout : public QLayout {
public:
    PageLayout(FocusPage* page, QWidget* main, QWidget* side, qreal sideTopPadding, QWidget* parent)
        : QLayout(parent), m_page(page), m_sideTopPadding(int(std::round(sideTopPadding)))
    {
        setContentsMargins(0, 0, 0, 0);
        m_main = new QWidgetItem(main);
        addChildWidget(main);
        if (side) {
            m_side = new QWidgetItem(side);
            addChildWidget(side);
        }
    }
    ~PageLayout() override
    {
        delete m_main;
        delete m_side;
    }

    void addItem(QLayoutItem* item) override { delete item; }
    int count() const override { return m_side ? 2 : 1; }
    QLayoutItem* itemAt(int index) const override { return index == 0 ? m_main : index == 1 ? m_side : nullptr; }
    QLayoutItem* takeAt(int index) override
    {
        QLayoutItem* item = itemAt(index);
        if (index == 0)
            m_main = nullptr;
        else if (index == 1)
            m_side = nullptr;
        return item;
    }
    Qt::Orientations expandingDirections() const override { return Qt::Horizontal; }
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override { return place(width, false); }
    // The content as the page shows it, at the viewport's width. At another width (the toolkit
    // asks for the height at the hint's width too), a long list would measure every row there
    // and shape its title for nothing while the window first shows.
    QSize sizeHint() const override
    {
        const int shown = m_page->viewport()->width();
        const int width = shown > 0 ? shown : 800;
        return QSize(width, heightForWidth(width));
    }
    QSize minimumSize() const override { return QSize(2 * paddingX, paddingTop + paddingBottom); }
    void setGeometry(const QRect& rect) override
    {
        QLayout::setGeometry(rect);
        place(rect.width(), true, rect.topLeft());
    }

private:
    static int heightAt(QLayoutItem* item, int width)
    {
        if (!item)
            return 0;
        const int h = item->hasHeightForWidth() ? item->heightForWidth(width) : item->sizeHint().height();
        return std::max(h, item->minimumSize().height());
    }

    // Lays the columns out in `width` and returns the content's height.
    int place(int width, bool apply, QPoint origin = {}) const
    {
        const bool twoColumns = m_side && m_page->isTwoColumn();
        const int inner = std::max(0, width - 2 * paddingX);
        const int mainWidth =
            std::clamp(twoColumns ? inner - columnGap - FocusPage::sideWidth : inner, 0, FocusPage::mainMaxWidth);
        const int rowWidth = twoColumns ? mainWidth + columnGap + FocusPage::sideWidth : mainWidth;
        const int x = std::max(paddingX, (width - rowWidth) / 2);
        const int mainHeight = heightAt(m_main, mainWidth);
        QRect mainFrame(origin + QPoint(x, paddingTop), QSize(mainWidth, mainHeight));
        int bottom = mainFrame.bottom() + 1 - origin.y();
        if (m_side) {
            QRect sideFrame;
            if (twoColumns) {
                sideFrame = QRect(origin + QPoint(x + mainWidth + columnGap, paddingTop + m_sideTopPadding),
                                  QSize(FocusPage::sideWidth, heightAt(m_side, FocusPage::sideWidth)));
            } else {
                sideFrame = QRect(origin + QPoint(x, paddingTop + mainHeight + stackGap),
                                  QSize(mainWidth, heightAt(m_side, mainWidth)));
            }
            bottom = std::max(bottom, sideFrame.bottom() + 1 - origin.y());
            if (apply)
                m_side->setGeometry(sideFrame);
        }
        if (apply)
            m_main->setGeometry(mainFrame);
        return bottom + paddingBottom;
    }

    FocusPage* m_page;
    QLayoutItem* m_main = nullptr;
    QLayoutItem* m_side = nullptr;
    int m_sideTopPadding;
};

} // namespace

FocusPage::FocusPage(QWidget* main, QWidget* side, qreal sideTopPadding, QWidget* parent)
    : QScrollArea(parent), m_main(main), m_side(side)
{
    setFrameShape(QFrame::NoFrame);
    setWidgetResizable(true);
    // The page is not a control: Tab goes from one of its controls to the next.
    setFocusPolicy(Qt::NoFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);

    Theme::fillBackground(this, FocusColor::paper());
    Theme::fillBackground(viewport(), FocusColor::paper());

    auto* content = new QWidget;
    content->setObjectName(QStringLiteral("pageContent"));
    Theme::fillBackground(content, FocusColor::paper());
    new PageLayout(this, main, side, sideTopPadding, content);
    setWidget(content);
}

bool FocusPage::isTwoColumn() const
{
    return m_side && width() >= twoColumnMinWidth;
}

QSize FocusPage::sizeHint() const
{
    return QAbstractScrollArea::sizeHint();
}

void FocusPage::resizeEvent(QResizeEvent* event)
{
    const bool crossed =
        (event->oldSize().width() >= twoColumnMinWidth) != (event->size().width() >= twoColumnMinWidth);
    if (crossed && widget() && widget()->layout())
        widget()->layout()->invalidate();
    QScrollArea::resizeEvent(event);
}
