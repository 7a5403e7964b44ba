#pragma once

#include "onboarding/QrEncoder.h"
#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QWidget>
#include <functional>
#include <optional>

class QPainter;

// A drawing that is painted once into a pixmap and reused until its arguments, size or pixel
// ratio change. Subclasses draw in points into a rectangle of the widget's size.
class PaintedView : public QWidget {
    Q_OBJECT
public:
    using Drawer = std::function<void(QPainter& painter, const QSizeF& size)>;
    // A fixed size and a drawing function; hidden from assistive technologies.
    PaintedView(QSize size, Drawer drawer, QWidget* parent = nullptr);

    void setDrawer(Drawer drawer);
    // Drops the cached pixmap; the next paint draws again.
    void invalidate();
    // How many times the drawing was made (the cache is what keeps this low).
    int drawCount() const { return m_drawCount; }

    QSize sizeHint() const override { return m_size; }
    QSize minimumSizeHint() const override { return m_size; }
    void setFixedDrawingSize(QSize size);

protected:
    PaintedView(QSize size, QWidget* parent);
    virtual void draw(QPainter& painter, const QSizeF& size) const;
    void paintEvent(QPaintEvent* event) override;

private:
    QSize m_size;
    Drawer m_drawer;
    QPixmap m_cache;
    int m_drawCount = 0;
};

// Painting helpers shared by the drawings and the onboarding's own tiles.
namespace OnboardingPaint {
void fillRounded(QPainter& p, const QRectF& rect, qreal radius, const QColor& color);
// A soft shadow under a rounded card, `blur` points wide, moved `offsetY` down.
void softShadow(QPainter& p, const QRectF& card, qreal radius, qreal blur, qreal offsetY, const QColor& color);
// A stroke that stays inside `rect`.
void strokeInside(QPainter& p, const QRectF& rect, qreal radius, const QColor& color, qreal width);
// A glyph of the icon font by its code point, centred in `rect`.
void glyph(QPainter& p, const QRectF& rect, char16_t codepoint, qreal size, const QColor& color);
// Upper-cased, heavy, tracked caption; returns its height.
qreal eyebrow(QPainter& p, const QPointF& topLeft, const QString& text, const QColor& color, qreal size);
// The program's logo on white, clipped to a rounded square.
void appLogo(QPainter& p, const QRectF& rect, qreal radius);
QImage appLogoImage();
} // namespace OnboardingPaint

// Glyphs of the icon font that the drawings use beyond the design system's symbols.
namespace OnboardingGlyph {
constexpr char16_t wifi = 0xE63E, folder = 0xE2C7, arrowForward = 0xE5C8, arrowUpward = 0xE5D8, scope = 0xE1B3,
                   moon = 0xEF44, globe = 0xE894, lock = 0xE897, info = 0xE88F, sync = 0xE627, pause = 0xE034,
                   play = 0xE037, check = 0xE5CA, close = 0xE5CD, add = 0xE145, chevronDown = 0xE5CF;
}

// A year as twelve rows of dots, the first `lostDays` days filled.
class OnboardingYearDots : public PaintedView {
    Q_OBJECT
public:
    OnboardingYearDots(int lostDays, qreal dot, qreal gap, QWidget* parent = nullptr);
    void setLostDays(int lostDays);
    int lostDays() const { return m_lostDays; }
    // Centre of day `day` (0-based) of month `month` (0-based), in the widget's points.
    QPointF dotCenter(int month, int day) const;
    static const int monthLengths[12];

protected:
    void draw(QPainter& p, const QSizeF& size) const override;

private:
    int m_lostDays;
    qreal m_dot;
    qreal m_gap;
};

// The page a blocked site shows, in a small browser window: the countdown card when there is no
// priority, else the priority card.
class OnboardingBlockPagePreview : public PaintedView {
    Q_OBJECT
public:
    OnboardingBlockPagePreview(const QString& domain, int breakMinutes, std::optional<QString> priority, int width,
                               QWidget* parent = nullptr);
    void setContent(const QString& domain, int breakMinutes, std::optional<QString> priority);
    // Narrower than the width it was made with where only `available` is left (a small screen);
    // the page wraps its texts and grows taller instead.
    void fitWidth(int available);
    // Where the countdown ring sits (empty while a priority is shown).
    QRectF ringRect() const;

protected:
    void draw(QPainter& p, const QSizeF& size) const override;

private:
    qreal layout(QPainter* p, qreal width, qreal height) const;
    void resizeTo(int width);
    int m_widest;
    QString m_domain;
    int m_breakMinutes;
    std::optional<QString> m_priority;
    mutable QRectF m_ring;
};

// A video feed interrupted by the break card.
class OnboardingFeedBreakIllustration : public PaintedView {
    Q_OBJECT
public:
    explicit OnboardingFeedBreakIllustration(QWidget* parent = nullptr);

protected:
    void draw(QPainter& p, const QSizeF& size) const override;
};

// Two computers showing the same list, with a sync badge.
class OnboardingDevicesInStep : public PaintedView {
    Q_OBJECT
public:
    explicit OnboardingDevicesInStep(QWidget* parent = nullptr);

protected:
    void draw(QPainter& p, const QSizeF& size) const override;
};

// The panel's tray with the program's popover open, showing `priority`.
class OnboardingTrayIllustration : public PaintedView {
    Q_OBJECT
public:
    explicit OnboardingTrayIllustration(const QString& priority, QWidget* parent = nullptr);
    void setPriority(const QString& priority);

protected:
    void draw(QPainter& p, const QSizeF& size) const override;

private:
    QString m_priority;
};

// The desktop's menu of applications, open on the program's entry: where a desktop without a
// tray keeps the program.
class OnboardingAppMenuIllustration : public PaintedView {
    Q_OBJECT
public:
    explicit OnboardingAppMenuIllustration(QWidget* parent = nullptr);

protected:
    void draw(QPainter& p, const QSizeF& size) const override;
};

// The program going from the download into the desktop's menu of applications.
class OnboardingInstallIllustration : public PaintedView {
    Q_OBJECT
public:
    explicit OnboardingInstallIllustration(QWidget* parent = nullptr);

protected:
    void draw(QPainter& p, const QSizeF& size) const override;
};

// The browser's extensions page with the program's extension still switched off.
class OnboardingExtensionsPageIllustration : public PaintedView {
    Q_OBJECT
public:
    explicit OnboardingExtensionsPageIllustration(const QString& browserName, QWidget* parent = nullptr);
    void setBrowserName(const QString& name);

protected:
    void draw(QPainter& p, const QSizeF& size) const override;

private:
    QString m_browser;
};

// Where a browser adds the program's extension, in that browser's own words: Developer mode and
// "Load unpacked" in the Chromium family, the add-on file in Firefox.
class OnboardingExtensionPromptCard : public PaintedView {
    Q_OBJECT
public:
    explicit OnboardingExtensionPromptCard(const QString& browserName, QWidget* parent = nullptr);
    void setBrowserName(const QString& name, bool firefox = false);

    // What the card shows, in reading order: the caption, the instruction, the buttons drawn
    // (the one to choose last) and the line under them.
    struct Texts {
        QString caption;
        QString instruction;
        QStringList buttons;
        QString choose;
    };
    Texts texts() const;

protected:
    void draw(QPainter& p, const QSizeF& size) const override;

private:
    QString m_browser;
    bool m_firefox = false;
};

// A QR code of a link, stretched to its frame with hard edges; white when none can be made.
class OnboardingQRCode : public QWidget {
    Q_OBJECT
public:
    // `library`: the QR code library's file, opened when the first code is drawn.
    explicit OnboardingQRCode(const QString& link, QWidget* parent = nullptr,
                              const char* library = QrEncoder::defaultLibrary);
    // One pixel per module, dark modules black; null when the text cannot be encoded or the
    // library is missing.
    static QImage moduleImage(const QString& link, const char* library = QrEncoder::defaultLibrary);
    // Each module a 10 × 10 block.
    static QImage makeImage(const QString& link, const char* library = QrEncoder::defaultLibrary);
    const QImage& image() const { return m_image; }
    // Why no code can be drawn; empty when the library is there.
    const QString& error() const { return m_error; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage m_image;
    QString m_error;
};

// An installed browser's icon from the icon theme, or the globe when the theme has none.
class OnboardingBrowserIcon : public QWidget {
    Q_OBJECT
public:
    // `iconNames`: the theme's names for the browser, best first.
    explicit OnboardingBrowserIcon(const QStringList& iconNames, QWidget* parent = nullptr);
    bool showsFallback() const { return m_icon.isNull(); }
    QSize sizeHint() const override { return {34, 34}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QIcon m_icon;
};
