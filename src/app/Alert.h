#pragma once

#include "ui/ChoiceDialog.h"

// The application's alerts are the interface's dialog with a fixed button order.
using Alert = ChoiceDialog;
