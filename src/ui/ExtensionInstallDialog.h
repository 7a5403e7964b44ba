#pragma once

#include <QDialog>
#include <functional>

class QLabel;

// The steps for adding the companion extension to one browser: where the copy is, a button that
// copies that path, and the browser's extensions page one click away.
class ExtensionInstallDialog : public QDialog {
    Q_OBJECT
public:
    struct Content {
        QString browserName;
        QString path; // the folder (Chromium family) or .xpi (Firefox) to choose
        bool firefox = false;
        QString extensionsPage; // "chrome://extensions", "about:addons", ...
        QString error;          // the copy failed: shown instead of the steps
    };
    // `openPage` opens the browser on its extensions page; false when it cannot.
    ExtensionInstallDialog(const Content& content, std::function<bool()> openPage, QWidget* parent = nullptr);

    // The steps as shown, one per entry.
    static QStringList steps(const Content& content);

private:
    QLabel* m_note = nullptr;
};
