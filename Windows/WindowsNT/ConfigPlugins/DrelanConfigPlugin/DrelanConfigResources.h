// The plug-in's own resources: its dialog template and string table.
#pragma once

#include "Platform/Resource.h"

Platform::ResourceTable DrelanConfigResources();
