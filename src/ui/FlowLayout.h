#pragma once

// FlowLayout places its widgets left to right at their size hints and starts a new row when the
// next one does not fit, like words in a paragraph; the container grows in height to hold every
// row (height-for-width). A widget wider than the whole width sits alone on its row. FlowingChips
// shows short texts as removable chips in such a layout.

#include <QLayout>
#include <QList>
#include <QRect>
#include <QSize>
#include <QStringList>
#include <QWidget>

class FlowLayout : public QLayout {
    Q_OBJECT
public:
    // The width assumed when none is given (the size hint).
    static constexpr int defaultWidth = 400;

    explicit FlowLayout(int spacing, QWidget* parent = nullptr);
    ~FlowLayout() override;

    // Where children of `sizes` go in a width of `width`: frames relative to the top-left corner,
    // and the size taken (always the whole width; the height of every row).
    struct Arrangement {
        QList<QRect> frames;
        QSize size;
    };
    static Arrangement arrange(const QList<QSize>& sizes, int width, int spacing);

    void addItem(QLayoutItem* item) override;
    int count() const override;
    QLayoutItem* itemAt(int index) const override;
    QLayoutItem* takeAt(int index) override;
    Qt::Orientations expandingDirections() const override;
    bool hasHeightForWidth() const override;
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSize() const override;
    void setGeometry(const QRect& rect) override;

private:
    QList<QSize> childSizes() const;

    QList<QLayoutItem*> m_items;
};

// Short texts as chips, each with a remove button ("Remove <text>") that emits removeClicked;
// the caller changes the list and calls setItems. Each text is its chip's identity.
// Object names: "chip" (property "text") and "removeButton" inside it.
class FlowingChips : public QWidget {
    Q_OBJECT
public:
    explicit FlowingChips(const QStringList& items = {}, QWidget* parent = nullptr);

    QStringList items() const { return m_items; }
    void setItems(const QStringList& items);

signals:
    void removeClicked(const QString& text);

private:
    QStringList m_items;
    FlowLayout* m_layout;
};
