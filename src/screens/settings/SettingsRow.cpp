#include "screens/settings/SettingsRow.h"

#include "ui/Headings.h"
#include "ui/Layouts.h"
#include "ui/Palette.h"
#include "ui/TextLabel.h"
#include "ui/Theme.h"
#include "ui/WrappingLabel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

SettingsRow::SettingsRow(const QString& title, QWidget* parent) : QWidget(parent)
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 10, 0, 10);
    row->setSpacing(16);
    auto* text = new QVBoxLayout;
    text->setSpacing(3);
    m_title = plainLabel(title, 14.5, QFont::DemiBold, FocusColor::text(), this);
    m_title->setObjectName(QStringLiteral("rowTitle"));
    text->addWidget(m_title);
    m_detail = new WrappingLabel(QString(), this);
    m_detail->setObjectName(QStringLiteral("rowDetail"));
    m_detail->setFont(Theme::font(12.5));
    m_detail->setColor(FocusColor::textSecondary());
    m_detail->hide();
    text->addWidget(m_detail);
    row->addLayout(text, 1);
    row->addSpacing(12);
    m_trailing = new QHBoxLayout;
    m_trailing->setSpacing(14);
    row->addLayout(m_trailing);
    setMinimumHeight(50);
    addBottomHairline(this);
}

void SettingsRow::setTitle(const QString& title)
{
    m_title->setText(title);
}

void SettingsRow::setDetail(const QString& text, bool isError)
{
    m_isError = isError;
    m_detail->setText(text);
    m_detail->setColor(isError ? FocusColor::alert() : FocusColor::textSecondary());
    m_detail->setVisible(!text.isEmpty());
}

void SettingsRow::addTrailing(QWidget* widget)
{
    m_trailing->addWidget(widget, 0, Qt::AlignVCenter);
}

QString SettingsRow::title() const
{
    return m_title->text();
}

QString SettingsRow::detail() const
{
    return m_detail->isVisibleTo(this) ? m_detail->text() : QString();
}

SettingsSection::SettingsSection(const QString& title, QWidget* parent) : QWidget(parent)
{
    m_body = columnLayout(this, 0);
    m_body->addWidget(new FocusSectionHeader(title, nullptr, this));
}

BusySpinner::BusySpinner(QWidget* parent) : QWidget(parent)
{
    setFixedSize(16, 16);
    m_timer.setInterval(80);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        m_step = (m_step + 1) % 8;
        update();
    });
}

void BusySpinner::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(width() / 2.0, height() / 2.0);
    for (int i = 0; i < 8; ++i) {
        const qreal opacity = 0.25 + 0.75 * ((i - m_step + 8) % 8) / 7.0;
        painter.setPen(
            QPen(FocusColor::withOpacity(FocusColor::textSecondary(), opacity), 1.8, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(QPointF(0, -3.5), QPointF(0, -6.5));
        painter.rotate(45);
    }
}

void BusySpinner::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    m_timer.start();
}

void BusySpinner::hideEvent(QHideEvent* event)
{
    m_timer.stop();
    QWidget::hideEvent(event);
}
