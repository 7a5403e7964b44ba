#pragma once

#include "ui/Theme.h"

#include <QColor>
#include <QLabel>
#include <QWidget>

class QAbstractButton;
class QDialog;
class QVBoxLayout;

// Small pieces shared by the Block page and its sheets.
namespace BlockUi {

// A plain-text label in the given font and colour.
QLabel* label(const QString& text, qreal size, QFont::Weight weight, const QColor& color,
              Theme::Design design = Theme::Design::standard, QWidget* parent = nullptr);

// A form row over a hairline: a title and a line of detail, with the switch at the end.
QWidget* switchRow(const QString& title, const QString& detail, QWidget* toggle);

// A form sheet's frame: a top bar with "Cancel" (it rejects the sheet), the title in small
// capitals and `save`, over a scrolling paper column with these margins. The sheet's own layout
// is `outer`, for what goes below the column.
struct FormSheet {
    QVBoxLayout* outer;
    QVBoxLayout* column;
};
FormSheet buildFormSheet(QDialog* sheet, const QString& title, QAbstractButton* save, const QMargins& margins);

} // namespace BlockUi

// The white rounded card of the Block page with its hairline outline and soft shadow; the
// shadow's reach is kept in the margins. Content goes into contentLayout().
class SectionCard : public QWidget {
    Q_OBJECT
public:
    explicit SectionCard(qreal cornerRadius = 18, QWidget* parent = nullptr);
    QVBoxLayout* contentLayout() const { return m_layout; }
    // The shadow's reach on each side: give it to what stands beside the card so edges align.
    static QMargins shadowMargins();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    qreal m_radius;
    QVBoxLayout* m_layout;
};

// A row between two 1-point hairlines, along its top and its bottom edge.
class HairlineFrame : public QWidget {
    Q_OBJECT
public:
    explicit HairlineFrame(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

// The application icon of an installed browser from the icon theme, or the globe symbol.
class BrowserIcon : public QWidget {
    Q_OBJECT
public:
    // `iconNames`: the theme's names for the browser, best first.
    explicit BrowserIcon(const QStringList& iconNames, QWidget* parent = nullptr);
    bool hasApplicationIcon() const { return !m_icon.isNull(); }

    QSize sizeHint() const override { return {28, 28}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QIcon m_icon;
};
