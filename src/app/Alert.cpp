#include "app/Alert.h"

#include "ui/FocusButton.h"
#include "ui/Palette.h"
#include "ui/Theme.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

Alert::Alert(const QString& message, const QString& informative, const QStringList& buttons, QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("alert"));
    setWindowTitle(QStringLiteral("Quillharbour"));
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, FocusColor::paper());
    setPalette(palette);
    setFixedWidth(420);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 22, 24, 20);
    layout->setSpacing(10);
    auto* title = new QLabel(message, this);
    title->setTextFormat(Qt::PlainText);
    title->setWordWrap(true);
    title->setFont(Theme::font(16, QFont::Bold));
    layout->addWidget(title);
    auto* body = new QLabel(informative, this);
    body->setTextFormat(Qt::PlainText);
    body->setWordWrap(true);
    body->setFont(Theme::font(13));
    layout->addWidget(body);
    layout->addSpacing(8);
    auto* row = new QHBoxLayout;
    row->setSpacing(10);
    for (int i = 0; i < buttons.size(); ++i) {
        auto* button = new FocusButton(
            buttons[i],
            FocusSheetButtonStyle{i == 0 ? FocusSheetButtonStyle::Kind::primary : FocusSheetButtonStyle::Kind::outline,
                                  true},
            this);
        button->setObjectName(QStringLiteral("alertButton%1").arg(i));
        connect(button, &QAbstractButton::clicked, this, [this, i] { done(i + 1); });
        row->addWidget(button, 1);
        if (i == 0)
            button->setFocus();
    }
    layout->addLayout(row);
}

int Alert::ask(const QString& message, const QString& informative, const QStringList& buttons, QWidget* parent)
{
    Alert alert(message, informative, buttons.isEmpty() ? QStringList{QStringLiteral("OK")} : buttons, parent);
    // Buttons answer 1 + their index; Escape and the close button answer 0.
    return alert.exec() - 1;
}
