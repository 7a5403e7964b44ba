#pragma once

// Titles, headings and separators of pages and sheets.

#include <QWidget>

class Eyebrow;
class WrappingLabel;

// The page-title treatment: the page's title becomes its window title (the main window shows
// the current page's).
void setPageTitle(QWidget* page, const QString& title);

// Draws a 1-point hairline over the bottom row of `view`, without changing its size.
void addBottomHairline(QWidget* view);

// A 1-point hairline as wide as offered, starting `leading` points in.
class FocusGroupDivider : public QWidget {
    Q_OBJECT
public:
    explicit FocusGroupDivider(qreal leading = 0, QWidget* parent = nullptr);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    qreal m_leading;
};

// A page or sheet heading: an eyebrow row with an optional trailing widget (left out entirely,
// trailing included, when the eyebrow is empty), then the serif title, wrapping as needed.
// Object names: "eyebrow", "title".
class FocusHeadline : public QWidget {
    Q_OBJECT
public:
    FocusHeadline(const QString& eyebrow, const QString& title, qreal size, QWidget* trailing = nullptr,
                  QWidget* parent = nullptr);

    void setTitle(const QString& title);
    void setEyebrow(const QString& eyebrow);

private:
    QWidget* m_eyebrowRow;
    Eyebrow* m_eyebrow;
    WrappingLabel* m_title;
};

// A section heading: the eyebrow, a flexible space and an optional trailing widget.
class FocusSectionHeader : public QWidget {
    Q_OBJECT
public:
    explicit FocusSectionHeader(const QString& title, QWidget* trailing = nullptr, QWidget* parent = nullptr);

    void setTitle(const QString& title);

private:
    Eyebrow* m_title;
};
