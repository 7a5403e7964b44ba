// Gives the fakes a translation unit so their meta-objects are built once.
#include "FakeCloudSync.h"
#include "FakeNotificationCenter.h"
