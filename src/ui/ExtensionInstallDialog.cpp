#include "ui/ExtensionInstallDialog.h"

#include "ui/FocusButton.h"
#include "ui/Palette.h"
#include "ui/Sheet.h"
#include "ui/Theme.h"
#include "ui/WindowFit.h"

#include <QApplication>
#include <QClipboard>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QVBoxLayout>

namespace {

QLabel* text(const QString& value, const QFont& font, QWidget* parent, const QString& name = {})
{
    auto* label = new QLabel(value, parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setFont(font);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    if (!name.isEmpty())
        label->setObjectName(name);
    return label;
}

} // namespace

ExtensionInstallDialog::ExtensionInstallDialog(const Content& content, Actions actions, QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("extensionInstallDialog"));
    setWindowTitle(content.title);
    setAccessibleName(content.title);
    setWindowModality(Qt::WindowModal);
    Theme::fillBackground(this, FocusColor::paper());
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 20, 24, 18);
    layout->setSpacing(10);
    layout->addWidget(text(content.title, Theme::font(15, QFont::DemiBold), this));
    if (!content.done.isEmpty())
        layout->addWidget(text(content.done, Theme::font(13), this, QStringLiteral("extensionInstallDone")));
    if (!content.error.isEmpty()) {
        QLabel* error = text(content.error, Theme::font(13), this, QStringLiteral("extensionInstallError"));
        QPalette palette = error->palette();
        palette.setColor(QPalette::WindowText, FocusColor::alert());
        error->setPalette(palette);
        layout->addWidget(error);
    }
    // The one-step route comes first: one password, and every profile of every Chromium-family
    // browser is protected with nothing to do in the browser.
    const bool machineRoute = content.offersMachineRoute || !content.machineRouteText.isEmpty();
    if (machineRoute) {
        layout->addWidget(
            text(QStringLiteral("For every profile on this computer"), Theme::font(13, QFont::DemiBold), this));
        if (!content.machineRouteText.isEmpty())
            layout->addWidget(
                text(content.machineRouteText, Theme::font(12), this, QStringLiteral("machineRouteText")));
        if (content.offersMachineRoute && actions.runMachineRoute) {
            layout->addWidget(text(QStringLiteral("Installed for everyone, the extension needs no Developer mode and "
                                                  "stays on in every profile. Installing asks for the "
                                                  "administrator's password."),
                                   Theme::font(12), this));
            auto* machine =
                new FocusButton(QStringLiteral("Install for Everyone…"), FocusPillButtonStyle{true, 12.5}, this);
            machine->setObjectName(QStringLiteral("installForEveryone"));
            auto* outcome = text(QString(), Theme::font(12), this, QStringLiteral("machineRouteOutcome"));
            outcome->hide();
            connect(machine, &QAbstractButton::clicked, this, [machine, outcome, run = actions.runMachineRoute] {
                machine->setEnabled(false);
                outcome->setText(QStringLiteral("Asking for the administrator's password…"));
                outcome->show();
                QPointer<QLabel> shown(outcome);
                QPointer<QAbstractButton> button(machine);
                run([shown, button](const QString& said, bool ok) {
                    if (shown)
                        shown->setText(said);
                    if (button && !ok)
                        button->setEnabled(true);
                });
            });
            layout->addWidget(machine, 0, Qt::AlignLeft);
            layout->addWidget(outcome);
        }
        if (!content.steps.isEmpty()) {
            layout->addSpacing(6);
            layout->addWidget(
                text(QStringLiteral("Or only in this profile, by hand"), Theme::font(13, QFont::DemiBold), this));
        }
    }
    for (int i = 0; i < content.steps.size(); ++i)
        layout->addWidget(text(QStringLiteral("%1. %2").arg(i + 1).arg(content.steps.at(i)), Theme::font(13), this,
                               QStringLiteral("extensionStep")));
    if (!content.path.isEmpty()) {
        auto* row = new QHBoxLayout;
        auto* path = new QLineEdit(content.path, this);
        path->setObjectName(QStringLiteral("extensionPath"));
        path->setReadOnly(true);
        path->setAccessibleName(content.pathName);
        auto* copy = new FocusButton(QStringLiteral("Copy"), FocusPillButtonStyle{false, 12.5}, this);
        copy->setObjectName(QStringLiteral("copyExtensionPath"));
        copy->setAccessibleName(QStringLiteral("Copy location"));
        connect(copy, &QAbstractButton::clicked, this, [this, p = content.path] {
            QApplication::clipboard()->setText(p);
            m_note->setText(QStringLiteral("Copied."));
            m_note->show();
        });
        row->addWidget(path, 1);
        row->addWidget(copy);
        layout->addLayout(row);
    }
    m_note = text(QString(), Theme::font(12), this, QStringLiteral("extensionInstallNote"));
    layout->addWidget(m_note);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    if (!content.pageToOpen.isEmpty()) {
        auto* open = new FocusButton(content.openTitle, FocusPillButtonStyle{false, 12.5}, this);
        open->setObjectName(QStringLiteral("openExtensionsPage"));
        connect(open, &QAbstractButton::clicked, this, [this, openPage = actions.openPage, page = content.pageToOpen] {
            if (!openPage) {
                m_note->setText(QStringLiteral("Open %1 in the browser's address bar.").arg(page));
                return;
            }
            QPointer<ExtensionInstallDialog> self(this);
            openPage([self](const QString& note, const QString& clipboard) {
                if (!clipboard.isEmpty())
                    QApplication::clipboard()->setText(clipboard);
                if (self)
                    self->m_note->setText(note);
            });
        });
        buttons->addWidget(open);
    }
    auto* done = new FocusButton(QStringLiteral("Done"), FocusPillButtonStyle{true, 12.5}, this);
    done->setObjectName(QStringLiteral("extensionInstallClose"));
    connect(done, &QAbstractButton::clicked, this, &QDialog::accept);
    buttons->addWidget(done);
    // The keyboard starts on the way out; the steps are read, not answered.
    done->setFocus();
    layout->addLayout(buttons);
    // Wrapped steps take the height they need at this width, no more.
    WindowFit::fixWidthGrowHeight(this, 560);
    if (parent)
        Sheet::attach(this, parent);
}
