#pragma once

class MainWindow;

// Puts the real pages and sheets into the main window: Today, Block, Notes and Settings, the
// urgent-break sheet and the onboarding. The window itself knows only their factories.
void installScreens(MainWindow& window);
