#pragma once

#include "screens/settings/TimeMoneyModel.h"

#include <QAbstractButton>
#include <QWidget>

class QLabel;
class RollingText;

// A round step button of the card: a filled gold plus, or a pale minus.
class StepButton : public QAbstractButton {
    Q_OBJECT
public:
    // `subject` completes its name: "Increase hourly rate".
    StepButton(bool plus, const QString& subject, QWidget* parent = nullptr);

    QSize sizeHint() const override { return {32, 32}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    bool hitButton(const QPoint& pos) const override;

private:
    bool m_plus;
};

// The dark card that turns the hours lost a day into money: the yearly cost in large figures,
// the monthly cost, and steppers for the hourly rate and the hours.
class TimeMoneyCard : public QWidget {
    Q_OBJECT
public:
    TimeMoneyCard(Defaults* defaults, double hourlyRate, double hoursPerDay, QWidget* parent = nullptr);

    TimeMoneyModel& model() { return m_model; }
    // Takes the stored values (each time the card is shown).
    void loadStoredValues();

    static constexpr qreal shadowBlur = 15;
    static constexpr qreal shadowOffset = 10;

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    QWidget* stepperRow(const QString& title, const QString& subject, QLabel*& value, StepButton*& minus,
                        StepButton*& plus, const QString& name);
    void refreshTexts();

    TimeMoneyModel m_model;
    QWidget* m_cost;
    RollingText* m_yearly;
    // The yearly cost counts to a new value in a fifth of a second, so its digits roll.
    bool m_shown = false;
    QLabel* m_monthly;
    QLabel* m_rate;
    QLabel* m_hours;
    StepButton* m_rateMinus;
    StepButton* m_ratePlus;
    StepButton* m_hoursMinus;
    StepButton* m_hoursPlus;
};
