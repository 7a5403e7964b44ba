#pragma once

// Small controls: the green confirmation text and the switch.

#include <QAbstractButton>
#include <QWidget>

// A small green confirmation with a check mark, for instance "Connected".
class FocusOKText : public QWidget {
    Q_OBJECT
public:
    explicit FocusOKText(const QString& text, QWidget* parent = nullptr);

    QString text() const { return m_text; }
    void setText(const QString& text);

    QSize sizeHint() const override;

private:
    QString m_text;
};

// An on/off switch tinted in ink. It shows no text; `label` is its accessible name. It is a
// checkable button: isChecked() is its state and toggled(bool) reports a change.
class FocusSwitch : public QAbstractButton {
    Q_OBJECT
public:
    FocusSwitch(const QString& label, bool isOn, QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;
};
