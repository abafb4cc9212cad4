// The plug-in's resources: its pane's template and strings joined with those
// of the secondary dialogs, as one table.
#pragma once

#include "Platform/Resource.h"

Platform::ResourceTable WirelessConfigResources();
