#pragma once

#include <QPointer>
#include <QWidget>

#include "screens/block/DoomScrollConfigSheet.h"
class FocusButton;
class FocusMeter;
class QHBoxLayout;
class QLabel;
class SectionCard;
class WrappingLabel;
struct AppContext;

// The doom-scroll section of the Block page: an invitation while nothing is set up, else the
// rule as a sentence, the sites, the window used or the break's end, and "Edit". Both buttons
// open the settings sheet, whose Save goes to the store.
//
// Object names: "setUpButton", "editButton", "doomTitle", "doomBadge", "doomSites", "doomMeter",
// "doomStatus".
class DoomScrollCard : public QWidget {
    Q_OBJECT
public:
    explicit DoomScrollCard(AppContext& context, QWidget* parent = nullptr);

    // Reads the store again (the page calls it once per store change).
    void refresh();
    void showConfig();
    DoomScrollConfigSheet* configSheet() const { return m_sheet; }

private:
    AppContext& m_context;
    FocusButton* m_edit;
    WrappingLabel* m_title;
    QLabel* m_badge;
    QWidget* m_configured;
    QHBoxLayout* m_icons;
    QLabel* m_names;
    FocusMeter* m_meter;
    QLabel* m_status;
    QWidget* m_invitation;
    QPointer<DoomScrollConfigSheet> m_sheet;
    QStringList m_iconDomains;
};
