#pragma once

#include <QColor>
#include <QWidget>
#include <memory>
#include <utility>
#include <vector>

class QTextLayout;

// Plain text that wraps onto as many lines as the width needs, breaking inside a word only when
// the word alone is wider than the line (a long address never widens its container). With
// maxLines the last line ends in an ellipsis. Never interprets markup. Assistive technologies
// read it as static text.
class WrappingLabel : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QString text READ text WRITE setText)
public:
    explicit WrappingLabel(const QString& text = {}, QWidget* parent = nullptr);
    ~WrappingLabel() override;

    QString text() const { return m_text; }
    void setText(const QString& text);
    void setColor(const QColor& color);
    QColor color() const { return m_color; }
    void setStrikeOut(bool strikeOut);
    // 0: no limit.
    void setMaxLines(int lines);
    // The number of lines the text takes at `width`.
    int lineCount(int width) const;
    // The height a label with this text, font and line limit takes at `width`, without one:
    // long lists measure thousands of texts.
    static int heightFor(const QString& text, const QFont& font, int width, int maxLines = 0);

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    struct Laid {
        QList<QPair<QPointF, QString>> lines;
        qreal height = 0;
    };
    // One per line the text breaks itself.
    using Paragraphs = std::vector<std::unique_ptr<QTextLayout>>;
    // Laying text out shapes it again at every width (a text layout keeps nothing from one
    // layout to the next), and a page's layouts ask for the same few widths over and over: the
    // lines at the last few widths are kept until the text, font or line limit changes.
    const Laid& lay(qreal width) const;
    static Paragraphs paragraphsOf(const QString& text, const QFont& font);
    static Laid layOut(const Paragraphs& paragraphs, const QFont& font, qreal width, int maxLines);
    void forgetLayout();

    QString m_text;
    mutable std::vector<std::pair<qreal, Laid>> m_laidAt; // the last width asked first
    mutable qreal m_widest = -1;                          // the longest line's advance
    QColor m_color;
    int m_maxLines = 0;
};
