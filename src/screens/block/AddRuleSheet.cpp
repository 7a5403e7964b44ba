#include "screens/block/AddRuleSheet.h"
#include "model/LocaleFormats.h"

#include "screens/block/BlockWidgets.h"
#include "screens/block/RuleStatus.h"
#include "ui/Accessibility.h"
#include "ui/ChoiceDialog.h"
#include "ui/Controls.h"
#include "ui/Eyebrow.h"
#include "ui/FlowLayout.h"
#include "ui/FocusButton.h"
#include "ui/Layouts.h"
#include "ui/Palette.h"
#include "ui/Pickers.h"
#include "ui/SiteIconView.h"
#include "ui/Symbols.h"
#include "ui/TextLabel.h"
#include "ui/WindowFit.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimeEdit>
#include <QTimer>
#include <QVBoxLayout>

namespace {

// A preset site: the site's icon and name on a pill chip.
class PresetChip : public QAbstractButton {
public:
    PresetChip(const QString& site, QWidget* parent = nullptr) : QAbstractButton(parent)
    {
        const QString name = BlockRule::suggestedDisplayName(site);
        setText(name);
        setAccessibleName(name);
        setCursor(Qt::PointingHandCursor);
        prepareFocusButton(this, FocusPillButtonStyle{});
        m_icon = new SiteIconView(site, name, 18, this);
        m_icon->setAttribute(Qt::WA_TransparentForMouseEvents);
    }

    void setSelected(bool selected)
    {
        m_selected = selected;
        update();
    }

    QSize sizeHint() const override
    {
        const FocusButtonLook look = this->look();
        const int textWidth = int(std::ceil(QFontMetricsF(look.font).horizontalAdvance(text())));
        return {int(look.padding.left() + 18 + 6 + textWidth + look.padding.right()), int(look.minHeight)};
    }

protected:
    void resizeEvent(QResizeEvent*) override
    {
        m_icon->setGeometry(int(look().padding.left()), (height() - 18) / 2, 18, 18);
    }

    void paintEvent(QPaintEvent*) override
    {
        const FocusButtonLook look = this->look();
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setOpacity(look.opacity);
        const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        QPainterPath capsule;
        capsule.addRoundedRect(r, r.height() / 2, r.height() / 2);
        p.fillPath(capsule, look.fill);
        p.setPen(QPen(look.borderColor, look.borderWidth));
        p.drawPath(capsule);
        p.setFont(look.font);
        p.setPen(look.textColor);
        const qreal left = look.padding.left() + 18 + 6;
        p.drawText(QRectF(left, 0, width() - left - look.padding.right(), height()), Qt::AlignVCenter | Qt::AlignLeft,
                   text());
    }

private:
    FocusButtonLook look() const
    {
        return focusButtonLook(FocusPillButtonStyle{m_selected, 12.5}, focusButtonState(this));
    }

    SiteIconView* m_icon;
    bool m_selected = false;
};

// The primary button of the top bar, drawn at 0.45 opacity while saving is not allowed.
class PrimaryButton : public QAbstractButton {
public:
    bool dimmed = false;

    PrimaryButton(const QString& text, QWidget* parent = nullptr) : QAbstractButton(parent)
    {
        setText(text);
        setCursor(Qt::PointingHandCursor);
        prepareFocusButton(this, FocusCharcoalButtonStyle{13});
    }

    QSize sizeHint() const override
    {
        const FocusButtonLook look = focusButtonLook(FocusCharcoalButtonStyle{13}, false);
        const QSizeF text = QFontMetricsF(look.font).size(Qt::TextSingleLine, this->text());
        return QSizeF(text.width() + look.padding.left() + look.padding.right(),
                      std::max(look.minHeight, text.height() + look.padding.top() + look.padding.bottom()))
            .toSize();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        const FocusButtonLook look = focusButtonLook(FocusCharcoalButtonStyle{13}, focusButtonState(this));
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setOpacity(dimmed && isEnabled() ? look.opacity * 0.45 : look.opacity);
        QPainterPath shape;
        shape.addRoundedRect(QRectF(rect()), look.cornerRadius, look.cornerRadius);
        p.fillPath(shape, look.fill);
        p.setFont(look.font);
        p.setPen(look.textColor);
        p.drawText(rect(), Qt::AlignCenter, text());
    }
};

// The round selection mark of a mode row.
class SelectionMark : public QWidget {
public:
    SelectionMark(QWidget* parent = nullptr) : QWidget(parent)
    {
        setFixedSize(18, 18);
        Accessibility::hide(this);
    }
    void setSelected(bool selected)
    {
        m_selected = selected;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QRectF r = QRectF(rect()).adjusted(0.75, 0.75, -0.75, -0.75);
        if (m_selected) {
            p.setBrush(FocusColor::ink());
            p.setPen(QPen(FocusColor::ink(), 1.5));
            p.drawEllipse(r);
            Symbols::paint(p, QRectF(rect()), Symbol::checkmark, FocusColor::white(), 9, 0.6);
        } else {
            p.setPen(QPen(FocusColor::border(), 1.5));
            p.drawEllipse(r);
        }
    }

private:
    bool m_selected = false;
};

// The symbol of a mode row.
class ModeIcon : public QWidget {
public:
    ModeIcon(RuleForm::Mode mode, QWidget* parent = nullptr) : QWidget(parent), m_mode(mode)
    {
        setFixedSize(22, 22);
        Accessibility::hide(this);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const Symbol symbol = m_mode == RuleForm::Mode::hours    ? Symbol::clock
                              : m_mode == RuleForm::Mode::allDay ? Symbol::sun
                                                                 : Symbol::hourglass;
        Symbols::paint(p, QRectF(rect()), symbol, FocusColor::textSecondary(), 16);
    }

private:
    RuleForm::Mode m_mode;
};

// The frame of a mode row: white with an ink outline when selected, a hairline when not.
class ModeFrame : public QWidget {
public:
    explicit ModeFrame(QWidget* parent = nullptr) : QWidget(parent) {}
    void setSelected(bool selected)
    {
        m_selected = selected;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const qreal line = m_selected ? 1.5 : 1;
        const QRectF r = QRectF(rect()).adjusted(line / 2, line / 2, -line / 2, -line / 2);
        QPainterPath shape;
        shape.addRoundedRect(r, 14, 14);
        if (m_selected)
            p.fillPath(shape, FocusColor::white());
        p.setPen(QPen(m_selected ? FocusColor::ink() : FocusColor::hairline(), line));
        p.drawPath(shape);
    }

private:
    bool m_selected = false;
};

// The button part of a mode row: icon, title over subtitle, selection mark.
class ModeButton : public QAbstractButton {
public:
    ModeButton(RuleForm::Mode mode, QWidget* parent = nullptr) : QAbstractButton(parent)
    {
        setText(RuleForm::modeText(mode));
        setAccessibleName(RuleForm::modeText(mode));
        setCheckable(true);
        Accessibility::setRole(this, QAccessible::RadioButton); // one way to block of three
        setCursor(Qt::PointingHandCursor);
        auto* row = new QHBoxLayout(this);
        row->setContentsMargins(12, 10, 12, 10);
        row->setSpacing(12);
        row->addWidget(new ModeIcon(mode));
        auto* texts = new QVBoxLayout;
        texts->setSpacing(2);
        texts->addWidget(BlockUi::label(RuleForm::modeText(mode), 14, QFont::Bold, FocusColor::text()));
        texts->addWidget(
            BlockUi::label(RuleForm::modeSubtitle(mode), 12.5, QFont::Normal, FocusColor::textSecondary()));
        row->addLayout(texts, 1);
        m_mark = new SelectionMark;
        row->addWidget(m_mark);
        for (QWidget* child : findChildren<QWidget*>())
            child->setAttribute(Qt::WA_TransparentForMouseEvents);
    }
    void setSelected(bool selected)
    {
        setChecked(selected);
        m_mark->setSelected(selected);
    }

protected:
    void paintEvent(QPaintEvent*) override {}
    void nextCheckState() override {} // the form decides the selection

private:
    SelectionMark* m_mark;
};

// A weekday: its letter on an ink square when on, an outlined one when off.
class WeekdayButton : public QAbstractButton {
public:
    WeekdayButton(int weekday, QWidget* parent = nullptr) : QAbstractButton(parent)
    {
        setText(weekdayLetter(weekday));
        setAccessibleName(weekdayShortName(weekday));
        setCheckable(true);
        setMinimumHeight(34);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        setFont(Theme::font(12.5, QFont::Bold));
        setCursor(Qt::PointingHandCursor);
    }
    QSize sizeHint() const override { return {34, 34}; }

protected:
    void nextCheckState() override {}
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        QPainterPath shape;
        shape.addRoundedRect(r, 10, 10);
        if (isChecked())
            p.fillPath(shape, FocusColor::ink());
        p.setPen(QPen(isChecked() ? FocusColor::ink() : FocusColor::border(), 1));
        p.drawPath(shape);
        p.setPen(isChecked() ? FocusColor::white() : FocusColor::text());
        p.drawText(rect(), Qt::AlignCenter, text());
    }
};

QLineEdit* roundedField(const QString& placeholder, qreal size, qreal radius, QMargins padding)
{
    auto* field = new QLineEdit;
    field->setPlaceholderText(placeholder);
    field->setFont(Theme::font(size, QFont::DemiBold));
    field->setStyleSheet(QStringLiteral("QLineEdit { background: %1; border: 1px solid %2; border-radius: %3px; "
                                        "padding: %4px %5px %6px %7px; color: %8; }")
                             .arg(FocusColor::white().name(), FocusColor::hairline().name())
                             .arg(radius)
                             .arg(padding.top() - 1)
                             .arg(padding.right() - 1)
                             .arg(padding.bottom() - 1)
                             .arg(padding.left() - 1)
                             .arg(FocusColor::text().name()));
    return field;
}

} // namespace

AddRuleSheet::AddRuleSheet(std::optional<BlockRule> existingRule, QSet<QString> existingDomains, SaveAction onSave,
                           const Clock& clock, QWidget* parent)
    : QDialog(parent), m_form(std::move(existingRule), std::move(existingDomains)), m_onSave(std::move(onSave)),
      m_clock(clock)
{
    setWindowModality(Qt::WindowModal);
    setWindowTitle(
        WindowFit::programTitle(m_form.isEditing() ? QStringLiteral("Edit block") : QStringLiteral("Block a website")));
    Theme::fillBackground(this, FocusColor::paper());
    WindowFit::fixSize(this, QSize(620, 740));

    m_saveButton = new PrimaryButton(m_form.isEditing() ? QStringLiteral("Save") : QStringLiteral("Add block"));
    m_saveButton->setObjectName(QStringLiteral("saveButton"));
    const BlockUi::FormSheet frame = BlockUi::buildFormSheet(
        this, m_form.isEditing() ? QStringLiteral("Edit block") : QStringLiteral("Block a website"), m_saveButton,
        QMargins(34, 24, 34, 24));
    QVBoxLayout* outer = frame.outer;
    frame.column->addWidget(buildWebsiteBlock());
    frame.column->addWidget(buildWhenBlock());
    frame.column->addWidget(buildDaysBlock());
    frame.column->addWidget(buildBreakRow());
    frame.column->addStretch(1);

    auto* savedBox = new QWidget;
    auto* savedRow = new QHBoxLayout(savedBox);
    savedRow->setContentsMargins(0, 6, 0, 14);
    savedRow->setSpacing(4);
    savedRow->addStretch(1);
    auto* check = new SymbolLabel(Symbol::checkmark, 12.5, FocusColor::okGreen());
    check->setEmbolden(0.5);
    savedRow->addWidget(check);
    m_saved = BlockUi::label(QStringLiteral("Saved"), 12.5, QFont::Bold, FocusColor::okGreen());
    m_saved->setObjectName(QStringLiteral("savedLabel"));
    savedRow->addWidget(m_saved);
    savedRow->addStretch(1);
    savedBox->hide();
    outer->addWidget(savedBox);
    m_saveError = BlockUi::label(QString(), 12.5, QFont::DemiBold, FocusColor::alert());
    m_saveError->setObjectName(QStringLiteral("saveError"));
    m_saveError->setWordWrap(true);
    m_saveError->setContentsMargins(34, 8, 34, 14);
    m_saveError->hide();
    outer->addWidget(m_saveError);

    connect(m_saveButton, &QAbstractButton::clicked, this, &AddRuleSheet::save);
    refresh();
    m_website->setFocus();
}

QWidget* AddRuleSheet::buildWebsiteBlock()
{
    auto* block = new QWidget;
    auto* column = columnLayout(block, 10);

    m_website = new QLineEdit(m_form.domain());
    m_website->setObjectName(QStringLiteral("websiteField"));
    m_website->setAccessibleName(QStringLiteral("Website"));
    m_website->setPlaceholderText(RuleForm::exampleDomain());
    m_website->setFont(Theme::font(30, QFont::DemiBold, Theme::Design::serif));
    m_website->setFrame(false);
    m_website->setStyleSheet(
        QStringLiteral("QLineEdit { background: transparent; color: %1; }").arg(FocusColor::text().name()));
    column->addWidget(m_website);

    m_websiteMessage = BlockUi::label(QString(), 12.5, QFont::DemiBold, FocusColor::okGreen());
    m_websiteMessage->setObjectName(QStringLiteral("websiteMessage"));
    column->addWidget(m_websiteMessage);

    auto* nameRow = new QHBoxLayout;
    nameRow->setSpacing(10);
    nameRow->addWidget(BlockUi::label(QStringLiteral("Shown as"), 13, QFont::Normal, FocusColor::textSecondary()));
    m_name = roundedField(QStringLiteral("Name"), 13.5, 9, QMargins(10, 6, 10, 6));
    m_name->setObjectName(QStringLiteral("nameField"));
    m_name->setAccessibleName(QStringLiteral("Display name"));
    m_name->setText(m_form.displayName());
    m_name->setMaximumWidth(220);
    nameRow->addWidget(m_name, 1);
    nameRow->addStretch(0);
    column->addLayout(nameRow);

    auto* presets = new QHBoxLayout;
    presets->setContentsMargins(0, 2, 0, 0);
    presets->setSpacing(8);
    for (const QString& site : BlockRule::suggestedSites()) {
        auto* chip = new PresetChip(site);
        chip->setObjectName(QStringLiteral("preset"));
        chip->setProperty("site", site);
        connect(chip, &QAbstractButton::clicked, this, [this, site] {
            m_form.pressPresetSite(site);
            refresh();
        });
        presets->addWidget(chip);
        m_presets.append(chip);
    }
    presets->addStretch(1);
    column->addLayout(presets);

    connect(m_website, &QLineEdit::textChanged, this, [this](const QString& text) {
        m_form.setDomain(text);
        refresh();
    });
    connect(m_name, &QLineEdit::textChanged, this, [this](const QString& text) {
        m_form.setDisplayName(text);
        refresh();
    });
    return block;
}

QWidget* AddRuleSheet::buildWhenBlock()
{
    auto* block = new QWidget;
    auto* column = columnLayout(block, 8);
    auto* heading = new Eyebrow(QStringLiteral("When to block"), FocusColor::textSecondary(), 12);
    heading->setContentsMargins(0, 0, 0, 2);
    column->addWidget(heading);

    for (RuleForm::Mode mode : RuleForm::modes()) {
        auto* frame = new ModeFrame;
        auto* frameColumn = new QVBoxLayout(frame);
        // Inside the outline, so that nothing in the row covers it.
        frameColumn->setContentsMargins(2, 2, 2, 2);
        frameColumn->setSpacing(0);
        auto* button = new ModeButton(mode);
        button->setObjectName(QStringLiteral("mode"));
        button->setProperty("mode", RuleForm::modeText(mode));
        frameColumn->addWidget(button);
        connect(button, &QAbstractButton::clicked, this, [this, mode] {
            m_form.selectMode(mode);
            refresh();
        });
        m_modeButtons.append(button);
        m_modeFrames.insert(int(mode), frame);

        if (mode == RuleForm::Mode::hours) {
            m_times = new QWidget;
            auto* times = new QHBoxLayout(m_times);
            times->setContentsMargins(12, 0, 12, 10);
            times->setSpacing(10);
            const auto picker = [&](const QString& caption, QTime value, const QString& name) {
                times->addWidget(BlockUi::label(caption, 13, QFont::Medium, FocusColor::text()));
                auto* edit = new QTimeEdit(value);
                edit->setObjectName(name);
                edit->setAccessibleName(caption);
                Pickers::applyLook(edit);
                times->addWidget(edit);
                return edit;
            };
            m_from = picker(QStringLiteral("From"), m_form.startTime(), QStringLiteral("fromTime"));
            m_to = picker(QStringLiteral("to"), m_form.endTime(), QStringLiteral("toTime"));
            times->addStretch(1);
            frameColumn->addWidget(m_times);
            connect(m_from, &QTimeEdit::timeChanged, this, [this](QTime t) { m_form.setStartTime(t); });
            connect(m_to, &QTimeEdit::timeChanged, this, [this](QTime t) { m_form.setEndTime(t); });
        } else if (mode == RuleForm::Mode::dailyLimit) {
            // Every chip in sight: they wrap onto a second line rather than run out of the frame.
            auto* chips = new QWidget;
            chips->setObjectName(QStringLiteral("limitChips"));
            auto* chipRow = new FlowLayout(8, chips);
            chipRow->setContentsMargins(12, 4, 12, 4);
            for (int minutes : RuleForm::limitOptions()) {
                auto* chip = FocusButton::choiceChip(RuleForm::limitLabel(minutes), 12);
                chip->setObjectName(QStringLiteral("limit"));
                chip->setProperty("minutes", minutes);
                chip->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
                connect(chip, &QAbstractButton::clicked, this, [this, minutes] {
                    m_form.selectLimit(minutes);
                    refresh();
                });
                chipRow->addWidget(chip);
                m_limitChips.append(chip);
            }
            m_limits = new QWidget;
            auto* limitBox = new QVBoxLayout(m_limits);
            limitBox->setContentsMargins(0, 0, 0, 10);
            limitBox->addWidget(chips);
            frameColumn->addWidget(m_limits);
        }
        column->addWidget(frame);
    }
    return block;
}

QWidget* AddRuleSheet::buildDaysBlock()
{
    auto* block = new QWidget;
    auto* column = columnLayout(block, 10);
    column->addWidget(new Eyebrow(QStringLiteral("Which days"), FocusColor::textSecondary(), 12));

    auto* presets = new QHBoxLayout;
    presets->setSpacing(8);
    for (const RuleForm::WeekdayPreset& preset : RuleForm::weekdayPresets()) {
        auto* button = FocusButton::choiceChip(preset.title, 12.5);
        button->setObjectName(QStringLiteral("weekdayPreset"));
        button->setProperty("title", preset.title);
        const QSet<int> days = preset.days;
        connect(button, &QAbstractButton::clicked, this, [this, days] {
            m_form.applyPreset(days);
            refresh();
        });
        presets->addWidget(button);
        m_weekdayPresets.append(button);
    }
    presets->addStretch(1);
    column->addLayout(presets);

    auto* days = new QHBoxLayout;
    days->setSpacing(7);
    for (int weekday = 1; weekday <= 7; ++weekday) {
        auto* button = new WeekdayButton(weekday);
        button->setObjectName(QStringLiteral("weekday"));
        button->setProperty("weekday", weekday);
        connect(button, &QAbstractButton::clicked, this, [this, button, weekday] {
            m_form.toggleWeekday(weekday, button->isChecked());
            refresh();
        });
        days->addWidget(button, 1);
        m_weekdays.append(button);
    }
    column->addLayout(days);
    return block;
}

QWidget* AddRuleSheet::buildBreakRow()
{
    m_breakSwitch = new FocusSwitch(QStringLiteral("Allow one urgent break a day"), m_form.allowOneBreak());
    m_breakSwitch->setObjectName(QStringLiteral("breakSwitch"));
    connect(m_breakSwitch, &QAbstractButton::toggled, this, [this](bool on) { m_form.setAllowOneBreak(on); });
    return BlockUi::switchRow(QStringLiteral("Allow one urgent break a day"),
                              QStringLiteral("10 minutes of use, after a 15-second pause"), m_breakSwitch);
}

void AddRuleSheet::refresh()
{
    if (m_name->text() != m_form.displayName()) {
        const QSignalBlocker block(m_name);
        m_name->setText(m_form.displayName());
    }
    if (m_website->text() != m_form.domain()) {
        const QSignalBlocker block(m_website);
        m_website->setText(m_form.domain());
    }
    const auto message = m_form.websiteMessage();
    m_websiteMessage->setVisible(message.has_value());
    if (message) {
        m_websiteMessage->setText(message->text);
        setTextColor(m_websiteMessage, message->isError ? FocusColor::alert() : FocusColor::okGreen());
    }
    for (QAbstractButton* chip : std::as_const(m_presets))
        static_cast<PresetChip*>(chip)->setSelected(m_form.isPresetSelected(chip->property("site").toString()));

    for (QAbstractButton* button : std::as_const(m_modeButtons)) {
        const auto mode = RuleForm::modeFromText(button->property("mode").toString());
        const bool selected = mode == m_form.mode();
        static_cast<ModeButton*>(button)->setSelected(selected);
        static_cast<ModeFrame*>(m_modeFrames.value(int(*mode)))->setSelected(selected);
    }
    m_times->setVisible(m_form.mode() == RuleForm::Mode::hours);
    m_limits->setVisible(m_form.mode() == RuleForm::Mode::dailyLimit);
    for (FocusButton* chip : std::as_const(m_limitChips))
        chip->setChosen(chip->property("minutes").toInt() == m_form.dailyLimitMinutes());
    for (FocusButton* preset : std::as_const(m_weekdayPresets)) {
        const QString title = preset->property("title").toString();
        bool selected = false;
        for (const auto& p : RuleForm::weekdayPresets())
            selected = selected || (p.title == title && p.days == m_form.activeWeekdays());
        preset->setChosen(selected);
    }
    for (QAbstractButton* day : std::as_const(m_weekdays)) {
        day->setChecked(m_form.activeWeekdays().contains(day->property("weekday").toInt()));
        day->update();
    }

    const bool canSave = m_form.canSave();
    m_saveButton->setEnabled(canSave && !m_form.isSaved());
    static_cast<PrimaryButton*>(m_saveButton)->dimmed = !canSave;
    m_saveButton->update();
    m_saved->parentWidget()->setVisible(m_form.isSaved());
    m_saveError->setVisible(m_form.saveError().has_value());
    m_saveError->setText(m_form.saveError().value_or(QString()));
}

void AddRuleSheet::save()
{
    const std::optional<BlockRule> rule = m_form.beginSave(m_clock.now());
    if (!rule)
        return;
    if (const std::optional<QString> error = m_onSave ? m_onSave(*rule) : std::nullopt) {
        m_form.saveRefused(*error);
        refresh();
        return;
    }
    m_form.saveAccepted();
    refresh();
    if (m_form.isEditing())
        accept();
    else
        QTimer::singleShot(450, this, &QDialog::accept);
}

ChoiceDialog* AddRuleSheet::openQuestion() const
{
    return m_question;
}

void AddRuleSheet::reject()
{
    // A rule already saved closes on its own; nothing typed is lost by closing it sooner.
    ChoiceDialog::closeOrAskToDiscard(this, m_form.hasChanges() && !m_form.isSaved(), m_question);
}

void AddRuleSheet::keyPressEvent(QKeyEvent* event)
{
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && event->modifiers() == Qt::NoModifier) {
        save();
        return;
    }
    QDialog::keyPressEvent(event);
}
