#pragma once

class WindowScreens;

// The real pages and sheets of the main window: Today, Block, Notes and Settings, the
// urgent-break sheet and the onboarding.
const WindowScreens& programScreens();
