#include "linux/AppUpdater.h"

AppUpdater& AppUpdater::shared()
{
    static AppUpdater instance;
    return instance;
}
