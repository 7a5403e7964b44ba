#include "ui/ExtensionInstallDialog.h"

#include "ui/Palette.h"
#include "ui/Theme.h"

#include <QApplication>
#include <QClipboard>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QLabel* text(const QString& value, const QFont& font, QWidget* parent, const QString& name = {})
{
    auto* label = new QLabel(value, parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setFont(font);
    if (!name.isEmpty())
        label->setObjectName(name);
    return label;
}

} // namespace

QStringList ExtensionInstallDialog::steps(const Content& c)
{
    if (c.firefox)
        return {QStringLiteral("Open %1 (about:addons), click the gear button and choose “Install Add-on From File…”.")
                    .arg(c.extensionsPage),
                QStringLiteral("Choose the file below."),
                QStringLiteral("Allow it to “Run in Private Windows” on its page, so private windows are "
                               "protected too.")};
    return {QStringLiteral("Turn on “Developer mode” on %1.").arg(c.extensionsPage),
            QStringLiteral("Click “Load unpacked”."), QStringLiteral("Choose the folder below.")};
}

ExtensionInstallDialog::ExtensionInstallDialog(const Content& content, std::function<bool()> openPage, QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("extensionInstallDialog"));
    setWindowTitle(QStringLiteral("Add Quillharbour to %1").arg(content.browserName));
    setWindowModality(Qt::WindowModal);
    Theme::fillBackground(this, FocusColor::paper());
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 20, 24, 18);
    layout->setSpacing(10);
    layout->addWidget(text(QStringLiteral("Add Quillharbour to %1").arg(content.browserName),
                           Theme::font(15, QFont::DemiBold), this));

    if (!content.error.isEmpty()) {
        layout->addWidget(text(content.error, Theme::font(13), this, QStringLiteral("extensionInstallError")));
    } else {
        const QStringList lines = steps(content);
        for (int i = 0; i < lines.size(); ++i)
            layout->addWidget(text(QStringLiteral("%1. %2").arg(i + 1).arg(lines.at(i)), Theme::font(13), this));
        if (content.firefox)
            layout->addWidget(text(QStringLiteral("Firefox releases load only add-ons signed by Mozilla. Firefox ESR "
                                                  "and Developer Edition load it once “xpinstall.signatures.required” "
                                                  "is false in about:config."),
                                   Theme::font(12), this));
        auto* row = new QHBoxLayout;
        auto* path = new QLineEdit(content.path, this);
        path->setObjectName(QStringLiteral("extensionPath"));
        path->setReadOnly(true);
        path->setAccessibleName(QStringLiteral("Extension location"));
        auto* copy = new QPushButton(QStringLiteral("Copy"), this);
        copy->setObjectName(QStringLiteral("copyExtensionPath"));
        connect(copy, &QPushButton::clicked, this, [this, p = content.path] {
            QApplication::clipboard()->setText(p);
            m_note->setText(QStringLiteral("Copied."));
        });
        row->addWidget(path, 1);
        row->addWidget(copy);
        layout->addLayout(row);
    }
    m_note = text(QString(), Theme::font(12), this, QStringLiteral("extensionInstallNote"));
    layout->addWidget(m_note);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    if (content.error.isEmpty()) {
        auto* open = new QPushButton(QStringLiteral("Open %1").arg(content.extensionsPage), this);
        open->setObjectName(QStringLiteral("openExtensionsPage"));
        connect(open, &QPushButton::clicked, this, [this, openPage, page = content.extensionsPage] {
            if (!openPage || !openPage())
                m_note->setText(QStringLiteral("Open %1 in the browser's address bar.").arg(page));
        });
        buttons->addWidget(open);
    }
    auto* done = new QPushButton(QStringLiteral("Done"), this);
    done->setObjectName(QStringLiteral("extensionInstallDone"));
    done->setDefault(true);
    connect(done, &QPushButton::clicked, this, &QDialog::accept);
    buttons->addWidget(done);
    layout->addLayout(buttons);
}
