#include "ui/Theme.h"

#include "ui/Accessibility.h"
#include "ui/FocusRing.h"
#include "ui/Palette.h"
#include "ui/ReturnKey.h"
#include "ui/Symbols.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QProxyStyle>
#include <QSet>
#include <QStandardPaths>
#include <QStyleFactory>
#include <QStyleOptionMenuItem>
#include <QWidget>
#include <array>
#include <cmath>

namespace {

// Fusion with the design's own pieces: thin scroll bars that lie over the content and show while
// it scrolls or the pointer is on them, and no dotted focus frame (FocusRing draws focus).
class DesignStyle : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;

    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override
    {
        if (hint == SH_ScrollBar_Transient)
            return 1;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }

    int pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const override
    {
        if (metric == PM_ScrollBarExtent)
            return 10;
        if (metric == PM_MenuPanelWidth)
            return 1;
        if (metric == PM_MenuHMargin)
            return 0;
        if (metric == PM_MenuVMargin)
            return 4;
        return QProxyStyle::pixelMetric(metric, option, widget);
    }

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override
    {
        if (element == PE_FrameFocusRect)
            return;
        if (element == PE_PanelMenu) {
            painter->fillRect(option->rect, FocusColor::paper());
            return;
        }
        if (element == PE_FrameMenu) {
            painter->save();
            painter->setPen(QPen(FocusColor::border(), 1));
            painter->setBrush(Qt::NoBrush);
            painter->drawRect(QRectF(option->rect).adjusted(0.5, 0.5, -0.5, -0.5));
            painter->restore();
            return;
        }
        QProxyStyle::drawPrimitive(element, option, painter, widget);
    }

    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override
    {
        if (element == CE_MenuEmptyArea)
            return;
        if (const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option); item && element == CE_MenuItem) {
            drawMenuItem(*item, painter);
            return;
        }
        QProxyStyle::drawControl(element, option, painter, widget);
    }

    QSize sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                           const QWidget* widget) const override
    {
        const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
        if (type != CT_MenuItem || !item)
            return QProxyStyle::sizeFromContents(type, option, size, widget);
        if (item->menuItemType == QStyleOptionMenuItem::Separator)
            return item->text.isEmpty()
                       ? QSize(size.width(), 9)
                       : QSize(2 * menuPadding + QFontMetrics(sectionFont(*item)).horizontalAdvance(item->text),
                               std::max(26, QFontMetrics(sectionFont(*item)).height() + 10));
        int width = 2 * menuPadding + size.width();
        if (item->menuHasCheckableItems)
            width += menuCheckColumn;
        if (item->text.contains(QLatin1Char('\t')))
            width += 24;
        if (item->menuItemType == QStyleOptionMenuItem::SubMenu)
            width += 20;
        return QSize(width, std::max(32, size.height() + 14));
    }

    // Menus open by the keyboard with their first item current, so that the arrows and Return
    // start from something a person can see.
    void polish(QWidget* widget) override
    {
        QProxyStyle::polish(widget);
        if (qobject_cast<QMenu*>(widget))
            widget->installEventFilter(&m_menuStart);
    }
    void unpolish(QWidget* widget) override
    {
        if (qobject_cast<QMenu*>(widget))
            widget->removeEventFilter(&m_menuStart);
        QProxyStyle::unpolish(widget);
    }
    using QProxyStyle::polish;
    using QProxyStyle::unpolish;

private:
    static constexpr int menuPadding = 14;
    static constexpr int menuCheckColumn = 22;

    class MenuStart : public QObject {
    protected:
        bool eventFilter(QObject* watched, QEvent* event) override
        {
            auto* menu = qobject_cast<QMenu*>(watched);
            // A pointer opens menus on a press and is still down as they show.
            if (event->type() != QEvent::Show || !menu || menu->activeAction() ||
                QGuiApplication::mouseButtons() != Qt::NoButton)
                return false;
            for (QAction* action : menu->actions()) {
                if (action->isVisible() && action->isEnabled() && !action->isSeparator()) {
                    menu->setActiveAction(action);
                    break;
                }
            }
            return false;
        }
    };

    static QFont sectionFont(const QStyleOptionMenuItem& item)
    {
        QFont font = item.font;
        font.setWeight(QFont::DemiBold);
        return font;
    }

    // The design's palette: paper, an ink band under the current item, hairline separators.
    void drawMenuItem(const QStyleOptionMenuItem& item, QPainter* p) const
    {
        const QRect r = item.rect;
        if (item.menuItemType == QStyleOptionMenuItem::Separator) {
            if (item.text.isEmpty()) {
                p->fillRect(QRect(r.left() + 10, r.center().y(), r.width() - 20, 1), FocusColor::hairline());
                return;
            }
            // A section's title, as the sections of a page are headed: quieter than its items.
            p->save();
            p->setFont(sectionFont(item));
            p->setPen(FocusColor::textSecondary());
            p->drawText(r.adjusted(menuPadding, 2, -menuPadding, 0),
                        Qt::AlignVCenter | Qt::AlignLeft | Qt::TextSingleLine, item.text);
            p->restore();
            return;
        }
        if (item.menuItemType == QStyleOptionMenuItem::EmptyArea)
            return;
        const bool enabled = item.state & State_Enabled;
        const bool current = enabled && (item.state & State_Selected);
        p->save();
        p->setRenderHint(QPainter::Antialiasing);
        if (current) {
            QPainterPath band;
            band.addRoundedRect(QRectF(r).adjusted(4, 1, -4, -1), 6, 6);
            p->fillPath(band, FocusColor::ink());
        }
        const QColor color = !enabled  ? FocusColor::disabledOutlineText()
                             : current ? FocusColor::white()
                                       : FocusColor::text();
        int x = r.left() + menuPadding;
        if (item.menuHasCheckableItems) {
            if (item.checked)
                Symbols::paint(*p, QRectF(x, r.top(), 16, r.height()), Symbol::checkmark, color, 12);
            x += menuCheckColumn;
        }
        const qsizetype tab = item.text.indexOf(QLatin1Char('\t'));
        const QRect textRect(x, r.top(), r.right() + 1 - menuPadding - x, r.height());
        const int flags = Qt::AlignVCenter | Qt::TextSingleLine | Qt::TextShowMnemonic |
                          (styleHint(SH_UnderlineShortcut, &item, nullptr, nullptr) ? 0 : int(Qt::TextHideMnemonic));
        p->setFont(item.font);
        p->setPen(color);
        p->drawText(textRect, flags | Qt::AlignLeft, item.text.left(tab));
        if (tab >= 0) {
            p->setPen(current ? FocusColor::white() : FocusColor::textSecondary());
            p->drawText(textRect, flags | Qt::AlignRight, item.text.mid(tab + 1));
        }
        if (item.menuItemType == QStyleOptionMenuItem::SubMenu)
            Symbols::paint(*p, QRectF(r.right() - menuPadding - 12, r.top(), 12, r.height()), Symbol::chevronRight,
                           color, 11);
        p->restore();
    }

    MenuStart m_menuStart;
};

// Each design's families, the first one installed drawing it.
QStringList preferredFamilies(Theme::Design design)
{
    switch (design) {
    case Theme::Design::standard:
        return {QStringLiteral("Inter"), QStringLiteral("Noto Sans")};
    case Theme::Design::serif:
        return {QStringLiteral("Noto Serif"), QStringLiteral("DejaVu Serif")};
    case Theme::Design::monospaced:
        return {QStringLiteral("DejaVu Sans Mono"), QStringLiteral("Noto Sans Mono")};
    case Theme::Design::digits:
        return {QStringLiteral("Noto Sans"), QStringLiteral("DejaVu Sans")};
    }
    return {};
}

// Each design's installed family, once the installed fonts are known.
std::array<QStringList, 4> installedFamilies;

} // namespace

namespace Theme {

QStringList firstInstalled(const QStringList& families)
{
    // The installed list rather than hasFamily(), which has fontconfig rewrite each name first.
    const QStringList installed = QFontDatabase::families();
    for (const QString& family : families)
        if (installed.contains(family, Qt::CaseInsensitive))
            return {family};
    return families;
}

QFont font(qreal pixelSize, QFont::Weight weight, Design design)
{
    QFont f;
    const QStringList& installed = installedFamilies[size_t(design)];
    f.setFamilies(installed.isEmpty() ? preferredFamilies(design) : installed);
    switch (design) {
    case Design::serif:
        f.setStyleHint(QFont::Serif);
        break;
    case Design::monospaced:
        f.setStyleHint(QFont::Monospace);
        f.setFixedPitch(true);
        break;
    case Design::standard:
    case Design::digits:
        break;
    }
    f.setPixelSize(std::max(1, int(std::lround(pixelSize))));
    f.setWeight(weight);
    f.setHintingPreference(QFont::PreferNoHinting);
    return f;
}

void prepareApplication()
{
    QGuiApplication::setDesktopSettingsAware(false);
}

QPalette palette()
{
    using namespace FocusColor;
    QPalette p;
    const auto set = [&p](QPalette::ColorRole role, const QColor& color) { p.setColor(QPalette::All, role, color); };
    set(QPalette::Window, paper());
    set(QPalette::WindowText, FocusColor::text());
    set(QPalette::Base, white());
    set(QPalette::AlternateBase, wash());
    set(QPalette::Text, FocusColor::text());
    set(QPalette::PlaceholderText, textSecondary());
    set(QPalette::Button, paper());
    set(QPalette::ButtonText, FocusColor::text());
    set(QPalette::BrightText, white());
    set(QPalette::Light, white());
    set(QPalette::Midlight, hairline());
    set(QPalette::Mid, border());
    set(QPalette::Dark, textTertiary());
    set(QPalette::Shadow, ink());
    set(QPalette::Highlight, ink());
    set(QPalette::HighlightedText, white());
    set(QPalette::Link, FocusColor::text());
    set(QPalette::LinkVisited, FocusColor::text());
    set(QPalette::ToolTipBase, white());
    set(QPalette::ToolTipText, FocusColor::text());
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, disabledOutlineText());
    p.setColor(QPalette::Disabled, QPalette::Base, paper());
    return p;
}

QString faceKey(const QFont& font)
{
    const QFont f = font.resolve(QGuiApplication::font());
    return QStringLiteral("%1/%2/%3/%4/%5/%6")
        .arg(f.families().join(u','))
        .arg(f.pixelSize())
        .arg(f.weight())
        .arg(int(f.style()))
        .arg(int(f.hintingPreference()))
        .arg(int(f.styleStrategy()));
}

QList<QFont> distinctFaces(const QList<QFont>& faces)
{
    QList<QFont> out;
    QSet<QString> seen;
    for (const QFont& f : faces)
        if (const QString key = faceKey(f); !seen.contains(key)) {
            seen.insert(key);
            out.append(f);
        }
    return out;
}

void prime(const QFont& font)
{
    // Unset parts take the application's, as they do in a widget: a face primed with the
    // toolkit's defaults instead would be another face, loaded beside the one drawn.
    const QFontMetricsF metrics(font.resolve(QGuiApplication::font()));
    metrics.height();
    metrics.horizontalAdvance(QStringLiteral("Today 12"));
}

void preferPlainIconFont()
{
    // The icon font's package installs it compressed (WOFF2) beside the plain file, and the
    // toolkit may pick the compressed copy, which then is unpacked at every start. The plain
    // TrueType file of the same font, added here, is the one it opens.
    const QString plain = QStandardPaths::locate(
        QStandardPaths::GenericDataLocation,
        QStringLiteral("fonts/truetype/material-design-icons-iconfont/MaterialIcons-Regular.ttf"));
    if (plain.isEmpty())
        return;
    // Added once the installed fonts are known, so that it takes the place of the copies of the
    // same name rather than theirs taking its place.
    QFontDatabase::families();
    QFontDatabase::addApplicationFont(plain);
}

void apply(QApplication& app)
{
    preferPlainIconFont();
    // A font naming families to fall back on has the toolkit sort every installed font for each
    // of them before its first text, half a millisecond a family; the one installed family alone
    // draws the same, and a character it lacks still finds another font then.
    for (const Design design : {Design::standard, Design::serif, Design::monospaced, Design::digits})
        installedFamilies[size_t(design)] = firstInstalled(preferredFamilies(design));
    if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion")))
        app.setStyle(new DesignStyle(fusion));
    app.setPalette(palette());
    app.setFont(font(13));
    Accessibility::installFactory();
    FocusRing::install(app);
    ReturnKey::install(app);
}

void fillBackground(QWidget* widget, const QColor& color)
{
    QPalette p = widget->palette();
    p.setColor(QPalette::Window, color);
    widget->setPalette(p);
    widget->setAutoFillBackground(true);
}

} // namespace Theme
