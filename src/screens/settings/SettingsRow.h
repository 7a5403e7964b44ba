#pragma once

#include <QTimer>
#include <QWidget>

class QHBoxLayout;
class QLabel;
class QVBoxLayout;
class WrappingLabel;

// One row of a settings section: a title with an optional detail line (secondary, or in the alert
// colour for an error), then a trailing control, over a hairline.
class SettingsRow : public QWidget {
    Q_OBJECT
public:
    explicit SettingsRow(const QString& title, QWidget* parent = nullptr);

    void setTitle(const QString& title);
    // An empty text hides the line.
    void setDetail(const QString& text, bool isError = false);
    // Any number of trailing widgets; show the one that applies.
    void addTrailing(QWidget* widget);

    QString title() const;
    QString detail() const;
    bool isError() const { return m_isError; }

private:
    QLabel* m_title;
    WrappingLabel* m_detail;
    QHBoxLayout* m_trailing;
    bool m_isError = false;
};

// A titled section: the heading, then rows and notes in a column without spacing.
class SettingsSection : public QWidget {
    Q_OBJECT
public:
    explicit SettingsSection(const QString& title, QWidget* parent = nullptr);

    QVBoxLayout* body() const { return m_body; }

private:
    QVBoxLayout* m_body;
};

// The small indeterminate progress indicator; it turns only while shown.
class BusySpinner : public QWidget {
    Q_OBJECT
public:
    explicit BusySpinner(QWidget* parent = nullptr);

    QSize sizeHint() const override { return {16, 16}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QTimer m_timer;
    int m_step = 0;
};
