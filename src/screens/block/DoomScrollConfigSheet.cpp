#include "screens/block/DoomScrollConfigSheet.h"

#include "screens/block/BlockWidgets.h"
#include "ui/Accessibility.h"
#include "ui/ChoiceDialog.h"
#include "ui/Controls.h"
#include "ui/Eyebrow.h"
#include "ui/FlowLayout.h"
#include "ui/FocusButton.h"
#include "ui/Layouts.h"
#include "ui/Palette.h"
#include "ui/WindowFit.h"
#include "ui/WrappingLabel.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QScrollArea>
#include <QVBoxLayout>

DoomScrollConfigSheet::DoomScrollConfigSheet(const DoomScrollConfig& config, SaveAction onSave, QWidget* parent)
    : QDialog(parent), m_form(config.isEnabled, config.domains, config.usageWindowMinutes, config.breakMinutes),
      m_onSave(std::move(onSave))
{
    setWindowModality(Qt::WindowModal);
    setWindowTitle(WindowFit::programTitle(QStringLiteral("Doom Scroll Breaks")));
    Theme::fillBackground(this, FocusColor::paper());
    WindowFit::fixSize(this, QSize(520, 620));
    auto* save = new FocusButton(QStringLiteral("Save"), FocusCharcoalButtonStyle{13});
    save->setObjectName(QStringLiteral("saveButton"));
    QVBoxLayout* column =
        BlockUi::buildFormSheet(this, QStringLiteral("Doom Scroll Breaks"), save, QMargins(28, 22, 28, 22)).column;

    // The summary on the ink card.
    auto* summary = new QWidget;
    summary->setObjectName(QStringLiteral("summaryCard"));
    summary->setAttribute(Qt::WA_StyledBackground);
    summary->setStyleSheet(
        QStringLiteral("#summaryCard { background: %1; border-radius: 18px; }").arg(FocusColor::ink().name()));
    auto* summaryColumn = new QVBoxLayout(summary);
    summaryColumn->setContentsMargins(18, 18, 18, 18);
    summaryColumn->setSpacing(8);
    m_eyebrow = new Eyebrow(QString(), FocusColor::gold(), 11);
    m_eyebrow->setObjectName(QStringLiteral("summaryEyebrow"));
    summaryColumn->addWidget(m_eyebrow);
    m_summary = new WrappingLabel;
    m_summary->setObjectName(QStringLiteral("summaryText"));
    m_summary->setFont(Theme::font(21, QFont::DemiBold, Theme::Design::serif));
    m_summary->setColor(FocusColor::white());
    summaryColumn->addWidget(m_summary);
    auto* restart = new WrappingLabel(QStringLiteral(
        "The count restarts if you stop for a while. The sites open again automatically after the break."));
    restart->setFont(Theme::font(12.5, QFont::Medium));
    restart->setColor(FocusColor::mutedOnDark());
    summaryColumn->addWidget(restart);
    column->addWidget(summary);

    // Sites.
    auto* sites = new QVBoxLayout;
    sites->setSpacing(10);
    sites->addWidget(new Eyebrow(QStringLiteral("Sites"), FocusColor::textSecondary(), 12));
    auto* addRow = new QHBoxLayout;
    addRow->setSpacing(8);
    m_field = new QLineEdit;
    m_field->setObjectName(QStringLiteral("addField"));
    m_field->setAccessibleName(QStringLiteral("Add a site"));
    m_field->setPlaceholderText(DoomScrollForm::exampleDomain());
    m_field->setFont(Theme::font(13.5, QFont::DemiBold));
    m_field->setStyleSheet(
        QStringLiteral("QLineEdit { background: %1; border: 1px solid %2; border-radius: 10px; "
                       "padding: 8px 11px; color: %3; }")
            .arg(FocusColor::white().name(), FocusColor::hairline().name(), FocusColor::text().name()));
    addRow->addWidget(m_field, 1);
    m_add = new FocusButton(QStringLiteral("Add"), FocusPillButtonStyle{true, 12.5});
    m_add->setObjectName(QStringLiteral("addButton"));
    addRow->addWidget(m_add);
    sites->addLayout(addRow);
    m_error = BlockUi::label(QString(), 12, QFont::DemiBold, FocusColor::alert());
    m_error->setObjectName(QStringLiteral("domainError"));
    sites->addWidget(m_error);
    m_empty = BlockUi::label(QStringLiteral("Add at least one site to turn this on."), 12.5, QFont::Normal,
                             FocusColor::textSecondary());
    m_empty->setObjectName(QStringLiteral("emptyText"));
    sites->addWidget(m_empty);
    m_listed = new QWidget;
    auto* listed = columnLayout(m_listed, 10);
    m_chips = new FlowingChips;
    m_chips->setObjectName(QStringLiteral("chips"));
    listed->addWidget(m_chips);
    listed->addWidget(BlockUi::label(QStringLiteral("Time on these sites counts together."), 12.5, QFont::Normal,
                                     FocusColor::textSecondary()));
    sites->addWidget(m_listed);
    column->addLayout(sites);

    // The two pickers.
    const auto picker = [&](const QString& title, const QList<int>& options, const QString& name,
                            QList<FocusButton*>& buttons, qint64 DoomScrollForm::*field) {
        auto* block = new QVBoxLayout;
        block->setSpacing(10);
        block->addWidget(new Eyebrow(title, FocusColor::textSecondary(), 12));
        // Both groups offer "20 min": each is a group named by its heading, so that a screen
        // reader tells a break's start from its length.
        auto* group = new QWidget;
        group->setObjectName(name + QStringLiteral("Group"));
        Accessibility::setRole(group, QAccessible::Grouping);
        group->setAccessibleName(title);
        auto* row = new QHBoxLayout(group);
        row->setContentsMargins(0, 0, 0, 0);
        row->setSpacing(8);
        for (int minutes : options) {
            auto* option = FocusButton::choiceChip(DoomScrollTexts::optionLabel(minutes), 12.5, group);
            option->setObjectName(name);
            option->setProperty("minutes", minutes);
            connect(option, &QAbstractButton::clicked, this, [this, minutes, field] {
                m_form.*field = minutes;
                refresh();
            });
            row->addWidget(option);
            buttons.append(option);
        }
        row->addStretch(1);
        block->addWidget(group);
        column->addLayout(block);
    };
    picker(QStringLiteral("Break after"), DoomScrollForm::usageOptions(), QStringLiteral("usage"), m_usageButtons,
           &DoomScrollForm::usageMinutes);
    picker(QStringLiteral("Break length"), DoomScrollForm::breakOptions(), QStringLiteral("break"), m_breakButtons,
           &DoomScrollForm::breakMinutes);

    m_switch = new FocusSwitch(QStringLiteral("Doom Scroll Breaks"), m_form.isEnabled);
    m_switch->setObjectName(QStringLiteral("enableSwitch"));
    column->addWidget(BlockUi::switchRow(QStringLiteral("Doom Scroll Breaks"),
                                         QStringLiteral("Take an automatic break after too much scrolling"), m_switch));
    column->addStretch(1);

    connect(save, &QAbstractButton::clicked, this, &DoomScrollConfigSheet::save);
    connect(m_add, &QAbstractButton::clicked, this, &DoomScrollConfigSheet::addDomain);
    m_field->installEventFilter(this);
    connect(m_field, &QLineEdit::textChanged, this, [this](const QString& text) {
        m_form.newDomain = text;
        refresh();
    });
    connect(m_chips, &FlowingChips::removeClicked, this, [this](const QString& domain) {
        m_form.removeDomain(domain);
        refresh();
    });
    connect(m_switch, &QAbstractButton::toggled, this, [this](bool on) {
        m_form.isEnabled = on;
        refresh();
    });
    refresh();
    // The keyboard starts in the first field, not on "Cancel" above it.
    m_field->setFocus(Qt::OtherFocusReason);
}

void DoomScrollConfigSheet::addDomain()
{
    m_form.addDomain();
    if (m_field->text() != m_form.newDomain)
        m_field->setText(m_form.newDomain);
    refresh();
    // "Add" turns itself off as the field empties; the next site goes into the field, not into
    // whatever control the focus would fall to (where Return would save and close the sheet).
    m_field->setFocus(Qt::OtherFocusReason);
}

void DoomScrollConfigSheet::save()
{
    if (m_onSave)
        m_onSave(m_form.result());
    accept();
}

ChoiceDialog* DoomScrollConfigSheet::openQuestion() const
{
    return m_question;
}

void DoomScrollConfigSheet::reject()
{
    ChoiceDialog::closeOrAskToDiscard(this, m_form.hasChanges(), m_question);
}

void DoomScrollConfigSheet::refresh()
{
    m_eyebrow->setEyebrowText(m_form.eyebrowText());
    m_summary->setText(m_form.summaryText());
    m_add->setEnabled(m_form.canAdd());
    m_error->setVisible(m_form.domainError.has_value());
    m_error->setText(m_form.domainError.value_or(QString()));
    m_empty->setVisible(m_form.domains.empty());
    m_listed->setVisible(!m_form.domains.empty());
    QStringList items;
    for (const DoomScrollDomain& d : m_form.domains)
        items.append(d.domain);
    if (m_chips->items() != items)
        m_chips->setItems(items);
    for (FocusButton* b : std::as_const(m_usageButtons))
        b->setChosen(b->property("minutes").toInt() == m_form.usageMinutes);
    for (FocusButton* b : std::as_const(m_breakButtons))
        b->setChosen(b->property("minutes").toInt() == m_form.breakMinutes);
}

namespace {

bool isPlainReturn(const QKeyEvent* event)
{
    return (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && event->modifiers() == Qt::NoModifier;
}

} // namespace

bool DoomScrollConfigSheet::eventFilter(QObject* watched, QEvent* event)
{
    // In the add field Return adds the site and stops there, so it never also presses Save.
    if (watched == m_field && event->type() == QEvent::KeyPress && isPlainReturn(static_cast<QKeyEvent*>(event))) {
        addDomain();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void DoomScrollConfigSheet::keyPressEvent(QKeyEvent* event)
{
    if (isPlainReturn(event)) {
        save();
        return;
    }
    QDialog::keyPressEvent(event);
}
