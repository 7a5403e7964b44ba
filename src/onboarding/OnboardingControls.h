#pragma once

#include <QAbstractButton>

// The onboarding's own buttons: the filled primary button and the quiet text button. A disabled
// primary button is drawn at 40 % and takes no clicks.
class OnboardingButton : public QAbstractButton {
    Q_OBJECT
public:
    enum class Kind { primary, quiet };
    OnboardingButton(const QString& text, Kind kind, QWidget* parent = nullptr);

    Kind kind() const { return m_kind; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    Kind m_kind;
};

// A full-width row with a title and a round selection mark. It never changes its own selection:
// the owner sets it from its state when the row is clicked. Assistive technologies read it as a
// checked or unchecked button.
class OnboardingChoiceRow : public QAbstractButton {
    Q_OBJECT
public:
    explicit OnboardingChoiceRow(const QString& title, QWidget* parent = nullptr);

    void setSelected(bool selected);
    bool isSelected() const { return isChecked(); }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void nextCheckState() override {}
};
