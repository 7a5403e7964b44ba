#include "ui/Pickers.h"

#include "model/LocaleFormats.h"
#include "ui/Palette.h"
#include "ui/Theme.h"

#include <QCalendarWidget>
#include <QDateEdit>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPointer>
#include <QTimeEdit>
#include <QVBoxLayout>

namespace {

QString fieldStyle()
{
    using namespace FocusColor;
    return QStringLiteral("QDateTimeEdit { background: %1; color: %2; border: 1px solid %1; border-radius: 7px;"
                          " padding: 3px 8px; selection-background-color: %3; selection-color: %4; }"
                          "QDateTimeEdit:hover { border-color: %5; }"
                          "QDateTimeEdit:disabled { color: %6; }")
        .arg(wash().name(), FocusColor::text().name(), ink().name(), white().name(), border().name(),
             disabledOutlineText().name());
}

void styleField(QDateTimeEdit* edit)
{
    edit->setButtonSymbols(QAbstractSpinBox::NoButtons);
    edit->setFont(Theme::font(13, QFont::Medium));
    edit->setStyleSheet(fieldStyle());
    edit->setAttribute(Qt::WA_Hover);
}

// The month calendar under a date field; picking a day sets the field and closes it.
class CalendarOpener : public QObject {
public:
    explicit CalendarOpener(QDateEdit* edit) : QObject(edit), m_edit(edit) { edit->installEventFilter(this); }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::MouseButtonRelease &&
            static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton && m_edit->isEnabled()) {
            open();
        } else if (event->type() == QEvent::KeyPress) {
            const auto* key = static_cast<QKeyEvent*>(event);
            if ((key->key() == Qt::Key_Down && key->modifiers() & Qt::AltModifier) || key->key() == Qt::Key_F4) {
                open();
                return true;
            }
        }
        return false;
    }

private:
    void open()
    {
        if (m_popup)
            return;
        auto* popup = new QWidget(m_edit, Qt::Popup);
        popup->setAttribute(Qt::WA_DeleteOnClose);
        Theme::fillBackground(popup, FocusColor::white());
        auto* layout = new QVBoxLayout(popup);
        layout->setContentsMargins(6, 6, 6, 6);
        auto* calendar = new QCalendarWidget(popup);
        calendar->setObjectName(QStringLiteral("pickerCalendar"));
        calendar->setVerticalHeaderFormat(QCalendarWidget::NoVerticalHeader);
        calendar->setGridVisible(false);
        calendar->setLocale(LocaleFormats::effective(m_edit->locale()));
        calendar->setDateRange(m_edit->minimumDate(), m_edit->maximumDate());
        calendar->setSelectedDate(m_edit->date());
        calendar->setStyleSheet(
            QStringLiteral("#qt_calendar_navigationbar { background: %1; }"
                           "#qt_calendar_navigationbar QToolButton { color: %2; font-weight: bold; }")
                .arg(FocusColor::white().name(), FocusColor::text().name()));
        layout->addWidget(calendar);
        connect(calendar, &QCalendarWidget::clicked, popup, [this, popup](QDate day) {
            m_edit->setDate(day);
            popup->close();
        });
        connect(calendar, &QCalendarWidget::activated, popup, [this, popup](QDate day) {
            m_edit->setDate(day);
            popup->close();
        });
        popup->adjustSize();
        popup->move(m_edit->mapToGlobal(QPoint(0, m_edit->height() + 4)));
        m_popup = popup;
        popup->show();
        calendar->setFocus();
    }

    QDateEdit* m_edit;
    QPointer<QWidget> m_popup;
};

} // namespace

namespace Pickers {

void applyLook(QDateEdit* edit)
{
    edit->setCalendarPopup(false);
    edit->setDisplayFormat(LocaleFormats::shortDatePattern(edit->locale()));
    styleField(edit);
    new CalendarOpener(edit);
}

void applyLook(QTimeEdit* edit)
{
    edit->setDisplayFormat(LocaleFormats::shortTimePattern(edit->locale()));
    styleField(edit);
}

} // namespace Pickers
