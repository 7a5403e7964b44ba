#pragma once

// Small building blocks: the spaced upper-case caption, the key-cap hint and the thin meter.

#include <QColor>
#include <QLabel>
#include <QWidget>

// The spaced upper-case caption above headings and on the dark cards. The text is upper-cased
// as it is (never translated), heavy, tracked by 0.11 of its size, and shown as plain text.
class Eyebrow : public QLabel {
    Q_OBJECT
public:
    Eyebrow(const QString& text, const QColor& color, qreal size, QWidget* parent = nullptr);

    void setEyebrowText(const QString& text);
    void setColor(const QColor& color);

    // Locale-independent upper case.
    static QString displayText(const QString& text);
    // The face an eyebrow of `size` draws with (its letter spacing aside).
    static QFont face(qreal size);
};

// A small key cap for a keyboard shortcut ("Ctrl+N"): monospaced 11-point text on white with a
// hairline outline. Hidden from assistive technologies.
class KeyHint : public QWidget {
    Q_OBJECT
public:
    explicit KeyHint(const QString& keys, QWidget* parent = nullptr);

    QString keys() const { return m_keys; }
    void setKeys(const QString& keys);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }
    static QFont face();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_keys;
};

// A thin horizontal progress bar as wide as it is given: a `track` capsule with a `color` capsule
// over it. Hidden from assistive technologies.
class FocusMeter : public QWidget {
    Q_OBJECT
public:
    FocusMeter(qreal fraction, const QColor& color, const QColor& track, qreal height, QWidget* parent = nullptr);

    qreal fraction() const { return m_fraction; }
    void setFraction(qreal fraction);
    void setColors(const QColor& color, const QColor& track);

    // Width of the filled part: width × fraction clamped to 0 ... 1, never less than the height
    // (a dot for a sliver) but none at all at 0; a fraction that is not a number counts as 0.
    static qreal filledWidth(qreal width, qreal fraction, qreal height);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    qreal m_fraction;
    QColor m_color;
    QColor m_track;
    qreal m_height;
};
