#include "VisibleTexts.h"

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPaintDevice>
#include <QPaintEngine>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <QWidget>

namespace VisibleTexts {

namespace {

// A paint engine that keeps the text it is asked to draw and draws nothing.
class TextEngine : public QPaintEngine {
public:
    TextEngine() : QPaintEngine(QPaintEngine::AllFeatures) {}
    QStringList texts;

    bool begin(QPaintDevice*) override { return true; }
    bool end() override { return true; }
    void updateState(const QPaintEngineState&) override {}
    Type type() const override { return QPaintEngine::User; }
    void drawTextItem(const QPointF&, const QTextItem& item) override
    {
        if (!item.text().trimmed().isEmpty())
            texts.append(item.text());
    }
    // Every other shape reaches one of these three.
    void drawPixmap(const QRectF&, const QPixmap&, const QRectF&) override {}
    void drawPath(const QPainterPath&) override {}
    void drawPolygon(const QPointF*, int, PolygonDrawMode) override {}
};

// Its device type is none of the raster ones, so drawings that cache a bitmap draw themselves.
class TextDevice : public QPaintDevice {
public:
    explicit TextDevice(QSize size) : m_size(size) {}
    QPaintEngine* paintEngine() const override { return &m_engine; }
    QStringList texts() const { return m_engine.texts; }

protected:
    int metric(PaintDeviceMetric metric) const override
    {
        switch (metric) {
        case PdmWidth:
            return m_size.width();
        case PdmHeight:
            return m_size.height();
        case PdmWidthMM:
            return m_size.width() * 254 / 960;
        case PdmHeightMM:
            return m_size.height() * 254 / 960;
        case PdmNumColors:
            return INT_MAX;
        case PdmDepth:
            return 32;
        case PdmDpiX:
        case PdmDpiY:
        case PdmPhysicalDpiX:
        case PdmPhysicalDpiY:
            return 96;
        case PdmDevicePixelRatio:
            return 1;
        case PdmDevicePixelRatioScaled:
            return int(QPaintDevice::devicePixelRatioFScale());
        }
        return 0;
    }

private:
    QSize m_size;
    mutable TextEngine m_engine;
};

void add(QStringList& texts, const QString& text)
{
    if (!text.trimmed().isEmpty())
        texts.append(text);
}

void addActions(QStringList& texts, const QWidget* widget)
{
    for (const QAction* action : widget->actions()) {
        add(texts, action->text());
        add(texts, action->toolTip() == action->text() ? QString() : action->toolTip());
        add(texts, action->statusTip());
    }
}

} // namespace

QStringList painted(QWidget* root)
{
    TextDevice device(root->size().expandedTo(QSize(1, 1)));
    root->render(&device, QPoint(), QRegion(), QWidget::DrawChildren);
    return device.texts();
}

QStringList properties(QWidget* root)
{
    QStringList texts;
    QList<QWidget*> widgets = root->findChildren<QWidget*>();
    widgets.prepend(root);
    for (QWidget* w : std::as_const(widgets)) {
        add(texts, w->windowTitle());
        add(texts, w->toolTip());
        add(texts, w->statusTip());
        add(texts, w->whatsThis());
        add(texts, w->accessibleName());
        add(texts, w->accessibleDescription());
        addActions(texts, w);
        if (auto* label = qobject_cast<QLabel*>(w))
            add(texts, label->text());
        if (auto* button = qobject_cast<QAbstractButton*>(w))
            add(texts, button->text());
        if (auto* edit = qobject_cast<QLineEdit*>(w)) {
            add(texts, edit->text());
            add(texts, edit->placeholderText());
        }
        if (auto* edit = qobject_cast<QTextEdit*>(w))
            add(texts, edit->placeholderText());
        if (auto* edit = qobject_cast<QPlainTextEdit*>(w))
            add(texts, edit->placeholderText());
        if (auto* combo = qobject_cast<QComboBox*>(w))
            for (int i = 0; i < combo->count(); ++i)
                add(texts, combo->itemText(i));
    }
    return texts;
}

const QRegularExpression& elsewhere()
{
    static const QRegularExpression words(
        QStringLiteral("macOS|\\bMac\\b|iCloud|iPhone|Safari|\\bArc\\b|App Store|System Settings|Login Items|"
                       "Applications folder|\\b(?:to|into|from|in) Applications\\b|menu bar|Automation|"
                       "\u2318|gets updates|phone app"),
        // Eyebrows and titles are drawn in capitals.
        QRegularExpression::CaseInsensitiveOption);
    return words;
}

QStringList offending(const QStringList& texts, bool joined)
{
    QStringList found;
    for (const QString& text : texts)
        if (elsewhere().match(text).hasMatch())
            found.append(text);
    if (joined && found.isEmpty()) {
        const QString all = texts.join(QLatin1Char(' '));
        const QRegularExpressionMatch match = elsewhere().match(all);
        if (match.hasMatch())
            found.append(all.mid(qMax(0, int(match.capturedStart()) - 30), match.capturedLength() + 60));
    }
    return found;
}

QStringList offending(QWidget* root)
{
    return offending(properties(root)) + offending(painted(root), true);
}

} // namespace VisibleTexts
